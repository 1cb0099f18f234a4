#include "picture/turned_rows.h"

#include <algorithm>

#include "picture/run_writer.h"
#include "picture/tpicture_internal.h"
#include "picture/transform.h"
#include "rio/alloc.h"

namespace vantrel {
namespace {
constexpr int32_t kPrefetchDistance = 8;
}  // namespace

TurnedRows::~TurnedRows() {
  rioFree(band_);
  rioFree(bases_);
}

bool TurnedRows::open(const TPicture* picture, bool clockwise) {
  rioFree(band_);
  rioFree(bases_);
  band_ = nullptr;
  bases_ = nullptr;
  picture_ = picture;
  clockwise_ = clockwise;
  count_ = 0;
  loaded_ = -1;
  const auto tileRows = static_cast<size_t>(picture->tileRows);
  if (tileRows == 0) return true;
  band_ = static_cast<uint32_t*>(rioMalloc(sizeof(uint32_t) * kTileWords * tileRows));
  bases_ = static_cast<int32_t*>(rioMalloc(sizeof(int32_t) * tileRows));
  return band_ != nullptr && bases_ != nullptr;
}

// Clockwise, row y is the picture's column y read upwards: tile row k, bottom first, its rows reversed by
// the turn, starts at column height - 32 (k + 1). Counter-clockwise, row y is column width - 1 - y read
// downwards: tile row k starts at column 32 k.
void TurnedRows::load(int32_t tileColumn) {
  const TPicture* p = picture_;
  const int32_t rows = p->tileRows;
  const int32_t height = p->height;
  // The tiles lie far apart in the pool: ask for all of them before the first is turned.
  for (int32_t k = 0; k < rows; ++k) {
    const TileEntry e = tileRowEntries(p, k)[tileColumn];
    if (!entryIsTile(e)) continue;
    const uint32_t* words = tileWords(p, e);
    __builtin_prefetch(words);
    __builtin_prefetch(words + 16);
  }
  count_ = 0;
  uint32_t turned[kTileWords];
  for (int32_t i = 0; i < rows; ++i) {
    const int32_t k = clockwise_ ? rows - 1 - i : i;
    // The tiles lie far apart in the pool: ask for one a few tile rows ahead while this one turns.
    const int32_t ahead = clockwise_ ? k - kPrefetchDistance : k + kPrefetchDistance;
    if (ahead >= 0 && ahead < rows) {
      const TileEntry f = tileRowEntries(p, ahead)[tileColumn];
      if (entryIsTile(f)) {
        __builtin_prefetch(tileWords(p, f));
        __builtin_prefetch(tileWords(p, f) + 16);
      }
    }
    const TileEntry e = tileRowEntries(p, k)[tileColumn];
    if (entryIsWhite(e)) continue;
    if (entryIsBlack(e)) {
      std::fill(turned, turned + kTileWords, 0xFFFFFFFFu);
    } else if (clockwise_) {
      TurnTileClockwise(tileWords(p, e), turned);
    } else {
      TransposeTile(tileWords(p, e), turned);
    }
    const int32_t base = clockwise_ ? height - 32 * (k + 1) : 32 * k;
    // Pixels beyond the page's height are the last tile row's padding.
    const uint32_t mask = base < 0 ? maskFrom(-base) : height - base < 32 ? maskBefore(height - base) : ~0u;
    uint32_t* to = band_ + count_;
    for (int r = 0; r < kTileWords; ++r) to[static_cast<int64_t>(r) * rows] = turned[r] & mask;
    bases_[count_++] = base;
  }
  loaded_ = tileColumn;
}

int32_t TurnedRows::row(int32_t y, int32_t* runs) {
  RunWriter out(runs);
  const TPicture* p = picture_;
  if (p && y >= 0 && y < p->width) {
    const int32_t column = clockwise_ ? y : p->width - 1 - y;
    if (column >> 5 != loaded_) load(column >> 5);
    const uint32_t* words = band_ + static_cast<int64_t>(column & 31) * p->tileRows;
    for (int32_t j = 0; j < count_; ++j) out.word(words[j], bases_[j]);
  }
  return out.finish(nullptr);
}

}  // namespace vantrel
