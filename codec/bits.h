// Bit accumulators of the fax codecs.
//
// FaxBitReader takes whole bytes from a RasterStream into a 64-bit word, next bit in the most significant
// position. Because only whole bytes enter, (-count) & 7 is always the bit position of the next bit in
// its byte: the Group 4 mode tables and the Group 3 line alignment work from that. Bits below the valid
// ones are zero, so a peek past the end of the data sees zero bits; a code is only missing when it needs
// more bits than are valid.
//
// FaxBitWriter collects codes below the bits already pending and writes every completed 32-bit word as
// four bytes, most significant byte first, each optionally bit-reversed.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "rio/stream.h"

namespace vantrel {

struct FaxBitReader {
  uint64_t bits = 0;       // next bit in bit 63; the bits below the `count` valid ones are zero
  int32_t count = 0;       // valid bits in `bits`
  bool lsbFirst = false;   // reverse every byte as it is taken (data stored least significant bit first)
  bool exhausted = false;  // the stream, or the byte limit, has delivered its last byte
  bool limited = false;    // `bytesLeft` bounds the bytes still to be taken
  int64_t bytesLeft = 0;
};

// Tops the word up byte by byte (see bitsRefill).
inline void bitsRefillBytes(FaxBitReader& r, RasterStream* s) {
  while (r.count <= 56) {
    if (r.exhausted || (r.limited && r.bytesLeft <= 0) || (s->cur >= s->end && streamFill(s) <= 0)) {
      r.exhausted = true;
      return;
    }
    int64_t n = std::min<int64_t>(s->end - s->cur, (64 - r.count) >> 3);
    if (r.limited) {
      n = std::min(n, r.bytesLeft);
      r.bytesLeft -= n;
    }
    const uint8_t* p = s->cur;
    s->cur += n;
    uint64_t bits = r.bits;
    int32_t count = r.count;
    if (r.lsbFirst) {
      for (int64_t i = 0; i < n; ++i, count += 8)
        bits |= static_cast<uint64_t>(kBitReverse[p[i]]) << (56 - count);
    } else {
      for (int64_t i = 0; i < n; ++i, count += 8) bits |= static_cast<uint64_t>(p[i]) << (56 - count);
    }
    r.bits = bits;
    r.count = count;
  }
}

// Eight bytes at p, the first in the most significant position; with `reverse`, each byte bit-reversed.
inline uint64_t bitsLoad8(const uint8_t* p, bool reverse) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
  if (reverse) {
    word = ((word >> 1) & 0x5555555555555555ull) | ((word & 0x5555555555555555ull) << 1);
    word = ((word >> 2) & 0x3333333333333333ull) | ((word & 0x3333333333333333ull) << 2);
    word = ((word >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((word & 0x0F0F0F0F0F0F0F0Full) << 4);
  }
  return word;
}

// Tops the word up with whole bytes to more than 56 valid bits, unless the input runs out first.
inline void bitsRefill(FaxBitReader& r, RasterStream* s) {
  // Eight buffered bytes: one load takes the (64 - count) / 8 bytes that fit.
  if (!r.exhausted && r.count <= 56 && s->end - s->cur >= 8 && (!r.limited || r.bytesLeft >= 8)) {
    uint64_t word = bitsLoad8(s->cur, r.lsbFirst);
    const int32_t n = (64 - r.count) >> 3;
    const int32_t count = r.count + 8 * n;
    word >>= r.count;
    if (count < 64) word &= ~(~uint64_t{0} >> count);
    r.bits |= word;
    r.count = count;
    s->cur += n;
    if (r.limited) r.bytesLeft -= n;
    return;
  }
  bitsRefillBytes(r, s);
}

// Makes at least `need` bits valid when the input has them (need <= 57).
inline void bitsEnsure(FaxBitReader& r, RasterStream* s, int32_t need) {
  if (r.count < need) bitsRefill(r, s);
}

// The next n bits (1 <= n <= 32), zero bits past the end of the data.
inline uint32_t bitsPeek(const FaxBitReader& r, int n) {
  return static_cast<uint32_t>(r.bits >> (64 - n));
}

// Drops n valid bits (n <= count).
inline void bitsConsume(FaxBitReader& r, int n) {
  r.bits = n < 64 ? r.bits << n : 0;
  r.count -= n;
}

// Bit position (0-7) of the next bit within its byte.
inline int bitsRow(const FaxBitReader& r) {
  return (-r.count) & 7;
}

// Skips the bits left in the current byte; nothing when already on a byte boundary.
inline void bitsAlignToByte(FaxBitReader& r) {
  bitsConsume(r, r.count & 7);
}

// Empties the word and forgets the end of the input (for a new strip or after a seek).
inline void bitsReset(FaxBitReader& r) {
  r.bits = 0;
  r.count = 0;
  r.exhausted = false;
}

struct FaxBitWriter {
  uint64_t bits = 0;      // pending bits from bit 63 down
  int32_t count = 0;      // pending bits; below 32 between calls
  bool lsbFirst = false;  // reverse every output byte
  bool failed = false;    // a word did not reach the stream, or the stream lost bytes
};

inline void bitsWriteWord(FaxBitWriter& w, RasterStream* s) {
  uint8_t b[4] = {static_cast<uint8_t>(w.bits >> 56), static_cast<uint8_t>(w.bits >> 48),
                  static_cast<uint8_t>(w.bits >> 40), static_cast<uint8_t>(w.bits >> 32)};
  if (w.lsbFirst)
    for (uint8_t& x : b) x = kBitReverse[x];
  // Straight into the buffer while it keeps room after the word (a full buffer goes out in streamWrite).
  if (s->end - s->cur > 4 && s->ok && s->mode == 1) {
    std::memcpy(s->cur, b, 4);
    s->cur += 4;
    return;
  }
  // The stream takes a word even when its sink drops the buffer; it clears `ok` then.
  if (streamWrite(s, b, 4) != 4 || !s->ok) w.failed = true;
}

// Appends a code of `length` bits (1-32, right-aligned in `code`). A code that completes the word is
// written at once; the 64-bit word keeps what did not fit, so no shift ever reaches 64.
inline void bitsPut(FaxBitWriter& w, RasterStream* s, uint32_t code, int length) {
  if (length <= 0) return;
  const uint64_t mask = (uint64_t{1} << length) - 1;
  w.bits |= (code & mask) << (64 - w.count - length);
  w.count += length;
  if (w.count >= 32) {
    bitsWriteWord(w, s);
    w.bits <<= 32;
    w.count -= 32;
  }
}

// Zero bits up to the next byte boundary; nothing when already on one.
inline void bitsPadToByte(FaxBitWriter& w, RasterStream* s) {
  bitsPut(w, s, 0, (-w.count) & 7);
}

// Writes a partly filled word whole, the rest zero bits.
inline void bitsFlushWord(FaxBitWriter& w, RasterStream* s) {
  if (w.count == 0) return;
  bitsWriteWord(w, s);
  w.bits = 0;
  w.count = 0;
}

}  // namespace vantrel
