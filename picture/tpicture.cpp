#include "picture/tpicture.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vantrel {
namespace {

// ---------------------------------------------------------------------------------------------------------
// Last error and hook, per thread.

thread_local RastError tLastError = kRastNoError;
thread_local RastErrorHook tErrorHook = nullptr;

// ---------------------------------------------------------------------------------------------------------
// Tile pool.

constexpr size_t kChunkBytes = size_t{kPoolChunkTiles} * kTileWords * sizeof(uint32_t);

uint32_t* poolWords(TilePool& pool, uint32_t index) {
  return pool.chunks[index >> kPoolChunkShift] + (index & (kPoolChunkTiles - 1)) * kTileWords;
}

uint64_t poolCapacity(const TilePool& pool) {
  return uint64_t{pool.chunkCount} * kPoolChunkTiles;
}
uint64_t poolAvailable(const TilePool& pool) {
  return pool.freeCount + poolCapacity(pool) - pool.used;
}

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

// A tile filled with `fill`, as an unmarked entry; 0 when memory runs out.
TileEntry poolAlloc(TilePool& pool, uint32_t fill) {
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

void poolRelease(TilePool& pool, TileEntry e) {
  if (!entryIsTile(e)) return;
  uint32_t index = entryPoolIndex(e);
  poolWords(pool, index)[0] = pool.freeHead;
  pool.freeHead = index + 1;
  ++pool.freeCount;
  --pool.live;
}

void poolFreeAll(TilePool& pool) {
  for (uint32_t i = 0; i < pool.chunkCount; ++i) rioFree(pool.chunks[i]);
  rioFree(pool.chunks);
  pool = TilePool{};
}

// Replaces the entry by a new tile of `fill`, keeping its mark.
bool entryToTile(TPicture* p, TileEntry& entry, uint32_t fill) {
  TileEntry t = poolAlloc(p->pool, fill);
  if (t == 0) {
    rastSetError(kRastOutOfMemory, "AllocTPictureTile");
    return false;
  }
  entry = t | (entry & kSavedMark);
  return true;
}

// ---------------------------------------------------------------------------------------------------------
// Records.

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

void releaseEntries(TPicture* p) {
  for (int32_t i = 0; i < p->tileCount; ++i) {
    poolRelease(p->pool, p->directory[i]);
    p->directory[i] = kWhiteEntry;
  }
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

// ---------------------------------------------------------------------------------------------------------
// Word to run conversion: the byte table, with touching runs joined as they come.

class RunWriter {
 public:
  explicit RunWriter(int32_t* out) : out_(out), begin_(out) {}

  void add(int32_t start, int32_t end) {
    if (start == end_) {
      end_ = end;
      return;
    }
    flush();
    start_ = start;
    end_ = end;
  }

  // The runs of a word in memory order whose pixel 0 is column `base`.
  void word(uint32_t w, int32_t base) {
    if (w == 0) return;
    if (w == 0xFFFFFFFFu) {
      add(base, base + 32);
      return;
    }
    uint32_t m = wordToMsbFirst(w);
    for (int k = 0; k < 4; ++k) {
      uint32_t b = (m >> (24 - 8 * k)) & 0xFF;
      if (b == 0) continue;
      int32_t at = base + 8 * k;
      if (b == 0xFF) {
        add(at, at + 8);
        continue;
      }
      const ByteRuns& r = kByteRuns[b];
      for (int i = 0; i < r.count; ++i) add(at + r.start[i], at + r.end[i]);
    }
  }

  int32_t finish(int32_t** tail) {
    flush();
    out_[0] = out_[1] = kSlineEnd;
    if (tail) *tail = out_ == begin_ ? out_ : out_ - 1;
    return static_cast<int32_t>((out_ - begin_) / 2);
  }

 private:
  void flush() {
    if (start_ < 0) return;
    out_[0] = start_;
    out_[1] = end_;
    out_ += 2;
  }

  int32_t* out_;
  int32_t* begin_;
  int32_t start_ = -1;
  int32_t end_ = -1;
};

uint32_t entryRowWord(const TPicture* p, TileEntry e, int r) {
  if (entryIsWhite(e)) return 0;
  if (entryIsBlack(e)) return 0xFFFFFFFFu;
  return tileWords(p, e)[r];
}

// Mask of the picture area in the last tile column.
uint32_t lastColumnMask(const TPicture* p) {
  return maskBefore(p->width % 32 == 0 ? 32 : p->width % 32);
}

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

// Sizes named by doubles: add 0.5 and truncate; false when the result is negative or beyond int32.
bool roundSize(double v, int32_t* out) {
  double r = std::trunc(v + 0.5);
  if (!(r >= 0 && r <= 2147483647.0)) return false;
  *out = static_cast<int32_t>(r);
  return true;
}

bool toPixel(double v, int32_t* out) {
  double r = std::trunc(v);
  if (!(r >= INT32_MIN && r <= INT32_MAX)) return false;
  *out = static_cast<int32_t>(r);
  return true;
}

bool needPicture(const TPicture* p, const char* routine) {
  if (p) return true;
  rastSetError(kRastNoPicture, routine);
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// Errors.

RastError rastGetLastError() {
  return tLastError;
}
bool rastIsLastError(RastError code) {
  return tLastError == code;
}
void rastClearLastError() {
  tLastError = kRastNoError;
}

void rastSetError(RastError code, const char* routine) {
  tLastError = code;
  if (tErrorHook) tErrorHook(code, routine);
}

RastErrorHook rastSetErrorHook(RastErrorHook hook) {
  RastErrorHook old = tErrorHook;
  tErrorHook = hook;
  return old;
}

RastError rastErrorFromStatus(RioStatus status) {
  switch (status) {
    case kRioOk:
    case kRioEndOfPage:
      return kRastNoError;
    case kRioNotImplemented:
      return kRastNotSupported;
    case kRioBadRows:
    case kRioBadColumns:
      return kRastBadSize;
    case kRioBadData:
      return kRastBadData;
    case kRioBadHeader:
    case kRioUnknownFormat:
      return kRastBadFormat;
    case kRioUnexpectedEof:
    case kRioStreamIo:
      return kRastInputEnded;
    case kRioOutOfMemory:
      return kRastOutOfMemory;
    default:
      return kRastRasterStatus;
  }
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
  int32_t firstRow = INT32_MAX, lastRow = -1, firstColumn = INT32_MAX, lastColumn = -1;
  for (int32_t r = 0; r < p->tileRows; ++r) {
    const TileEntry* entries = tileRowEntries(p, r);
    for (int32_t c = 0; c < p->tilesAcross; ++c) {
      if (entryIsWhite(entries[c])) continue;
      firstRow = std::min(firstRow, r);
      lastRow = r;
      firstColumn = std::min(firstColumn, c);
      lastColumn = std::max(lastColumn, c);
    }
  }
  if (lastRow < 0) {
    TPicture* n = reshape(p, 32, 32, 0, 0);
    return n ? n : p;
  }
  TPicture* n =
      reshape(p, (lastRow - firstRow + 1) * 32, (lastColumn - firstColumn + 1) * 32, firstRow, firstColumn);
  if (!n) return p;
  if (left) *left = firstColumn * 32;
  if (top) *top = firstRow * 32;
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

int32_t TPictureTileCount(const TPicture* p) {
  return static_cast<int32_t>(p->pool.live);
}

int64_t TPictureStorageBytes(const TPicture* p) {
  return static_cast<int64_t>(sizeof(TPicture)) + int64_t{p->tileCount} * int64_t{sizeof(TileEntry)} +
         int64_t{p->pool.chunkSlots} * int64_t{sizeof(uint32_t*)} +
         int64_t{p->pool.chunkCount} * static_cast<int64_t>(kChunkBytes) +
         (p->undoList ? int64_t{p->undoSlots} * int64_t{sizeof(UndoPair)} : 0);
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

// ---------------------------------------------------------------------------------------------------------
// Rows.

int32_t ExtractRunsTPicture(const TPicture* p, int32_t row, int32_t* runs, int32_t firstColumn,
                            int32_t lastColumn, int32_t** tail) {
  RunWriter out(runs);
  if (row >= 0 && row < p->height) {
    int32_t c0 = std::max(firstColumn, 0);
    int32_t c1 = std::min(lastColumn, p->width - 1);
    if (c0 <= c1) {
      const TileEntry* entries = tileRowEntries(p, row >> 5);
      int r = row & 31;
      int32_t t0 = c0 >> 5;
      int32_t t1 = c1 >> 5;
      for (int32_t t = t0; t <= t1; ++t) {
        uint32_t w = entryRowWord(p, entries[t], r);
        if (t == t0) w &= maskFrom(c0 & 31);
        if (t == t1) w &= maskBefore((c1 & 31) + 1);
        out.word(w, t * 32);
      }
    }
  }
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
  int32_t count = 0;
  int32_t c0 = std::max(firstColumn, 0);
  int32_t c1 = std::min(lastColumn, p->width - 1);
  if (row >= 0 && row < p->height && c0 <= c1) {
    const TileEntry* entries = tileRowEntries(p, row >> 5);
    int r = row & 31;
    int32_t t0 = c0 >> 5;
    int32_t t1 = c1 >> 5;
    for (int32_t t = t0; t <= t1; ++t) {
      uint32_t w = entryRowWord(p, entries[t], r);
      if (t == t0) w &= maskFrom(c0 & 31);
      if (t == t1) w &= maskBefore((c1 & 31) + 1);
      bits[t - t0] = w;
      if (offsets && w != 0) *offsets++ = (t - t0) * 4;
    }
    count = t1 - t0 + 1;
  }
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

// ---------------------------------------------------------------------------------------------------------
// Bitmap strings.

uint32_t* AllocBitmapString(int32_t words) {
  if (words < 0) {
    rastSetError(kRastBadSize, "AllocBitmapString");
    return nullptr;
  }
  auto* bits = static_cast<uint32_t*>(rioCalloc(static_cast<size_t>(words), sizeof(uint32_t)));
  if (!bits) rastSetError(kRastOutOfMemory, "AllocBitmapString");
  return bits;
}

void FreeBitmapString(uint32_t* bits) {
  rioFree(bits);
}

void FillBitmapString(uint32_t* bits, int32_t words, uint32_t value) {
  if (words > 0) std::fill(bits, bits + words, value);
}

void CopyBitmapString(uint32_t* to, const uint32_t* from, int32_t words) {
  if (words > 0) std::memmove(to, from, static_cast<size_t>(words) * sizeof(uint32_t));
}

void OrBitmapString(uint32_t* to, const uint32_t* from, int32_t words) {
  for (int32_t i = 0; i < words; ++i) to[i] |= from[i];
}

void WriteRunsBitmapString(uint32_t* bits, int32_t words, const int32_t* runs, int colour) {
  int64_t limit = int64_t{std::max(words, 0)} * 32;
  for (; !rioSlineEnd(runs); runs += 2) {
    int64_t s = std::max<int64_t>(runs[0], 0);
    int64_t e = std::min<int64_t>(runs[1], limit);
    if (s >= e) continue;
    int64_t t0 = s >> 5;
    int64_t t1 = (e - 1) >> 5;
    for (int64_t t = t0; t <= t1; ++t) {
      int lo = t == t0 ? static_cast<int>(s & 31) : 0;
      int hi = t == t1 ? static_cast<int>((e - 1) & 31) + 1 : 32;
      uint32_t mask = maskSpan(lo, hi);
      bits[t] = colour != 0 ? bits[t] | mask : bits[t] & ~mask;
    }
  }
}

int32_t BitmapStringToRuns(const uint32_t* bits, int32_t words, int32_t* runs, int32_t firstColumn,
                           int32_t lastColumn, int32_t** tail) {
  RunWriter out(runs);
  int64_t c0 = std::max(firstColumn, 0);
  int64_t c1 = std::min<int64_t>(lastColumn, int64_t{std::max(words, 0)} * 32 - 1);
  c1 = std::min<int64_t>(c1, kMaxPictureSide - 1);  // run ends stay in int32
  if (c0 <= c1) {
    int64_t t0 = c0 >> 5;
    int64_t t1 = c1 >> 5;
    for (int64_t t = t0; t <= t1; ++t) {
      uint32_t w = bits[t];
      if (t == t0) w &= maskFrom(static_cast<int>(c0 & 31));
      if (t == t1) w &= maskBefore(static_cast<int>(c1 & 31) + 1);
      out.word(w, static_cast<int32_t>(t * 32));
    }
  }
  return out.finish(tail);
}

// ---------------------------------------------------------------------------------------------------------
// Undo protection.

bool UndoProtectTPicture(TPicture* p) {
  if (p->undoList) return true;
  p->undoList = static_cast<UndoPair*>(rioCalloc(static_cast<size_t>(p->tileCount), sizeof(UndoPair)));
  if (!p->undoList) {
    rastSetError(kRastOutOfMemory, "UndoProtectTPicture");
    return false;
  }
  p->undoSlots = p->tileCount;
  p->undoCount = 0;
  p->undoEnabled = 1;
  return true;
}

bool UndoEnableTPicture(TPicture* p) {
  if (!p->undoList) return false;
  p->undoEnabled = 1;
  return true;
}

void UndoDisableTPicture(TPicture* p) {
  UndoResetTPicture(p);
  p->undoEnabled = 0;
}

void UndoResetTPicture(TPicture* p) {
  for (int32_t i = 0; i < p->undoCount; ++i) {
    const UndoPair& pair = p->undoList[i];
    poolRelease(p->pool, pair.saved);
    if (pair.entryIndex < static_cast<uint32_t>(p->tileCount)) {
      p->directory[pair.entryIndex] = entryUnmarked(p->directory[pair.entryIndex]);
    }
  }
  p->undoCount = 0;
}

void UndoAbandonTPicture(TPicture* p) {
  UndoResetTPicture(p);
  rioFree(p->undoList);
  p->undoList = nullptr;
  p->undoSlots = 0;
  p->undoEnabled = 0;
}

void UndoToggleTPicture(TPicture* p) {
  for (int32_t i = 0; i < p->undoCount; ++i) {
    UndoPair& pair = p->undoList[i];
    if (pair.entryIndex >= static_cast<uint32_t>(p->tileCount)) continue;
    TileEntry& e = p->directory[pair.entryIndex];
    TileEntry current = entryUnmarked(e);
    e = pair.saved | kSavedMark;
    pair.saved = current;
  }
}

bool UndoInquireTPicture(TPicture* p, TPicture* diff) {
  if (diff == p || diff->height != p->height || diff->width != p->width) {
    rastSetError(kRastBadSize, "UndoInquireTPicture");
    return false;
  }
  if (TPictureIsProtected(diff)) {
    rastSetError(kRastProtected, "UndoInquireTPicture");
    return false;
  }
  releaseEntries(diff);
  for (int32_t i = 0; i < p->undoCount; ++i) {
    const UndoPair& pair = p->undoList[i];
    if (pair.entryIndex >= static_cast<uint32_t>(p->tileCount)) continue;
    TileEntry current = entryUnmarked(p->directory[pair.entryIndex]);
    TileEntry saved = pair.saved;
    TileEntry& out = diff->directory[pair.entryIndex];
    poolRelease(diff->pool, out);
    out = kWhiteEntry;
    if (!entryIsTile(current) && !entryIsTile(saved)) {
      out = entryIsBlack(current) != entryIsBlack(saved) ? kBlackEntry : kWhiteEntry;
      continue;
    }
    // One side is a tile: copy it, then XOR the other side in.
    TileEntry tile = entryIsTile(current) ? current : saved;
    TileEntry other = entryIsTile(current) ? saved : current;
    TileEntry t = CopyTile(diff, p, tile);
    if (t == 0) return false;
    out = t;
    uint32_t* words = tileWords(diff, t);
    if (entryIsBlack(other)) {
      for (int k = 0; k < kTileWords; ++k) words[k] = ~words[k];
    } else if (entryIsTile(other)) {
      const uint32_t* o = tileWords(p, other);
      for (int k = 0; k < kTileWords; ++k) words[k] ^= o[k];
    }
  }
  return ClearPaddingTPicture(diff);  // an inverted edge tile would carry black padding
}

// ---------------------------------------------------------------------------------------------------------
// Toolkit entry points.

TPicture* rastAllocImage(double height, double width) {
  int32_t h = 0, w = 0;
  if (!roundSize(height, &h) || !roundSize(width, &w)) {
    rastSetError(kRastBadSize, "rastAllocImage");
    return nullptr;
  }
  return AllocTPicture(h, w);
}

TPicture* rastAllocRegisterImage(const TPicture* picture) {
  if (!needPicture(picture, "rastAllocRegisterImage")) return nullptr;
  TPicture* n = AllocTPicture(picture->height, picture->width);
  if (n) {
    n->columnDpi = picture->columnDpi;
    n->rowDpi = picture->rowDpi;
  }
  return n;
}

bool rastFreeImage(TPicture* picture) {
  if (!picture || picture->magic != kTPictureMagic) {
    rastSetError(kRastNoPicture, "rastFreeImage");
    return false;
  }
  FreeTPicture(picture);
  return true;
}

bool rastClearImage(TPicture* picture) {
  if (!needPicture(picture, "rastClearImage")) return false;
  ClearTPicture(picture);
  return true;
}

TPicture* rastResizeImage(TPicture* picture, double height, double width) {
  if (!needPicture(picture, "rastResizeImage")) return nullptr;
  int32_t h = 0, w = 0;
  if (!roundSize(height, &h) || !roundSize(width, &w)) {
    rastSetError(kRastBadSize, "rastResizeImage");
    return picture;
  }
  return ResizeTPicture(picture, h, w);
}

TPicture* rastCropImage(TPicture* picture, int32_t* left, int32_t* top) {
  if (!needPicture(picture, "rastCropImage")) return nullptr;
  return CropTPicture(picture, left, top);
}

bool rastSetImageDPI(TPicture* picture, double rowDpi, double columnDpi) {
  if (!needPicture(picture, "rastSetImageDPI")) return false;
  picture->rowDpi = static_cast<float>(rowDpi);
  picture->columnDpi = static_cast<float>(columnDpi);
  return true;
}

double rastGetImageHeight(const TPicture* picture) {
  return needPicture(picture, "rastGetImageHeight") ? picture->height : 0;
}
double rastGetImageWidth(const TPicture* picture) {
  return needPicture(picture, "rastGetImageWidth") ? picture->width : 0;
}
double rastGetImageRowDPI(const TPicture* picture) {
  return needPicture(picture, "rastGetImageRowDPI") ? picture->rowDpi : 0;
}
double rastGetImageColumnDPI(const TPicture* picture) {
  return needPicture(picture, "rastGetImageColumnDPI") ? picture->columnDpi : 0;
}

bool rastPackWhiteImage(TPicture* picture) {
  if (!needPicture(picture, "rastPackWhiteImage")) return false;
  PackWhiteTPicture(picture);
  return true;
}

bool rastPackBlackImage(TPicture* picture) {
  if (!needPicture(picture, "rastPackBlackImage")) return false;
  PackBlackTPicture(picture);
  return true;
}

bool rastImageIsAllWhite(TPicture* picture) {
  if (!needPicture(picture, "rastImageIsAllWhite")) return false;
  PackWhiteTPicture(picture);
  return std::all_of(picture->directory, picture->directory + picture->tileCount, entryIsWhite);
}

bool rastImageIsAllBlack(TPicture* picture) {
  if (!needPicture(picture, "rastImageIsAllBlack")) return false;
  PackBlackTPicture(picture);
  return std::all_of(picture->directory, picture->directory + picture->tileCount, entryIsBlack);
}

bool rastGetImageBounds(const TPicture* picture, double* left, double* top, double* right, double* bottom) {
  if (!needPicture(picture, "rastGetImageBounds")) return false;
  int32_t firstRow = INT32_MAX, lastRow = -1, firstColumn = INT32_MAX, lastColumn = -1;
  for (int32_t r = 0; r < picture->tileRows; ++r) {
    const TileEntry* entries = tileRowEntries(picture, r);
    for (int32_t c = 0; c < picture->tilesAcross; ++c) {
      if (entryIsWhite(entries[c])) continue;
      firstRow = std::min(firstRow, r);
      lastRow = r;
      firstColumn = std::min(firstColumn, c);
      lastColumn = std::max(lastColumn, c);
    }
  }
  bool any = lastRow >= 0;
  if (left) *left = any ? 32.0 * firstColumn : 0;
  if (top) *top = any ? 32.0 * firstRow : 0;
  if (right) *right = any ? 32.0 * lastColumn + 31 : 0;
  if (bottom) *bottom = any ? 32.0 * lastRow + 31 : 0;
  return true;
}

bool rastPixelIsWhite(const TPicture* picture, double row, double column) {
  if (!needPicture(picture, "rastPixelIsWhite")) return false;
  int32_t r = 0, c = 0;
  if (!toPixel(row, &r) || !toPixel(column, &c)) return true;
  int32_t runs[4];
  return ExtractRunsTPicture(picture, r, runs, c, c) == 0;
}

bool rastPixelIsBlack(const TPicture* picture, double row, double column) {
  if (!needPicture(picture, "rastPixelIsBlack")) return false;
  int32_t r = 0, c = 0;
  if (!toPixel(row, &r) || !toPixel(column, &c)) return false;
  int32_t runs[4];
  return ExtractRunsTPicture(picture, r, runs, c, c) != 0;
}

bool rastUndoProtectImage(TPicture* picture) {
  return needPicture(picture, "rastUndoProtectImage") && UndoProtectTPicture(picture);
}

bool rastUndoEnableImage(TPicture* picture) {
  return needPicture(picture, "rastUndoEnableImage") && UndoEnableTPicture(picture);
}

bool rastUndoDisableImage(TPicture* picture) {
  if (!needPicture(picture, "rastUndoDisableImage")) return false;
  UndoDisableTPicture(picture);
  return true;
}

bool rastUndoResetImage(TPicture* picture) {
  if (!needPicture(picture, "rastUndoResetImage")) return false;
  UndoResetTPicture(picture);
  return true;
}

bool rastUndoAbandonImage(TPicture* picture) {
  if (!needPicture(picture, "rastUndoAbandonImage")) return false;
  UndoAbandonTPicture(picture);
  return true;
}

bool rastUndoToggleImage(TPicture* picture) {
  if (!needPicture(picture, "rastUndoToggleImage")) return false;
  UndoToggleTPicture(picture);
  return true;
}

bool rastUndoInquireImage(TPicture* picture, TPicture* diff) {
  if (!needPicture(picture, "rastUndoInquireImage") || !needPicture(diff, "rastUndoInquireImage"))
    return false;
  return UndoInquireTPicture(picture, diff);
}

}  // namespace vantrel
