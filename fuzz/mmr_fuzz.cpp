// Fuzz target: the Fuji Xerox MMR reader, through recognition and as a forced format, reading every row
// with the reference line swapped in as a translation does; the rows read are written again as MMR, so
// the writer meets hostile widths too. Any input must end in a status, never a crash, a hang, a leak or
// an unbounded allocation.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "rio/rcb.h"

namespace {

using namespace vantrel;

constexpr RasterFormatId kMmr = 34;
constexpr int32_t kMaxLines = 1 << 16;  // a hostile height must not keep the run going

void readAll(std::vector<uint8_t>& bytes, RasterFormatId format, bool rewrite) {
  static uint8_t none = 0;
  std::FILE* f = fmemopen(bytes.empty() ? &none : bytes.data(), bytes.size(), "rb");
  if (!f) return;
  if (RasterStream* in = streamOpen(f, "r")) {
    RioStatus status = 0;
    if (RCB* reader = rioOpenRasterRead(in, format, &status)) {
      std::FILE* sink = rewrite ? std::fopen("/dev/null", "wb") : nullptr;
      RasterStream* out = sink ? streamOpen(sink, "w") : nullptr;
      RCB* writer =
          out ? rioOpenRasterWrite(out, reader->width, std::min(reader->height, kMaxLines), kMmr, &status)
              : nullptr;
      for (int32_t n = 0; n < kMaxLines && rioReadRasterSline(reader); ++n) {
        if (writer) {
          rioCopySlineClipped(reader->curSline, writer->curSline, writer->width);
          (void)rioWriteRasterSline(writer);
          rioSwapSlines(writer);
        }
        rioSwapSlines(reader);
      }
      if (writer) {
        // A run that ended early is a failed run: the writer must not pad it to the height.
        if (reader->status != kRioEndOfPage)
          rioSetError(writer, reader->status ? reader->status : kRioBadRows);
        (void)rioCloseRaster(writer);
      }
      if (out) (void)streamClose(out);
      if (sink) std::fclose(sink);
      (void)rioCloseRaster(reader);
    }
    (void)streamClose(in);
  }
  std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  readAll(bytes, 0, true);      // recognised, and written again
  readAll(bytes, kMmr, false);  // read as MMR whatever it holds
  return 0;
}
