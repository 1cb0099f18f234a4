// Rows of a picture: run lists and bitmap strings in and out, tiles made on demand where pixels change.
#include <algorithm>

#include "picture/run_writer.h"
#include "picture/tpicture.h"
#include "picture/tpicture_internal.h"

namespace vantrel {
namespace {

// The row word of tile column t, padding cleared, 0 outside the row.
uint32_t areaWord(const TPicture* p, int32_t row, int64_t t) {
  if (row < 0 || row >= p->height || t < 0 || t >= p->tilesAcross) return 0;
  uint32_t w = entryRowWord(p, tileRowEntries(p, row >> 5)[t], row & 31);
  return t == p->tilesAcross - 1 ? w & lastColumnMask(p) : w;
}

// Sets or clears [start, end) of a row, both inside the picture.
bool writeSpan(TPicture* p, int32_t row, int32_t start, int32_t end, bool black) {
  TileEntry* entries = tileRowEntries(p, row >> 5);
  int r = row & 31;
  int32_t t0 = start >> 5;
  int32_t t1 = (end - 1) >> 5;
  for (int32_t t = t0; t <= t1; ++t) {
    int lo = t == t0 ? start & 31 : 0;
    int hi = t == t1 ? ((end - 1) & 31) + 1 : 32;
    uint32_t mask = maskSpan(lo, hi);
    TileEntry& e = entries[t];
    if (black) {
      if (entryIsBlack(e)) continue;
      if (entryIsWhite(e) && !entryToTile(p, e, 0)) return false;
      tileWords(p, e)[r] |= mask;
    } else {
      if (entryIsWhite(e)) continue;
      if (entryIsBlack(e) && !entryToTile(p, e, 0xFFFFFFFFu)) return false;
      tileWords(p, e)[r] &= ~mask;
    }
  }
  return true;
}

// Puts one row word into an entry: replacing it, or ORing it in.
bool putWord(TPicture* p, TileEntry& e, int r, uint32_t w, bool orIn) {
  if (entryIsWhite(e)) {
    if (w == 0) return true;
    if (!entryToTile(p, e, 0)) return false;
  } else if (entryIsBlack(e)) {
    if (orIn || w == 0xFFFFFFFFu) return true;
    if (!entryToTile(p, e, 0xFFFFFFFFu)) return false;
  }
  uint32_t* words = tileWords(p, e);
  words[r] = orIn ? words[r] | w : w;
  return true;
}

bool putBitmapString(TPicture* p, int32_t row, const uint32_t* bits, int32_t words, int32_t firstTileColumn,
                     bool orIn) {
  if (row < 0 || row >= p->height) return true;
  TileEntry* entries = tileRowEntries(p, row >> 5);
  int r = row & 31;
  for (int32_t j = 0; j < words; ++j) {
    int64_t t = int64_t{firstTileColumn} + j;
    if (t < 0) continue;
    if (t >= p->tilesAcross) break;
    uint32_t w = bits[j];
    if (t == p->tilesAcross - 1) w &= lastColumnMask(p);
    if (!putWord(p, entries[t], r, w, orIn)) return false;
  }
  return true;
}

// Hands each tile word of row `row` covering columns [firstColumn, lastColumn] (clipped to the picture) to
// `use(tileColumn, word)`, the columns outside the range cleared; the number of words handed.
template <class Use>
int32_t walkRowWords(const TPicture* p, int32_t row, int32_t firstColumn, int32_t lastColumn, Use use) {
  const int32_t c0 = std::max(firstColumn, 0);
  const int32_t c1 = std::min(lastColumn, p->width - 1);
  if (row < 0 || row >= p->height || c0 > c1) return 0;
  const TileEntry* entries = tileRowEntries(p, row >> 5);
  const int r = row & 31;
  const int32_t t0 = c0 >> 5;
  const int32_t t1 = c1 >> 5;
  for (int32_t t = t0; t <= t1; ++t) {
    uint32_t w = entryRowWord(p, entries[t], r);
    if (t == t0) w &= maskFrom(c0 & 31);
    if (t == t1) w &= maskBefore((c1 & 31) + 1);
    use(t, w);
  }
  return t1 - t0 + 1;
}

}  // namespace

int32_t ExtractRunsTPicture(const TPicture* p, int32_t row, int32_t* runs, int32_t firstColumn,
                            int32_t lastColumn, int32_t** tail) {
  RunWriter out(runs);
  walkRowWords(p, row, firstColumn, lastColumn, [&](int32_t t, uint32_t w) { out.word(w, t * 32); });
  return out.finish(tail);
}

bool WriteRunsTPicture(TPicture* p, int32_t row, const int32_t* runs, int colour) {
  if (row < 0 || row >= p->height) return true;
  for (; !rioSlineEnd(runs); runs += 2) {
    int32_t s = std::max(runs[0], 0);
    int32_t e = std::min(runs[1], p->width);
    if (s < e && !writeSpan(p, row, s, e, colour != 0)) return false;
  }
  return true;
}

bool WriteSpanTPicture(TPicture* p, int32_t row, int32_t start, int32_t end, int colour) {
  const int32_t runs[4] = {start, end, kSlineEnd, kSlineEnd};
  return WriteRunsTPicture(p, row, runs, colour);
}

bool WriteColumnTPicture(TPicture* p, int32_t column, const int32_t* rowRuns, int colour) {
  if (column < 0 || column >= p->width) return true;
  uint32_t bit = maskSpan(column & 31, (column & 31) + 1);
  int32_t t = column >> 5;
  for (; !rioSlineEnd(rowRuns); rowRuns += 2) {
    int32_t s = std::max(rowRuns[0], 0);
    int32_t e = std::min(rowRuns[1], p->height);
    for (int32_t row = s; row < e; ++row) {
      TileEntry& entry = tileRowEntries(p, row >> 5)[t];
      if (colour != 0) {
        if (entryIsBlack(entry)) continue;
        if (entryIsWhite(entry) && !entryToTile(p, entry, 0)) return false;
        tileWords(p, entry)[row & 31] |= bit;
      } else {
        if (entryIsWhite(entry)) continue;
        if (entryIsBlack(entry) && !entryToTile(p, entry, 0xFFFFFFFFu)) return false;
        tileWords(p, entry)[row & 31] &= ~bit;
      }
    }
  }
  return true;
}

bool WriteBitmapStringTPicture(TPicture* p, int32_t row, const uint32_t* bits, int32_t words,
                               int32_t firstTileColumn) {
  return putBitmapString(p, row, bits, words, firstTileColumn, false);
}

bool OrBitmapStringTPicture(TPicture* p, int32_t row, const uint32_t* bits, int32_t words,
                            int32_t firstTileColumn) {
  return putBitmapString(p, row, bits, words, firstTileColumn, true);
}

int32_t ReadBitmapStringTPicture(const TPicture* p, int32_t row, uint32_t* bits, int32_t firstColumn,
                                 int32_t lastColumn, int32_t* offsets) {
  const int32_t t0 = std::max(firstColumn, 0) >> 5;
  const int32_t count = walkRowWords(p, row, firstColumn, lastColumn, [&](int32_t t, uint32_t w) {
    bits[t - t0] = w;
    if (offsets && w != 0) *offsets++ = (t - t0) * 4;
  });
  if (offsets) *offsets = -1;
  return count;
}

void ReadShiftedBitmapStringTPicture(const TPicture* p, int32_t row, uint32_t* bits, int32_t words,
                                     int32_t shift) {
  // Output word j takes source words j - q and j - q - 1, q = floor(shift / 32).
  int64_t q = shift >= 0 ? shift / 32 : -((-int64_t{shift} + 31) / 32);
  int n = static_cast<int>(int64_t{shift} - 32 * q);
  for (int32_t j = 0; j < words; ++j) {
    uint32_t out = wordToMsbFirst(areaWord(p, row, j - q));
    if (n != 0) out = out >> n | wordToMsbFirst(areaWord(p, row, j - q - 1)) << (32 - n);
    bits[j] = wordFromMsbFirst(out);
  }
}

}  // namespace vantrel
