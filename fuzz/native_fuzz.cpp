// Fuzz target: recognition and the native run-length reader, and the writer fed with what was read.
// Any input must end in a status, never a crash, a hang, a leak or an unbounded allocation.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "formats/registry.h"
#include "rio/rcb.h"

namespace {

using namespace vantrel;

constexpr RasterFormatId kRunLength = 3;
constexpr int32_t kMaxWrittenHeight = 1 << 16;  // bounds the writer's padding of missing lines

size_t discard(const void*, size_t, size_t count, void*) {
  return count;
}

std::FILE* memoryFile(std::vector<uint8_t>& bytes) {
  static uint8_t none = 0;
  return fmemopen(bytes.empty() ? &none : bytes.data(), bytes.size(), "rb");
}

// Reads every line; with `copy`, writes each to a native writer whose bytes go nowhere.
void readAll(std::vector<uint8_t>& bytes, RasterFormatId format, bool copy) {
  std::FILE* f = memoryFile(bytes);
  if (!f) return;
  RasterStream* in = streamOpen(f, "r");
  if (!in) {
    std::fclose(f);
    return;
  }
  RioStatus status = 0;
  RCB* reader = rioOpenRasterRead(in, format, &status);
  if (reader) {
    RasterStream* out = nullptr;
    RCB* writer = nullptr;
    if (copy && reader->height <= kMaxWrittenHeight) {
      out = streamOpen(nullptr, "w");
      if (out && streamSetWriteCallback(out, discard, nullptr) == 1)
        writer = rioOpenRasterWrite(out, reader->width, reader->height, kRunLength, &status);
    }
    while (Sline line = rioReadRasterSline(reader)) {
      if (writer) {
        rioCopySlineClipped(line, writer->curSline, writer->width);
        (void)rioWriteRasterSline(writer);
      }
    }
    if (writer) (void)rioCloseRaster(writer);
    if (out) (void)streamClose(out);
    (void)rioCloseRaster(reader);
  }
  (void)streamClose(in);
  std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  const int64_t before = rioBytesInUse();
  // Recognition only leads into the native reader or fails: other formats have targets of their own.
  RioStatus st = 0;
  const auto probe = static_cast<int32_t>(std::min<size_t>(size, 5));
  const RasterFormatId recognised = rioRecognizeBytes(bytes.data(), probe, &st);
  if (recognised == 0 || recognised == kRunLength) readAll(bytes, 0, false);
  readAll(bytes, kRunLength, true);
  if (rioBytesInUse() != before) std::abort();  // accounted memory leaked
  return 0;
}
