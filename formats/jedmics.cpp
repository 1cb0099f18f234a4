// JEDMICS C4 (id 32) and EDMICS B4 (id 33): the page in tiles of 512 x 512 pixels behind a 128-byte header
// and an index of 4-byte entries (tile number, byte length), each tile a Group 4 image of its own or 32768
// bytes of raw rows. The twins differ in a few header fields, in how the index names tiles and in where the
// resolution is kept. Neither has a magic: an input is read only when the caller names the format. Both
// carry an 80-byte document text, kept as the RCB's extra-header block tagged "C4" or "B4". The writer
// fills the index in at the end, so its output must be seekable.
#include <algorithm>
#include <cstring>

#include "formats/common/seekable_output.h"
#include "formats/common/band_page.h"
#include "formats/registry.h"
#include "formats/common/tile_reader.h"
#include "formats/common/tiled_file.h"

namespace vantrel {
namespace {

constexpr int32_t kHeaderBytes = 128;
constexpr int32_t kTileSize = 512;
constexpr int32_t kTileRowBytes = kTileSize / 8;
constexpr int64_t kRawTileBytes = int64_t{kTileRowBytes} * kTileSize;  // 32768
constexpr int32_t kEntryBytes = 4;
constexpr int32_t kIndexField = 0;       // LE32: position of the index
constexpr int32_t kHeightField = 4;      // LE16: rows
constexpr int32_t kWidthField = 6;       // LE16: bytes per row
constexpr int32_t kDataStartField = 8;   // BE32: first byte of the tile data
constexpr int32_t kCountField = 12;      // C4: the tile count as a byte; B4: LE16, the count modulo 256
constexpr int32_t kVersionField = 28;    // BE16: 1
constexpr int32_t kModeField = 36;       // C4: 4, or 8 when the index is in file order
constexpr int32_t kC4DpiField = 38;      // LE16
constexpr int32_t kTextField = 41;       // the document text
constexpr int32_t kB4DpiField = 121;     // BE16
constexpr int32_t kTextBytes = 80;
constexpr int32_t kTagBytes = 3;         // "C4" or "B4" and a zero byte in front of the text
constexpr int32_t kMaxNumberedTiles = 252;  // C4: more tiles go into the index in file order
constexpr int32_t kFileOrderProbe = 10;     // entries whose tile-number bytes tell the order apart
constexpr uint16_t kRawTileBit = 0x8000;    // C4: the tile is stored uncompressed
constexpr uint16_t kTileNumberBits = 0x7FFF;
constexpr int64_t kMaxB4Tiles = 65536;      // what 16-bit tile numbers can name
constexpr int32_t kMaxField = 65535;
constexpr uint8_t kModeNumbered = 4;
constexpr uint8_t kModeFileOrder = 8;

bool isTwin(RasterFormatId id) { return id == kFormatJedmicsC4 || id == kFormatEdmicsB4; }
const char* tagOf(RasterFormatId id) { return id == kFormatEdmicsB4 ? "B4" : "C4"; }

int64_t tilesFor(int64_t width, int64_t height) {
  return ((width + kTileSize - 1) / kTileSize) * ((height + kTileSize - 1) / kTileSize);
}

// ---------------------------------------------------------------------------------------------------------
// Reading.

struct TileEntry {
  int64_t offset = 0;
  int64_t bytes = 0;  // inside the file
  bool raw = false;
  bool present = false;
};

struct TwinReadState {
  InputFile file;
  int32_t tilesAcross = 0;
  TileEntry* tiles = nullptr;
  int32_t tileRow = -1;
  int32_t rowsLeft = 0;  // of the current tile row
  TileReader reader;

