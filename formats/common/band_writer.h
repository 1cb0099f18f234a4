// The band writer of tiled formats. Page rows collect in a band one tile high and the page wide: as run
// lists in an arena while it has room (a bounded one: a noisy row holds up to width + 2 values), else in a
// band picture; once the band holds its rows, the driver takes each tile column out of it and codes it: the
// rows of the tile cut to the tile's columns and shifted to start at 0 (cut-and-shift), Group 4 coded from a
// white reference line as one block, or stored uncompressed. A block is a whole tile or a run of a tile's
// rows (a segment), coded straight into the output, or into the writer's own buffer with its byte count, so
// that the driver can store the rows uncompressed instead when their code is longer.
#pragma once

#include <cstdint>

#include "codec/fax.h"
#include "formats/common/line_pair.h"
#include "picture/tpicture.h"
#include "rio/status.h"
#include "rio/stream.h"

namespace vantrel {

// A run of rows of one tile column.
struct TileRows {
  int32_t column = 0;    // tile column: pixels [column * tileWidth, column * tileWidth + width)
  int32_t firstRow = 0;  // band row
  int32_t rows = 0;
  int32_t width = 0;     // pixels a row is coded at: the tile width (the page's right edge padded with white),
                         // or bandWriterColumnWidth for a last column coded at its own width; at most tileWidth
};

// Bytes the writer made in its buffer; valid until the next call that fills the buffer.
struct TileCode {
  const uint8_t* data = nullptr;
  int64_t bytes = 0;
};

// Where a band row is kept: at `at` in the arena, or in the band picture (at < 0). The cut of a row walks
// its runs from `cursor`, the first run ending after column `left` of the previous cut, so cutting the tile
// columns left to right walks each row once.
struct BandRow {
  int64_t at = -1;
  int32_t cursor = 0;
  int32_t left = 0;
};

// The arena's default bound in int32 values (4 MiB); rows past the bound go to the band picture.
inline constexpr int64_t kBandArenaValues = int64_t{1} << 20;

struct BandWriter {
  int32_t width = 0;        // page width
  int32_t tileWidth = 0;
  int32_t tileLength = 0;   // band height
  int32_t tilesAcross = 0;  // ceil(width / tileWidth)
  int32_t rows = 0;         // band rows filled so far
  TPicture* band = nullptr;
  bool pictureUsed = false;     // some row of the band went to the picture
  BandRow* bandRows = nullptr;  // tileLength entries
  int32_t* arena = nullptr;
  int64_t arenaUsed = 0;
  int64_t arenaCapacity = 0;
  int64_t arenaLimit = kBandArenaValues;
  int32_t* pageRow = nullptr;  // one page row normalised for the band, (0, 0) in front
  LinePair tile;               // the row of a tile column being coded and the one above it
  FaxEncoder encoder;
  RasterStream* memory = nullptr;  // the coder's output when coding into the buffer
  uint8_t* buffer = nullptr;
  int64_t bufferBytes = 0;
  int64_t bufferCapacity = 0;

  BandWriter() = default;
  BandWriter(const BandWriter&) = delete;
  BandWriter& operator=(const BandWriter&) = delete;
  ~BandWriter();
};

// Sets the writer up for a page `width` wide in tiles of tileWidth by tileLength, its arena bounded to
// arenaValues int32 and to the band's size as a bitmap: -3 when memory runs out, -4 for a size below 1.
[[nodiscard]] RioStatus bandWriterInit(BandWriter* w, int32_t width, int32_t tileWidth, int32_t tileLength,
                                       int64_t arenaValues = kBandArenaValues);

// Stores a page row (runs normalised to the page width first) as the band's next row; -3 when a tile cannot
// be had, -18 when the band is already full.
[[nodiscard]] RioStatus bandWriterAddRow(BandWriter* w, const int32_t* runs);

inline bool bandWriterFull(const BandWriter& w) { return w.rows >= w.tileLength; }

// Empties the band for the next tile row.
void bandWriterClear(BandWriter* w);

// The pixels of tile column `column` inside the page: the tile width, or less for the last column.
int32_t bandWriterColumnWidth(const BandWriter& w, int32_t column);

// Cut-and-shift: the runs of band row `row` in tile column `column`, pixels [left, left + width) moved to
// start at 0, into `runs` (room for slineValues(width) values). Rows beyond the band are white.
void bandWriterCutRow(const BandWriter& w, int32_t column, int32_t row, int32_t width, int32_t* runs);

// Group 4 codes the rows as one block into `out`: the first row against a white line, then the
// end-of-block code and zero bits to a whole 32-bit word. *bytes gets the block's byte count. -8 when the
// stream fails, -4 for rows outside the band or a width outside 1..tileWidth.
[[nodiscard]] RioStatus bandWriterCodeG4(BandWriter* w, const TileRows& rows, RasterStream* out,
                                         int64_t* bytes);

// The same block into the writer's buffer; -3 when the buffer cannot grow.
[[nodiscard]] RioStatus bandWriterCodeG4Buffered(BandWriter* w, const TileRows& rows, TileCode* code);

// The rows uncompressed into the writer's buffer: rowBytes bytes each (at least (width + 7) / 8; bytes past
// the width are zero), most significant bit leftmost, 1 = black.
[[nodiscard]] RioStatus bandWriterRawRows(BandWriter* w, const TileRows& rows, int32_t rowBytes, TileCode* code);

}  // namespace vantrel
