// TIFF LZW decoding: a string table of 4096 entries, each a prefix code and one byte, and a window of the
// recent output from which strings seen there are copied. Entry k, made when a code follows the previous
// one, is the previous string and the first byte of the next: the bytes at the previous string's place.
#include "codec/lzw.h"

#include <algorithm>
#include <cstring>

namespace vantrel {
namespace {

constexpr int32_t kClearCode = 256;
constexpr int32_t kEndCode = 257;
constexpr int32_t kFirstFree = 258;
constexpr int32_t kMinWidth = 9;
constexpr int32_t kMaxWidth = 12;

// The first code of a strip: refuses the old variant, sets up the literal entries.
RioStatus startStrip(LzwDecoder* d, FaxBitReader& r, RasterStream* in) {
  bitsRefill(r, in);
  if (r.count >= 16 && (r.bits >> 56) == 0 && ((r.bits >> 48) & 1)) return kRioNotImplemented;
  for (int32_t c = 0; c < 256; ++c) {
    d->length[c] = 1;
    d->first[c] = d->suffix[c] = static_cast<uint8_t>(c);
    d->uniform[c] = 1;
  }
  d->width = kMinWidth;
  d->nextCode = kFirstFree;
  d->previous = -1;
  d->started = true;
  return kRioOk;
}

// Copies n bytes forward in pieces of 16 through a register, so it may write up to 15 bytes past dst + n
// (the window's slack) and read as far past src + n. Bytes before src + n must not lie in what the copy
// writes first: they are read before any piece lands on them.
inline void copyPieces(uint8_t* dst, const uint8_t* src, int32_t n) {
  for (int32_t i = 0; i < n; i += 16) {
    uint8_t piece[16];
    std::memcpy(piece, src + i, sizeof piece);
    std::memcpy(dst + i, piece, sizeof piece);
  }
}

// Writes n bytes of value b in pieces of 16, so up to 15 bytes past dst + n (the window's slack).
inline void fillPieces(uint8_t* dst, uint8_t b, int32_t n) {
  uint8_t piece[16];
  std::memset(piece, b, sizeof piece);
  for (int32_t i = 0; i < n; i += 16) std::memcpy(dst + i, piece, sizeof piece);
}

// Writes the string of `code` (length bytes) at dst: its last bytes from the suffixes of its prefixes, back
// to the first prefix whose string is still in the window, which is copied whole.
inline void spellString(const LzwDecoder* d, int32_t code, uint8_t* dst, int32_t length) {
  int32_t n = length;
  while (code >= 256) {
    const int64_t from = d->at[code] - d->windowStart;
    if (from >= 0) {
      std::memcpy(dst, d->window + from, static_cast<size_t>(n));  // exactly: the suffixes follow
      return;
    }
    dst[--n] = d->suffix[code];
    code = d->prefix[code];
  }
  *dst = static_cast<uint8_t>(code);
}

// Past this many bytes the window is slid before the next string (a string is shorter than the table).
constexpr int32_t kWindowFull = 2 * kLzwHistory - kLzwTableSize;

// Keeps the last kLzwHistory bytes of a full window; every byte has been delivered.
inline void slideWindow(LzwDecoder* d) {
  const int32_t drop = d->windowEnd - kLzwHistory;
  std::memmove(d->window, d->window + drop, kLzwHistory);
  d->windowStart += drop;
  d->windowEnd = d->pendingAt = kLzwHistory;
}

// Appends the string of `code` to the window: copied from where it last appeared when that is still in
// the window, else spelled out.
inline void appendString(LzwDecoder* d, int32_t code) {
  const int32_t length = d->length[code];
  uint8_t* dst = d->window + d->windowEnd;
  const int64_t from = d->at[code] - d->windowStart;
  if (code < 256) {
    *dst = static_cast<uint8_t>(code);
  } else if (d->uniform[code]) {
    // A string of one byte value (white paper, solid black) is stored, not copied: a copy would load
    // bytes stored a moment ago, which the processor cannot forward from its pending stores.
    fillPieces(dst, d->first[code], length);
  } else if (from >= 0) {
    // The copy may be one byte short: the entry being made ends with the first byte of this very string.
    const auto n = static_cast<int32_t>(std::min<int64_t>(length, d->windowEnd - from));
    copyPieces(dst, d->window + from, n);
    if (n < length) dst[n] = d->first[code];
  } else {
    spellString(d, code, dst, length);
  }
  d->at[code] = d->windowStart + d->windowEnd;
  d->windowEnd += length;
}

}  // namespace

void lzwDecoderRestart(LzwDecoder* d) {
  bitsReset(d->bits);
  d->bits.limited = false;
  d->bits.bytesLeft = 0;
  d->started = false;
  d->failed = kRioOk;
  d->windowStart = 0;
  d->windowEnd = d->pendingAt = 0;
}

void lzwDecoderSetByteLimit(LzwDecoder* d, int64_t bytes) {
  d->bits.limited = bytes >= 0;
  d->bits.bytesLeft = std::max<int64_t>(bytes, 0);
  d->bits.exhausted = false;
}

RioStatus lzwDecodeBytes(LzwDecoder* d, RasterStream* in, uint8_t* out, int32_t n) {
  if (n < 0) return kRioBadParameter;
  if (d->failed) return d->failed;
  FaxBitReader r = d->bits;
  RioStatus status = d->started ? kRioOk : startStrip(d, r, in);
  int32_t width = d->width;
  int32_t nextCode = d->nextCode;
  int32_t previous = d->previous;
  int32_t filled = 0;
  // Strings gather in the window; the caller's bytes are copied out in one piece when enough are there
  // (or before the window slides).
  while (status == kRioOk) {
    const int32_t ready = d->windowEnd - d->pendingAt;
    if (ready >= n - filled || d->windowEnd > kWindowFull) {
      const int32_t taken = std::min(ready, n - filled);
      std::memcpy(out + filled, d->window + d->pendingAt, static_cast<size_t>(taken));
      d->pendingAt += taken;
      filled += taken;
      if (filled == n) break;
      slideWindow(d);
    }
    if (r.count < width) {
      bitsRefill(r, in);
      if (r.count < width) {
        status = kRioUnexpectedEof;
        break;
      }
    }
    const auto code = static_cast<int32_t>(bitsPeek(r, width));
    bitsConsume(r, width);
    if (code == kClearCode) {
      width = kMinWidth;
      nextCode = kFirstFree;
      previous = -1;
      continue;
    }
    if (code == kEndCode) {
      status = kRioUnexpectedEof;  // the data end before the bytes asked for
      break;
    }
    if (previous < 0) {
      if (code >= 256) {  // after a clear only a literal can come
        status = kRioBadData;
        break;
      }
    } else {
      // A new entry: the previous string and the first byte of this one (of the previous one when the
      // code is the entry being made), found where the previous string starts.
      if (code > nextCode || nextCode >= kLzwTableSize) {
        status = kRioBadData;
        break;
      }
      const int32_t entry = nextCode++;
      d->prefix[entry] = static_cast<uint16_t>(previous);
      d->first[entry] = d->first[previous];
      d->suffix[entry] = d->first[code];
      d->length[entry] = static_cast<uint16_t>(d->length[previous] + 1);
      d->uniform[entry] = d->uniform[previous] & static_cast<uint8_t>(d->first[code] == d->first[previous]);
      d->at[entry] = d->previousAt;
      if (nextCode == (1 << width) - 1 && width < kMaxWidth) ++width;
    }
    previous = code;
    d->previousAt = d->windowStart + d->windowEnd;
    appendString(d, code);
  }
  d->bits = r;
  d->width = width;
  d->nextCode = nextCode;
  d->previous = previous;
  d->failed = status;
  return status;
}

}  // namespace vantrel