  TwinReadState() = default;
  TwinReadState(const TwinReadState&) = delete;
  TwinReadState& operator=(const TwinReadState&) = delete;
  ~TwinReadState() { rioFree(tiles); }
};

// Files each index entry under its tile: by the number it carries, or (C4 past 252 tiles with zero numbers)
// by its place in the file. A tile's data follow those of the tiles before it in the index.
RioStatus fileTiles(TwinReadState* st, bool b4, const uint8_t* index, int64_t count, int64_t dataStart) {
  bool fileOrder = false;
  if (!b4 && count > kMaxNumberedTiles) {
    fileOrder = true;
    for (int32_t i = 0; i < kFileOrderProbe; ++i) fileOrder = fileOrder && index[i * kEntryBytes] == 0;
  }
  int64_t offset = dataStart;
  for (int64_t i = 0; i < count; ++i) {
    const uint16_t number = getLe16(index + i * kEntryBytes);
    const uint16_t length = getLe16(index + i * kEntryBytes + 2);
    const int64_t tile = fileOrder ? i : b4 ? number : number & kTileNumberBits;
    if (tile >= count || st->tiles[tile].present) return kRioBadHeader;
    // Only a length of 0 stands for a raw tile: a Group 4 tile of 32768 bytes or more keeps its length.
    const int64_t bytes = length == 0 ? kRawTileBytes : length;
    TileEntry& e = st->tiles[tile];
    e.offset = offset;
    e.bytes = inputFileBytesAt(st->file, offset, bytes);
    e.raw = length == 0 || (!b4 && (number & kRawTileBit));
    e.present = true;
    offset += bytes;
  }
  return kRioOk;
}

// The 80 bytes of document text as the extra-header block: the twin's tag, a zero byte, the text.
RioStatus keepText(RCB* rcb, const uint8_t* header) {
  auto* block = static_cast<uint8_t*>(rioMalloc(kTagBytes + kTextBytes));
  if (!block) return kRioOutOfMemory;
  std::memcpy(block, tagOf(rcb->inFormat), kTagBytes);
  std::memcpy(block + kTagBytes, header + kTextField, kTextBytes);
  return rioAttachExtraHeader(rcb, block, kTagBytes + kTextBytes);
}

RioStatus readHeaderInto(RCB* rcb, TwinReadState* st) {
  const bool b4 = rcb->inFormat == kFormatEdmicsB4;
  if (RioStatus r = inputFileOpen(rcb, &st->file)) return r;
  uint8_t h[kHeaderBytes];
  if (RioStatus r = inputFileReadAt(st->file, 0, h, kHeaderBytes, kRioStreamIo)) return r;
  const int64_t height = getLe16(h + kHeightField);
  const int64_t width = int64_t{getLe16(h + kWidthField)} * 8;
  if (width == 0) return kRioBadColumns;
  if (b4 && getBe16(h + kVersionField) != 1) return kRioNotImplemented;
  const int32_t dpi = b4 ? getBe16(h + kB4DpiField) : getLe16(h + kC4DpiField);
  if (dpi > 0) rcb->xDpi = rcb->yDpi = dpi;
  if (RioStatus r = keepText(rcb, h)) return r;
  rcb->width = static_cast<int32_t>(width);
  rcb->height = static_cast<int32_t>(height);
  if (height == 0) return kRioOk;

  const int64_t count = tilesFor(width, height);
  const int64_t indexBytes = count * kEntryBytes;
  const uint32_t first = getLe32(h + kIndexField);
  int64_t indexAt = kHeaderBytes;
  int64_t dataStart = kHeaderBytes + indexBytes;
  if (b4) {
    if (first != 0) indexAt = first;
    if (const uint32_t data = getBe32(h + kDataStartField)) dataStart = data;
  } else if (first != 0 && first != kHeaderBytes) {
    dataStart = first;
    indexAt = kHeaderBytes + indexBytes;
  }
  if (!inputFileHolds(st->file, indexAt, indexBytes) || dataStart > st->file.size) return kRioBadHeader;
  auto* index = static_cast<uint8_t*>(rioMalloc(static_cast<size_t>(indexBytes)));
  st->tiles = static_cast<TileEntry*>(rioCalloc(static_cast<size_t>(count), sizeof(TileEntry)));
  RioStatus status = index && st->tiles ? kRioOk : kRioOutOfMemory;
  if (status == kRioOk) status = inputFileReadAt(st->file, indexAt, index, static_cast<int32_t>(indexBytes));
  if (status == kRioOk) status = fileTiles(st, b4, index, count, dataStart);
  rioFree(index);
  if (status != kRioOk) return status;

  st->tilesAcross = static_cast<int32_t>((width + kTileSize - 1) / kTileSize);
  TileReaderOptions options;
  options.columns = st->tilesAcross;
  options.tileWidth = kTileSize;
  options.imageWidth = rcb->width;
  options.windows = true;
  return tileReaderInit(&st->reader, st->file.stream, options);
}

RioStatus twinReadHeader(RCB* rcb) {
  auto* st = rioState<TwinReadState>(rcb->readerState);
  if (!st || !isTwin(rcb->inFormat)) return rioSetError(rcb, kRioInternal);
  if (RioStatus r = readHeaderInto(rcb, st)) {
    rioReleaseState(rcb->readerState);
    return rioSetError(rcb, r);
  }
  return kRioOk;
}

// Every column starts its tile of the next tile row: a Group 4 image, or rows of 64 bytes.
RioStatus startTileRow(RCB* rcb, TwinReadState* st) {
  ++st->tileRow;
  const int64_t first = int64_t{st->tileRow} * kTileSize;
  st->rowsLeft = static_cast<int32_t>(std::min<int64_t>(kTileSize, rcb->height - first));
  for (int32_t c = 0; c < st->tilesAcross; ++c) {
    const TileEntry& tile = st->tiles[int64_t{st->tileRow} * st->tilesAcross + c];
    TileSegment segment;
    segment.coding = tile.raw ? TileCoding::kRaw : TileCoding::kGroup4;
    segment.offset = tile.offset;
    segment.bytes = tile.bytes;
    segment.rows = st->rowsLeft;
    segment.rowBytes = kTileRowBytes;
    if (RioStatus r = tileReaderStart(&st->reader, st->file.stream, c, segment)) return r;
  }
  return kRioOk;
}

RioStatus twinReadSline(RCB* rcb) {
  auto* st = rioState<TwinReadState>(rcb->readerState);
  if (!st) return rioSetError(rcb, kRioInternal);
  if (rcb->linesRead >= rcb->height) return kRioEndOfPage;
  if (st->rowsLeft == 0)
    if (RioStatus r = startTileRow(rcb, st)) return rioSetError(rcb, r);
  if (RioStatus r = tileReaderRow(&st->reader, st->file.stream, rcb->curSline)) return r;
  --st->rowsLeft;
  return kRioOk;
}

// ---------------------------------------------------------------------------------------------------------
// Writing.

struct TwinWriteState {
  BandPage page;
  uint8_t* index = nullptr;  // the tile index, filled as the tiles are written
  int64_t tileCount = 0;
  bool headerDone = false;
  SeekableOutput output;  // finish result kept for close

