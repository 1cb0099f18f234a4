// Helpers shared by the writers of device streams that send rows as bitmaps or size the plot from the
// resolution.
#pragma once

#include <algorithm>
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

inline constexpr int32_t kRowSlack = 8;

// ORs 64 pixels, most significant bit leftmost, into the row's word at byte 8 * w.
inline void rowOr64(uint8_t* row, int32_t w, uint64_t v) {
  uint64_t word;
  std::memcpy(&word, row + 8 * w, sizeof word);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  word |= v;
  std::memcpy(row + 8 * w, &word, sizeof word);
}

// The row of a line as faxNormalizeLine (codec/fax.h) leaves it for `width` = 8 * rowBytes or less: runs
// clipped to [0, width), the first that starts at or past the width ending the line, empty ones skipped,
// one that starts at or before the end of the run kept before it joined to it. The row needs kRowSlack
// bytes of room past its last byte; they are cleared. Each run adds only its pixels right of every run
// before it (that is what joining does to the pixels) a word of 64 at a time.
inline void rowFromLine(uint8_t* row, int32_t rowBytes, const int32_t* runs, int32_t width) {
  constexpr uint64_t kAll = ~uint64_t{0};
  std::memset(row, 0, static_cast<size_t>(rowBytes) + kRowSlack);
  int32_t done = 0;  // the pixels left of it are final
  for (; runs[0] != kSlineEnd; runs += 2) {
    const int32_t first = std::max(runs[0], 0);
    if (first >= width) break;
    const int32_t s = std::max(first, done);
    const int32_t e = std::min(runs[1], width);
    if (e <= s) continue;
    done = e;
    const int32_t last = e - 1;
    const uint64_t head = kAll >> (s & 63);
    const uint64_t tail = kAll << (63 - (last & 63));
    const int32_t w0 = s >> 6;
    const int32_t w1 = last >> 6;
    if (w0 == w1) {
      rowOr64(row, w0, head & tail);
      continue;
    }
    rowOr64(row, w0, head);
    for (int32_t w = w0 + 1; w < w1; ++w) std::memcpy(row + 8 * w, &kAll, sizeof kAll);
    rowOr64(row, w1, tail);
  }
}

// Where a run list ends: at the first start of -1 (what most writers take as the end), or only at the
// (-1, -1) pair.
enum class RunListEnd { kAtStart, kAtPair };

// Clears the row's `rowBytes` bytes and sets the black runs of `runs` in it, clipped to [0, pixels)
// (pixels <= 8 * rowBytes). At most maxPairs pairs are read, so a list without its terminator stays inside
// its buffer; runs out of order or overlapping are simply set too.
template <RunListEnd End = RunListEnd::kAtPair>
inline void rowFromRuns(uint8_t* row, int32_t rowBytes, const int32_t* runs, int64_t maxPairs, int32_t pixels) {
  std::memset(row, 0, static_cast<size_t>(rowBytes));
  for (int64_t i = 0; i < maxPairs; ++i, runs += 2) {
    if (runs[0] == -1 && (End == RunListEnd::kAtStart || runs[1] == -1)) break;
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
