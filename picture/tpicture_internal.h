// Pieces of the tiled picture shared by its source files and the transforms: the tile pool's allocation
// paths, directory helpers and the refusal under undo protection. Private to picture/: not installed.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "picture/tpicture.h"

namespace vantrel {

// ---------------------------------------------------------------------------------------------------------
// Tile pool. Storage grows a chunk at a time (tile_pool.cpp); taking and giving back a tile are inline
// because the row writers make tiles as runs fall into white or black entries.

inline constexpr size_t kChunkBytes = size_t{kPoolChunkTiles} * kTileWords * sizeof(uint32_t);

bool poolGrow(TilePool& pool);
bool poolReserve(TilePool& pool, uint64_t count);
void poolFreeAll(TilePool& pool);

inline uint32_t* poolWords(TilePool& pool, uint32_t index) {
  return pool.chunks[index >> kPoolChunkShift] + (index & (kPoolChunkTiles - 1)) * kTileWords;
}

inline uint64_t poolCapacity(const TilePool& pool) {
  return uint64_t{pool.chunkCount} * kPoolChunkTiles;
}

inline uint64_t poolAvailable(const TilePool& pool) {
  return pool.freeCount + poolCapacity(pool) - pool.used;
}

// A tile filled with `fill`, as an unmarked entry; 0 when memory runs out.
inline TileEntry poolAlloc(TilePool& pool, uint32_t fill) {
  uint32_t index;
  if (pool.freeHead != 0) {
    index = pool.freeHead - 1;
    pool.freeHead = poolWords(pool, index)[0];
    --pool.freeCount;
  } else {
    if (pool.used == poolCapacity(pool) && !poolGrow(pool)) return 0;
    index = pool.used++;
  }
  ++pool.live;
  uint32_t* words = poolWords(pool, index);
  std::fill(words, words + kTileWords, fill);
  return entryForPoolIndex(index);
}

inline void poolRelease(TilePool& pool, TileEntry e) {
  if (!entryIsTile(e)) return;
  uint32_t index = entryPoolIndex(e);
  poolWords(pool, index)[0] = pool.freeHead;
  pool.freeHead = index + 1;
  ++pool.freeCount;
  --pool.live;
}

// Replaces the entry by a new tile of `fill`, keeping its mark.
inline bool entryToTile(TPicture* p, TileEntry& entry, uint32_t fill) {
  TileEntry t = poolAlloc(p->pool, fill);
  if (t == 0) {
    rastSetError(kRastOutOfMemory, "AllocTPictureTile");
    return false;
  }
  entry = t | (entry & kSavedMark);
  return true;
}

// ---------------------------------------------------------------------------------------------------------
// Directory.

// Releases every real tile and makes every entry white (marks dropped).
void releaseEntries(TPicture* p);

// The smallest rectangle of tile rows and columns holding every non-white entry; lastRow < 0 when there is
// none.
struct TileRect {
  int32_t firstRow = INT32_MAX;
  int32_t lastRow = -1;
  int32_t firstColumn = INT32_MAX;
  int32_t lastColumn = -1;
};
TileRect contentTiles(const TPicture* p);

inline uint32_t entryRowWord(const TPicture* p, TileEntry e, int r) {
  if (entryIsWhite(e)) return 0;
  if (entryIsBlack(e)) return 0xFFFFFFFFu;
  return tileWords(p, e)[r];
}

// Mask of the picture area in the last tile column.
inline uint32_t lastColumnMask(const TPicture* p) {
  return maskBefore(p->width % 32 == 0 ? 32 : p->width % 32);
}

// Under undo protection the operations that move tiles refuse to run: error 3 with the routine's name.
inline bool refuseProtected(const TPicture* p, const char* routine) {
  if (!TPictureIsProtected(p)) return false;
  rastSetError(kRastProtected, routine);
  return true;
}

}  // namespace vantrel