  TwinWriteState() = default;
  TwinWriteState(const TwinWriteState&) = delete;
  TwinWriteState& operator=(const TwinWriteState&) = delete;
  ~TwinWriteState() { rioFree(index); }
};

struct BandContext {
  TwinWriteState* st;
  RasterStream* out;
  bool b4;
};

// The 16-bit fields hold the page, and B4's tile numbers name every tile; else nothing is written.
RioStatus checkPageSize(const RCB* rcb) {
  if (rcb->width < 1 || (int64_t{rcb->width} + 7) / 8 > kMaxField) return kRioBadColumns;
  if (rcb->height < 0 || rcb->height > kMaxField) return kRioBadRows;
  if (rcb->outFormat == kFormatEdmicsB4 && tilesFor(rcb->width, rcb->height) > kMaxB4Tiles) return kRioBadColumns;
  return kRioOk;
}

uint32_t dpiField(double dpi) {
  return dpi >= 1 ? static_cast<uint32_t>(std::min<double>(dpi, kMaxField)) : 0;
}

// Each tile of the band, Group 4 coded at the full tile width; a tile whose code would reach the size of
// the tile uncompressed is stored as its 32768 raw bytes with length 0, so no length wraps.
RioStatus writeTileRow(void* context, BandWriter* band, int32_t tileRow, int32_t rows) {
  auto* c = static_cast<BandContext*>(context);
  const int64_t count = c->st->tileCount;
  for (int32_t column = 0; column < band->tilesAcross; ++column) {
    const TileRows tile{column, 0, rows, kTileSize};
    TileCode code;
    if (RioStatus r = bandWriterCodeG4Buffered(band, tile, &code)) return r;
    const bool raw = code.bytes >= kRawTileBytes;
    if (raw) {
      if (RioStatus r = bandWriterRawRows(band, tile, kTileRowBytes, &code)) return r;
    }
    if (RioStatus r = writeAll(c->out, code.data, code.bytes)) return r;
    if (raw)
      if (RioStatus r = writeZeros(c->out, kRawTileBytes - code.bytes)) return r;
    const int64_t number = int64_t{tileRow} * band->tilesAcross + column;
    uint8_t* e = c->st->index + number * kEntryBytes;
    if (c->b4) {
      putLe16(e, static_cast<uint32_t>(number));
    } else {
      e[0] = count > kMaxNumberedTiles ? 0 : static_cast<uint8_t>(number);
      e[1] = raw ? kRawTileBit >> 8 : 0;
    }
    putLe16(e + 2, raw ? 0 : static_cast<uint32_t>(code.bytes));
  }
  return kRioOk;
}

// The document text of an input of the same twin, else zeros.
void putText(const RCB* rcb, uint8_t* header) {
  const uint8_t* extra = rcb->extraHeader;
  if (extra && rcb->extraHeaderLength >= kTagBytes + kTextBytes &&
      std::memcmp(extra, tagOf(rcb->outFormat), kTagBytes) == 0)
    std::memcpy(header + kTextField, extra + kTagBytes, kTextBytes);
}

RioStatus twinWriteHeader(RCB* rcb) {
  auto* st = rioState<TwinWriteState>(rcb->writerState);
  RasterStream* out = rcb->outStream;
  if (!st || !out || !isTwin(rcb->outFormat)) return rioSetError(rcb, kRioInternal);
  if (RioStatus r = checkPageSize(rcb)) return rioSetError(rcb, r);
  const bool b4 = rcb->outFormat == kFormatEdmicsB4;
  if (b4) {
    if (!(rcb->xDpi > 0)) rcb->xDpi = 200;
    if (!(rcb->yDpi > 0)) rcb->yDpi = 200;
  }
  const int64_t count = tilesFor(rcb->width, rcb->height);
  st->tileCount = count;
  st->index = static_cast<uint8_t*>(rioCalloc(static_cast<size_t>(std::max<int64_t>(count, 1)), kEntryBytes));
  if (!st->index) return rioSetError(rcb, kRioOutOfMemory);
  if (RioStatus r = bandPageInit(&st->page, rcb->width, rcb->height, kTileSize, kTileSize))
    return rioSetError(rcb, r);

  uint8_t h[kHeaderBytes] = {};
  putLe32(h + kIndexField, kHeaderBytes);
  putLe16(h + kHeightField, static_cast<uint32_t>(rcb->height));
  putLe16(h + kWidthField, static_cast<uint32_t>((rcb->width + 7) / 8));
  putBe32(h + kDataStartField, static_cast<uint32_t>(kHeaderBytes + count * kEntryBytes));
  putBe16(h + kVersionField, 1);
  if (b4) {
    putLe16(h + kCountField, static_cast<uint32_t>(count % 256));
    h[kModeField] = kModeNumbered;
    putBe16(h + kB4DpiField, dpiField(rcb->xDpi));
  } else {
    h[kCountField] = count > kMaxNumberedTiles ? 0 : static_cast<uint8_t>(count);
    h[kModeField] = count > kMaxNumberedTiles ? kModeFileOrder : kModeNumbered;
    putLe16(h + kC4DpiField, dpiField(rcb->xDpi));
  }
  putText(rcb, h);
  if (!out->ok || streamSeek(out, 0) != 0) return rioSetError(rcb, kRioStreamIo);
  if (RioStatus r = writeAll(out, h, kHeaderBytes)) return rioSetError(rcb, r);
  if (RioStatus r = writeZeros(out, count * kEntryBytes)) return rioSetError(rcb, r);
  st->headerDone = true;
  return kRioOk;
}

RioStatus twinWriteSline(RCB* rcb) {
  auto* st = rioState<TwinWriteState>(rcb->writerState);
  if (!st) return rioSetError(rcb, kRioInternal);
  if (seekableOutputPastHeight(rcb)) return kRioOk;
  BandContext context{st, rcb->outStream, rcb->outFormat == kFormatEdmicsB4};
  if (RioStatus r = bandPageAddRow(&st->page, rcb->curSline, writeTileRow, &context)) return rioSetError(rcb, r);
  return kRioOk;
}

// The rest of the page white (unless the run failed: its output is thrown away), then the index.
RioStatus finishFile(RCB* rcb, TwinWriteState* st) {
  BandContext context{st, rcb->outStream, rcb->outFormat == kFormatEdmicsB4};
  if (RioStatus r = bandPageEnd(rcb, &st->page, &st->headerDone, twinWriteHeader, writeTileRow, &context))
    return r;
  if (RioStatus r = patchAt(rcb->outStream, kHeaderBytes, st->index, st->tileCount * kEntryBytes))
    return rioSetError(rcb, r);
  return kRioOk;
}

RioStatus twinFinishWrite(RCB* rcb) {
  auto* st = rioState<TwinWriteState>(rcb->writerState);
  if (!st || !isTwin(rcb->outFormat)) return rioSetError(rcb, kRioInternal);
  return seekableOutputFinish(rcb, st->output, finishFile(rcb, st));
}

// ---------------------------------------------------------------------------------------------------------
// Driver glue.

RioStatus twinOpen(RCB* rcb) {
  if (rcb->reading && isTwin(rcb->inFormat) && !rioNewState<TwinReadState>(rcb->readerState))
    return rioSetError(rcb, kRioOutOfMemory);
  if (rcb->writing && isTwin(rcb->outFormat)) {
    if (RioStatus r = checkPageSize(rcb)) return rioSetError(rcb, r);
    if (!rioNewState<TwinWriteState>(rcb->writerState)) return rioSetError(rcb, kRioOutOfMemory);
    // The index is filled in at the end: random access before the first byte.
    if (RioStatus r = seekableOutputOpen(rcb)) return r;
  }
  return kRioOk;
}

RioStatus twinAllocSlines(RCB* rcb) {
  return rioAllocSlinePair(rcb);
}

RioStatus twinClose(RCB* rcb) {
  RioStatus result = kRioOk;
  if (rcb->writing && isTwin(rcb->outFormat)) {
    auto* st = rioState<TwinWriteState>(rcb->writerState);
    result = seekableOutputClose(rcb, st ? &st->output : nullptr);
  }
  return result;
}

}  // namespace

extern const FormatDriver kJedmicsDriver = {
    twinOpen,      twinReadHeader, twinWriteHeader,         twinAllocSlines,         twinReadSline,
    twinWriteSline, rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNothing, twinFinishWrite,
    twinClose,
};

}  // namespace vantrel
