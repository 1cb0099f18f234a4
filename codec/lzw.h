// Byte decoders of TIFF strips and tiles: LZW (compression 5) and Deflate (8 and 32946, codec/deflate.h).
//
// Both work the same way. The decoder is a plain record the reader embeds in its state for one strip or
// tile column; the coded bytes come from a RasterStream (the reader selects the column's window first),
// at most a byte limit of them; each call delivers exactly the `n` bytes asked for, so a reader pulls one
// row at a time and nothing is decoded beyond what it asks. No call allocates.
//
//   restart (a new strip or tile) -> set the byte limit -> decode n bytes, n bytes, ...
//
// Results: 0 when all n bytes are delivered; -10 when the data (or the byte limit) end first, or the code
// for the end of the data comes first; -12 for corrupt data; -16 for a coding this decoder does not read.
// After a failure the strip is abandoned: every later call fails the same way until a restart. What was
// delivered before a failure is in `out`; the rest of `out` is undefined.
#pragma once

#include <cstdint>

#include "codec/bits.h"
#include "rio/status.h"
#include "rio/stream.h"

namespace vantrel {

inline constexpr int32_t kLzwTableSize = 4096;  // codes of at most 12 bits
inline constexpr int32_t kLzwHistory = 65536;   // decoded bytes kept for copying strings again

// TIFF LZW: codes most significant bit first, 9 to 12 bits wide, 256 clears the table, 257 ends the data,
// the first free code is 258, and the width grows one code early (when the next free code is 511, 1023 or
// 2047), as TIFF writers do. A value-initialised decoder is the start of a strip, most significant bit
// first. The old least-significant-bit-first variant (its data start with a zero byte and a byte whose
// low bit is set) is refused with -16. A code beyond the next free one, a literal expected after a clear
// and not found, or a code that would grow the table past 4096 entries (a 13-bit width) is -12.
//
// Strings are decoded into a window of the recent output. Each entry remembers where its string last
// appeared there, so a string still in the window is copied whole; an older one is spelled out backwards
// along its prefixes down to the first one still in the window, which is copied; a string of one
// byte value is filled. About 190 KB a decoder, in the record itself.
struct LzwDecoder {
  FaxBitReader bits;          // bits.lsbFirst: the bytes are stored least significant bit first (FillOrder 2)
  bool started = false;       // the strip's first code has been read (the old variant is checked there)
  RioStatus failed = kRioOk;  // the failure that ended the strip
  int32_t width = 9;          // bits of the next code
  int32_t nextCode = 258;     // the next free code
  int32_t previous = -1;      // the code before, -1 right after a clear
  int64_t previousAt = 0;     // where the previous code's string starts in the output
  int64_t windowStart = 0;    // output position of window[0]
  int32_t windowEnd = 0;      // bytes in the window
  int32_t pendingAt = 0;      // window bytes decoded but not yet delivered: [pendingAt, windowEnd)
  uint16_t prefix[kLzwTableSize];  // entry: the string of `prefix` followed by `suffix`
  uint16_t length[kLzwTableSize];  // string length
  uint8_t suffix[kLzwTableSize];
  uint8_t first[kLzwTableSize];  // first byte of the string
  uint8_t uniform[kLzwTableSize];  // 1: every byte of the string is its first byte
  int64_t at[kLzwTableSize];     // output position where the string last appeared
  uint8_t window[2 * kLzwHistory + 16];  // the last 16: slack for copies in pieces
};

// A new strip or tile: empties the bit buffer and the table, forgets a failure and the byte limit; keeps
// the bit order.
void lzwDecoderRestart(LzwDecoder* d);
// Takes at most `bytes` more bytes from the stream (a strip's or tile's byte count); negative: no limit.
void lzwDecoderSetByteLimit(LzwDecoder* d, int64_t bytes);
// Exactly n decoded bytes into out.
[[nodiscard]] RioStatus lzwDecodeBytes(LzwDecoder* d, RasterStream* in, uint8_t* out, int32_t n);

}  // namespace vantrel
