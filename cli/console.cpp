#include "cli/console.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "formats/pcl_mode.h"
#include "formats/registry.h"
#include "run/dialect.h"
#include "run/option_table.h"
#include "run/parse.h"

namespace vantrel {

namespace {

// The usage text's -rof list: the names with a usage slot, in slot order, wrapped before a name that would
// pass the 79th column.
std::string rofListLines() {
  constexpr size_t kWidth = 79;
  int count = 0;
  const FormatName* names = rioFormatNames(&count);
  std::vector<const FormatName*> listed;
  for (int i = 0; i < count; ++i)
    if (names[i].usageSlot > 0) listed.push_back(&names[i]);
  std::sort(listed.begin(), listed.end(),
            [](const FormatName* a, const FormatName* b) { return a->usageSlot < b->usageSlot; });
  std::string text, line = " [-rof {";
  for (size_t i = 0; i < listed.size(); ++i) {
    const std::string piece = (i == 0 ? "" : "|") + std::string(listed[i]->name);
    if (i > 0 && line.size() + piece.size() > kWidth) {
      text += "\n" + line;
      line = "        ";
    }
    line += piece;
  }
  return text + "\n" + line + "}]";
}

// The option lines of the usage text: each console option that has one, its name and value word in a
// column of 17.
std::string optionLines() {
  constexpr size_t kColumn = 17;
  std::string text;
  for (const OptionSpec& o : kOptionTable) {
    if (!o.help || !dialectHasOption(kConsoleDialect, o)) continue;
    std::string head = std::string(o.name) + (*o.valueWord ? " " : "") + o.valueWord;
    head.append(head.size() < kColumn ? kColumn - head.size() : 1, ' ');
    text += "\n        " + head + o.help;
    if (o.range.max > 0) text += " (" + rangeText(o.range) + ")";
  }
  return text;
}

}  // namespace

const std::string& usageText() {
  static const std::string text =
      std::string(
          "\n"
          "VANTREL v5.0b107\n"
          "\nusage:"
          " ") +
      kConsoleDialect.programName + " infilename {outfilename|lpt1|lpt2|lpt3}" + rofListLines() +
      "\n [-dpi input resolution]"
      "\n"
      "\n where: infilename       is the raster input filename"
      "\n        outfilename      is the raster output filename" +
      optionLines() +
      "\n"
      "\nInput file types are autodetected independent of file extension (except rlc)"
      "\nInput file types recognized are zebrnl, zebg3, zebg4, calsg4, tiffg3, tiffg4, "
      "\n     tiff packbit, tiff uncompressed, tiled tiff, rlc, rlc2, dsig4, pcx,"
      "\n     filenet img, mmr"
      "\n";
  return text;
}

void ConsoleReporter::report(Severity severity, const std::string& text) {
  if (severity == Severity::kResult || severity == Severity::kNotice || severity == Severity::kDetail) {
    std::fflush(out_);  // the lines before it come first where both handles reach one file
    std::fputs(text.c_str(), results_);
    std::fflush(results_);
    return;
  }
  std::fputs(text.c_str(), out_);
  if (severity == Severity::kProgress) std::fflush(out_);
}

RioSettings settingsFromEnvironment() {
  return settingsFromLookup(std::getenv);
}

namespace {

class SilentReporter : public Reporter {
 public:
  void report(Severity, const std::string&) override {}
};

// The options of arguments that parse, without a message; false when they do not.
bool parseQuietly(int argc, const char* const argv[], RunOptions* options) {
  SilentReporter silent;
  return parseArguments(kConsoleDialect, argc, argv, options, silent) == ParseResult::kOk;
}

}  // namespace

bool outputIsStreamFile(int argc, const char* const argv[], std::FILE* stream) {
  RunOptions options;
  if (!parseQuietly(argc, argv, &options) || options.port != kNoPort) return false;
  if (options.outName == kStandardStream) return true;
  struct stat byName {}, byStream {};
  if (::stat(options.outName.c_str(), &byName) != 0 || ::fstat(::fileno(stream), &byStream) != 0) return false;
  return byName.st_dev == byStream.st_dev && byName.st_ino == byStream.st_ino;
}

std::string settingRefusal(int argc, const char* const argv[], const RunEnvironment& environment) {
  RunOptions options;
  if (!environment.settings || !parseQuietly(argc, argv, &options)) return {};
  const RasterFormatId format =
      options.outFormat != kFormatNone ? options.outFormat : rioFormatFromPath(options.outName.c_str());
  return pclModeRefusal(format, *environment.settings);
}

int runConsoleTranslator(int argc, const char* const argv[], std::FILE* out, const RunEnvironment& environment) {
  // A setting the output's writer cannot take refuses the run before any file is touched.
  if (const std::string refusal = settingRefusal(argc, argv, environment); !refusal.empty()) {
    std::fprintf(stderr, "%s: %s\n", kConsoleDialect.programName, refusal.c_str());
    return 0;
  }
  ConsoleReporter reporter(out);
  const RunOutcome outcome = runTranslationEntry(kConsoleDialect, argc, argv, reporter, environment);
  if (outcome == RunOutcome::kUsage) std::fputs(usageText().c_str(), out);
  return outcome == RunOutcome::kComplete ? 1 : 0;
}

}  // namespace vantrel
