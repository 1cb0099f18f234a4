// The picture record: life cycle, whole-directory changes (resize, crop, directory swap) and storage.
#include "picture/tpicture.h"

#include <algorithm>
#include <cstring>

#include "picture/tpicture_internal.h"
#include "rio/alloc.h"

namespace vantrel {
namespace {

struct Geometry {
  int32_t tilesAcross;
  int32_t tileRows;
  int32_t tileCount;
};

// Tile counts of a height x width picture, or the error that refuses it.
RastError geometryOf(int32_t height, int32_t width, Geometry* g) {
  if (height < 0 || width < 0) return kRastBadSize;
  if (height > kMaxPictureSide || width > kMaxPictureSide) return kRastOutOfMemory;
  int64_t across = bitmapWords(width);
  int64_t rows = bitmapWords(height);
  int64_t count = across * rows;  // each below 2^26: no overflow
  if (count > kMaxTileCount) return kRastOutOfMemory;
  *g = {static_cast<int32_t>(across), static_cast<int32_t>(rows), static_cast<int32_t>(count)};
  return kRastNoError;
}

TPicture* makePicture(int32_t height, int32_t width, RastError* error) {
  Geometry g{};
  if ((*error = geometryOf(height, width, &g)) != kRastNoError) return nullptr;
  *error = kRastOutOfMemory;
  TPicture* p = rioNew<TPicture>();
  if (!p) return nullptr;
  p->directory = static_cast<TileEntry*>(rioCalloc(static_cast<size_t>(g.tileCount), sizeof(TileEntry)));
  if (!p->directory) {
    rioDelete(p);
    return nullptr;
  }
  p->height = height;
  p->width = width;
  p->tilesAcross = g.tilesAcross;
  p->tileRows = g.tileRows;
  p->tileCount = g.tileCount;
  p->magic = kTPictureMagic;
  *error = kRastNoError;
  return p;
}

// The record and directory alone; the pool must be empty or handed on.
void dropRecord(TPicture* p) {
  rioFree(p->undoList);
  rioFree(p->directory);
  poolFreeAll(p->pool);
  p->magic = 0;
  rioDelete(p);
}

// A picture of height x width holding p's tiles (rowOffset + r, columnOffset + c) at (r, c), taking over
// p's pool; p is freed. nullptr, with p untouched, when the new record or what the move needs cannot be had.
TPicture* reshape(TPicture* p, int32_t height, int32_t width, int32_t rowOffset, int32_t columnOffset) {
  TPicture* n = AllocTPicture(height, width);
  if (!n) return nullptr;
  if (p->undoList) {
    n->undoList = static_cast<UndoPair*>(rioCalloc(static_cast<size_t>(n->tileCount), sizeof(UndoPair)));
    if (!n->undoList) {
      rastSetError(kRastOutOfMemory, "UndoProtectTPicture");
      dropRecord(n);
      return nullptr;
    }
    n->undoSlots = n->tileCount;
    n->undoEnabled = p->undoEnabled;
  }
  int32_t rows = std::max(0, std::min(n->tileRows, p->tileRows - rowOffset));
  int32_t across = std::max(0, std::min(n->tilesAcross, p->tilesAcross - columnOffset));
  // Black entries landing on the new padded edges need a tile each; have them before anything moves.
  uint32_t edgeTiles = 0;
  for (int32_t r = 0; r < rows; ++r) {
    const TileEntry* src = tileRowEntries(p, r + rowOffset) + columnOffset;
    for (int32_t c = 0; c < across; ++c) {
      bool edge = (width % 32 != 0 && c == n->tilesAcross - 1) || (height % 32 != 0 && r == n->tileRows - 1);
      edgeTiles += edge && entryIsBlack(src[c]);
    }
  }
  if (!poolReserve(p->pool, edgeTiles)) {
    rastSetError(kRastOutOfMemory, "AllocTPictureTile");
    dropRecord(n);
    return nullptr;
  }
  UndoAbandonTPicture(p);
  n->columnDpi = p->columnDpi;
  n->rowDpi = p->rowDpi;
  for (int32_t r = 0; r < rows; ++r) {
    TileEntry* src = tileRowEntries(p, r + rowOffset) + columnOffset;
    TileEntry* dst = tileRowEntries(n, r);
    for (int32_t c = 0; c < across; ++c) {
      dst[c] = src[c];
      src[c] = kWhiteEntry;
    }
  }
  releaseEntries(p);
  n->pool = p->pool;
  p->pool = TilePool{};
  (void)ClearPaddingTPicture(n);  // cannot fail: its tiles are reserved
  dropRecord(p);
  return n;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// Directory helpers shared with the other picture files.

void releaseEntries(TPicture* p) {
  for (int32_t i = 0; i < p->tileCount; ++i) {
    poolRelease(p->pool, p->directory[i]);
    p->directory[i] = kWhiteEntry;
  }
}

TileRect contentTiles(const TPicture* p) {
  TileRect rect;
  for (int32_t r = 0; r < p->tileRows; ++r) {
    const TileEntry* entries = tileRowEntries(p, r);
    for (int32_t c = 0; c < p->tilesAcross; ++c) {
      if (entryIsWhite(entries[c])) continue;
      rect.firstRow = std::min(rect.firstRow, r);
      rect.lastRow = r;
      rect.firstColumn = std::min(rect.firstColumn, c);
      rect.lastColumn = std::max(rect.lastColumn, c);
    }
  }
  return rect;
}

// ---------------------------------------------------------------------------------------------------------
// Life cycle.

TPicture* AllocTPicture(int32_t height, int32_t width) {
  RastError error = kRastNoError;
  TPicture* p = makePicture(height, width, &error);
  if (!p) rastSetError(error, "AllocTPicture");
  return p;
}

TPicture* CopyTPicture(const TPicture* picture) {
  TPicture* n = AllocTPicture(picture->height, picture->width);
  if (!n) return nullptr;
  n->columnDpi = picture->columnDpi;
  n->rowDpi = picture->rowDpi;
  if (!poolReserve(n->pool, picture->pool.live)) {
    FreeTPicture(n);
    rastSetError(kRastOutOfMemory, "CopyTPicture");
    return nullptr;
  }
  for (int32_t i = 0; i < picture->tileCount; ++i) {
    TileEntry e = picture->directory[i];
    if (entryIsWhite(e)) {
      n->directory[i] = kWhiteEntry;
    } else if (entryIsBlack(e)) {
      n->directory[i] = kBlackEntry;
    } else {
      TileEntry t = poolAlloc(n->pool, 0);  // reserved: cannot fail
      std::memcpy(tileWords(n, t), tileWords(picture, e), kTileWords * sizeof(uint32_t));
      n->directory[i] = t;
    }
  }
  return n;
}

void FreeTPicture(TPicture* picture) {
  if (!picture || picture->magic != kTPictureMagic) return;
  UndoAbandonTPicture(picture);
  dropRecord(picture);
}

void ClearTPicture(TPicture* p) {
  if (!TPictureIsProtected(p)) {
    releaseEntries(p);
    return;
  }
  for (int32_t i = 0; i < p->tileCount; ++i) {
    TileEntry e = p->directory[i];
    if (entryIsWhite(e)) continue;
    if (!entryMarked(e) && p->undoCount < p->undoSlots) {
      p->undoList[p->undoCount++] = {static_cast<uint32_t>(i), e};  // the list owns the tile now
    } else {
      poolRelease(p->pool, e);  // a change made after the recorded one
    }
    p->directory[i] = kWhiteMarked;
  }
}

TPicture* ResizeTPicture(TPicture* picture, int32_t height, int32_t width) {
  TPicture* n = reshape(picture, height, width, 0, 0);
  return n ? n : picture;
}

TPicture* CropTPicture(TPicture* p, int32_t* left, int32_t* top) {
  if (left) *left = 0;
  if (top) *top = 0;
  if (p->undoList) return p;
  const TileRect c = contentTiles(p);
  if (c.lastRow < 0) {
    TPicture* n = reshape(p, 32, 32, 0, 0);
    return n ? n : p;
  }
  TPicture* n = reshape(p, (c.lastRow - c.firstRow + 1) * 32, (c.lastColumn - c.firstColumn + 1) * 32,
                        c.firstRow, c.firstColumn);
  if (!n) return p;
  if (left) *left = c.firstColumn * 32;
  if (top) *top = c.firstRow * 32;
  return n;
}

TileEntry* SwapTPictureDirectory(TPicture* p, int32_t height, int32_t width) {
  Geometry g{};
  if (RastError error = geometryOf(height, width, &g)) {
    rastSetError(error, "AllocTPicture");
    return nullptr;
  }
  auto* directory = static_cast<TileEntry*>(rioCalloc(static_cast<size_t>(g.tileCount), sizeof(TileEntry)));
  if (!directory) {
    rastSetError(kRastOutOfMemory, "AllocTPicture");
    return nullptr;
  }
  if (p->undoList && g.tileCount > p->undoSlots) {
    auto* list = static_cast<UndoPair*>(rioRealloc(p->undoList, size_t(g.tileCount) * sizeof(UndoPair)));
    if (!list) {
      rioFree(directory);
      rastSetError(kRastOutOfMemory, "AllocTPicture");
      return nullptr;
    }
    p->undoList = list;
    p->undoSlots = g.tileCount;
  }
  TileEntry* old = p->directory;
  p->directory = directory;
  p->height = height;
  p->width = width;
  p->tilesAcross = g.tilesAcross;
  p->tileRows = g.tileRows;
  p->tileCount = g.tileCount;
  return old;
}

int64_t TPictureStorageBytes(const TPicture* p) {
  return static_cast<int64_t>(sizeof(TPicture)) + int64_t{p->tileCount} * int64_t{sizeof(TileEntry)} +
         int64_t{p->pool.chunkSlots} * int64_t{sizeof(uint32_t*)} +
         int64_t{p->pool.chunkCount} * static_cast<int64_t>(kChunkBytes) +
         (p->undoList ? int64_t{p->undoSlots} * int64_t{sizeof(UndoPair)} : 0);
}

}  // namespace vantrel
