// The tile pool of a picture and what is done to its tiles as tiles: allocate, copy, release and reserve;
// pack uniform tiles into reserved entries; clear the edge padding.
#include <algorithm>
#include <cstring>

#include "picture/tpicture.h"
#include "picture/tpicture_internal.h"
#include "rio/alloc.h"

namespace vantrel {
namespace {

bool uniformTile(const uint32_t* words, uint32_t value) {
  for (int i = 0; i < kTileWords; ++i) {
    if (words[i] != value) return false;
  }
  return true;
}

void packTo(TPicture* p, uint32_t value, TileEntry reserved) {
  for (int32_t i = 0; i < p->tileCount; ++i) {
    TileEntry e = p->directory[i];
    if (!entryIsTile(e) || !uniformTile(tileWords(p, e), value)) continue;
    poolRelease(p->pool, e);
    p->directory[i] = reserved | (e & kSavedMark);
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// Pool storage.

bool poolGrow(TilePool& pool) {
  if (poolCapacity(pool) + kPoolChunkTiles > uint64_t{kMaxPoolIndex} + 1) return false;
  if (pool.chunkCount == pool.chunkSlots) {
    uint32_t slots = pool.chunkSlots ? pool.chunkSlots * 2 : 4;
    auto* table = static_cast<uint32_t**>(rioRealloc(pool.chunks, size_t{slots} * sizeof(uint32_t*)));
    if (!table) return false;
    pool.chunks = table;
    pool.chunkSlots = slots;
  }
  auto* chunk = static_cast<uint32_t*>(rioMalloc(kChunkBytes));
  if (!chunk) return false;
  pool.chunks[pool.chunkCount++] = chunk;
  return true;
}

bool poolReserve(TilePool& pool, uint64_t count) {
  while (poolAvailable(pool) < count) {
    if (!poolGrow(pool)) return false;
  }
  return true;
}

void poolFreeAll(TilePool& pool) {
  for (uint32_t i = 0; i < pool.chunkCount; ++i) rioFree(pool.chunks[i]);
  rioFree(pool.chunks);
  pool = TilePool{};
}

// ---------------------------------------------------------------------------------------------------------
// Tiles.

TileEntry AllocTPictureTile(TPicture* picture, uint32_t fill) {
  TileEntry t = poolAlloc(picture->pool, fill);
  if (t == 0) rastSetError(kRastOutOfMemory, "AllocTPictureTile");
  return t;
}

TileEntry CopyTile(TPicture* to, const TPicture* from, TileEntry tile) {
  TileEntry t = poolAlloc(to->pool, 0);
  if (t == 0) {
    rastSetError(kRastOutOfMemory, "CopyTile");
    return 0;
  }
  // Allocation never moves a chunk, so the source words are still where they were.
  std::memcpy(tileWords(to, t), tileWords(from, tile), kTileWords * sizeof(uint32_t));
  return t;
}

void FreeTPictureTile(TPicture* picture, TileEntry tile) {
  poolRelease(picture->pool, tile);
}

bool ReserveTPictureTiles(TPicture* picture, uint32_t count) {
  return poolReserve(picture->pool, count);
}

int32_t TPictureTileCount(const TPicture* p) {
  return static_cast<int32_t>(p->pool.live);
}

void PackWhiteTPicture(TPicture* p) {
  packTo(p, 0, kWhiteEntry);
}

void PackBlackTPicture(TPicture* p) {
  packTo(p, 0xFFFFFFFFu, kBlackEntry);
}

bool ClearPaddingTPicture(TPicture* p) {
  if (p->width % 32 != 0) {
    uint32_t mask = lastColumnMask(p);
    for (int32_t r = 0; r < p->tileRows; ++r) {
      TileEntry& e = tileRowEntries(p, r)[p->tilesAcross - 1];
      if (entryIsWhite(e)) continue;
      if (entryIsBlack(e)) {
        if (!entryToTile(p, e, mask)) return false;
        continue;
      }
      uint32_t* words = tileWords(p, e);
      for (int i = 0; i < kTileWords; ++i) words[i] &= mask;
    }
  }
  if (p->height % 32 != 0) {
    int firstPadRow = p->height % 32;
    TileEntry* entries = tileRowEntries(p, p->tileRows - 1);
    for (int32_t c = 0; c < p->tilesAcross; ++c) {
      TileEntry& e = entries[c];
      if (entryIsWhite(e)) continue;
      if (entryIsBlack(e) && !entryToTile(p, e, 0xFFFFFFFFu)) return false;
      uint32_t* words = tileWords(p, e);
      std::fill(words + firstPadRow, words + kTileWords, 0u);
    }
  }
  return true;
}

}  // namespace vantrel
