// FileNet IMG (ids 25 and 26). Two layouts, big-endian throughout: a single tile behind an 8-byte header
// (first byte 0x02), or a directory of tagged entries pointing at an image header, a tile table and tiles
// (first byte 0x03). A tile is "323I", a segment count, 4-byte segment descriptors (coding, rows, byte
// length) and the segments' data; each segment is white, raw rows, Group 3 one-dimensional or Group 4 by
// itself. Both ids read both layouts; the writer writes the tiled one in 1024-pixel tiles of 64-row Group 4
// segments and fills in the data length and the tile table at the end, so its output must be seekable.
#include <algorithm>
#include <cstring>

#include "formats/common/seekable_output.h"
#include "formats/common/band_page.h"
#include "formats/common/offset_table.h"
#include "formats/registry.h"
#include "formats/common/tile_reader.h"
#include "formats/common/tiled_file.h"

namespace vantrel {
namespace {

constexpr uint8_t kSingleTileLayout = 0x02;
constexpr uint8_t kTiledLayout = 0x03;
constexpr uint32_t kImageMagic = 0x12345678;
constexpr uint8_t kTileMagic[4] = {0x33, 0x32, 0x33, 0x49};  // "323I"
constexpr uint32_t kTagImage = 1;                            // offset of the image header, data length
constexpr uint32_t kTagSize = 2;                             // width, height
constexpr int32_t kEntryBytes = 12;
constexpr int32_t kImageHeaderBytes = 40;
constexpr int32_t kTileHeaderBytes = 8;
constexpr int32_t kDescriptorBytes = 4;
constexpr int32_t kSingleHeaderBytes = 8;
constexpr int32_t kMaxTileColumns = 1 << 16;
constexpr int64_t kMinTileWidth = 16;
constexpr int64_t kMaxTiles = int64_t{1} << 14;

// Segment codings.
constexpr uint8_t kCodingWhite = 0;
constexpr uint8_t kCodingRaw = 1;
constexpr uint8_t kCodingGroup3 = 2;
constexpr uint8_t kCodingRawB = 3;
constexpr uint8_t kCodingRawC = 4;
constexpr uint8_t kCodingGroup3B = 5;
constexpr uint8_t kCodingGroup4 = 6;

// Resolution by the index in bits 4-6 of the single-tile flags; indexes 5 to 7 say nothing.
constexpr double kSingleTileDpi[8] = {200, 200, 300, 400, 100, 0, 0, 0};

// The writer's layout.
constexpr int64_t kWrittenImageHeader = 1024;  // B
constexpr int64_t kLengthField = 28;           // tag 1's second value: bytes from B to the end of the data
constexpr int64_t kWrittenTileTable = kWrittenImageHeader + kImageHeaderBytes;
constexpr int32_t kWrittenTileWidth = 1024;
constexpr int32_t kWrittenTileLength = 1024;
constexpr int32_t kSegmentRows = 64;
constexpr int32_t kRawRowBytes = kWrittenTileWidth / 8;
constexpr uint32_t kWrittenWordA = 3;  // two image-header words a reader skips
constexpr uint32_t kWrittenWordB = 2;

bool isFileNet(RasterFormatId id) { return id == kFormatFileNet || id == kFormatFileNetVariant; }

// ---------------------------------------------------------------------------------------------------------
// Reading.

constexpr int32_t kCachedDescriptors = 16;

struct TileRef {
  int64_t descriptors = 0;  // file position of the first descriptor
  uint32_t segments = 0;
};

// Where a tile column stands in its current tile.
struct ColumnCursor {
  int64_t descriptorAt = 0;  // of the next descriptor not yet cached
  int64_t dataAt = 0;        // of the next segment's data
  uint32_t left = 0;         // descriptors not yet taken
  int32_t cached = 0;
  int32_t taken = 0;
  uint8_t cache[kCachedDescriptors * kDescriptorBytes];
};

struct FileNetReadState {
  InputFile file;
  int32_t tileLength = 0;
  int32_t tilesAcross = 0;
  int32_t tilesDown = 0;
  TileRef* tiles = nullptr;        // tilesAcross x tilesDown, row by row
  ColumnCursor* cursors = nullptr;  // one per tile column
  int32_t tileRow = -1;
  int32_t rowsLeft = 0;  // of the current tile row
  TileReader reader;

