// The console translator's command line: one run's options in a TranslateJob, and the usage text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "picture/tpicture.h"
#include "rio/rcb.h"

namespace vantrel {

inline constexpr const char* kProgramName = "vantrel";

// Port numbers of lpt1, lpt2 and lpt3 (the third is 3, not 2).
inline constexpr int32_t kNoPort = -1;
inline constexpr int32_t kPortNumbers[] = {0, 1, 3};

inline constexpr RasterFormatId kFormatRlc = 7;
inline constexpr RasterFormatId kFormatPostScript = 9;
inline constexpr RasterFormatId kFormatPcl = 14;
inline constexpr RasterFormatId kFormatJedmicsC4 = 32;
inline constexpr RasterFormatId kFormatMmr = 34;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// One run's options and what the run opens. All zero at start except port.
struct TranslateJob {
  RasterFormatId inFormat = 0;   // 7 (rlc) or 32 from the input's extension, else 0 = recognise
  RasterFormatId outFormat = 0;  // from -rof, else from the output name's extension
  std::string inName;
  std::string outName;  // as given, or "lpt1", "lpt2", "lpt3" for a port
  FilePtr inFile;
  FilePtr outFile;  // none for a port
  int32_t port = kNoPort;
  double inDpi = 0;      // -dpi; 0 = not given
  double outXDpi = 0;    // -xdpi or -odpi; 0 = not given
  double outYDpi = 0;    // -ydpi or -odpi; 0 = not given
  int32_t sizeCode = 0;  // -size: 1..5 for A0..A4, 9..13 for A0L..A4L
  int32_t rotation = 0;  // -rot: 0, 90, 180 or 270
  TPicturePtr picture;   // the whole input when rotating; released at the end of the run
  double scale = 0;      // set by the paper-size conversion; 0 = none
};

// Reads the arguments after the program's own name into `job`. On false the caller prints `messages`
// (the different-names or port message, or nothing) and then the usage text. The test whether the output
// is the input file under another name looks at the file system (stat); nothing is opened.
[[nodiscard]] bool parseCommandLine(int argc, const char* const argv[], TranslateJob* job,
                                    std::string* messages);

const std::string& usageText();

// strtod-style reading of the longest numeric prefix, independent of the locale: leading white space, an
// optional sign, decimal or hexadecimal digits with exponent, "inf", "infinity", "nan". None when no
// number starts the text.
std::optional<double> parseLeadingNumber(std::string_view text);

// Resolution option values: a finite number from 50 to 10000.
std::optional<double> parseResolution(std::string_view text);
// -rot: truncated to an integer, one of 0, 90, 180, 270.
std::optional<int32_t> parseRotation(std::string_view text);
// -size: "a0".."a4" give 1..5, with a third character 'l' 9..13; any case; further characters ignored.
std::optional<int32_t> parseSizeCode(std::string_view text);

// The input format named by the input's extension, kept only for the formats that have no magic to be
// recognised by (rlc; 32, which the console's names never give); 0 = recognise.
RasterFormatId inputFormatFromPath(const std::string& path);

// The port number of "lpt1", "lpt2" or "lpt3" in any case; kNoPort for every other name.
int32_t portFromName(std::string_view name);

}  // namespace vantrel
