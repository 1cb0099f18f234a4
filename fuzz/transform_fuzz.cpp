// Fuzz target: whole translations through the console's geometry paths. The first two bytes choose the
// options (quarter turn, output resolutions, paper size, input resolution, input and output format); the
// rest is the input file. Unlike the reader targets, every line of the page is read and written, so the
// picture of a turned page, the resize path and the paper-size conversion meet hostile pages whole.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/read_all.h"
#include "run/translate.h"

namespace {

class Silent : public vantrel::Reporter {
 public:
  void report(vantrel::Severity, const std::string&) override {}
};

// The input resolution is always set: it bounds a resize's enlargement at 12, whatever the file claims.
constexpr double kInDpi[] = {100, 200, 300, 400};
constexpr double kOutDpi[][2] = {{0, 0}, {100, 100}, {400, 400}, {1200, 1200}, {333, 77}, {72, 72}, {0, 150},
                                 {97, 0}};
// Writers that keep lines as runs, so a hostile width costs its runs, not its bitmap.
constexpr vantrel::RasterFormatId kOutFormats[] = {vantrel::kFormatNativeG4,  vantrel::kFormatTiff,
                                                   vantrel::kFormatCals,      vantrel::kFormatMmr,
                                                   vantrel::kFormatRunLength, vantrel::kFormatTiffTiled,
                                                   vantrel::kFormatRlc,       vantrel::kFormatNativeG3};
constexpr vantrel::RasterFormatId kInFormats[] = {vantrel::kFormatNone, vantrel::kFormatRlc,
                                                  vantrel::kFormatJedmicsC4, vantrel::kFormatEdmicsB4};
constexpr int32_t kSizeCodes[] = {0, 1, 2, 3, 4, 5, 9, 13};
constexpr int64_t kPictureBudget = int64_t{256} << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  if (size < 2) return 0;
  fuzz::LeakCheck leaks;
  const uint8_t a = data[0];
  const uint8_t b = data[1];
  std::vector<uint8_t> bytes(data + 2, data + size);
  static uint8_t none = 0;

  TranslateJob job;
  RunOptions& o = job.options;
  o.inName = "in";
  o.outName = "out";
  o.rotation = 90 * (a & 3);
  o.outXDpi = kOutDpi[(a >> 2) & 7][0];
  o.outYDpi = kOutDpi[(a >> 2) & 7][1];
  o.outFormat = kOutFormats[a >> 5];
  o.inDpi = kInDpi[b & 3];
  o.inFormat = kInFormats[(b >> 2) & 3];
  o.sizeCode = o.outFormat == kFormatMmr ? kSizeCodes[(b >> 4) & 7] : 0;
  job.inFile.reset(fmemopen(bytes.empty() ? &none : bytes.data(), bytes.size(), "rb"));
  job.outFile.reset(std::fopen("/dev/null", "wb"));
  if (!job.inFile || !job.outFile) return 0;

  Silent reporter;
  RunEnvironment environment;
  environment.pictureBudget = kPictureBudget;
  (void)runTranslation(kConsoleDialect, job, reporter, environment);
  return 0;
}