  FileNetReadState() = default;
  FileNetReadState(const FileNetReadState&) = delete;
  FileNetReadState& operator=(const FileNetReadState&) = delete;
  ~FileNetReadState() {
    rioFree(tiles);
    rioFree(cursors);
  }
};

// The page and its tiles as the header states them.
struct Geometry {
  int64_t width = 0;
  int64_t height = 0;
  int64_t tileWidth = 0;
  int64_t tileLength = 0;
  bool partialFirst = false;
};

RioStatus allocTiles(FileNetReadState* st, int64_t count) {
  st->tiles = static_cast<TileRef*>(rioCalloc(static_cast<size_t>(std::max<int64_t>(count, 1)), sizeof(TileRef)));
  return st->tiles ? kRioOk : kRioOutOfMemory;
}

RioStatus readSingleTileHeader(RCB* rcb, FileNetReadState* st, Geometry* g) {
  uint8_t h[kSingleHeaderBytes];
  if (RioStatus r = inputFileReadAt(st->file, 0, h, kSingleHeaderBytes, kRioStreamIo)) return r;
  const uint32_t segments = getBe16(h + 2);
  g->width = getBe16(h + 4);
  g->height = getBe16(h + 6);
  g->tileWidth = std::max<int64_t>(g->width, 1);
  g->tileLength = std::max<int64_t>(g->height, 1);
  const int index = (h[1] >> 4) & 7;
  if (index > 4) rioSetWarning(rcb, kRioBadHeader);
  rcb->xDpi = rcb->yDpi = kSingleTileDpi[index];
  if (!inputFileHolds(st->file, kSingleHeaderBytes, int64_t{segments} * kDescriptorBytes)) return kRioBadHeader;
  if (RioStatus r = allocTiles(st, 1)) return r;
  st->tiles[0] = TileRef{kSingleHeaderBytes, segments};
  return kRioOk;
}

// The directory, the image header it points at, the tile table and each tile's own header.
RioStatus readTiledHeader(RCB* rcb, FileNetReadState* st, Geometry* g) {
  const InputFile& file = st->file;
  uint8_t h[8];
  if (RioStatus r = inputFileReadAt(file, 0, h, 8, kRioStreamIo)) return r;
  const uint32_t entries = getBe32(h + 4);
  if (!inputFileHolds(file, 8, int64_t{entries} * kEntryBytes)) return kRioBadHeader;
  int64_t imageHeader = -1;
  int64_t listedWidth = -1;
  int64_t listedHeight = -1;
  for (uint32_t i = 0; i < entries; ++i) {
    uint8_t e[kEntryBytes];
    if (streamRead(file.stream, e, kEntryBytes) != kEntryBytes) return kRioStreamIo;
    const uint32_t tag = getBe32(e);
    if (tag == kTagImage) imageHeader = getBe32(e + 4);
    if (tag == kTagSize) listedWidth = getBe32(e + 4), listedHeight = getBe32(e + 8);
  }
  if (imageHeader < 0) return kRioBadHeader;
  uint8_t ih[kImageHeaderBytes];
  if (RioStatus r = inputFileReadAt(file, imageHeader, ih, kImageHeaderBytes)) return r;
  if (getBe32(ih) != kImageMagic) return kRioBadHeader;
  const uint16_t placement = getBe16(ih + 14);
  const uint32_t dpi = getBe32(ih + 16);
  g->width = getBe32(ih + 24);
  g->height = getBe32(ih + 28);
  g->tileWidth = getBe32(ih + 32);
  g->tileLength = getBe32(ih + 36);
  g->partialFirst = placement == 1 || placement == 3;
  // The image header's sizes win; a directory that says otherwise is worth a warning.
  if (listedWidth >= 0 && (listedWidth != g->width || listedHeight != g->height)) rioSetWarning(rcb, kRioBadHeader);
  if (dpi > 0) rcb->xDpi = rcb->yDpi = dpi;
  if (g->width < 1 || g->width > kMaxLineWidth) return kRioBadColumns;
  if (g->height > INT32_MAX) return kRioBadRows;
  if (g->height == 0) return allocTiles(st, 0);
  // As in TIFF, tiles at least 16 pixels wide (or one spanning the page), so a row crosses at most width / 16
  // of them; of any length, at most 2^14 tiles a page: each tile costs its own start, and 2^14 of the
  // writer's 1024-pixel tiles cover twice the pixel budget.
  if (g->tileWidth < std::min(kMinTileWidth, g->width) || g->tileLength < 1) return kRioBadHeader;

  const int64_t across = (g->width + g->tileWidth - 1) / g->tileWidth;
  const int64_t down = (g->height + g->tileLength - 1) / g->tileLength;
  int64_t count = 0;
  if (across > kMaxTileColumns || !checkedMul(across, down, &count) || count > kMaxTiles || count > file.size / 8 ||
      !inputFileHolds(file, imageHeader + kImageHeaderBytes, count * 8))
    return kRioBadHeader;
  if (RioStatus r = allocTiles(st, count)) return r;
  for (int64_t t = 0; t < count; ++t) {
    uint8_t entry[8];
    if (RioStatus r = inputFileReadAt(file, imageHeader + kImageHeaderBytes + 8 * t, entry, 8)) return r;
    const int64_t at = imageHeader + getBe32(entry);
    uint8_t th[kTileHeaderBytes];
    if (RioStatus r = inputFileReadAt(file, at, th, kTileHeaderBytes)) return r;
    const uint32_t segments = getBe32(th + 4);
    if (std::memcmp(th, kTileMagic, 4) != 0 ||
        !inputFileHolds(file, at + kTileHeaderBytes, int64_t{segments} * kDescriptorBytes))
      return kRioBadHeader;
    st->tiles[t] = TileRef{at + kTileHeaderBytes, segments};
  }
  return kRioOk;
}

// True when the segment's bytes hold an end-of-line code: eleven zero bits and a one, which no run code
// of a line contains.
bool holdsEndOfLine(const InputFile& file, int64_t at, int64_t bytes) {
  if (streamSeek(file.stream, at) != 0) return false;
  int zeros = 0;
  uint8_t block[512];
  while (bytes > 0) {
    const auto n = static_cast<int32_t>(std::min<int64_t>(bytes, sizeof block));
    const int32_t got = streamRead(file.stream, block, n);
    for (int32_t i = 0; i < got; ++i) {
      const unsigned b = block[i];
      if (b == 0) {
        zeros += 8;
        continue;
      }
      if (zeros + __builtin_clz(b) - 24 >= 11) return true;
      zeros = __builtin_ctz(b);
    }
    if (got < n) break;
    bytes -= n;
  }
  return false;
}

// The next segment of a column's tile, asked for by the tile reader when the current one has no rows left.
RioStatus nextSegment(void* context, int32_t column, TileSegment* segment) {
  auto* st = static_cast<FileNetReadState*>(context);
  ColumnCursor& c = st->cursors[column];
  if (c.left == 0) return kRioUnexpectedEof;  // the tile's segments hold fewer rows than the tile
  if (c.taken == c.cached) {
    const auto n = static_cast<int32_t>(std::min<uint32_t>(c.left, kCachedDescriptors));
    if (RioStatus r = inputFileReadAt(st->file, c.descriptorAt, c.cache, n * kDescriptorBytes)) return r;
    c.descriptorAt += n * kDescriptorBytes;
    c.cached = n;
    c.taken = 0;
  }
  const uint8_t* d = c.cache + c.taken * kDescriptorBytes;
  ++c.taken;
  --c.left;
  const uint8_t coding = d[0];
  const int32_t rows = d[1];
  const int32_t length = getBe16(d + 2);
  const int64_t at = c.dataAt;
  c.dataAt += length;
  if (rows == 0) return kRioBadHeader;
  TileColumn& reader = st->reader.columns[column];
  *segment = TileSegment{};
  segment->offset = at;
  segment->bytes = inputFileBytesAt(st->file, at, length);
  segment->rows = rows;
  switch (coding) {
    case kCodingWhite:
      segment->coding = TileCoding::kWhite;
      break;
    case kCodingRaw:
    case kCodingRawB:
    case kCodingRawC: {
      // Rows as long as the segment says, when it says so evenly (a partial column stored at the full
      // tile width); else the column's own width in bytes.
      const int32_t own = (reader.width + 7) / 8;
      segment->coding = TileCoding::kRaw;
      segment->rowBytes = length % rows == 0 && length / rows >= own ? length / rows : own;
      break;
    }
    case kCodingGroup3:
    case kCodingGroup3B:
      segment->coding = TileCoding::kGroup3;
      reader.decoder.noEol = !holdsEndOfLine(st->file, at, segment->bytes);
      break;
    case kCodingGroup4:
      segment->coding = TileCoding::kGroup4;
      break;
    default:
      return kRioNotImplemented;
  }
  return kRioOk;
}

// Places the tile columns: the partial one first for placement codes 1 and 3, else last.
void placeColumns(FileNetReadState* st, const Geometry& g) {
  const auto tileWidth = static_cast<int32_t>(std::min(g.tileWidth, g.width));
  const auto width = static_cast<int32_t>(g.width);
  const int32_t partial = width % tileWidth;
  for (int32_t c = 0; c < st->tilesAcross; ++c) {
    int32_t left = c * tileWidth;
    int32_t w = tileWidth;
    if (partial != 0 && g.partialFirst) {
      left = c == 0 ? 0 : partial + (c - 1) * tileWidth;
      w = c == 0 ? partial : tileWidth;
    } else if (partial != 0 && c == st->tilesAcross - 1) {
      w = partial;
    }
    tileReaderSetColumn(&st->reader, c, left, w);
  }
}

RioStatus readHeaderInto(RCB* rcb, FileNetReadState* st) {
  if (RioStatus r = inputFileOpen(rcb, &st->file)) return r;
  uint8_t first = 0;
  if (RioStatus r = inputFileReadAt(st->file, 0, &first, 1, kRioStreamIo)) return r;
  Geometry g;
  if (first == kSingleTileLayout) {
    if (RioStatus r = readSingleTileHeader(rcb, st, &g)) return r;
  } else if (first == kTiledLayout) {
    if (RioStatus r = readTiledHeader(rcb, st, &g)) return r;
  } else {
    return kRioBadHeader;
  }
  if (g.width < 1) return kRioBadColumns;
  rcb->width = static_cast<int32_t>(g.width);
  rcb->height = static_cast<int32_t>(g.height);
  if (g.height == 0) return kRioOk;
  st->tileLength = static_cast<int32_t>(std::min(g.tileLength, g.height));
  st->tilesAcross = static_cast<int32_t>((g.width + g.tileWidth - 1) / g.tileWidth);
  st->tilesDown = static_cast<int32_t>((g.height + g.tileLength - 1) / g.tileLength);
  st->cursors = static_cast<ColumnCursor*>(rioCalloc(static_cast<size_t>(st->tilesAcross), sizeof(ColumnCursor)));
  if (!st->cursors) return kRioOutOfMemory;
  TileReaderOptions options;
  options.columns = st->tilesAcross;
  options.tileWidth = static_cast<int32_t>(std::min(g.tileWidth, g.width));
  options.imageWidth = rcb->width;
  options.windows = true;
  if (RioStatus r = tileReaderInit(&st->reader, st->file.stream, options)) return r;
  placeColumns(st, g);
  st->reader.next = nextSegment;
  st->reader.nextContext = st;
  return kRioOk;
}

RioStatus fileNetReadHeader(RCB* rcb) {
  auto* st = rioState<FileNetReadState>(rcb->readerState);
  if (!st || !isFileNet(rcb->inFormat)) return rioSetError(rcb, kRioInternal);
  if (RioStatus r = readHeaderInto(rcb, st)) {
    rioReleaseState(rcb->readerState);
    return rioSetError(rcb, r);
  }
  return kRioOk;
}

// Every column restarts at its tile of the next tile row; the tile reader asks for the first segment.
RioStatus startTileRow(FileNetReadState* st) {
  ++st->tileRow;
  if (st->tileRow >= st->tilesDown) return kRioInternal;
  for (int32_t c = 0; c < st->tilesAcross; ++c) {
    const TileRef& tile = st->tiles[int64_t{st->tileRow} * st->tilesAcross + c];
    ColumnCursor& cursor = st->cursors[c];
    cursor.descriptorAt = tile.descriptors;
    cursor.dataAt = tile.descriptors + int64_t{tile.segments} * kDescriptorBytes;
    cursor.left = tile.segments;
    cursor.cached = cursor.taken = 0;
    TileSegment empty;
    empty.rows = 0;
    if (RioStatus r = tileReaderStart(&st->reader, st->file.stream, c, empty)) return r;
  }
  return kRioOk;
}

RioStatus fileNetReadSline(RCB* rcb) {
  auto* st = rioState<FileNetReadState>(rcb->readerState);
  if (!st) return rioSetError(rcb, kRioInternal);
  if (rcb->linesRead >= rcb->height) return kRioEndOfPage;
  if (st->rowsLeft == 0) {
    if (RioStatus r = startTileRow(st)) return rioSetError(rcb, r);
    const int64_t first = int64_t{st->tileRow} * st->tileLength;
    st->rowsLeft = static_cast<int32_t>(std::min<int64_t>(st->tileLength, rcb->height - first));
  }
  if (RioStatus r = tileReaderRow(&st->reader, st->file.stream, rcb->curSline)) return r;
  --st->rowsLeft;
  return kRioOk;
}

// ---------------------------------------------------------------------------------------------------------
// Writing.

struct FileNetWriteState {
  BandPage page;
  OffsetTable tiles;
  uint8_t* tile = nullptr;  // one tile assembled: its header, descriptors and segments
  int64_t tileBytes = 0;
  int64_t tileCapacity = 0;
  bool headerDone = false;
  SeekableOutput output;  // finish result kept for close

