// The tile-column reader of tiled and stripped formats. A page is read one row at a time across its tile
// columns: each column has a stream window of its own (tiles) or reads the plain stream (strips, the
// one-column case), a decoder with its own reference line, and the byte budget and rows left of its current
// segment, the stored data of a tile or of a run of a tile's rows, with its own coding. The driver starts
// each column at a segment; a column whose rows run out in the middle of a tile asks the driver for its next
// one. The row is the columns' runs, each shifted by its column's left edge, a run that touches the
// previous column's last run joined to it.
//
// Codings are table-driven: a line coding decodes a row into the column's current line (Group 3, Group 4),
// a row coding turns stored row bytes into runs (raw, PackBits). A further line decoder is one more entry
// of the table; a byte-producing decoder (a dictionary or deflate coder) is a TileFilter, which feeds the
// raw path of the columns whose segment names it.
#pragma once

#include <cstdint>

#include "codec/fax.h"
#include "formats/common/line_pair.h"
#include "rio/status.h"
#include "rio/stream.h"

namespace vantrel {

enum class TileCoding : uint8_t {
  kWhite,     // no stored data: every row is white
  kRaw,       // rows of rowBytes bytes (after the segment's filter, when it names one), most significant bit
              // leftmost, 1 = black
  kPackBits,  // PackBits codes until a row's bytes are filled; the bytes of a run beyond the row are dropped
  kGroup3,    // Group 3 one-dimensional lines, with the options of the column's decoder
  kGroup4,    // Group 4 lines, the first against a white line
  kGroup3TwoD,  // Group 3 two-dimensional lines (Modified READ), the first 2-D one against a white line
};

// A byte-producing decoder in front of raw rows. Each column keeps a state of its own, made when a segment
// first names the filter, because the columns of a tile row are read interleaved. The filter takes the
// stored bytes as they are (lsbFirst is its own business) and delivers rows most significant bit first.
struct TileFilter {
  void* (*create)();             // a fresh state in accounted memory; nullptr when memory runs out
  void (*destroy)(void* state);  // releases it
  void (*restart)(void* state);  // a new segment begins
  // Fills dest with exactly n decoded bytes, taking stored bytes from `in` within *bytesLeft (which it
  // lowers by what it takes). 0; -10 when the stored data end first; the decoder's own fault (-12) else.
  RioStatus (*read)(void* state, RasterStream* in, int64_t* bytesLeft, uint8_t* dest, int32_t n);
};

// Where a column's next rows are stored.
struct TileSegment {
  TileCoding coding = TileCoding::kWhite;
  int64_t offset = 0;        // file position of the stored data (not used for white)
  int64_t bytes = 0;         // stored bytes the segment may take, already bounded by the file
  int64_t rows = INT64_MAX;  // rows it holds
  int32_t rowBytes = 0;      // raw rows: stored bytes per row; 0 for the column's own (width + 7) / 8. Bytes
                             // past the column's width are skipped, a shorter row is white to the width.
  const TileFilter* filter = nullptr;  // raw rows: decoded from the stored bytes by this filter
};

struct TileColumn {
  int32_t left = 0;     // image column of its first pixel
  int32_t width = 0;    // pixels a stored row holds
  int32_t visible = 0;  // of them inside the image; the rest is cut off
  FaxDecoder decoder;   // bit buffer, byte limit and options of the line codings
  LinePair lines;       // the decoded row and the one above it
  int32_t values = -1;  // values of the decoded row when its decoder vouches for it (an own line), else -1
  TileCoding coding = TileCoding::kWhite;
  int64_t bytesLeft = 0;  // of the current segment
  int64_t rowsLeft = 0;   // of the current segment
  int32_t rowBytes = 0;
  const TileFilter* filter = nullptr;  // the current segment's
  const TileFilter* stateFilter = nullptr;  // the filter filterState belongs to
  void* filterState = nullptr;

  TileColumn() = default;
  TileColumn(const TileColumn&) = delete;
  TileColumn& operator=(const TileColumn&) = delete;
  ~TileColumn();
};

// Asked for a column's next segment when the current one's rows are used up before a row is read; a
// non-zero result fails the row (-10 when the tile has no more rows).
using TileNextSegment = RioStatus (*)(void* context, int32_t column, TileSegment* segment);

struct TileReaderOptions {
  int32_t columns = 1;
  int32_t tileWidth = 0;      // pixels per stored row of every column (tileReaderSetColumn narrows one)
  int32_t imageWidth = 0;     // rows are cut here
  bool windows = false;       // each column reads through a stream window of its own (tiles); else the plain
                              // stream, which each segment start seeks (strips)
  int32_t windowMinimum = 1024;  // bytes a window holds at least
  bool lsbFirst = false;      // stored bytes are least significant bit first (also the decoders')
  bool invert = false;        // 0 bits are black
  FaxDecoder fax;             // the decoders' options (noEol, lineAlign, codingWord)
};

struct TileReader {
  TileColumn* columns = nullptr;
  int32_t columnCount = 0;
  int32_t imageWidth = 0;
  bool windows = false;
  bool lsbFirst = false;
  bool invert = false;
  int32_t* scratch = nullptr;  // one column row cut to the image (or inverted), (0, 0) in front
  uint32_t* raw = nullptr;     // one stored row of the widest column, in bitmap-string words
  int32_t rawBytes = 0;
  TileNextSegment next = nullptr;
  void* nextContext = nullptr;

  TileReader() = default;
  TileReader(const TileReader&) = delete;
  TileReader& operator=(const TileReader&) = delete;
  ~TileReader();
};

// Sets up the columns side by side, column c at c * tileWidth, and their windows on `in`. -3 when memory
// runs out (also when the line buffers of all columns would pass 2^29 values), -4 for sizes below 1.
[[nodiscard]] RioStatus tileReaderInit(TileReader* reader, RasterStream* in, const TileReaderOptions& options);

// Places column `column` at image column `left` with `width` pixels (at most the tile width), for layouts
// whose partial column is not the last. The visible part follows.
void tileReaderSetColumn(TileReader* reader, int32_t column, int32_t left, int32_t width);

// Starts a column at a segment: positions its window (or the stream), sets its byte budget and rows, and
// restarts its decoder, filter and reference line. The seek's result (5, 6, 7) when the plain stream
// cannot seek, -18 when the window cannot be positioned, -3 when a filter state cannot be made.
[[nodiscard]] RioStatus tileReaderStart(TileReader* reader, RasterStream* in, int32_t column,
                                        const TileSegment& segment);

// Reads the next image row into `line` (room for the image width's run list). The decoders' results pass
// through (-10 when a segment's data end early, -12 for bad codes, -1 at a Group 3 end of page); on a
// failure `line` holds what was read so far.
[[nodiscard]] RioStatus tileReaderRow(TileReader* reader, RasterStream* in, int32_t* line);

}  // namespace vantrel
