#include "run/parse.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "formats/registry.h"

namespace vantrel {
namespace {

char asciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string asciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = asciiLower(c);
  return out;
}

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

const OptionSpec* findOption(const Dialect& dialect, const std::string& name) {
  for (const OptionSpec& o : kOptionTable)
    if (name == o.name) return dialectHasOption(dialect, o) ? &o : nullptr;
  return nullptr;
}

class Parser {
 public:
  Parser(const Dialect& dialect, RunOptions* options, Reporter& reporter)
      : dialect_(dialect), options_(options), reporter_(reporter) {}

  ParseResult run(int argc, const char* const argv[]) {
    int names = 0;
    for (int i = 0; i < argc; ++i) {
      const char* arg = argv[i];
      // "-" alone is a name: standard input or output.
      if (arg[0] == '-' && arg[1] != '\0') {
        const std::string name = asciiLower(arg);
        const OptionSpec* option = findOption(dialect_, name);
        if (!option) return fail(Message::kUnrecognized, {}, std::string(arg) + ": no such option; the options are" + optionList());
        const char* value = nullptr;
        if (option->takesValue) {
          if (i + 1 >= argc) {
            const std::string detail = name + ": the option needs a value";
            if (option->id == OptionId::kRof) return fail(Message::kNeedsFormat, name, detail);
            return fail(Message::kNeedsResolution, name, detail);
          }
          value = argv[++i];
        }
        if (ParseResult r = apply(option->id, name, value); r != ParseResult::kOk) return r;
        continue;
      }
      if (names == 0) {
        options_->inName = arg;
      } else if (names == 1) {
        if (ParseResult r = takeOutputName(arg); r != ParseResult::kOk) return r;
      } else {
        return fail(Message::kTooManyNames, {},
                    std::string(arg) + ": a third name; give one input and one output (or a port)");
      }
      ++names;
    }
    if (names == 2) return ParseResult::kOk;
    // The batch translator always names both files; a vector without them cannot open its input.
    return fail(Message::kCannotOpenInput, {},
                names == 0 ? "no input named: give an input and an output (\"-\" for standard input or output)"
                           : options_->inName + ": no output named: give an output after the input");
  }

 private:
  bool console() const { return dialect_.kind == DialectKind::kConsole; }

  // The options this dialect has, each after a space.
  std::string optionList() const {
    std::string list;
    for (const OptionSpec& o : kOptionTable)
      if (findOption(dialect_, o.name) == &o) list += std::string(" ") + o.name;
    return list;
  }

  // The console answers every problem with its usage text, after `detail` on what was wrong (the messages
  // it reports itself come first); the batch translator reports the problem.
  ParseResult fail(Message message, const std::string& argument = {}, const std::string& detail = {}) {
    if (console()) {
      if (!detail.empty()) reporter_.report(Severity::kDetail, dialect_.text(Message::kDetail, detail));
      return ParseResult::kUsage;
    }
    reporter_.report(Severity::kError, dialect_.text(message, argument));
    return ParseResult::kRefused;
  }

  ParseResult apply(OptionId option, const std::string& name, const char* value) {
    switch (option) {
      case OptionId::kRof:
        options_->outFormat = rioFormatFromName(value);
        if (options_->outFormat == kFormatNone) options_->unknownFormatName = value;
        return ParseResult::kOk;
      case OptionId::kDpi:
      case OptionId::kXDpi:
      case OptionId::kYDpi:
      case OptionId::kODpi: {
        std::optional<double> dpi = parseResolution(value);
        if (!dpi)
          return fail(Message::kResolutionRange, name,
                      name + " " + value + ": the resolution must be a number from " +
                          rangeText(optionSpec(option).range));
        if (option == OptionId::kDpi) options_->inDpi = *dpi;
        if (option == OptionId::kXDpi || option == OptionId::kODpi) options_->outXDpi = *dpi;
        if (option == OptionId::kYDpi || option == OptionId::kODpi) options_->outYDpi = *dpi;
        return ParseResult::kOk;
      }
      case OptionId::kRot: {
        std::optional<int32_t> rotation = parseRotation(value);
        if (!rotation)
          return fail(Message::kUnrecognized, {}, name + " " + value + ": the rotation must be 0, 90, 180 or 270");
        options_->rotation = *rotation;
        return ParseResult::kOk;
      }
      case OptionId::kSize: {
        std::optional<int32_t> size = parseSizeCode(value);
        if (!size)
          return fail(Message::kUnrecognized, {}, name + " " + value + ": the size must be A0 to A4 or A0L to A4L");
        options_->sizeCode = *size;
        return ParseResult::kOk;
      }
      case OptionId::kExt:
        options_->inFormatFromExtension = true;
        return ParseResult::kOk;
      case OptionId::kDigest:
        options_->digest = true;
        return ParseResult::kOk;
      case OptionId::kPage: {
        std::optional<int32_t> page = parsePage(value);
        if (!page)
          return fail(Message::kUnrecognized, {},
                      name + " " + value + ": the page must be a number from 1, or \"all\"");
        options_->page = *page;
        return ParseResult::kOk;
      }
    }
    return fail(Message::kUnrecognized, {}, name + ": no such option");
  }

