// Translation and bit shifts in place: whole tiles move as directory entries, the remaining 1..31 pixels
// move through the tiles, and a neighbour pair that stays uniform stays a reserved entry.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "picture/tpicture_internal.h"
#include "picture/transform.h"

namespace vantrel {
namespace {

// Replaces a real tile that became uniform by its reserved entry, keeping the mark.
void packEntry(TPicture* p, TileEntry& e) {
  const uint32_t* w = tileWords(p, e);
  uint32_t all = 0xFFFFFFFFu, any = 0;
  for (int i = 0; i < kTileWords; ++i) {
    all &= w[i];
    any |= w[i];
  }
  if (any != 0 && all != 0xFFFFFFFFu) return;
  TileEntry mark = e & kSavedMark;
  FreeTPictureTile(p, e);
  e = (any == 0 ? kWhiteEntry : kBlackEntry) | mark;
}

// Makes an entry a real tile of its own uniform content; the tile must have been reserved.
void makeTile(TPicture* p, TileEntry& e) {
  if (entryIsTile(e)) return;
  TileEntry t = AllocTPictureTile(p, entryIsBlack(e) ? 0xFFFFFFFFu : 0);
  e = t | (e & kSavedMark);
}

// Tiles ClearPaddingTPicture will need: black entries on an edge that has padding.
uint64_t paddingTilesNeeded(const TPicture* p) {
  uint64_t need = 0;
  if (p->tileCount == 0) return 0;
  if (p->width % 32 != 0) {
    for (int32_t r = 0; r < p->tileRows; ++r) need += entryIsBlack(tileRowEntries(p, r)[p->tilesAcross - 1]);
  }
  if (p->height % 32 != 0) {
    const TileEntry* last = tileRowEntries(p, p->tileRows - 1);
    for (int32_t c = 0; c < p->tilesAcross; ++c) need += entryIsBlack(last[c]);
  }
  return need;
}

bool clearPadding(TPicture* p, const char* routine) {
  if (!ReserveTPictureTiles(p, static_cast<uint32_t>(paddingTilesNeeded(p)))) {
    rastSetError(kRastOutOfMemory, routine);
    return false;
  }
  return ClearPaddingTPicture(p);
}

// ---------------------------------------------------------------------------------------------------------
// Bit shifts by 1..31 pixels, in place. A neighbour pair that stays uniform stays a reserved entry; every
// tile the shift creates is reserved before anything moves.

enum class Shift { kLeft, kRight, kUp, kDown };

// The neighbour whose pixels enter the entry at (row, column), white beyond the picture.
TileEntry feeder(const TPicture* p, int32_t row, int32_t column, Shift d) {
  switch (d) {
    case Shift::kLeft:
      return column + 1 < p->tilesAcross ? tileRowEntries(p, row)[column + 1] : kWhiteEntry;
    case Shift::kRight:
      return column > 0 ? tileRowEntries(p, row)[column - 1] : kWhiteEntry;
    case Shift::kUp:
      return row + 1 < p->tileRows ? tileRowEntries(p, row + 1)[column] : kWhiteEntry;
    case Shift::kDown:
      return row > 0 ? tileRowEntries(p, row - 1)[column] : kWhiteEntry;
  }
  return kWhiteEntry;
}

bool staysUniform(TileEntry e, TileEntry from) {
  return (entryIsWhite(e) && entryIsWhite(from)) || (entryIsBlack(e) && entryIsBlack(from));
}

void shiftTile(TPicture* p, TileEntry& e, TileEntry from, int n, Shift d) {
  makeTile(p, e);
  uint32_t* w = tileWords(p, e);
  switch (d) {
    case Shift::kLeft:
      for (int r = 0; r < kTileWords; ++r) {
        uint32_t own = wordToMsbFirst(w[r]);
        uint32_t in = wordToMsbFirst(entryRowWord(p, from, r));
        w[r] = wordFromMsbFirst(own << n | in >> (32 - n));
      }
      break;
    case Shift::kRight:
      for (int r = 0; r < kTileWords; ++r) {
        uint32_t own = wordToMsbFirst(w[r]);
        uint32_t in = wordToMsbFirst(entryRowWord(p, from, r));
        w[r] = wordFromMsbFirst(own >> n | in << (32 - n));
      }
      break;
    case Shift::kUp:
      std::memmove(w, w + n, static_cast<size_t>(kTileWords - n) * sizeof(uint32_t));
      for (int r = 0; r < n; ++r) w[kTileWords - n + r] = entryRowWord(p, from, r);
      break;
    case Shift::kDown:
      std::memmove(w + n, w, static_cast<size_t>(kTileWords - n) * sizeof(uint32_t));
      for (int r = 0; r < n; ++r) w[r] = entryRowWord(p, from, kTileWords - n + r);
      break;
  }
  packEntry(p, e);
}

bool shiftBits(TPicture* p, int n, Shift d, const char* routine) {
  if (n == 0 || p->tileCount == 0) return true;
  uint64_t need = 0;
  for (int32_t r = 0; r < p->tileRows; ++r) {
    const TileEntry* row = tileRowEntries(p, r);
    for (int32_t c = 0; c < p->tilesAcross; ++c)
      need += !entryIsTile(row[c]) && !staysUniform(row[c], feeder(p, r, c, d));
  }
  if (need > kMaxPoolIndex || !ReserveTPictureTiles(p, static_cast<uint32_t>(need))) {
    rastSetError(kRastOutOfMemory, routine);
    return false;
  }
  // Each tile is done before the neighbour it takes pixels from.
  const bool backwards = d == Shift::kRight || d == Shift::kDown;
  for (int32_t i = 0; i < p->tileRows; ++i) {
    int32_t r = backwards ? p->tileRows - 1 - i : i;
    TileEntry* row = tileRowEntries(p, r);
    for (int32_t j = 0; j < p->tilesAcross; ++j) {
      int32_t c = backwards ? p->tilesAcross - 1 - j : j;
      TileEntry from = feeder(p, r, c, d);
      if (!staysUniform(row[c], from)) shiftTile(p, row[c], from, n, d);
    }
  }
  return true;
}

// Whole-tile moves of every tile row by k entries, left or right, releasing the entries pushed out and
// bringing in white.
void moveColumns(TPicture* p, int32_t k, bool left) {
  k = std::min(k, p->tilesAcross);
  if (k == 0) return;
  for (int32_t r = 0; r < p->tileRows; ++r) {
    TileEntry* row = tileRowEntries(p, r);
    int32_t keep = p->tilesAcross - k;
    if (left) {
      for (int32_t c = 0; c < k; ++c) FreeTPictureTile(p, row[c]);
      std::memmove(row, row + k, static_cast<size_t>(keep) * sizeof(TileEntry));
      std::fill(row + keep, row + p->tilesAcross, kWhiteEntry);
    } else {
      for (int32_t c = keep; c < p->tilesAcross; ++c) FreeTPictureTile(p, row[c]);
      std::memmove(row + k, row, static_cast<size_t>(keep) * sizeof(TileEntry));
      std::fill(row, row + k, kWhiteEntry);
    }
  }
}

void moveRows(TPicture* p, int32_t k, bool up) {
  k = std::min(k, p->tileRows);
  if (k == 0 || p->tilesAcross == 0) return;
  const int64_t across = p->tilesAcross;
  const int64_t moved = (int64_t{p->tileRows} - k) * across;
  const int64_t gone = int64_t{k} * across;
  TileEntry* d = p->directory;
  if (up) {
    for (int64_t i = 0; i < gone; ++i) FreeTPictureTile(p, d[i]);
    std::memmove(d, d + gone, static_cast<size_t>(moved) * sizeof(TileEntry));
    std::fill(d + moved, d + moved + gone, kWhiteEntry);
  } else {
    for (int64_t i = moved; i < moved + gone; ++i) FreeTPictureTile(p, d[i]);
    std::memmove(d + gone, d, static_cast<size_t>(moved) * sizeof(TileEntry));
    std::fill(d, d + gone, kWhiteEntry);
  }
}

}  // namespace

bool ShiftLeftTPicture(TPicture* p, int32_t n) {
  if (refuseProtected(p, "ShiftLeftTPicture")) return false;
  if (n < 0 || n > 31) {
    rastSetError(kRastOutOfRange, "ShiftLeftTPicture");
    return false;
  }
  return shiftBits(p, n, Shift::kLeft, "ShiftLeftTPicture");
}

bool ShiftUpTPicture(TPicture* p, int32_t n) {
  if (refuseProtected(p, "ShiftUpTPicture")) return false;
  if (n < 0 || n > 31) {
    rastSetError(kRastOutOfRange, "ShiftUpTPicture");
    return false;
  }
  return shiftBits(p, n, Shift::kUp, "ShiftUpTPicture");
}

bool TranslateLeftTPicture(TPicture* p, int32_t n) {
  if (refuseProtected(p, "TranslateLeftTPicture")) return false;
  if (n < 0) {
    rastSetError(kRastOutOfRange, "TranslateLeftTPicture");
    return false;
  }
  if (n == 0) return true;
  if (n >= p->width) {
    ClearTPicture(p);
    return true;
  }
  moveColumns(p, n / 32, true);
  return ShiftLeftTPicture(p, n % 32);
}

bool TranslateUpTPicture(TPicture* p, int32_t n) {
  if (refuseProtected(p, "TranslateUpTPicture")) return false;
  if (n < 0) {
    rastSetError(kRastOutOfRange, "TranslateUpTPicture");
    return false;
  }
  if (n == 0) return true;
  if (n >= p->height) {
    ClearTPicture(p);
    return true;
  }
  moveRows(p, n / 32, true);
  return ShiftUpTPicture(p, n % 32);
}

// Moving right or down: whole tiles first, then the remaining bits directly in the same direction, so
// nothing that stays inside the picture is lost; what reached the padding is cleared.
bool TranslateRightTPicture(TPicture* p, int32_t n) {
  if (refuseProtected(p, "TranslateRightTPicture")) return false;
  if (n < 0) {
    rastSetError(kRastOutOfRange, "TranslateRightTPicture");
    return false;
  }
  if (n == 0) return true;
  if (n >= p->width) {
    ClearTPicture(p);
    return true;
  }
  moveColumns(p, n / 32, false);
  return shiftBits(p, n % 32, Shift::kRight, "TranslateRightTPicture") &&
         clearPadding(p, "TranslateRightTPicture");
}

bool TranslateDownTPicture(TPicture* p, int32_t n) {
  if (refuseProtected(p, "TranslateDownTPicture")) return false;
  if (n < 0) {
    rastSetError(kRastOutOfRange, "TranslateDownTPicture");
    return false;
  }
  if (n == 0) return true;
  if (n >= p->height) {
    ClearTPicture(p);
    return true;
  }
  moveRows(p, n / 32, false);
  return shiftBits(p, n % 32, Shift::kDown, "TranslateDownTPicture") &&
         clearPadding(p, "TranslateDownTPicture");
}

bool TranslateTPicture(TPicture* p, int32_t dx, int32_t dy) {
  const int64_t ax = std::abs(int64_t{dx});
  const int64_t ay = std::abs(int64_t{dy});
  // A distance beyond int32 clears like any distance past the edge.
  const auto n = [](int64_t v) { return static_cast<int32_t>(std::min<int64_t>(v, INT32_MAX)); };
  auto horizontal = [&] {
    if (dx < 0) return TranslateLeftTPicture(p, n(ax));
    if (dx > 0) return TranslateRightTPicture(p, n(ax));
    return true;
  };
  auto vertical = [&] {
    if (dy < 0) return TranslateUpTPicture(p, n(ay));
    if (dy > 0) return TranslateDownTPicture(p, n(ay));
    return true;
  };
  if (ay < ax) return horizontal() && vertical();
  return vertical() && horizontal();
}

}  // namespace vantrel
