// The fuzz targets' common run: a file in memory read whole through a reader, the reference line swapped in
// after each line as a translation does, and each line optionally written again by a writer whose bytes go
// nowhere, so that writers meet hostile sizes too. Any input must end in a status, never a crash, a hang, a
// leak or an unbounded allocation.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "rio/alloc.h"
#include "formats/open.h"
#include "rio/rcb.h"
#include "rio/stream.h"

namespace vantrel::fuzz {

inline constexpr int32_t kMaxLines = 1 << 16;  // a hostile height must not keep the run going

// Reads every line with `format` (0: recognise it); with a writer format, writes each line there too.
inline void readAll(std::vector<uint8_t>& bytes, RasterFormatId format, RasterFormatId rewriteAs = 0) {
  static uint8_t none = 0;
  std::FILE* f = fmemopen(bytes.empty() ? &none : bytes.data(), bytes.size(), "rb");
  if (!f) return;
  if (RasterStream* in = streamOpen(f, "r")) {
    RioStatus status = 0;
    if (RCB* reader = rioOpenRasterRead(in, format, &status)) {
      // The null device takes the bytes and, unlike a sink, lets the writers that patch headers seek.
      std::FILE* sink = rewriteAs != 0 ? std::fopen("/dev/null", "wb") : nullptr;
      RasterStream* out = sink ? streamOpen(sink, "w") : nullptr;
      RCB* writer = out ? rioOpenRasterWrite(out, reader->width, std::min(reader->height, kMaxLines), rewriteAs,
                                             &status)
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

// Accounted memory must be back where it was after each input.
class LeakCheck {
 public:
  LeakCheck() : before_(rioBytesInUse()) {}
  ~LeakCheck() {
    if (rioBytesInUse() != before_) std::abort();
  }

 private:
  int64_t before_;
};

}  // namespace vantrel::fuzz
