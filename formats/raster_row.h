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

// Stores a word of 64 pixels as eight row bytes, its most significant bits first.
inline void rowStore64(uint8_t* p, uint64_t v) {
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  std::memcpy(p, &v, sizeof v);
}

// Builds a row from black runs in order, each starting past the previous one's end, inside the row. Words
// of 64 pixels are gathered in a register and each word of the row is stored once, white words between
// runs included, so the row needs no clearing first; the last word may reach up to kRowSlack - 1 bytes
// past the row's last byte, which must be room (they are written with zeros).
inline constexpr int32_t kRowSlack = 8;
class RowGatherer {
 public:
  RowGatherer(uint8_t* row, int32_t rowBytes) : row_(row), words_((rowBytes + 7) >> 3) {}
  void add(int32_t s, int32_t e) {
    const int32_t last = e - 1;
    if (s >> 6 != at_) {
      rowStore64(row_ + 8 * at_, word_);
      for (++at_; at_ < s >> 6; ++at_) rowStore64(row_ + 8 * at_, 0);
      word_ = 0;
    }
    const uint64_t head = kAll >> (s & 63);
    const uint64_t tail = kAll << (63 - (last & 63));
    if (last >> 6 == at_) {
      word_ |= head & tail;
      return;
    }
    rowStore64(row_ + 8 * at_, word_ | head);
    for (++at_; at_ < last >> 6; ++at_) rowStore64(row_ + 8 * at_, kAll);
    word_ = tail;
  }
  void finish() {
    if (words_ == 0) return;
    rowStore64(row_ + 8 * at_, word_);
    for (++at_; at_ < words_; ++at_) rowStore64(row_ + 8 * at_, 0);
  }

 private:
  static constexpr uint64_t kAll = ~uint64_t{0};
  uint8_t* row_;
  int32_t words_;   // words of the row, the last one perhaps partly past it
  uint64_t word_ = 0;
  int32_t at_ = 0;  // index of the word being gathered
};

// The row of a line as faxNormalizeLine (codec/fax.h) leaves it for `width` = 8 * rowBytes or less: runs
// clipped to [0, width), the first that starts at or past the width ending the line, empty ones skipped,
// one that starts at or before the end of the run kept before it joined to it. Room as RowGatherer.
inline void rowFromLine(uint8_t* row, int32_t rowBytes, const int32_t* runs, int32_t width) {
  RowGatherer out(row, rowBytes);
  int32_t start = 0;
  int32_t end = -1;  // the run kept last, not yet set; none while end < 0
  for (; runs[0] != kSlineEnd; runs += 2) {
    const int32_t s = std::max(runs[0], 0);
    const int32_t e = std::min(runs[1], width);
    if (s >= width) break;
    if (e <= s) continue;
    if (end >= 0 && s <= end) {
      end = std::max(end, e);
      continue;
    }
    if (end >= 0) out.add(start, end);
    start = s;
    end = e;
  }
  if (end >= 0) out.add(start, end);
  out.finish();
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
