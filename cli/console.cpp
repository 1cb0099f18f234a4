#include "cli/console.h"

#include <sys/stat.h>

#include <cstdlib>

#include "formats/pcl_mode.h"
#include "formats/registry.h"
#include "run/dialect.h"
#include "run/parse.h"

namespace vantrel {

const std::string& usageText() {
  static const std::string text =
      std::string(
          "\n"
          "VANTREL v5.0b107\n"
          "\nusage:"
          " ") +
      kConsoleDialect.programName +
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
      "\n        -digest          print the page's SHA-256 on standard error"
      "\n        -page number     optional page to translate (1, 2, ...), or all"
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
