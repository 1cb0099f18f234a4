// The tiled picture: a whole 1-bit page in memory as a directory of 32 x 32 pixel tiles. All-white and
// all-black tiles are directory values that take no storage; every other tile lives in a tile pool owned by
// the picture and is named in the directory by its pool index. The header also holds the conversions
// between picture rows, bitmap strings and run lists, and the toolkit's entry points on pictures; the row
// buffers themselves and the pixel packing are in bitmap_string.h, the last-error code in rast_error.h.
//
// Pixels, words and masks are those of bitmap_string.h: a tile row is one word of a bitmap string.
//
// Pixels of edge tiles beyond width and height (the padding) are kept white by every writer here, so that
// an operation that turns the padding into picture area (a mirror) shows white there.
#pragma once

#include <cstdint>
#include <memory>

#include "picture/bitmap_string.h"
#include "picture/rast_error.h"
#include "rio/alloc.h"
#include "rio/sline.h"

namespace vantrel {

// ---------------------------------------------------------------------------------------------------------
// Tiles and directory entries.

inline constexpr int kTileSide = 32;  // pixels; a tile is 32 rows of one 32-bit word
inline constexpr int kTileWords = 32;

// Directory entries. One 32-bit value per tile:
//   0           white, no storage          1           white, saved mark set
//   0xFFFFFFFE  black, no storage          0xFFFFFFFF  black, saved mark set
//   otherwise   (poolIndex + 1) << 1 | mark: a tile of the picture's pool
// An entry above 1 is not white, one below 0xFFFFFFFE is not black. The saved mark is used only by undo
// protection; every writer keeps it when it replaces an entry.

using TileEntry = uint32_t;

inline constexpr TileEntry kWhiteEntry = 0;
inline constexpr TileEntry kWhiteMarked = 1;
inline constexpr TileEntry kBlackEntry = 0xFFFFFFFE;
inline constexpr TileEntry kBlackMarked = 0xFFFFFFFF;
inline constexpr TileEntry kSavedMark = 1;

// Highest pool index an entry can name (its entry stays below 0xFFFFFFFE).
inline constexpr uint32_t kMaxPoolIndex = 0x7FFFFFFDu;

constexpr bool entryIsWhite(TileEntry e) {
  return e <= kWhiteMarked;
}
constexpr bool entryIsBlack(TileEntry e) {
  return e >= kBlackEntry;
}
constexpr bool entryIsTile(TileEntry e) {
  return e > kWhiteMarked && e < kBlackEntry;
}
constexpr bool entryMarked(TileEntry e) {
  return (e & kSavedMark) != 0;
}
constexpr TileEntry entryUnmarked(TileEntry e) {
  return e & ~kSavedMark;
}
constexpr uint32_t entryPoolIndex(TileEntry e) {
  return (e >> 1) - 1;
}
constexpr TileEntry entryForPoolIndex(uint32_t index) {
  return (index + 1) << 1;
}

// ---------------------------------------------------------------------------------------------------------
// The record.

inline constexpr uint32_t kTPictureMagic = 0x17CE398D;
// Largest directory (entries); bigger pictures are refused as out of memory.
inline constexpr int64_t kMaxTileCount = int64_t{1} << 28;

// Tiles are kept in chunks of kPoolChunkTiles, never moved while the picture lives, so a tile's words stay
// where they are while other tiles come and go. Released tiles go on a free list (linked through their
// first word) and are handed out again first.
inline constexpr int kPoolChunkShift = 6;
inline constexpr uint32_t kPoolChunkTiles = 1u << kPoolChunkShift;

struct TilePool {
  uint32_t** chunks = nullptr;  // chunkSlots pointers, chunkCount of them in use
  uint32_t chunkCount = 0;
  uint32_t chunkSlots = 0;
  uint32_t used = 0;       // indexes handed out from fresh storage so far
  uint32_t freeHead = 0;   // pool index + 1 of the first free tile, 0 when the list is empty
  uint32_t freeCount = 0;  // tiles on the free list
  uint32_t live = 0;       // tiles in use
};

// One recorded change: the directory position and the value it had before.
struct UndoPair {
  uint32_t entryIndex;
  TileEntry saved;
};

// A tile entry names a tile of its own picture's pool only: entries move freely inside one picture (and
// with SwapTPictureDirectory), while tile content goes to another picture through CopyTile. Tile row k of
// the directory starts at tileRowEntries(p, k).
struct TPicture {
  uint32_t magic = 0;  // kTPictureMagic while alive, 0 once freed
  int32_t height = 0;  // rows
  int32_t width = 0;   // columns
  int32_t tilesAcross = 0;
  int32_t tileRows = 0;
  int32_t tileCount = 0;
  float columnDpi = 0;
  float rowDpi = 0;
  int32_t undoEnabled = 0;
  UndoPair* undoList = nullptr;  // room for undoSlots (>= tileCount) pairs, or none
  int32_t undoCount = 0;
  int32_t undoSlots = 0;
  TileEntry* directory = nullptr;  // tileCount entries, row-major, tilesAcross per tile row
  TilePool pool;
};

inline TileEntry* tileRowEntries(TPicture* p, int32_t tileRow) {
  return p->directory + static_cast<int64_t>(tileRow) * p->tilesAcross;
}
inline const TileEntry* tileRowEntries(const TPicture* p, int32_t tileRow) {
  return p->directory + static_cast<int64_t>(tileRow) * p->tilesAcross;
}

// The 32 row words of a real tile (entryIsTile), mark bit ignored.
inline uint32_t* tileWords(TPicture* p, TileEntry e) {
  uint32_t i = entryPoolIndex(e);
  return p->pool.chunks[i >> kPoolChunkShift] + (i & (kPoolChunkTiles - 1)) * kTileWords;
}
inline const uint32_t* tileWords(const TPicture* p, TileEntry e) {
  uint32_t i = entryPoolIndex(e);
  return p->pool.chunks[i >> kPoolChunkShift] + (i & (kPoolChunkTiles - 1)) * kTileWords;
}

// Under undo protection: a list exists and records changes. Moving operations refuse to run then.
inline bool TPictureIsProtected(const TPicture* p) {
  return p->undoList && p->undoEnabled == 1;
}

// ---------------------------------------------------------------------------------------------------------
// Life cycle.

// A white picture; 0 rows or columns is legal and has no tiles. Error 9 for a negative size, 1 when the
// picture is too large to hold or memory runs out ("AllocTPicture").
TPicture* AllocTPicture(int32_t height, int32_t width);
// Deep copy without undo state; marks cleared. Error 1 "CopyTPicture".
TPicture* CopyTPicture(const TPicture* picture);
// Abandons undo protection and releases everything; a picture whose magic is not alive is left alone.
void FreeTPicture(TPicture* picture);
// Every entry white. Under protection each non-white entry whose mark is clear is recorded first and every
// non-white entry becomes white with its mark set; otherwise tiles are released.
void ClearTPicture(TPicture* picture);
// A picture of the new size holding the old content at its top-left (the rest white); the old picture is
// gone. When it cannot be made, the old picture is returned unchanged: compare the result with the argument.
TPicture* ResizeTPicture(TPicture* picture, int32_t height, int32_t width);
// Moves the smallest rectangle of tiles holding every non-white tile to the top-left and resizes to it;
// *left and *top (either may be nullptr) receive the rectangle's corner. An all-white picture becomes
// 32 x 32 with corner 0, 0; a picture with an undo list (or one that cannot be resized) is returned
// unchanged with corner 0, 0.
TPicture* CropTPicture(TPicture* picture, int32_t* left, int32_t* top);

// Gives the picture an all-white directory for height x width (tile counts recomputed, the pool kept) and
// hands back the old directory block, whose entries the caller moves over and then frees with rioFree.
// nullptr (error 1 "AllocTPicture", picture unchanged) when it cannot be had. For whole-directory moves
// such as a transpose; an undo list is grown to the new tile count.
TileEntry* SwapTPictureDirectory(TPicture* picture, int32_t height, int32_t width);

// Live tiles of the pool, and every byte the picture holds (record, directory, pool, undo list).
int32_t TPictureTileCount(const TPicture* picture);
int64_t TPictureStorageBytes(const TPicture* picture);

struct TPictureDeleter {
  void operator()(TPicture* p) const { FreeTPicture(p); }
};
using TPicturePtr = std::unique_ptr<TPicture, TPictureDeleter>;

// ---------------------------------------------------------------------------------------------------------
// Tiles of a picture's pool. Entries returned here carry no mark.

// A tile whose 32 rows are all `fill`; 0 (no entry) and error 1 "AllocTPictureTile" when memory runs out.
TileEntry AllocTPictureTile(TPicture* picture, uint32_t fill);
// A duplicate of a tile of `from` in the pool of `to` (the same picture or another); error 1 "CopyTile".
TileEntry CopyTile(TPicture* to, const TPicture* from, TileEntry tile);
// Returns a real tile to the pool; white and black entries are ignored.
void FreeTPictureTile(TPicture* picture, TileEntry tile);
// Makes sure the next `count` tile allocations need no memory; false when it cannot be had.
bool ReserveTPictureTiles(TPicture* picture, uint32_t count);

// Pack: real tiles all 0 (white) or all 0xFFFFFFFF (black) become reserved entries, marks kept.
void PackWhiteTPicture(TPicture* picture);
void PackBlackTPicture(TPicture* picture);

// Makes the pixels beyond width and height white again (edge tiles masked; a black edge entry becomes a
// tile). False (error 1 "AllocTPictureTile") when a tile cannot be had; the padding may then be partly done.
bool ClearPaddingTPicture(TPicture* picture);

// ---------------------------------------------------------------------------------------------------------
// Rows. Columns are in picture coordinates and clipped to the picture's width; rows outside the picture
// read as white and take no writes.

// The black runs of `row` between firstColumn and lastColumn inclusive, ended by (-1, -1). Touching runs are
// joined, whatever tile, word or byte boundary lies between them, so `runs` needs room for
// slineValues(lastColumn - firstColumn + 1) values. A run still open at the last column ends at
// lastColumn + 1. *tail (when given) receives the address of the last end value written, or of the
// terminator when no run was written (the form rioAppendSline takes). Returns the number of runs.
int32_t ExtractRunsTPicture(const TPicture* picture, int32_t row, int32_t* runs, int32_t firstColumn,
                            int32_t lastColumn, int32_t** tail = nullptr);
// Sets the runs of `row` black (colour 1) or white (colour 0). Tiles are made where needed; on a tile
// allocation failure it returns false with error 1 and the row may be half written.
bool WriteRunsTPicture(TPicture* picture, int32_t row, const int32_t* runs, int colour);
// One span [start, end) of one row.
bool WriteSpanTPicture(TPicture* picture, int32_t row, int32_t start, int32_t end, int colour);
// Sets or clears one pixel column over the rows [s, e) of a run list of rows.
bool WriteColumnTPicture(TPicture* picture, int32_t column, const int32_t* rowRuns, int colour);

// Bitmap-string row helpers. Word j of the string is tile column firstTileColumn + j of the row.
// Replaces the row words (a word of 0 into a white entry or of 0xFFFFFFFF into a black one makes no tile).
bool WriteBitmapStringTPicture(TPicture* picture, int32_t row, const uint32_t* bits, int32_t words,
                               int32_t firstTileColumn);
// ORs the words into the row.
bool OrBitmapStringTPicture(TPicture* picture, int32_t row, const uint32_t* bits, int32_t words,
                            int32_t firstTileColumn);
// Reads the row's words of tile columns firstColumn / 32 .. lastColumn / 32 into bits[0..] with the pixels
// outside the columns cleared; white entries give 0, black ones 0xFFFFFFFF. When `offsets` is given it
// receives the byte offsets in `bits` of the non-zero words, ended by -1 (room for words + 1 values).
// Returns the number of words written.
int32_t ReadBitmapStringTPicture(const TPicture* picture, int32_t row, uint32_t* bits, int32_t firstColumn,
                                 int32_t lastColumn, int32_t* offsets = nullptr);
// Fills `words` words with the row moved right by `shift` pixels (left when negative): output pixel x is
// row pixel x - shift; pixels from outside the row's area are white.
void ReadShiftedBitmapStringTPicture(const TPicture* picture, int32_t row, uint32_t* bits, int32_t words,
                                     int32_t shift);

// ---------------------------------------------------------------------------------------------------------
// Undo protection.

bool UndoProtectTPicture(TPicture* picture);  // a list of tileCount pairs; error 1 "UndoProtectTPicture"
bool UndoEnableTPicture(TPicture* picture);   // false when there is no list
void UndoDisableTPicture(TPicture* picture);  // reset, then stop recording (the list stays)
void UndoResetTPicture(TPicture* picture);    // commit: saved tiles released, marks cleared
void UndoAbandonTPicture(TPicture* picture);  // reset, release the list
void UndoToggleTPicture(TPicture* picture);   // undo or redo the recorded changes
// Fills `diff` (same size, not protected) with present XOR before-the-changes over the recorded entries,
// white elsewhere. Error 9 for a size mismatch, 3 for a protected `diff`, 1 "CopyTile" when memory runs out.
bool UndoInquireTPicture(TPicture* picture, TPicture* diff);

// ---------------------------------------------------------------------------------------------------------
// Toolkit entry points. Each stores error 7 with its own name when given no picture; sizes and positions
// are doubles, rounded by adding 0.5 and truncating where they name pixels counts.

TPicture* rastAllocImage(double height,
                         double width);  // error 9 "rastAllocImage" below 0 or beyond 2147483647
TPicture* rastAllocRegisterImage(const TPicture* picture);  // white, same size and DPIs
bool rastFreeImage(TPicture* picture);
bool rastClearImage(TPicture* picture);
TPicture* rastResizeImage(TPicture* picture, double height, double width);
TPicture* rastCropImage(TPicture* picture, int32_t* left, int32_t* top);
bool rastSetImageDPI(TPicture* picture, double rowDpi, double columnDpi);
double rastGetImageHeight(const TPicture* picture);
double rastGetImageWidth(const TPicture* picture);
double rastGetImageRowDPI(const TPicture* picture);
double rastGetImageColumnDPI(const TPicture* picture);
bool rastPackWhiteImage(TPicture* picture);
bool rastPackBlackImage(TPicture* picture);
bool rastImageIsAllWhite(TPicture* picture);  // packs white first
bool rastImageIsAllBlack(TPicture* picture);  // packs black first
// Tile-granular bounds of the non-white tiles; all four 0 for an all-white picture.
bool rastGetImageBounds(const TPicture* picture, double* left, double* top, double* right, double* bottom);
bool rastPixelIsWhite(const TPicture* picture, double row, double column);
bool rastPixelIsBlack(const TPicture* picture, double row, double column);

bool rastUndoProtectImage(TPicture* picture);
bool rastUndoEnableImage(TPicture* picture);
bool rastUndoDisableImage(TPicture* picture);
bool rastUndoResetImage(TPicture* picture);
bool rastUndoAbandonImage(TPicture* picture);
bool rastUndoToggleImage(TPicture* picture);
bool rastUndoInquireImage(TPicture* picture, TPicture* diff);

}  // namespace vantrel
