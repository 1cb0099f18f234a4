#include "formats/common/tile_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "picture/tpicture.h"
#include "rio/alloc.h"

namespace vantrel {
namespace {

// Values of one line of `width` pixels with the (0, 0) pair in front.
int64_t lineValues(int32_t width) { return slineValues(width) + 2; }

using RowDecoder = RioStatus (*)(TileReader& reader, TileColumn& column, RasterStream* in);

RioStatus whiteRow(TileReader&, TileColumn& column, RasterStream*) {
  column.lines.cur[0] = column.lines.cur[1] = kSlineEnd;
  return kRioOk;
}

// Drops n stored bytes of a row (beyond the column's width).
RioStatus skipStored(TileReader& reader, TileColumn& column, RasterStream* in, int32_t n) {
  if (column.filter) {
    auto* scratch = reinterpret_cast<uint8_t*>(reader.raw);
    while (n > 0) {
      const int32_t k = std::min(n, reader.rawBytes);
      if (RioStatus r = column.filter->read(column.filterState, in, &column.bytesLeft, scratch, k)) return r;
      n -= k;
    }
    return kRioOk;
  }
  for (; n > 0; --n) {
    if (streamGetByte(in) < 0) return kRioUnexpectedEof;
    --column.bytesLeft;
  }
  return kRioOk;
}

RioStatus rawRow(TileReader& reader, TileColumn& column, RasterStream* in) {
  auto* row = reinterpret_cast<uint8_t*>(reader.raw);
  const int32_t own = (column.width + 7) / 8;
  const int32_t stored = column.rowBytes;
  const int32_t kept = std::min(own, stored);
  if (column.filter) {
    if (RioStatus r = column.filter->read(column.filterState, in, &column.bytesLeft, row, kept)) return r;
  } else {
    if (column.bytesLeft < stored) return kRioUnexpectedEof;
    if (streamRead(in, row, kept) != kept) return kRioUnexpectedEof;
    column.bytesLeft -= kept;
    if (reader.lsbFirst)
      for (int32_t i = 0; i < kept; ++i) row[i] = kBitReverse[row[i]];
  }
  if (kept < own) std::memset(row + kept, 0, static_cast<size_t>(own - kept));
  const int32_t width = column.width;
  BitmapStringToRuns(reader.raw, static_cast<int32_t>(bitmapWords(width)), column.lines.cur, 0, width - 1);
  return stored > kept ? skipStored(reader, column, in, stored - kept) : kRioOk;
}

// PackBits codes until the row's bytes are filled; bytes of a run beyond the row are dropped. With
// lsbFirst every stored byte, codes included, is reversed as it is taken.
RioStatus packBitsRow(TileReader& reader, TileColumn& column, RasterStream* in) {
  auto* row = reinterpret_cast<uint8_t*>(reader.raw);
  const int32_t rowBytes = (column.width + 7) / 8;
  const bool reversed = reader.lsbFirst;
  int32_t filled = 0;
  auto next = [&]() -> int {
    if (column.bytesLeft <= 0) return -1;
    --column.bytesLeft;
    const int b = streamGetByte(in);
    return b < 0 || !reversed ? b : kBitReverse[b];
  };
  while (filled < rowBytes) {
    const int code = next();
    if (code < 0) return kRioUnexpectedEof;
    const int n = static_cast<int8_t>(code);
    if (n >= 0) {
      for (int i = 0; i <= n; ++i) {
        const int b = next();
        if (b < 0) return kRioUnexpectedEof;
        if (filled < rowBytes) row[filled++] = static_cast<uint8_t>(b);
      }
    } else if (n != -128) {
      const int b = next();
      if (b < 0) return kRioUnexpectedEof;
      const int copies = std::min(1 - n, rowBytes - filled);
      std::memset(row + filled, b, static_cast<size_t>(copies));
      filled += copies;
    }
  }
  const int32_t width = column.width;
  BitmapStringToRuns(reader.raw, static_cast<int32_t>(bitmapWords(width)), column.lines.cur, 0, width - 1);
  return kRioOk;
}

RioStatus group3Row(TileReader&, TileColumn& column, RasterStream* in) {
  return g3DecodeLine(&column.decoder, in, column.width, column.lines.cur);
}

// Each segment starts against a white row, so the reference is always an own line.
RioStatus group4Row(TileReader&, TileColumn& column, RasterStream* in) {
  int32_t values = 0;
  const RioStatus r =
      g4DecodeOwnLine(&column.decoder, in, column.width, column.lines.ref, column.lines.cur, &values);
  if (r == kRioOk) column.values = values;
  return r;
}

RioStatus group3TwoDRow(TileReader&, TileColumn& column, RasterStream* in) {
  int32_t values = 0;
  const RioStatus r =
      g3Decode2dOwnLine(&column.decoder, in, column.width, column.lines.ref, column.lines.cur, &values);
  if (r == kRioOk) column.values = values;
  return r;
}

// One entry per TileCoding, in its order.
constexpr RowDecoder kRowDecoders[] = {whiteRow, rawRow, packBitsRow, group3Row, group4Row, group3TwoDRow};
static_assert(std::size(kRowDecoders) == static_cast<size_t>(TileCoding::kGroup3TwoD) + 1);

// The runs of `src` inside [0, width), or of their complement there (black is zero), into `dst`.
void visibleRuns(const int32_t* src, int32_t* dst, int32_t width, bool invert) {
  if (!invert) {
    rioCopySlineClipped(src, dst, width);
    return;
  }
  int32_t* out = dst;
  int32_t pos = 0;
  for (; !rioSlineEnd(src) && pos < width; src += 2) {
    const int32_t s = std::min(std::max(src[0], 0), width);
    const int32_t e = std::min(src[1], width);
    if (s > pos) {
      out[0] = pos;
      out[1] = s;
      out += 2;
    }
    pos = std::max(pos, e);
  }
  if (pos < width) {
    out[0] = pos;
    out[1] = width;
    out += 2;
  }
  out[0] = out[1] = kSlineEnd;
}

}  // namespace

TileColumn::~TileColumn() {
  if (filterState && stateFilter) stateFilter->destroy(filterState);
}

TileReader::~TileReader() {
  for (int32_t c = 0; c < columnCount; ++c) columns[c].~TileColumn();
  rioFree(columns);
  if (scratch) rioFree(scratch - 2);  // the line starts behind its (0, 0) pair
  rioFree(raw);
}

RioStatus tileReaderInit(TileReader* reader, RasterStream* in, const TileReaderOptions& options) {
  const int32_t n = options.columns;
  const int32_t tileWidth = options.tileWidth;
  if (n < 1 || tileWidth < 1 || options.imageWidth < 1 || reader->columns) return kRioBadParameter;
  // Two lines per column and one scratch line, bounded before anything is allocated.
  const int64_t perLine = lineValues(tileWidth);
  int64_t lines = 0;
  if (!checkedMul(perLine, 2 * int64_t{n} + 1, &lines) || lines > (int64_t{1} << 29)) return kRioOutOfMemory;
  reader->columns = static_cast<TileColumn*>(rioCalloc(static_cast<size_t>(n), sizeof(TileColumn)));
  int32_t* scratchBlock = static_cast<int32_t*>(rioMalloc(static_cast<size_t>(perLine) * sizeof(int32_t)));
  reader->raw = static_cast<uint32_t*>(rioCalloc(static_cast<size_t>(bitmapWords(tileWidth)), sizeof(uint32_t)));
  if (scratchBlock) {
    scratchBlock[0] = scratchBlock[1] = 0;
    reader->scratch = scratchBlock + 2;
    reader->scratch[0] = reader->scratch[1] = kSlineEnd;
  }
  if (!reader->columns || !scratchBlock || !reader->raw) return kRioOutOfMemory;
  for (int32_t c = 0; c < n; ++c) new (&reader->columns[c]) TileColumn{};
  reader->columnCount = n;
  reader->rawBytes = (tileWidth + 7) / 8;
  reader->imageWidth = options.imageWidth;
  reader->windows = options.windows;
  reader->lsbFirst = options.lsbFirst;
  reader->invert = options.invert;
  for (int32_t c = 0; c < n; ++c) {
    TileColumn& column = reader->columns[c];
    if (RioStatus r = linePairAlloc(&column.lines, tileWidth)) return r;
    column.decoder = options.fax;
    column.decoder.bits.lsbFirst = options.lsbFirst;
    tileReaderSetColumn(reader, c, static_cast<int32_t>(std::min<int64_t>(int64_t{c} * tileWidth, INT32_MAX)),
                        tileWidth);
  }
  if (options.windows && !streamSetWindows(in, n, options.windowMinimum)) return kRioOutOfMemory;
  return kRioOk;
}

void tileReaderSetColumn(TileReader* reader, int32_t column, int32_t left, int32_t width) {
  TileColumn& c = reader->columns[column];
  c.left = left;
  c.width = std::clamp(width, 1, std::max(c.lines.width, 1));
  c.visible = static_cast<int32_t>(std::clamp<int64_t>(int64_t{reader->imageWidth} - left, 0, c.width));
  c.rowBytes = (c.width + 7) / 8;
}

RioStatus tileReaderStart(TileReader* reader, RasterStream* in, int32_t index, const TileSegment& segment) {
  TileColumn& column = reader->columns[index];
  if (segment.coding != TileCoding::kWhite) {
    if (reader->windows) {
      if (!streamSetWindowOffset(in, index, segment.offset)) return kRioInternal;
    } else if (int32_t r = streamSeek(in, segment.offset)) {
      return r;
    }
  }
  column.coding = segment.coding;
  column.bytesLeft = segment.bytes;
  column.rowsLeft = segment.rows;
  column.rowBytes = segment.rowBytes > 0 ? segment.rowBytes : (column.width + 7) / 8;
  column.filter = segment.filter;
  faxDecoderRestart(&column.decoder);
  faxDecoderSetByteLimit(&column.decoder, segment.bytes);
  if (const TileFilter* f = segment.filter) {
    if (column.stateFilter != f) {
      if (column.filterState) column.stateFilter->destroy(column.filterState);
      column.stateFilter = nullptr;
      column.filterState = f->create();
      if (!column.filterState) return kRioOutOfMemory;
      column.stateFilter = f;
    }
    f->restart(column.filterState);
  }
  linePairRestart(&column.lines);
  return kRioOk;
}

RioStatus tileReaderRow(TileReader* reader, RasterStream* in, int32_t* line) {
  line[0] = line[1] = kSlineEnd;
  int32_t* tail = line;
  for (int32_t c = 0; c < reader->columnCount; ++c) {
    TileColumn& column = reader->columns[c];
    if (reader->windows && !streamSelectWindow(in, c)) return kRioInternal;
    if (column.rowsLeft <= 0) {
      TileSegment segment;
      if (!reader->next) return kRioUnexpectedEof;
      if (RioStatus r = reader->next(reader->nextContext, c, &segment)) return r;
      if (RioStatus r = tileReaderStart(reader, in, c, segment)) return r;
    }
    column.values = -1;
    if (RioStatus r = kRowDecoders[static_cast<int>(column.coding)](*reader, column, in)) return r;
    --column.rowsLeft;
    const bool oneColumn = reader->columnCount == 1 && column.left == 0 && !reader->invert;
    if (oneColumn && column.values >= 0 && column.visible == column.width) {
      // A whole valid row that is the image row: clipping and appending would copy it unchanged.
      std::memcpy(line, column.lines.cur, (static_cast<size_t>(column.values) + 2) * sizeof(int32_t));
    } else if (oneColumn) {
      rioCopySlineClipped(column.lines.cur, line, column.visible);  // the row is this column's runs
    } else {
      visibleRuns(column.lines.cur, reader->scratch, column.visible, reader->invert);
      tail = rioAppendSline(tail, reader->scratch, column.left);
    }
    linePairSwap(&column.lines);
  }
  return kRioOk;
}

}  // namespace vantrel
