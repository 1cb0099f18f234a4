#include "picture/bitmap_string.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "picture/rast_error.h"
#include "rio/alloc.h"
#include "rio/sline.h"

namespace vantrel {

uint32_t* AllocBitmapString(int32_t words) {
  if (words < 0) {
    rastSetError(kRastBadSize, "AllocBitmapString");
    return nullptr;
  }
  auto* bits = static_cast<uint32_t*>(rioCalloc(static_cast<size_t>(words), sizeof(uint32_t)));
  if (!bits) rastSetError(kRastOutOfMemory, "AllocBitmapString");
  return bits;
}

void FreeBitmapString(uint32_t* bits) {
  rioFree(bits);
}

void FillBitmapString(uint32_t* bits, int32_t words, uint32_t value) {
  if (words > 0) std::fill(bits, bits + words, value);
}

void CopyBitmapString(uint32_t* to, const uint32_t* from, int32_t words) {
  if (words > 0) std::memmove(to, from, static_cast<size_t>(words) * sizeof(uint32_t));
}

void OrBitmapString(uint32_t* to, const uint32_t* from, int32_t words) {
  for (int32_t i = 0; i < words; ++i) to[i] |= from[i];
}

void WriteRunsBitmapString(uint32_t* bits, int32_t words, const int32_t* runs, int colour) {
  int64_t limit = int64_t{std::max(words, 0)} * 32;
  for (; !rioSlineEnd(runs); runs += 2) {
    int64_t s = std::max<int64_t>(runs[0], 0);
    int64_t e = std::min<int64_t>(runs[1], limit);
    if (s >= e) continue;
    int64_t t0 = s >> 5;
    int64_t t1 = (e - 1) >> 5;
    for (int64_t t = t0; t <= t1; ++t) {
      int lo = t == t0 ? static_cast<int>(s & 31) : 0;
      int hi = t == t1 ? static_cast<int>((e - 1) & 31) + 1 : 32;
      uint32_t mask = maskSpan(lo, hi);
      bits[t] = colour != 0 ? bits[t] | mask : bits[t] & ~mask;
    }
  }
}

namespace {

// The changing elements of a row: each set bit of `changes` (most significant first, pixel `base` first) is
// a column where the colour differs from the pixel before it, so they alternate run start and run end.
inline int32_t* putChanges(int32_t* out, uint64_t changes, int32_t base) {
  while (changes != 0) {
    const int p = std::countl_zero(changes);
    *out++ = base + p;
    changes &= ~(uint64_t{1} << 63 >> p);
  }
  return out;
}

// Eight bytes of a row as one word, the first byte in the most significant bits.
inline uint64_t load64MsbFirst(const uint32_t* words) {
  uint64_t v;
  std::memcpy(&v, words, sizeof v);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v;
}

}  // namespace

// Scans the row by its changing elements: a word equal to its last pixel's colour all through (white after
// white, black after black) has none and costs one test.
int32_t BitmapStringToRuns(const uint32_t* bits, int32_t words, int32_t* runs, int32_t firstColumn,
                           int32_t lastColumn, int32_t** tail) {
  int32_t* out = runs;
  int64_t c0 = std::max(firstColumn, 0);
  int64_t c1 = std::min<int64_t>(lastColumn, int64_t{std::max(words, 0)} * 32 - 1);
  c1 = std::min<int64_t>(c1, kMaxPictureSide - 1);  // run ends stay in int32
  if (c0 <= c1) {
    const auto t0 = static_cast<int32_t>(c0 >> 5);
    const auto t1 = static_cast<int32_t>(c1 >> 5);
    const uint32_t lastMask = maskBefore(static_cast<int>(c1 & 31) + 1);
    uint64_t before = 0;  // the colour of the pixel before the word, in the top bit
    auto word32 = [&](uint32_t memoryWord, int32_t t) {
      const uint64_t v = uint64_t{wordToMsbFirst(memoryWord)} << 32;
      out = putChanges(out, (v ^ ((v >> 1) | before)) & 0xFFFFFFFF00000000u, t * 32);
      before = v << 31;
    };
    uint32_t w = bits[t0] & maskFrom(static_cast<int>(c0 & 31));
    word32(t0 == t1 ? w & lastMask : w, t0);
    int32_t t = t0 + 1;
    // 256 pixels at a time: a block of the colour before it (white paper, the inside of a fill) costs
    // four loads and one test; any other block is taken apart 64 pixels at a time.
    for (; t + 7 < t1; t += 8) {
      uint64_t block[4];
      std::memcpy(block, bits + t, sizeof block);
      const uint64_t fill = 0 - (before >> 63);
      if (((block[0] ^ fill) | (block[1] ^ fill) | (block[2] ^ fill) | (block[3] ^ fill)) == 0) continue;
      for (int k = 0; k < 4; ++k) {
        const uint64_t v = load64MsbFirst(bits + t + 2 * k);
        const uint64_t changes = v ^ ((v >> 1) | before);
        if (changes != 0) out = putChanges(out, changes, (t + 2 * k) * 32);
        before = v << 63;
      }
    }
    for (; t + 1 < t1; t += 2) {
      const uint64_t v = load64MsbFirst(bits + t);
      const uint64_t changes = v ^ ((v >> 1) | before);
      if (changes != 0) out = putChanges(out, changes, t * 32);
      before = v << 63;
    }
    for (; t <= t1; ++t) word32(t == t1 ? bits[t] & lastMask : bits[t], t);
    if (before) *out++ = static_cast<int32_t>(c1 + 1);  // a run open at the last column ends after it
  }
  out[0] = out[1] = kSlineEnd;
  if (tail) *tail = out == runs ? out : out - 1;
  return static_cast<int32_t>((out - runs) / 2);
}

}  // namespace vantrel
