// Helpers shared by the writers of device streams that send rows as bitmaps or size the plot from the
// resolution.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "rio/rcb.h"

namespace vantrel {

// Sets pixels [s, e) of a row stored eight pixels a byte, most significant bit leftmost; 0 <= s < e.
// Masks for the partial bytes at the ends, whole bytes between.
inline void rowSetRun(uint8_t* row, int32_t s, int32_t e) {
  const int32_t first = s >> 3;
  const int32_t last = (e - 1) >> 3;
  const auto head = static_cast<uint8_t>(0xFF >> (s & 7));
  const auto tail = static_cast<uint8_t>(0xFF00 >> (((e - 1) & 7) + 1));
  if (first == last) {
    row[first] |= static_cast<uint8_t>(head & tail);
    return;
  }
  row[first] |= head;
  std::memset(row + first + 1, 0xFF, static_cast<size_t>(last - first - 1));
  row[last] |= tail;
}

// Eight row bytes as one word, the first byte in the most significant bits, and back.
inline uint64_t rowLoad64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v;
}
inline void rowStore64(uint8_t* p, uint64_t v) {
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  std::memcpy(p, &v, sizeof v);
}

// rowSetRun for a row with kRowSlack bytes of room past its last byte, which it reads and writes back
// unchanged: a short run is one word, a long one a word per 64 pixels, with no call.
inline constexpr int32_t kRowSlack = 8;
inline void rowSetRunPadded(uint8_t* row, int32_t s, int32_t e) {
  uint8_t* p = row + (s >> 3);
  uint64_t head = ~uint64_t{0} >> (s & 7);
  int32_t bits = e - (s & ~7);  // from the first byte's first pixel to the run's end
  if (bits > 64) {
    rowStore64(p, rowLoad64(p) | head);
    for (p += 8, bits -= 64; bits > 64; p += 8, bits -= 64) rowStore64(p, ~uint64_t{0});
    head = ~uint64_t{0};
  }
  rowStore64(p, rowLoad64(p) | (head & (~uint64_t{0} << (64 - bits))));
}

// Clears the row's `rowBytes` bytes and sets the black runs of `runs` in it, clipped to [0, pixels)
// (pixels <= 8 * rowBytes). At most maxPairs pairs are read, so a list without its terminator stays inside
// its buffer; runs out of order or overlapping are simply set too.
inline void rowFromRuns(uint8_t* row, int32_t rowBytes, const int32_t* runs, int64_t maxPairs, int32_t pixels) {
  std::memset(row, 0, static_cast<size_t>(rowBytes));
  for (int64_t i = 0; i < maxPairs && !(runs[0] == -1 && runs[1] == -1); ++i, runs += 2) {
    const int32_t s = runs[0] < 0 ? 0 : runs[0];
    const int32_t e = runs[1] > pixels ? pixels : runs[1];
    if (s < e) rowSetRun(row, s, e);
  }
}

// The resolution the size commands use: an unknown (0 or unusable) axis takes the other one, 200 dots per
// inch when both are unknown.
inline void plotterDpi(const RCB* rcb, double* x, double* y) {
  auto usable = [](double d) { return std::isfinite(d) && d > 0 ? d : 0.0; };
  double xr = usable(rcb->xDpi);
  double yr = usable(rcb->yDpi);
  if (xr == 0) xr = yr;
  if (yr == 0) yr = xr;
  if (xr == 0) xr = yr = 200;
  *x = xr;
  *y = yr;
}

}  // namespace vantrel
