#include "cli/console.h"

#include <sys/stat.h>

#include <cstdlib>

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
      "\n"
      "\nInput file types are autodetected independent of file extension (except rlc)"
      "\nInput file types recognized are zebrnl, zebg3, zebg4, calsg4, tiffg3, tiffg4, "
      "\n     tiff packbit, tiff uncompressed, tiled tiff, rlc, rlc2, dsig4, pcx,"
      "\n     filenet img, mmr"
      "\n";
  return text;
}

void ConsoleReporter::report(Severity severity, const std::string& text) {
  std::fputs(text.c_str(), out_);
  if (severity == Severity::kProgress) std::fflush(out_);
}

RioSettings settingsFromEnvironment() {
  RioSettings settings;
  if (const char* v = std::getenv("ZEB_STRIPS")) settings.tiffStrips = v;
  if (const char* v = std::getenv("ZEB_VBF")) settings.versatecModel = v;
  if (const char* v = std::getenv("TMPDIR")) settings.tempDir = v;
  if (const char* v = std::getenv("SOURCE_DATE_EPOCH")) settings.sourceDate = v;
  return settings;
}

namespace {

class SilentReporter : public Reporter {
 public:
  void report(Severity, const std::string&) override {}
};

}  // namespace

bool outputIsStreamFile(int argc, const char* const argv[], std::FILE* stream) {
  RunOptions options;
  SilentReporter silent;
  if (parseArguments(kConsoleDialect, argc, argv, &options, silent) != ParseResult::kOk || options.port != kNoPort)
    return false;
  struct stat byName {}, byStream {};
  if (::stat(options.outName.c_str(), &byName) != 0 || ::fstat(::fileno(stream), &byStream) != 0) return false;
  return byName.st_dev == byStream.st_dev && byName.st_ino == byStream.st_ino;
}

int runConsoleTranslator(int argc, const char* const argv[], std::FILE* out, const RunEnvironment& environment) {
  ConsoleReporter reporter(out);
  const RunOutcome outcome = runTranslationEntry(kConsoleDialect, argc, argv, reporter, environment);
  if (outcome == RunOutcome::kUsage) std::fputs(usageText().c_str(), out);
  return outcome == RunOutcome::kComplete ? 1 : 0;
}

}  // namespace vantrel
