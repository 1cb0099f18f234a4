// Bytes in and out of file headers: numbers in either byte order in byte buffers, writing a block whole,
// patching a field written earlier and returning to where the stream was, and positioning a reader at its
// image data.
#pragma once

#include <cstdint>
#include <cstring>

#include "rio/rcb.h"

namespace vantrel {

// ---------------------------------------------------------------------------------------------------------
// Numbers in byte buffers. The 16-bit getters answer uint16_t, so arithmetic on them stays signed as on
// any small unsigned field; the putters store the low 16 or 32 bits of the value.

inline uint16_t getLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint16_t getBe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t getLe32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline uint32_t getBe32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

inline void putLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void putBe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void putLe32(uint8_t* p, uint32_t v) {
  putLe16(p, v);
  putLe16(p + 2, v >> 16);
}
inline void putBe32(uint8_t* p, uint32_t v) {
  putBe16(p, v >> 16);
  putBe16(p + 2, v);
}

// The order chosen at run time, for formats that say theirs in the file (TIFF's "II" and "MM").
inline uint16_t get16(const uint8_t* p, bool bigEndian) { return bigEndian ? getBe16(p) : getLe16(p); }
inline uint32_t get32(const uint8_t* p, bool bigEndian) { return bigEndian ? getBe32(p) : getLe32(p); }
inline void put16(uint8_t* p, uint32_t v, bool bigEndian) { bigEndian ? putBe16(p, v) : putLe16(p, v); }
inline void put32(uint8_t* p, uint32_t v, bool bigEndian) { bigEndian ? putBe32(p, v) : putLe32(p, v); }

// ---------------------------------------------------------------------------------------------------------
// Streams.

// Writes n bytes (nothing for n <= 0). -8 when the stream does not take them all, or has lost bytes at its
// sink before: a file that cannot be complete fails at once.
[[nodiscard]] inline RioStatus writeAll(RasterStream* s, const void* data, int64_t n) {
  if (n <= 0) return kRioOk;
  if (n > INT32_MAX || streamWrite(s, data, static_cast<int32_t>(n)) != n || !s->ok) return kRioStreamIo;
  return kRioOk;
}

// Overwrites n bytes at `position` (a field written earlier: a length, an offset, a count) and returns to
// where the stream was. The seek's own result (5, 6 or 7) when a seek fails; -8 as writeAll. The stream
// must be seekable (streamMakeSeekable before the first byte).
[[nodiscard]] inline RioStatus patchAt(RasterStream* s, int64_t position, const void* data, int64_t n) {
  const int64_t back = streamTell(s);
  if (int32_t r = streamSeek(s, position)) return r;
  if (RioStatus r = writeAll(s, data, n)) return r;
  if (int32_t r = streamSeek(s, back)) return r;
  return kRioOk;
}

// As patchAt, but a field still in the write buffer is overwritten there, without a seek (a field patched
// once per page of a document of many pages): a failed write then shows when the buffer is flushed.
[[nodiscard]] inline RioStatus patchBuffered(RasterStream* s, int64_t position, const void* data, int64_t n) {
  if (s->mode == 1 && s->ok && !s->windows && position >= s->offset && n >= 0 && position + n <= streamTell(s)) {
    std::memcpy(s->base + (position - s->offset), data, static_cast<size_t>(n));
    return kRioOk;
  }
  return patchAt(s, position, data, n);
}

// After the header is read: makes the input seekable (a pipe is spooled), checks `offset` against the
// file size and seeks there. *bytesLeft gets the bytes from the data start to the end of the file.
// -11 when the offset lies beyond the end; -8 when the stream is in error, cannot be sized or seeked.
[[nodiscard]] inline RioStatus seekToImageData(RCB* rcb, int64_t offset, int64_t* bytesLeft) {
  RasterStream* s = rcb->inStream;
  int64_t size = 0;
  if (!s || !s->ok || streamMakeSeekable(s) != 0 || !streamFileSize(s, &size)) return kRioStreamIo;
  if (offset < 0 || offset > size) return kRioBadHeader;
  if (streamSeek(s, offset) != 0) return kRioStreamIo;
  *bytesLeft = size - offset;
  return kRioOk;
}

}  // namespace vantrel
