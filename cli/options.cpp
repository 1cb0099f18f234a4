#include "cli/options.h"

#include <sys/stat.h>

#include <charconv>
#include <cmath>
#include <limits>

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

// Two existing paths that name the same file (device and inode), whatever their spelling.
bool sameFile(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

void addMessage(std::string* messages, const char* text) {
  if (!messages) return;
  *messages += kProgramName;
  *messages += ": ";
  *messages += text;
}

enum class Option { kRof, kDpi, kXDpi, kYDpi, kODpi, kRot, kSize };

std::optional<Option> optionFromName(const std::string& name) {
  static constexpr struct {
    const char* name;
    Option option;
  } kOptions[] = {{"-rof", Option::kRof},   {"-dpi", Option::kDpi},   {"-xdpi", Option::kXDpi},
                  {"-ydpi", Option::kYDpi}, {"-odpi", Option::kODpi}, {"-rot", Option::kRot},
                  {"-size", Option::kSize}};
  for (const auto& o : kOptions)
    if (name == o.name) return o.option;
  return std::nullopt;
}

bool applyOption(Option option, const char* value, TranslateJob* job) {
  switch (option) {
    case Option::kRof:
      job->outFormat = rioFormatFromName(value, NameTable::kConsole);
      return true;
    case Option::kDpi:
    case Option::kXDpi:
    case Option::kYDpi:
    case Option::kODpi: {
      std::optional<double> dpi = parseResolution(value);
      if (!dpi) return false;
      if (option == Option::kDpi) job->inDpi = *dpi;
      if (option == Option::kXDpi || option == Option::kODpi) job->outXDpi = *dpi;
      if (option == Option::kYDpi || option == Option::kODpi) job->outYDpi = *dpi;
      return true;
    }
    case Option::kRot: {
      std::optional<int32_t> rotation = parseRotation(value);
      if (!rotation) return false;
      job->rotation = *rotation;
      return true;
    }
    case Option::kSize: {
      std::optional<int32_t> size = parseSizeCode(value);
      if (!size) return false;
      job->sizeCode = *size;
      return true;
    }
  }
  return false;
}

// The second name: the output file or a port.
bool takeOutputName(const char* name, TranslateJob* job, std::string* messages) {
  // Names compare exactly, case included (IN.TIF and in.tif differ); an output file that exists is also
  // compared with the input by device and inode (./in.rnl, a hard link).
  static constexpr const char* kSameName = "Infile and outfile must have different names\n";
  if (job->inName == name) {
    addMessage(messages, kSameName);
    return false;
  }
  int32_t port = portFromName(name);
  if (port == kNoPort) {
    if (sameFile(job->inName, name)) {
      addMessage(messages, kSameName);
      return false;
    }
    job->outName = name;
    return true;
  }
  job->port = port;
  job->outName = asciiLower(name);
  if (job->outFormat == kFormatPcl || job->outFormat == kFormatPostScript) {
    addMessage(messages, "Printer port only supported for large format plotters.\n");
    return false;
  }
  return true;
}

}  // namespace

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
  if (!v || !std::isfinite(*v) || *v < 50 || *v > 10000) return std::nullopt;
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

RasterFormatId inputFormatFromPath(const std::string& path) {
  RasterFormatId format = rioFormatFromPath(path.c_str(), NameTable::kConsole);
  return (format == kFormatRlc || format == kFormatJedmicsC4) ? format : 0;
}

int32_t portFromName(std::string_view name) {
  std::string lower = asciiLower(name);
  if (lower == "lpt1") return kPortNumbers[0];
  if (lower == "lpt2") return kPortNumbers[1];
  if (lower == "lpt3") return kPortNumbers[2];
  return kNoPort;
}

bool parseCommandLine(int argc, const char* const argv[], TranslateJob* job, std::string* messages) {
  int names = 0;
  for (int i = 0; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg[0] == '-') {
      std::optional<Option> option = optionFromName(asciiLower(arg));
      if (!option || i + 1 >= argc) return false;
      if (!applyOption(*option, argv[++i], job)) return false;
      continue;
    }
    if (names == 0) {
      job->inName = arg;
    } else if (names == 1) {
      if (!takeOutputName(arg, job, messages)) return false;
    } else {
      return false;
    }
    ++names;
  }
  return names == 2;
}

const std::string& usageText() {
  static const std::string text =
      std::string(
          "\n"
          "VANTREL v5.0b107\n"
          "\nusage:"
          " ") +
      kProgramName +
      " infilename {outfilename|lpt1|lpt2|lpt3}"
      "\n [-rof {calsg4|zebg3|zebg4|tiffg4|tiffg3|tiffu|tiled|rnl|rlc|jdl|crf|rtl|pcl"
      "\n        |vbf|ps|opt|pcx|rle|nkk|grphtec|hpg}]"
      "\n [-dpi input resolution]"
      "\n"
      "\n where: infilename       is the raster input filename"
      "\n        outfilename      is the raster output filename"
      "\n        -rof format      optionally specifies the output file format type"
      "\n        -dpi resolution  optional input resolution (50 to 10000)"
      "\n        -xdpi resolution optional output x resolution (50 to 10000)"
      "\n        -ydpi resolution optional output y resolution (50 to 10000)"
      "\n        -odpi resolution optional output x and y resolution (50 to 10000)"
      "\n        -rot rotation    optional rotation of 90, 180, or 270"
      "\n        -size definition optional output size of A0 - A4, A0L - A4L"
      "\n"
      "\nInput file types are autodetected independent of file extension (except rlc)"
      "\nInput file types recognized are zebrnl, zebg3, zebg4, calsg4, tiffg3, tiffg4, "
      "\n     tiff packbit, tiff uncompressed, tiled tiff, rlc, rlc2, dsig4, pcx,"
      "\n     filenet img, mmr"
      "\n";
  return text;
}

}  // namespace vantrel
