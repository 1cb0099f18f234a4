// TIFF image data. Reading: strips and tiles through the tile-column reader, strips as its one-column case
// on the plain stream, tiles with a stream window per tile column. Writing: strips coded row by row straight
// into the output, each strip a block of its own; tiles collected in a band and coded tile by tile.
#include <algorithm>
#include <cstring>

#include "formats/tiff/byte_filters.h"
#include "formats/common/byte_io.h"
#include "formats/common/raster_row.h"
#include "formats/tiff/tiff.h"

namespace vantrel::tiff {
namespace {

TileCoding codingOf(const TiffReadState& st) {
  switch (st.compression) {
    case kCompressionCcittRle: return TileCoding::kGroup3;
    case kCompressionGroup3:
      return st.t4Options > 0 && (st.t4Options & 1) ? TileCoding::kGroup3TwoD : TileCoding::kGroup3;
    case kCompressionGroup4: return TileCoding::kGroup4;
    case kCompressionPackBits: return TileCoding::kPackBits;
    default: return TileCoding::kRaw;
  }
}

const TileFilter* filterOf(const TiffReadState& st) {
  switch (st.compression) {
    case kCompressionLzw: return lzwTileFilter(st.fillReversed);
    case kCompressionDeflate:
    case kCompressionOldDeflate: return deflateTileFilter(st.fillReversed);
    default: return nullptr;
  }
}

// The stored bytes of strip or tile `index`. Uncompressed: what its rows need. Compressed: its byte count;
// one of 0 or past the end of the file (as some writers leave it) reaches to the next larger offset of the
// table, else to the end of the file.
int64_t segmentBytes(const RCB* rcb, const TiffReadState& st, int64_t index) {
  const int64_t offset = st.offsets[index];
  const int64_t available = st.fileSize - offset;
  if (st.compression == kCompressionNone) {
    const int64_t rowsLeft = int64_t{rcb->height} - index / st.tilesAcross * st.tileLength;
    const int64_t rows = st.tiled ? st.tileLength : std::clamp<int64_t>(rowsLeft, 0, st.tileLength);
    return std::min(available, rows * ((int64_t{st.tileWidth} + 7) / 8));
  }
  const int64_t count = st.byteCounts[index];
  if (count > 0 && count <= available) return count;
  int64_t end = st.fileSize;
  for (int64_t i = 0; i < st.segmentCount; ++i)
    if (st.offsets[i] > offset) end = std::min<int64_t>(end, st.offsets[i]);
  return end - offset;
}

// Starts strip or tile `index` in tile column `column`.
RioStatus startSegment(RCB* rcb, TiffReadState& st, int32_t column, int64_t index) {
  TileSegment segment;
  segment.coding = codingOf(st);
  segment.filter = filterOf(st);
  segment.offset = st.offsets[index];
  segment.bytes = segmentBytes(rcb, st, index);
  segment.rows = st.tileLength;
  return tileReaderStart(&st.tiles, rcb->inStream, column, segment);
}

// The page as Group 4 strips of the page's width: its code may be carried over, one strip unchanged.
void describeCode(RCB* rcb, const TiffReadState& st, bool inverted) {
  rcb->carried = CarriedCode{};
  if (st.compression != kCompressionGroup4 || st.tiled || st.segmentCount < 1 || st.tileWidth != rcb->width)
    return;
  CarriedCode& code = rcb->carried;
  code.coding = st.segmentCount == 1 ? CarriedCoding::kGroup4 : CarriedCoding::kGroup4Strips;
  code.stripRows = st.segmentCount == 1 ? 0 : st.tileLength;
  code.lsbFirst = st.fillReversed;
  code.blackIsZero = inverted;
  code.columns = rcb->width;
  code.rows = rcb->height;
  code.offset = st.offsets[0];
  code.length = segmentBytes(rcb, st, 0);
}

}  // namespace

RioStatus prepareRows(RCB* rcb, TiffReadState& st) {
  TileReaderOptions options;
  options.columns = st.tilesAcross;
  options.tileWidth = st.tileWidth;
  options.imageWidth = rcb->width;
  options.windows = st.tiled;
  options.lsbFirst = st.fillReversed;
  options.invert = st.photometric == kPhotometricBlackIsZero ||
                   (st.photometric == kPhotometricPalette && st.paletteZeroDarker);
  options.fax.noEol = st.compression == kCompressionCcittRle;
  options.fax.lineAlign = st.compression == kCompressionCcittRle;
  options.fax.codingWord = 1;
  describeCode(rcb, st, options.invert);
  return tileReaderInit(&st.tiles, rcb->inStream, options);
}

RioStatus readRow(RCB* rcb, TiffReadState& st) {
  const int64_t row = rcb->linesRead;
  if (row % st.tileLength == 0) {
    const int64_t first = row / st.tileLength * st.tilesAcross;
    if (first + st.tilesAcross > st.segmentCount) return rioSetError(rcb, kRioBadHeader);
    for (int32_t c = 0; c < st.tilesAcross; ++c)
      if (RioStatus r = startSegment(rcb, st, c, first + c)) return rioSetError(rcb, r);
    if (rcb->carried.coding != CarriedCoding::kNone) rioCarriedBlock(rcb, st.offsets[first]);
  }
  const RioStatus status = tileReaderRow(&st.tiles, rcb->inStream, rcb->curSline);
  if (status == kRioOk && rcb->carried.coding != CarriedCoding::kNone)
    rioNoteCodedRow(rcb, st.tiles.columns[0].decoder.bits.count);
  return status;
}

// ---------------------------------------------------------------------------------------------------------
// Writing.

TiffWriteState::~TiffWriteState() { rioFree(row); }

namespace {

RioStatus closeStrip(RCB* rcb, TiffWriteState& st) {
  RasterStream* s = rcb->outStream;
  RioStatus r = kRioOk;
  if (st.compression == kCompressionGroup4 && st.carry.on) r = g4CarryFinish(rcb, &st.carry, &st.encoder);
  if (r == kRioOk && st.compression == kCompressionGroup4)
    r = g4EncodeFinish(&st.encoder, s);
  else if (st.compression == kCompressionGroup3)
    r = g3EncodeFinish(&st.encoder, s);
  if (r != kRioOk) return r;
  st.segmentOpen = false;
  st.rowInSegment = 0;
  return offsetTableAdd(&st.table, st.segmentStart, streamTell(s) - st.segmentStart);
}

RioStatus writeStripRow(RCB* rcb, TiffWriteState& st) {
  RasterStream* s = rcb->outStream;
  if (!st.segmentOpen) {
    st.segmentOpen = true;
    st.segmentStart = streamTell(s);
    st.rowInSegment = 0;
    faxEncoderRestart(&st.encoder);  // Group 3: every strip begins with an end-of-line code
    linePairRestart(&st.lines);      // Group 4: every strip begins against a white row
  }
  RioStatus r = kRioOk;
  LinePair& lines = st.lines;
  switch (st.compression) {
    case kCompressionGroup4:
      // A page in one strip may take the reader's code as it is (formats/common/fax_lines.h).
      if (rcb->linesWritten == 0) st.carry.on = st.rowsPerStrip >= rcb->height && g4CarryStart(rcb, &st.carry);
      if (st.carry.on) {
        r = g4CarryRow(rcb, &st.carry, &st.encoder, &lines);
        break;
      }
      linePairTake(&lines, rcb->curSline);
      r = g4EncodeOwnLine(&st.encoder, s, lines.width, lines.cur, lines.ref);  // normalised and ended
      break;
    case kCompressionGroup3:
      linePairTake(&lines, rcb->curSline);
      r = g3EncodeLine(&st.encoder, s, lines.width, lines.cur);
      break;
    case kCompressionNone: {
      // The row of the line as the coders take it, without the line itself: built straight in the
      // stream's buffer when it has room for the row and its slack, else in the state's row.
      if (s->ok && s->mode == 1 && s->end - s->cur >= int64_t{st.rowBytes} + kRowSlack) {
        rowFromLine(s->cur, st.rowBytes, rcb->curSline, lines.width);
        s->cur += st.rowBytes;
        break;
      }
      auto* row = reinterpret_cast<uint8_t*>(st.row);
      rowFromLine(row, st.rowBytes, rcb->curSline, lines.width);
      r = writeAll(s, row, st.rowBytes);
      break;
    }
    default:
      r = kRioInternal;
  }
  if (!st.carry.on) linePairSwap(&lines);  // a carried code keeps its own reference
  if (r != kRioOk) return r;
  if (++st.rowInSegment >= st.rowsPerStrip) return closeStrip(rcb, st);
  return kRioOk;
}

// Codes the band: each tile column in turn as an independent Group 4 block ended by its end-of-block code
// and padded to a whole word, so no bits of one tile reach the next. Rows below the image stay white.
RioStatus flushBand(RCB* rcb, TiffWriteState& st) {
  RasterStream* s = rcb->outStream;
  BandWriter& band = st.band;
  for (int32_t c = 0; c < band.tilesAcross; ++c) {
    const int64_t start = streamTell(s);
    int64_t bytes = 0;
    if (RioStatus r = bandWriterCodeG4(&band, {c, 0, band.tileLength, kWriteTileWidth}, s, &bytes)) return r;
    if (RioStatus r = offsetTableAdd(&st.table, start, bytes)) return r;
  }
  bandWriterClear(&band);
  return kRioOk;
}

RioStatus writeTileRow(RCB* rcb, TiffWriteState& st) {
  if (RioStatus r = bandWriterAddRow(&st.band, rcb->curSline)) return r;
  // The last band is coded once the image's last row is in.
  if (bandWriterFull(st.band) || rcb->linesWritten + 1 == rcb->height) return flushBand(rcb, st);
  return kRioOk;
}

}  // namespace

RioStatus writeRow(RCB* rcb, TiffWriteState& st) {
  return st.tiled ? writeTileRow(rcb, st) : writeStripRow(rcb, st);
}

RioStatus finishData(RCB* rcb, TiffWriteState& st) {
  if (st.tiled) {
    if (st.band.rows > 0 || st.table.count == 0) return flushBand(rcb, st);
    return kRioOk;
  }
  if (st.segmentOpen) return closeStrip(rcb, st);
  if (st.table.count == 0) return offsetTableAdd(&st.table, streamTell(rcb->outStream), 0);
  return kRioOk;
}

}  // namespace vantrel::tiff
