// Fuzz target: the TIFF reader over a file in memory, recognised and named, reading every line with the
// reference line swapped in as a translation does. Any input must end in a status, never a crash, a hang,
// a leak or an unbounded allocation.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "rio/rcb.h"

namespace {

using namespace vantrel;

constexpr int32_t kMaxLines = 1 << 16;  // a hostile height must not keep the run going

void readAll(std::vector<uint8_t>& bytes, RasterFormatId format) {
  static uint8_t none = 0;
  std::FILE* f = fmemopen(bytes.empty() ? &none : bytes.data(), bytes.size(), "rb");
  if (!f) return;
  if (RasterStream* in = streamOpen(f, "r")) {
    RioStatus status = 0;
    if (RCB* reader = rioOpenRasterRead(in, format, &status)) {
      for (int32_t n = 0; n < kMaxLines && rioReadRasterSline(reader); ++n) rioSwapSlines(reader);
      (void)rioCloseRaster(reader);
    }
    (void)streamClose(in);
  }
  std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  readAll(bytes, 0);   // recognised
  readAll(bytes, 23);  // named: the reader takes any TIFF whatever the id
  return 0;
}
