// The TIFF family (ids 10, 15, 17, 22, 23, 27): bilevel TIFF with Group 4, Group 3 (one-dimensional; read
// also two-dimensional), PackBits, LZW, Deflate (read only) or no compression, in strips or tiles. The reader takes any byte order and layout and reads the
// first directory; the writer writes little-endian files with one directory, the tag values that do not
// fit an entry right behind it, then the data, then the strip or tile tables, and patches the entries that
// depend on the data at the end. This file is the driver glue; formats/tiff/tiff.h lists the others.
#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "formats/common/raster_row.h"
#include "formats/pages.h"
#include "formats/registry.h"
#include "formats/tiff/tiff.h"
#include "picture/tpicture.h"

namespace vantrel {
namespace {

using namespace tiff;

constexpr int64_t kDefaultRowsPerStrip = 200;
constexpr int32_t kMaxWriteTileLength = 512;
constexpr int32_t kTileLengthStep = 16;  // TileLength must be a multiple of 16

bool isTiffId(RasterFormatId id) {
  return id == kFormatTiff || id == kFormatOptigraphics || id == kFormatTiffPlain || id == kFormatTiffUncompressed || id == kFormatTiffG3 ||
         id == kFormatTiffTiled;
}
bool readsId(RasterFormatId id) { return isTiffId(id) && id != kFormatTiffTiled; }

// Rows per strip from the settings ("ZEB_STRIPS"): decimal, 0x hexadecimal or 0 octal. Unset or without
// digits: 200; 0 or below: one strip.
int64_t configuredRowsPerStrip(const RioSettings& settings) {
  const char* text = settings.tiffStrips.c_str();
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text, &end, 0);
  if (end == text) return kDefaultRowsPerStrip;
  if (v <= 0) return INT64_MAX;
  return v;
}

// What a page of the RCB's size needs: the coder and row buffers, an empty table, the tile band.
RioStatus preparePage(RCB* rcb, TiffWriteState& st) {
  st.encoder = FaxEncoder{};
  st.rowBytes = static_cast<int32_t>((int64_t{rcb->width} + 7) / 8);
  rioFree(st.row);
  st.row = static_cast<uint32_t*>(
      rioCalloc(static_cast<size_t>(bitmapWords(rcb->width) + kRowSlack / 4), sizeof(uint32_t)));
  if (!st.row) return kRioOutOfMemory;
  if (st.lines.width != rcb->width || !st.lines.block)
    if (RioStatus r = linePairAlloc(&st.lines, rcb->width)) return r;
  st.table.count = 0;
  st.segmentOpen = false;
  st.rowInSegment = 0;
  if (RioStatus r = offsetTableReserve(&st.table, kOffsetTableGrowth)) return r;
  if (st.tiled) {
    const int32_t length = std::min(kMaxWriteTileLength, std::max(rcb->height, 1));
    const int32_t tileLength = (length + kTileLengthStep - 1) / kTileLengthStep * kTileLengthStep;
    if (RioStatus r = bandWriterInit(&st.band, rcb->width, kWriteTileWidth, tileLength)) return r;
  }
  return kRioOk;
}

RioStatus openWriter(RCB* rcb) {
  if (rcb->width <= 0 || rcb->width > kMaxLineWidth) return kRioBadColumns;
  if (rcb->height <= 0) return kRioBadRows;
  // Random access first: the entries are patched once the data are out.
  if (int32_t r = streamMakeSeekable(rcb->outStream)) return r;
  auto* st = rioNewState<TiffWriteState>(rcb->writerState);
  if (!st) return kRioOutOfMemory;
  const int64_t rowsPerStrip = configuredRowsPerStrip(rioSettings(rcb));
  switch (rcb->outFormat) {
    case kFormatTiff: st->compression = kCompressionGroup4; st->rowsPerStrip = INT64_MAX; break;
    case kFormatOptigraphics: case kFormatTiffPlain: st->compression = kCompressionGroup4; st->rowsPerStrip = rowsPerStrip; break;
    case kFormatTiffUncompressed: st->compression = kCompressionNone; st->rowsPerStrip = rowsPerStrip; break;
    case kFormatTiffG3: st->compression = kCompressionGroup3; st->rowsPerStrip = rowsPerStrip; break;
    default: st->compression = kCompressionGroup4; st->tiled = true; break;
  }
  return preparePage(rcb, *st);
}

RioStatus tiffOpen(RCB* rcb) {
  if (rcb->reading && readsId(rcb->inFormat) && !rcb->readerState.data) {
    auto* st = rioNewState<TiffReadState>(rcb->readerState);
    if (!st) return rioSetError(rcb, kRioOutOfMemory);
  }
  if (rcb->writing && isTiffId(rcb->outFormat) && !rcb->writerState.data) {
    if (RioStatus r = openWriter(rcb)) return rioSetError(rcb, r);
  }
  if (rcb->reading && !rcb->writing && rcb->inFormat == kFormatTiffTiled) return rioSetError(rcb, kRioNotImplemented);
  return kRioOk;
}

RioStatus tiffReadHeader(RCB* rcb) {
  auto* st = rioState<TiffReadState>(rcb->readerState);
  if (!st || !rcb->inStream) return rioSetError(rcb, kRioInternal);
  if (RioStatus r = readDirectory(rcb, *st)) return rioSetError(rcb, r);
  return kRioOk;
}

RioStatus tiffWriteHeader(RCB* rcb) {
  auto* st = rioState<TiffWriteState>(rcb->writerState);
  if (!st || !rcb->outStream) return rioSetError(rcb, kRioInternal);
  // A later page may differ in size from the one before it.
  if (rcb->pageWritten > 0)
    if (RioStatus r = preparePage(rcb, *st)) return rioSetError(rcb, r);
  if (RioStatus r = writeHeader(rcb, *st)) return rioSetError(rcb, r);
  return kRioOk;
}

RioStatus tiffAllocSlines(RCB* rcb) {
  int32_t compression = kCompressionGroup4;
  if (rcb->writing && isTiffId(rcb->outFormat)) {
    if (auto* w = rioState<TiffWriteState>(rcb->writerState)) compression = w->compression;
    // Group 4 strips code each row against the one above it.
    if (compression != kCompressionNone) return rioAllocSlinePair(rcb);
  }
  if (rcb->reading && readsId(rcb->inFormat))
    if (auto* r = rioState<TiffReadState>(rcb->readerState)) compression = r->compression;
  switch (compression) {
    case kCompressionNone: case kCompressionPackBits: case kCompressionLzw: case kCompressionDeflate:
    case kCompressionOldDeflate:
      return rioAllocSline(rcb);
    case kCompressionCcittRle: case kCompressionGroup3: case kCompressionGroup4: return rioAllocSlinePair(rcb);
    default: return rioSetError(rcb, kRioNotImplemented);
  }
}

RioStatus tiffReadSline(RCB* rcb) {
  auto* st = rioState<TiffReadState>(rcb->readerState);
  if (!st || !st->tiles.columns || !rcb->curSline) return rioSetError(rcb, kRioInternal);
  if (rcb->linesRead >= rcb->height) return kRioEndOfPage;
  return readRow(rcb, *st);
}

RioStatus tiffWriteSline(RCB* rcb) {
  auto* st = rioState<TiffWriteState>(rcb->writerState);
  if (!st || !rcb->outStream || !rcb->curSline) return rioSetError(rcb, kRioInternal);
  const RioStatus r = writeRow(rcb, *st);
  return r ? rioSetError(rcb, r) : kRioOk;
}

RioStatus finishFile(RCB* rcb, TiffWriteState& st) {
  if (!rcb->headerWritten) {
    rcb->headerWritten = true;
    if (RioStatus r = writeHeader(rcb, st)) return r;
  }
  if (RioStatus r = finishData(rcb, st)) return r;
  return writeTablesAndPatch(rcb, st);
}

RioStatus tiffFinishWrite(RCB* rcb) {
  auto* st = rioState<TiffWriteState>(rcb->writerState);
  if (!st || !rcb->outStream) return rioSetError(rcb, kRioInternal);
  if (st->finished) return st->finishStatus;
  st->finished = true;
  st->finishStatus = finishFile(rcb, *st);
  return st->finishStatus ? rioSetError(rcb, st->finishStatus) : kRioOk;
}

// Ends the page written so far; the directory of the next one will be linked from it.
RioStatus tiffEndPage(RCB* rcb) {
  auto* st = rioState<TiffWriteState>(rcb->writerState);
  if (!st || !rcb->outStream || st->finished) return rioSetError(rcb, kRioInternal);
  if (RioStatus r = finishFile(rcb, *st)) {
    st->finished = true;
    st->finishStatus = r;
    return rioSetError(rcb, r);
  }
  st->previousLink = st->directoryOffset + 2 + 12 * int64_t{st->entryCount};
  return kRioOk;
}

RioStatus tiffCountPages(RCB* rcb, int32_t* count) {
  auto* st = rioState<TiffReadState>(rcb->readerState);
  if (!st || !rcb->inStream) return kRioInternal;
  return countPages(rcb, *st, count);
}

RioStatus tiffReadPage(RCB* rcb, int32_t index) {
  auto* st = rioState<TiffReadState>(rcb->readerState);
  if (!st || !rcb->inStream) return kRioInternal;
  return seekPage(rcb, *st, index);
}

// The result of finishing the file (a failed patch, for one) is the result of closing it. The core
// releases the state blocks with the RCB, so a second close (reader and writer of different TIFF ids)
// still reports it.
RioStatus tiffClose(RCB* rcb) {
  if (rcb->writing && isTiffId(rcb->outFormat))
    if (auto* st = rioState<TiffWriteState>(rcb->writerState)) return st->finishStatus;
  return kRioOk;
}

}  // namespace

extern const FormatDriver kTiffDriver = {
    tiffOpen, tiffReadHeader, tiffWriteHeader, tiffAllocSlines, tiffReadSline, tiffWriteSline,
    rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNothing, tiffFinishWrite, tiffClose,
};

extern const PageOps kTiffPages = {tiffCountPages, tiffReadPage, tiffEndPage};

// Every TIFF starts with its byte order, "II" or "MM"; the header reader checks the rest.
RasterFormatId probeTiff(const uint8_t* b, RioStatus*) {
  return (b[0] == 'I' && b[1] == 'I') || (b[0] == 'M' && b[1] == 'M') ? kFormatTiff : 0;
}

}  // namespace vantrel