  // The second name: the output file or, on the console, a port.
  ParseResult takeOutputName(const char* name) {
    // Names compare exactly, case included (IN.TIF and in.tif differ); "-" in and out are two streams.
    const bool streams = options_->inName == kStandardStream && std::string_view(name) == kStandardStream;
    if (options_->inName == name && !streams) return refuseSameName();
    const int32_t port = dialect_.ports ? portFromName(name) : kNoPort;
    if (port == kNoPort) {
      if (!streams && dialect_.sameFile(options_->inName, name)) return refuseSameName();
      options_->outName = name;
      return ParseResult::kOk;
    }
    options_->port = port;
    options_->outName = asciiLower(name);
    if (!rioFormatInfo(options_->outFormat).toPort) {
      reporter_.report(Severity::kError, dialect_.text(Message::kPortRefused));
      if (console())
        reporter_.report(Severity::kDetail,
                         dialect_.text(Message::kDetail, options_->outName +
                                                             ": a page-printer language goes to a file, not to a printer port"));
      return ParseResult::kUsage;
    }
    return ParseResult::kOk;
  }

  ParseResult refuseSameName() {
    reporter_.report(Severity::kError, dialect_.text(Message::kDifferentNames));
    if (!console()) return ParseResult::kRefused;
    reporter_.report(Severity::kDetail,
                     dialect_.text(Message::kDetail, options_->inName + ": is the input; name another output"));
    return ParseResult::kUsage;
  }

  const Dialect& dialect_;
  RunOptions* options_;
  Reporter& reporter_;
};

}  // namespace

bool dialectHasOption(const Dialect& dialect, const OptionSpec& option) {
  switch (option.scope) {
    case OptionScope::kBoth:
      return true;
    case OptionScope::kConsole:
      return dialect.kind == DialectKind::kConsole;
    case OptionScope::kGeometry:
      return dialect.geometryOptions;
    case OptionScope::kExtension:
      return dialect.extOption;
  }
  return false;
}

ParseResult parseArguments(const Dialect& dialect, int argc, const char* const argv[], RunOptions* options,
                           Reporter& reporter) {
  return Parser(dialect, options, reporter).run(argc, argv);
}

std::optional<double> parseLeadingNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && isSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const char* first = text.data() + i;
  const char* last = text.data() + text.size();
  double value = 0;
  std::from_chars_result r{};
  bool hex = last - first >= 2 && first[0] == '0' && (first[1] == 'x' || first[1] == 'X');
  // from_chars takes a minus sign of its own; here the sign has been read already, so a second one ends
  // the number.
  const char* digits = hex ? first + 2 : first;
  bool signAgain = digits < last && (*digits == '-' || *digits == '+');
  if (hex) {
    if (!signAgain) r = std::from_chars(digits, last, value, std::chars_format::hex);
    // "0x" not followed by a hexadecimal number reads as the number 0.
    if (signAgain || r.ec == std::errc::invalid_argument) return negative ? -0.0 : 0.0;
  } else {
    if (signAgain) return std::nullopt;
    r = std::from_chars(digits, last, value, std::chars_format::general);
    if (r.ec == std::errc::invalid_argument) return std::nullopt;
  }
  if (r.ec == std::errc::result_out_of_range) {
    // Underflow when the exponent is negative, overflow otherwise (as the C conversion answers them).
    std::string_view matched(first, static_cast<size_t>(r.ptr - first));
    size_t e = matched.find_last_of(hex ? "pP" : "eE");
    bool tiny = e != std::string_view::npos && e + 1 < matched.size() && matched[e + 1] == '-';
    value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
  }
  return negative ? -value : value;
}

std::optional<double> parseResolution(std::string_view text) {
  std::optional<double> v = parseLeadingNumber(text);
  if (!v || !std::isfinite(*v) || *v < kResolutionRange.min || *v > kResolutionRange.max) return std::nullopt;
  return v;
}

std::optional<int32_t> parseRotation(std::string_view text) {
  std::optional<double> v = parseLeadingNumber(text);
  if (!v || !std::isfinite(*v) || *v <= -1 || *v >= 271) return std::nullopt;
  int32_t degrees = static_cast<int32_t>(*v);  // truncation toward zero: 90.9 is 90
  if (degrees != 0 && degrees != 90 && degrees != 180 && degrees != 270) return std::nullopt;
  return degrees;
}

std::optional<int32_t> parseSizeCode(std::string_view text) {
  std::string value = asciiLower(text);
  if (value.size() < 2 || value[0] != 'a' || value[1] < '0' || value[1] > '4') return std::nullopt;
  int32_t code = value[1] - '0' + 1;
  if (value.size() >= 3 && value[2] == 'l') code += 8;
  return code;
}

std::optional<int32_t> parsePage(std::string_view text) {
  if (asciiLower(text) == "all") return kAllPages;
  if (text.empty() || text.size() > 9) return std::nullopt;
  int32_t page = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    page = page * 10 + (c - '0');
  }
  if (page < 1) return std::nullopt;
  return page;
}

int32_t portFromName(std::string_view name) {
  std::string lower = asciiLower(name);
  if (lower == "lpt1") return kPortNumbers[0];
  if (lower == "lpt2") return kPortNumbers[1];
  if (lower == "lpt3") return kPortNumbers[2];
  return kNoPort;
}

}  // namespace vantrel
