// RasterStream: the buffered byte stream through which every part of the system touches file bytes.
// Opened once for reading or once for writing over a file handle it does not own. Beyond a plain buffered
// file it has a replaceable write sink (printer ports), spooling of non-seekable input or output through a
// temporary file, several independent read windows over one file (tiled readers) and bit reversal of
// buffered input (formats stored least-significant bit first).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "rio/settings.h"
#include "rio/status.h"

namespace vantrel {

inline constexpr int32_t kStreamBufferSize = 16384;
// A write stream whose own file has taken kStreamGrowAfter bytes goes on in blocks of kStreamLargeBuffer:
// the system spends far less per byte on a large write than on a 16 KiB one, which counts on a page of
// uncompressed rows. Small outputs, sinks and spools keep the small buffer.
inline constexpr int64_t kStreamGrowAfter = int64_t{1} << 22;
inline constexpr int32_t kStreamLargeBuffer = 262144;

// The write sink: same contract as fwrite (units of `size` bytes written).
using StreamWriteFn = size_t (*)(const void* data, size_t size, size_t count, void* ctx);

struct StreamWindow {
  int64_t offset = 0;
  uint8_t* base = nullptr;
  uint8_t* cur = nullptr;
  uint8_t* end = nullptr;
};

struct RasterStream {
  uint8_t* base = nullptr;  // start of the current buffer (of the current window when windows are set)
  uint8_t* cur = nullptr;   // next byte to read, or next free byte when writing
  uint8_t* end = nullptr;   // reading: end of valid data; writing: end of the buffer
  std::FILE* file = nullptr;
  int32_t mode = 0;  // 0 read, 1 write
  bool reverseAll = true;
  int32_t reverseCount = 0;
  bool ok = true;
  bool seekable = false;
  bool spooling = false;
  int64_t offset = 0;  // reading: file offset past the buffered data; writing: offset of the first buffered byte
  std::FILE* spoolFile = nullptr;
  // Where the spool file was made (settings->tempDir, else /tmp) while it is open. The file has no name
  // there: it is unlinked as soon as it is open, so no end of the process leaves it behind.
  char spoolName[1024] = {};
  StreamWriteFn writeFn = nullptr;
  void* writeCtx = nullptr;
  bool writeFnUsed = false;
  int32_t window = 0;
  int32_t windowCount = 0;
  int32_t windowSize = kStreamBufferSize;
  StreamWindow* windows = nullptr;
  int64_t fillOffset = 0;  // file position left by the last fill
  int64_t taken = 0;       // bytes taken from the underlying file so far (judges a pipe for spooling)
  uint8_t* block = nullptr;  // the allocation behind base (one buffer, or all windows)
  const RioSettings* settings = nullptr;  // owned by the opener, outlives the stream; nullptr: all unset
  RioDetail* detail = nullptr;            // where its drivers note what went wrong; nullptr: nobody asks
};

// `settings` travel with the stream to every RCB opened on it (nullptr: all unset); the caller keeps them
// alive until the stream is closed.
[[nodiscard]] RasterStream* streamOpen(std::FILE* file, const char* modeText,
                                       const RioSettings* settings = nullptr);
[[nodiscard]] int32_t streamRead(RasterStream* s, void* dest, int32_t n);
// Bytes accepted. The first sink write that comes back short clears `ok` for good: the call that met it
// answers fewer than n, and from then on every write answers 0 and the sink is never called again.
[[nodiscard]] int32_t streamWrite(RasterStream* s, const void* src, int32_t n);
int32_t streamFill(RasterStream* s);
[[nodiscard]] int64_t streamTell(const RasterStream* s);
// 0, 5, 6 or 7 (also for a write stream that has already lost a block).
[[nodiscard]] int32_t streamSeek(RasterStream* s, int64_t position);
[[nodiscard]] int32_t streamMakeSeekable(RasterStream* s);            // 0, 2, 3 or 4
// The size of a seekable stream's file (its spool file when spooling); false when it cannot be told.
[[nodiscard]] bool streamFileSize(RasterStream* s, int64_t* size);
void streamReverseBits(RasterStream* s);
void streamSetReverseLimit(RasterStream* s, int32_t n);
[[nodiscard]] int32_t streamSetWriteCallback(RasterStream* s, StreamWriteFn fn, void* ctx);  // 1 or 0
[[nodiscard]] int32_t streamSetWindows(RasterStream* s, int32_t count, int32_t minSize);     // 1 or 0
[[nodiscard]] int32_t streamSelectWindow(RasterStream* s, int32_t i);                         // 1 or 0
[[nodiscard]] int32_t streamSetWindowOffset(RasterStream* s, int32_t i, int64_t position);    // 1 or 0
// Back to the one buffer (a reader's next page sets windows of its own), at the current window's position.
void streamDropWindows(RasterStream* s);
// Writing: passes the buffered bytes to the sink (or the spool file) now, as a full buffer would. False
// when they did not all arrive or the stream has lost bytes before, and for a read stream.
[[nodiscard]] bool streamFlush(RasterStream* s);
// Flushes (writing), removes any spool file, frees the stream; returns `ok` (1 = every byte reached the
// sink). Never closes `file`.
int32_t streamClose(RasterStream* s);

// One byte, or -1 at the end of the input. The hot path of byte-wise readers.
inline int streamGetByte(RasterStream* s) {
  if (s->cur < s->end) return *s->cur++;
  if (streamFill(s) <= 0) return -1;
  return *s->cur++;
}

// Bit reversal of a byte (bit 7 <-> bit 0, ...), computed by that rule.
inline constexpr std::array<uint8_t, 256> kBitReverse = [] {
  std::array<uint8_t, 256> t{};
  for (int v = 0; v < 256; ++v) {
    int r = 0;
    for (int b = 0; b < 8; ++b)
      if (v & (1 << b)) r |= 0x80 >> b;
    t[v] = static_cast<uint8_t>(r);
  }
  return t;
}();

// Owner for a stream whose close result does not matter (inputs, error paths). Outputs that must report
// lost bytes call release() and streamClose themselves.
struct StreamCloser {
  void operator()(RasterStream* s) const { (void)streamClose(s); }
};
using StreamPtr = std::unique_ptr<RasterStream, StreamCloser>;

}  // namespace vantrel