  FileNetWriteState() = default;
  FileNetWriteState(const FileNetWriteState&) = delete;
  FileNetWriteState& operator=(const FileNetWriteState&) = delete;
  ~FileNetWriteState() { rioFree(tile); }
};

struct BandContext {
  FileNetWriteState* st;
  RasterStream* out;
};

bool appendTile(FileNetWriteState* st, const void* data, int64_t n) {
  if (st->tileBytes + n > st->tileCapacity) {
    const int64_t capacity = std::max(st->tileBytes + n, 2 * st->tileCapacity);
    auto* grown = static_cast<uint8_t*>(rioRealloc(st->tile, static_cast<size_t>(capacity)));
    if (!grown) return false;
    st->tile = grown;
    st->tileCapacity = capacity;
  }
  std::memcpy(st->tile + st->tileBytes, data, static_cast<size_t>(n));
  st->tileBytes += n;
  return true;
}

// One tile: its segments coded first, so that the descriptors that precede them are known. A segment
// whose code would be longer than its rows uncompressed is stored uncompressed.
RioStatus writeTile(FileNetWriteState* st, RasterStream* out, BandWriter* band, int32_t column, int32_t rows) {
  const int32_t segments = (rows + kSegmentRows - 1) / kSegmentRows;
  st->tileBytes = 0;
  uint8_t head[kTileHeaderBytes];
  std::memcpy(head, kTileMagic, 4);
  putBe32(head + 4, static_cast<uint32_t>(segments));
  if (!appendTile(st, head, kTileHeaderBytes)) return kRioOutOfMemory;
  for (int32_t s = 0; s < segments; ++s) {
    uint8_t none[kDescriptorBytes] = {};
    if (!appendTile(st, none, kDescriptorBytes)) return kRioOutOfMemory;
  }
  for (int32_t s = 0; s < segments; ++s) {
    const TileRows part{column, s * kSegmentRows, std::min(kSegmentRows, rows - s * kSegmentRows),
                        bandWriterColumnWidth(*band, column)};
    TileCode code;
    if (RioStatus r = bandWriterCodeG4Buffered(band, part, &code)) return r;
    uint8_t coding = kCodingGroup4;
    if (code.bytes > int64_t{part.rows} * kRawRowBytes) {
      if (RioStatus r = bandWriterRawRows(band, part, kRawRowBytes, &code)) return r;
      coding = kCodingRaw;
    }
    uint8_t* d = st->tile + kTileHeaderBytes + s * kDescriptorBytes;
    d[0] = coding;
    d[1] = static_cast<uint8_t>(part.rows);
    putBe16(d + 2, static_cast<uint32_t>(code.bytes));
    if (!appendTile(st, code.data, code.bytes)) return kRioOutOfMemory;
  }
  const int64_t at = streamTell(out);
  if (RioStatus r = writeAll(out, st->tile, st->tileBytes)) return r;
  return offsetTableAdd(&st->tiles, at, st->tileBytes);
}

RioStatus writeTileRow(void* context, BandWriter* band, int32_t, int32_t rows) {
  auto* c = static_cast<BandContext*>(context);
  for (int32_t column = 0; column < band->tilesAcross; ++column)
    if (RioStatus r = writeTile(c->st, c->out, band, column, rows)) return r;
  return kRioOk;
}

uint32_t truncatedDpi(double dpi) {
  return dpi >= 1 && dpi < 4294967296.0 ? static_cast<uint32_t>(dpi) : 0;
}

RioStatus fileNetWriteHeader(RCB* rcb) {
  auto* st = rioState<FileNetWriteState>(rcb->writerState);
  RasterStream* out = rcb->outStream;
  if (!st || !out || !isFileNet(rcb->outFormat)) return rioSetError(rcb, kRioInternal);
  if (rcb->width < 1 || rcb->width > kMaxLineWidth) return rioSetError(rcb, kRioBadColumns);
  if (rcb->height < 0) return rioSetError(rcb, kRioBadRows);
  const int32_t tileLength = std::min(rcb->height, kWrittenTileLength);
  if (RioStatus r = bandPageInit(&st->page, rcb->width, rcb->height, kWrittenTileWidth, std::max(tileLength, 1)))
    return rioSetError(rcb, r);
  const int64_t across = (int64_t{rcb->width} + kWrittenTileWidth - 1) / kWrittenTileWidth;
  const int64_t tiles = across * st->page.tileRows;
  if (RioStatus r = offsetTableReserve(&st->tiles, tiles)) return rioSetError(rcb, r);

  uint8_t h[kWrittenTileTable] = {};
  h[0] = kTiledLayout;
  putBe32(h + 4, 2);
  putBe32(h + 8, kTagSize);
  putBe32(h + 12, static_cast<uint32_t>(rcb->width));
  putBe32(h + 16, static_cast<uint32_t>(rcb->height));
  putBe32(h + 20, kTagImage);
  putBe32(h + 24, kWrittenImageHeader);  // the data length at 28 follows at the end
  uint8_t* ih = h + kWrittenImageHeader;
  putBe32(ih, kImageMagic);
  putBe32(ih + 4, kWrittenWordA);
  putBe32(ih + 8, kWrittenWordB);
  putBe32(ih + 16, truncatedDpi(rcb->xDpi));
  putBe32(ih + 24, static_cast<uint32_t>(rcb->width));
  putBe32(ih + 28, static_cast<uint32_t>(rcb->height));
  putBe32(ih + 32, kWrittenTileWidth);
  putBe32(ih + 36, static_cast<uint32_t>(tileLength));
  if (!out->ok || streamSeek(out, 0) != 0) return rioSetError(rcb, kRioStreamIo);
  if (RioStatus r = writeAll(out, h, sizeof h)) return rioSetError(rcb, r);
  if (RioStatus r = writeZeros(out, tiles * 8)) return rioSetError(rcb, r);
  st->headerDone = true;
  return kRioOk;
}

RioStatus fileNetWriteSline(RCB* rcb) {
  auto* st = rioState<FileNetWriteState>(rcb->writerState);
  if (!st) return rioSetError(rcb, kRioInternal);
  if (seekableOutputPastHeight(rcb)) return kRioOk;
  BandContext context{st, rcb->outStream};
  if (RioStatus r = bandPageAddRow(&st->page, rcb->curSline, writeTileRow, &context)) return rioSetError(rcb, r);
  return kRioOk;
}

// The rest of the page white (unless the run failed: its output is thrown away), the data length and the
// tile table.
RioStatus finishFile(RCB* rcb, FileNetWriteState* st) {
  RasterStream* out = rcb->outStream;
  BandContext context{st, out};
  if (RioStatus r = bandPageEnd(rcb, &st->page, &st->headerDone, fileNetWriteHeader, writeTileRow, &context))
    return r;
  const int64_t end = streamTell(out);
  const int64_t length = end - kWrittenImageHeader;
  if (length > int64_t{UINT32_MAX}) return rioSetError(rcb, kRioBadParameter);
  uint8_t field[4];
  putBe32(field, static_cast<uint32_t>(length));
  if (RioStatus r = patchAt(out, kLengthField, field, 4)) return rioSetError(rcb, r);
  if (int32_t r = streamSeek(out, kWrittenTileTable)) return rioSetError(rcb, r);
  if (RioStatus r = offsetTableWrite(st->tiles, out, TableColumns::kPairs, true, kWrittenImageHeader))
    return rioSetError(rcb, r);
  if (int32_t r = streamSeek(out, end)) return rioSetError(rcb, r);
  return kRioOk;
}

RioStatus fileNetFinishWrite(RCB* rcb) {
  auto* st = rioState<FileNetWriteState>(rcb->writerState);
  if (!st || !isFileNet(rcb->outFormat)) return rioSetError(rcb, kRioInternal);
  return seekableOutputFinish(rcb, st->output, finishFile(rcb, st));
}

// ---------------------------------------------------------------------------------------------------------
// Driver glue.

RioStatus fileNetOpen(RCB* rcb) {
  if (rcb->reading && isFileNet(rcb->inFormat) && !rioNewState<FileNetReadState>(rcb->readerState))
    return rioSetError(rcb, kRioOutOfMemory);
  if (rcb->writing && isFileNet(rcb->outFormat)) {
    if (!rioNewState<FileNetWriteState>(rcb->writerState)) return rioSetError(rcb, kRioOutOfMemory);
    // The data length and the tile table are filled in at the end: random access before the first byte.
    if (RioStatus r = seekableOutputOpen(rcb)) return r;
  }
  return kRioOk;
}

RioStatus fileNetAllocSlines(RCB* rcb) {
  return rioAllocSline(rcb);
}

RioStatus fileNetClose(RCB* rcb) {
  RioStatus result = kRioOk;
  if (rcb->writing && isFileNet(rcb->outFormat)) {
    auto* st = rioState<FileNetWriteState>(rcb->writerState);
    result = seekableOutputClose(rcb, st ? &st->output : nullptr);
  }
  return result;
}

}  // namespace

extern const FormatDriver kFileNetDriver = {
    fileNetOpen,  fileNetReadHeader,       fileNetWriteHeader,      fileNetAllocSlines,
    fileNetReadSline, fileNetWriteSline,   rioDriverNotImplemented, rioDriverNotImplemented,
    rioDriverNothing, fileNetFinishWrite, fileNetClose,
};

// The first byte names the layout.
RasterFormatId probeFileNet(const uint8_t* b, RioStatus*) {
  return b[0] == kSingleTileLayout ? kFormatFileNet : b[0] == kTiledLayout ? kFormatFileNetVariant : 0;
}

}  // namespace vantrel
