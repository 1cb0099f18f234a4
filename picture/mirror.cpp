// Mirrors and the quarter turns made of them. A mirror moves directory entries and flips each real tile
// through one spare buffer, so no tile is allocated.
#include <algorithm>
#include <cstring>
#include <utility>

#include "picture/tpicture_internal.h"
#include "picture/transform.h"
#include "picture/transform_tables.h"
#include "rio/alloc.h"
#include "rio/stream.h"

namespace vantrel {

// ---------------------------------------------------------------------------------------------------------
// Directory operations.

bool MirrorHorizontalDirectory(TPicture* p) {
  if (refuseProtected(p, "MirrorHorizontalDirectory")) return false;
  for (int32_t k = 0; k < p->tileRows / 2; ++k) {
    std::swap_ranges(tileRowEntries(p, k), tileRowEntries(p, k) + p->tilesAcross,
                     tileRowEntries(p, p->tileRows - 1 - k));
  }
  return true;
}

bool MirrorVerticalDirectory(TPicture* p) {
  if (refuseProtected(p, "MirrorVerticalDirectory")) return false;
  for (int32_t r = 0; r < p->tileRows; ++r)
    std::reverse(tileRowEntries(p, r), tileRowEntries(p, r) + p->tilesAcross);
  return true;
}

bool MirrorDiagonalDirectory(TPicture* p) {
  if (refuseProtected(p, "MirrorDiagonalDirectory")) return false;
  const int32_t rows = p->tileRows;
  const int32_t across = p->tilesAcross;
  TileEntry* old = SwapTPictureDirectory(p, p->width, p->height);
  if (!old) return false;
  for (int32_t i = 0; i < rows; ++i) {
    const TileEntry* from = old + static_cast<int64_t>(i) * across;
    for (int32_t j = 0; j < across; ++j) tileRowEntries(p, j)[i] = from[j];
  }
  rioFree(old);
  std::swap(p->columnDpi, p->rowDpi);
  return true;
}

// ---------------------------------------------------------------------------------------------------------
// Tile operations.

void ReverseTileRows(const uint32_t* from, uint32_t* to) {
  for (int r = 0; r < kTileWords; ++r) to[r] = from[kTileWords - 1 - r];
}

void MirrorTileRows(const uint32_t* from, uint32_t* to) {
  for (int r = 0; r < kTileWords; ++r) {
    const uint32_t m = wordToMsbFirst(from[r]);
    const uint32_t reversed = uint32_t{kBitReverse[m & 0xFF]} << 24 |
                              uint32_t{kBitReverse[(m >> 8) & 0xFF]} << 16 |
                              uint32_t{kBitReverse[(m >> 16) & 0xFF]} << 8 | kBitReverse[m >> 24];
    to[r] = wordFromMsbFirst(reversed);
  }
}

namespace {

// The 32 x 32 transpose by block swaps: 16 x 16 blocks, then 8 x 8 inside them, down to single pixels,
// on the rows in most-significant-first form; with `reversed`, the rows are taken bottom first. `from` and
// `to` may be the same tile.
void transpose(const uint32_t* from, uint32_t* to, bool reversed) {
  uint32_t a[kTileWords];
  uint32_t any = 0;
  for (int r = 0; r < kTileWords; ++r) {
    a[r] = wordToMsbFirst(from[reversed ? kTileWords - 1 - r : r]);
    any |= a[r];
  }
  if (any != 0) {
    uint32_t m = 0x0000FFFFu;
    for (int j = 16; j != 0; j >>= 1, m ^= m << j) {
      for (int k = 0; k < kTileWords; k = (k + j + 1) & ~j) {
        const uint32_t t = (a[k] ^ (a[k + j] >> j)) & m;
        a[k] ^= t;
        a[k + j] ^= t << j;
      }
    }
  }
  for (int r = 0; r < kTileWords; ++r) to[r] = wordFromMsbFirst(a[r]);
}

}  // namespace

void TransposeTile(const uint32_t* from, uint32_t* to) {
  transpose(from, to, false);
}

void TurnTileClockwise(const uint32_t* from, uint32_t* to) {
  transpose(from, to, true);
}

// ---------------------------------------------------------------------------------------------------------
// Mirrors.

bool MirrorTPicture(TPicture* p, DirectoryOperation directoryOperation, TileOperation tileOperation) {
  if (refuseProtected(p, "MirrorTPicture")) return false;
  if (!directoryOperation(p)) return false;
  // Each tile's flipped form goes into the spare; the tile's own storage becomes the next spare. The first
  // tile's form waits in the scratch buffer and moves into the last spare at the end.
  uint32_t scratch[kTileWords];
  uint32_t* spare = scratch;
  TileEntry spareEntry = 0;  // the pool tile behind `spare`, 0 while it is the scratch buffer
  int64_t first = -1;
  for (int64_t i = 0; i < p->tileCount; ++i) {
    const TileEntry e = p->directory[i];
    if (!entryIsTile(e)) continue;
    uint32_t* words = tileWords(p, e);
    tileOperation(words, spare);
    if (spareEntry == 0) {
      first = i;
    } else {
      p->directory[i] = spareEntry | (e & kSavedMark);
    }
    spareEntry = entryUnmarked(e);
    spare = words;
  }
  if (first >= 0) {
    std::memcpy(spare, scratch, sizeof scratch);
    p->directory[first] = spareEntry | (p->directory[first] & kSavedMark);
  }
  if (directoryOperation == MirrorHorizontalDirectory) p->height = p->tileRows * 32;
  if (directoryOperation == MirrorVerticalDirectory) p->width = p->tilesAcross * 32;
  return true;
}

bool MirrorHorizontalTPicture(TPicture* p) {
  if (refuseProtected(p, "MirrorHorizontalTPicture")) return false;
  return MirrorTPicture(p, MirrorHorizontalDirectory, ReverseTileRows);
}

bool MirrorVerticalTPicture(TPicture* p) {
  if (refuseProtected(p, "MirrorVerticalTPicture")) return false;
  return MirrorTPicture(p, MirrorVerticalDirectory, MirrorTileRows);
}

bool MirrorDiagonalTPicture(TPicture* p) {
  if (refuseProtected(p, "MirrorDiagonalTPicture")) return false;
  return MirrorTPicture(p, MirrorDiagonalDirectory, TransposeTile);
}

// ---------------------------------------------------------------------------------------------------------
// Quarter turns.

bool Rotate90TPicture(TPicture* p) {
  if (refuseProtected(p, "Rotate90TPicture")) return false;
  const int32_t height = p->height;
  if (!MirrorHorizontalTPicture(p)) return false;
  if (!MirrorDiagonalTPicture(p)) {
    (void)MirrorHorizontalTPicture(p);
    p->height = height;
    rastClearLastError();
    rastSetError(kRastTransformFailed, "Rotate90TPicture");
    return false;
  }
  return true;
}

bool Rotate180TPicture(TPicture* p) {
  if (refuseProtected(p, "Rotate180TPicture")) return false;
  return MirrorHorizontalTPicture(p) && MirrorVerticalTPicture(p);
}

bool Rotate270TPicture(TPicture* p) {
  if (refuseProtected(p, "Rotate270TPicture")) return false;
  if (!MirrorDiagonalTPicture(p)) {
    rastClearLastError();
    rastSetError(kRastTransformFailed, "Rotate270TPicture");
    return false;
  }
  return MirrorHorizontalTPicture(p);
}

}  // namespace vantrel
