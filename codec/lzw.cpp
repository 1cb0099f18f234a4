// TIFF LZW decoding: a string table of 4096 entries, each a prefix code and one byte, strings written
// backwards from their last byte straight into the caller's bytes (or into the pending buffer when they
// do not fit).
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
  }
  d->width = kMinWidth;
  d->nextCode = kFirstFree;
  d->previous = -1;
  d->started = true;
  return kRioOk;
}

// Writes the string of `code` (length bytes) ending at dst + length - 1.
inline void writeString(const LzwDecoder* d, int32_t code, uint8_t* dst, int32_t length) {
  uint8_t* p = dst + length - 1;
  while (code >= 256) {
    *p-- = d->suffix[code];
    code = d->prefix[code];
  }
  *p = static_cast<uint8_t>(code);
}

}  // namespace

void lzwDecoderRestart(LzwDecoder* d) {
  bitsReset(d->bits);
  d->bits.limited = false;
  d->bits.bytesLeft = 0;
  d->started = false;
  d->failed = kRioOk;
  d->pendingAt = d->pendingEnd = 0;
}

void lzwDecoderSetByteLimit(LzwDecoder* d, int64_t bytes) {
  d->bits.limited = bytes >= 0;
  d->bits.bytesLeft = std::max<int64_t>(bytes, 0);
  d->bits.exhausted = false;
}

RioStatus lzwDecodeBytes(LzwDecoder* d, RasterStream* in, uint8_t* out, int32_t n) {
  if (n < 0) return kRioBadParameter;
  if (d->failed) return d->failed;
  int32_t filled = std::min(n, d->pendingEnd - d->pendingAt);
  if (filled > 0) {
    std::memcpy(out, d->pending + d->pendingAt, static_cast<size_t>(filled));
    d->pendingAt += filled;
  }
  if (filled == n) return kRioOk;

  FaxBitReader r = d->bits;
  RioStatus status = d->started ? kRioOk : startStrip(d, r, in);
  int32_t width = d->width;
  int32_t nextCode = d->nextCode;
  int32_t previous = d->previous;
  while (status == kRioOk && filled < n) {
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
      // code is the entry being made).
      if (code > nextCode || nextCode >= kLzwTableSize) {
        status = kRioBadData;
        break;
      }
      const int32_t entry = nextCode++;
      d->prefix[entry] = static_cast<uint16_t>(previous);
      d->first[entry] = d->first[previous];
      d->suffix[entry] = d->first[code];
      d->length[entry] = static_cast<uint16_t>(d->length[previous] + 1);
      if (nextCode == (1 << width) - 1 && width < kMaxWidth) ++width;
    }
    previous = code;
    const int32_t length = d->length[code];
    if (length <= n - filled) {
      writeString(d, code, out + filled, length);
      filled += length;
    } else {
      writeString(d, code, d->pending, length);
      const int32_t taken = n - filled;
      std::memcpy(out + filled, d->pending, static_cast<size_t>(taken));
      d->pendingAt = taken;
      d->pendingEnd = length;
      filled = n;
    }
  }
  d->bits = r;
  d->width = width;
  d->nextCode = nextCode;
  d->previous = previous;
  d->failed = status;
  return status;
}

}  // namespace vantrel
