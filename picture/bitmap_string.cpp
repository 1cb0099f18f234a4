#include "picture/bitmap_string.h"

#include <algorithm>
#include <cstring>

#include "picture/rast_error.h"
#include "picture/run_writer.h"
#include "rio/alloc.h"

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

int32_t BitmapStringToRuns(const uint32_t* bits, int32_t words, int32_t* runs, int32_t firstColumn,
                           int32_t lastColumn, int32_t** tail) {
  RunWriter out(runs);
  int64_t c0 = std::max(firstColumn, 0);
  int64_t c1 = std::min<int64_t>(lastColumn, int64_t{std::max(words, 0)} * 32 - 1);
  c1 = std::min<int64_t>(c1, kMaxPictureSide - 1);  // run ends stay in int32
  if (c0 <= c1) {
    int64_t t0 = c0 >> 5;
    int64_t t1 = c1 >> 5;
    for (int64_t t = t0; t <= t1; ++t) {
      uint32_t w = bits[t];
      if (t == t0) w &= maskFrom(static_cast<int>(c0 & 31));
      if (t == t1) w &= maskBefore(static_cast<int>(c1 & 31) + 1);
      out.word(w, static_cast<int32_t>(t * 32));
    }
  }
  return out.finish(tail);
}

}  // namespace vantrel
