// Reading the tables of a tiled file whose header, index and tiles point at each other: every range is
// checked against the file's size before a byte of it is read or a block is sized from it. Writing: zero
// bytes that hold the place of a table filled in at the end.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "formats/common/byte_io.h"

namespace vantrel {

struct InputFile {
  RasterStream* stream = nullptr;
  int64_t size = 0;
};

// Makes the input seekable (a pipe is spooled), sizes it and goes to its first byte, whether or not
// recognition took bytes from it. -8 when that cannot be done.
[[nodiscard]] inline RioStatus inputFileOpen(RCB* rcb, InputFile* file) {
  file->stream = rcb->inStream;
  return seekToImageData(rcb, 0, &file->size);
}

// True when the n bytes at `position` lie inside the file.
inline bool inputFileHolds(const InputFile& file, int64_t position, int64_t n) {
  return position >= 0 && n >= 0 && position <= file.size && n <= file.size - position;
}

// The bytes of [position, position + bytes) that lie inside the file.
inline int64_t inputFileBytesAt(const InputFile& file, int64_t position, int64_t bytes) {
  if (position < 0 || position >= file.size || bytes <= 0) return 0;
  return std::min(bytes, file.size - position);
}

// Reads n bytes at `position` into dest: `outside` (bad header data unless said otherwise) when the range
// is not inside the file, -8 when the stream delivers fewer bytes.
[[nodiscard]] inline RioStatus inputFileReadAt(const InputFile& file, int64_t position, void* dest, int32_t n,
                                               RioStatus outside = kRioBadHeader) {
  if (!inputFileHolds(file, position, n)) return outside;
  if (streamSeek(file.stream, position) != 0) return kRioStreamIo;
  if (streamRead(file.stream, dest, n) != n) return kRioStreamIo;
  return kRioOk;
}

// Writes n zero bytes; -8 as writeAll.
[[nodiscard]] inline RioStatus writeZeros(RasterStream* s, int64_t n) {
  static constexpr uint8_t kZeros[4096] = {};
  while (n > 0) {
    const int64_t k = std::min<int64_t>(n, sizeof kZeros);
    if (RioStatus r = writeAll(s, kZeros, k)) return r;
    n -= k;
  }
  return kRioOk;
}

}  // namespace vantrel
