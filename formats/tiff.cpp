// The TIFF family (ids 10, 15, 17, 22, 23, 27): bilevel TIFF with Group 4, Group 3 (one-dimensional),
// PackBits or no compression, in strips or tiles. The reader takes any byte order and layout and reads the
// first directory; the writer writes little-endian files with one directory, the tag values that do not
// fit an entry right behind it, then the data, then the strip or tile tables, and patches the entries that
// depend on the data at the end.
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codec/fax.h"
#include "formats/fax_lines.h"
#include "formats/raster_row.h"
#include "formats/registry.h"
#include "picture/tpicture.h"

namespace vantrel {
namespace {

constexpr int kNone = 1;
constexpr int kCcittRle = 2;
constexpr int kGroup3 = 3;
constexpr int kGroup4 = 4;
constexpr int kLzw = 5;
constexpr int kPackBits = 32773;

enum FieldType : uint16_t { kByte = 1, kAscii = 2, kShort = 3, kLong = 4, kRational = 5 };

constexpr int32_t kDefaultRowsPerStrip = 200;
constexpr int32_t kStripGrowth = 1000;
constexpr int32_t kWriteTileWidth = 512;
constexpr int32_t kMaxName = 4096;  // longest document or page name kept
constexpr int32_t kWindowMinimum = 1024;
constexpr int32_t kMaxTileColumns = 65536;  // read windows the stream offers
constexpr char kMaker[] = "ZEB Corporation";  // 15 characters and the NUL: 16 bytes at offset 8
constexpr int64_t kDirectoryOffset = 24;

bool isTiffId(RasterFormatId id) {
  return id == kFormatTiff || id == kFormatOptigraphics || id == kFormatTiffPlain || id == kFormatTiffUncompressed || id == kFormatTiffG3 ||
         id == kFormatTiffTiled;
}
bool readsId(RasterFormatId id) { return isTiffId(id) && id != kFormatTiffTiled; }

// ---------------------------------------------------------------------------------------------------------
// Reader state.

// One independently coded column of the page: the whole width for strips, one tile column for tiles.
struct Segment {
  FaxDecoder decoder;
  int32_t* cur = nullptr;  // decoded row (tile width), the pair (0, 0) in front
  int32_t* ref = nullptr;  // the row above it in the same strip or tile
  int64_t bytesLeft = 0;   // of the strip or tile (uncompressed and PackBits rows)
};

struct TiffReadState {
  bool bigEndian = true;
  int64_t fileSize = 0;
  int32_t compression = kNone;
  bool fillReversed = false;
  int32_t unit = 2;
  int64_t rowsPerStrip = -1;
  int32_t photometric = 0;
  int32_t t4Options = -1;
  int32_t t6Options = -1;
  int64_t xResolution = -1;  // integer quotients; -1 when absent
  int64_t yResolution = -1;
  int64_t xPosition = 0;
  int64_t yPosition = 0;
  bool seenCompression = false, seenWidth = false, seenLength = false, seenStripOffsets = false,
       seenStripByteCounts = false, seenTileWidth = false, seenTileLength = false, seenTileOffsets = false,
       seenTileByteCounts = false, seenDocumentName = false;
  char documentName[kMaxName + 1] = {};
  char pageName[kMaxName + 1] = {};
  int32_t pageNumber[2] = {0, 0};

  // The tables as read, and the pair the layout uses (strips or tiles, tiles in row-major order).
  int64_t stripOffsetCount = 0, stripCountCount = 0, tileOffsetCount = 0, tileCountCount = 0;
  uint32_t* stripOffsets = nullptr;
  uint32_t* stripByteCounts = nullptr;
  uint32_t* tileOffsets = nullptr;
  uint32_t* tileByteCounts = nullptr;
  const uint32_t* offsets = nullptr;
  const uint32_t* byteCounts = nullptr;
  int64_t segmentCount = 0;
  bool tiled = false;
  int32_t tileWidth = 0;   // segment width (the image width for strips)
  int32_t tileLength = 0;  // segment height (rows per strip for strips)
  int32_t tilesAcross = 1;
  int32_t tilesDown = 1;

  Segment* segments = nullptr;  // tilesAcross of them
  int32_t* lineBlock = nullptr;
  int32_t* scratch = nullptr;   // one clipped or inverted segment row
  uint32_t* row = nullptr;      // bitmap-string row buffer of the segment width
  int32_t rowBytes = 0;

  TiffReadState() = default;
  TiffReadState(const TiffReadState&) = delete;
  TiffReadState& operator=(const TiffReadState&) = delete;
  ~TiffReadState() {
    rioFree(stripOffsets);
    rioFree(stripByteCounts);
    rioFree(tileOffsets);
    rioFree(tileByteCounts);
    rioFree(segments);
    rioFree(lineBlock);
    rioFree(row);
  }
};

// ---------------------------------------------------------------------------------------------------------
// Writer state.

struct TiffWriteState {
  int32_t compression = kGroup4;
  bool tiled = false;
  int64_t rowsPerStrip = 0;  // configured; INT64_MAX for one strip
  FaxEncoder encoder;
  // The row being written, normalised from curSline (which stays as it was: a reader sharing the RCB may
  // own it), and the row above it, the reference of Group 4 strips.
  FaxLines lines;
  uint32_t* row = nullptr;  // uncompressed rows: (width + 7) / 8 bytes, in words
  int32_t rowBytes = 0;

  // Strips or tiles written so far.
  uint32_t* offsets = nullptr;
  uint32_t* byteCounts = nullptr;
  int32_t capacity = 0;
  int32_t count = 0;
  bool segmentOpen = false;
  int64_t segmentStart = 0;
  int64_t rowInSegment = 0;

  // Tiles: one band of tile rows.
  TPicture* band = nullptr;
  int32_t tileLength = 0;
  int32_t tilesAcross = 0;
  int32_t bandRows = 0;
  FaxLines tileLines;  // two rows of one tile column

  // Entry indexes to patch at the end (-1 when not written).
  int32_t entryImageLength = -1, entryOffsets = -1, entryRowsPerStrip = -1, entryByteCounts = -1;
  RioStatus finishStatus = 0;
  bool finished = false;

  TiffWriteState() = default;
  TiffWriteState(const TiffWriteState&) = delete;
  TiffWriteState& operator=(const TiffWriteState&) = delete;
  ~TiffWriteState() {
    rioFree(row);
    rioFree(offsets);
    rioFree(byteCounts);
    if (band) FreeTPicture(band);
  }
};

// ---------------------------------------------------------------------------------------------------------
// Shared helpers.

uint16_t get16(const uint8_t* p, bool big) {
  return big ? static_cast<uint16_t>(p[0] << 8 | p[1]) : static_cast<uint16_t>(p[1] << 8 | p[0]);
}
uint32_t get32(const uint8_t* p, bool big) {
  return big ? (uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3])
             : (uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0]);
}
void put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
  put16(p, v & 0xFFFF);
  put16(p + 2, v >> 16);
}

// Room for one row of `width` pixels with the pair (0, 0) in front; returns the row start.
int64_t lineValues(int32_t width) { return slineValues(width) + 2; }
int32_t* initLine(int32_t* block) {
  block[0] = block[1] = 0;
  block[2] = block[3] = kSlineEnd;
  return block + 2;
}

// ---------------------------------------------------------------------------------------------------------
// Reading the directory.

struct Entry {
  uint16_t tag;
  uint16_t type;
  uint32_t count;
  const uint8_t* value;  // the four value bytes of the entry
};

int typeSize(uint16_t type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
  }
}

class DirectoryReader {
 public:
  DirectoryReader(RCB* rcb, TiffReadState* st) : rcb_(rcb), st_(st), s_(rcb->inStream) {}

  // Reads n bytes at a position inside the file.
  RioStatus readAt(int64_t position, void* dest, int64_t n) {
    int64_t end = 0;
    if (!checkedAdd(position, n, &end) || end > st_->fileSize || n > INT32_MAX) return kRioBadHeader;
    if (int32_t r = streamSeek(s_, position)) return r;
    if (streamRead(s_, dest, static_cast<int32_t>(n)) != n) return kRioBadHeader;
    return kRioOk;
  }

  // The value bytes of an entry: inline, or read into `buffer` (rioMalloc'd, freed by the caller).
  RioStatus valueBytes(const Entry& e, const uint8_t** bytes, uint8_t** buffer) {
    *buffer = nullptr;
    const int size = typeSize(e.type);
    int64_t total = 0;
    if (size == 0 || !checkedMul(e.count, size, &total)) return kRioBadHeader;
    if (total <= 4) {
      *bytes = e.value;
      return kRioOk;
    }
    if (total > st_->fileSize) return kRioBadHeader;
    auto* b = static_cast<uint8_t*>(rioMalloc(static_cast<size_t>(total)));
    if (!b) return kRioOutOfMemory;
    if (RioStatus r = readAt(get32(e.value, st_->bigEndian), b, total)) {
      rioFree(b);
      return r;
    }
    *bytes = *buffer = b;
    return kRioOk;
  }

  // A single short or long.
  RioStatus scalar(const Entry& e, int64_t* v, bool allowLong = true) {
    if (e.count != 1) return kRioBadHeader;
    if (e.type == kShort)
      *v = get16(e.value, st_->bigEndian);
    else if (e.type == kLong && allowLong)
      *v = get32(e.value, st_->bigEndian);
    else
      return kRioBadHeader;
    return kRioOk;
  }

  // An array of shorts or longs (strip and tile tables) of e.count values.
  RioStatus table(const Entry& e, uint32_t** out, int64_t* count) {
    if (e.type != kShort && e.type != kLong) return kRioBadHeader;
    if (e.count == 0) return kRioBadHeader;
    const uint8_t* bytes = nullptr;
    uint8_t* buffer = nullptr;
    if (RioStatus r = valueBytes(e, &bytes, &buffer)) return r;
    auto* t = static_cast<uint32_t*>(rioCalloc(e.count, sizeof(uint32_t)));
    if (!t) {
      rioFree(buffer);
      return kRioOutOfMemory;
    }
    for (uint32_t i = 0; i < e.count; ++i)
      t[i] = e.type == kShort ? get16(bytes + 2 * i, st_->bigEndian) : get32(bytes + 4 * i, st_->bigEndian);
    rioFree(buffer);
    rioFree(*out);
    *out = t;
    *count = e.count;
    return kRioOk;
  }

  // A rational as its integer quotient; a zero denominator is bad data, or (positions) gives 0.
  RioStatus rational(const Entry& e, int64_t* v, bool zeroIsBad) {
    if (e.type != kRational || e.count < 1) return kRioBadHeader;
    uint8_t b[8];
    if (RioStatus r = readAt(get32(e.value, st_->bigEndian), b, 8)) return r;
    const uint32_t n = get32(b, st_->bigEndian);
    const uint32_t d = get32(b + 4, st_->bigEndian);
    if (d == 0) {
      if (zeroIsBad) return kRioBadHeader;
      *v = 0;
      return kRioOk;
    }
    *v = n / d;
    return kRioOk;
  }

  // An ASCII value up to its first NUL, at most kMaxName characters kept.
  RioStatus ascii(const Entry& e, char* out) {
    if (e.type != kAscii) return kRioBadHeader;
    const auto kept = static_cast<int32_t>(std::min<uint32_t>(e.count, kMaxName));
    uint8_t* bytes = reinterpret_cast<uint8_t*>(out);
    if (e.count <= 4) {
      std::memcpy(bytes, e.value, static_cast<size_t>(kept));
    } else {
      const int64_t offset = get32(e.value, st_->bigEndian);
      int64_t end = 0;
      if (!checkedAdd(offset, e.count, &end) || end > st_->fileSize) return kRioBadHeader;
      if (RioStatus r = readAt(offset, bytes, kept)) return r;
    }
    out[strnlen(out, static_cast<size_t>(kept))] = '\0';
    return kRioOk;
  }

  RioStatus handle(const Entry& e);

 private:
  RCB* rcb_;
  TiffReadState* st_;
  RasterStream* s_;
};

RioStatus DirectoryReader::handle(const Entry& e) {
  TiffReadState& st = *st_;
  int64_t v = 0;
  switch (e.tag) {
    case 254:  // NewSubfileType
      if (e.type != kLong || e.count != 1) return kRioBadHeader;
      if (get32(e.value, st.bigEndian) & 7) rioSetWarning(rcb_, kRioReducedImage);
      return kRioOk;
    case 255:  // SubfileType
      if (RioStatus r = scalar(e, &v, false)) return r;
      if (v == 2 || v == 3) rioSetWarning(rcb_, kRioReducedImage);
      return v >= 1 && v <= 3 ? kRioOk : kRioBadHeader;
    case 256:
      if (RioStatus r = scalar(e, &v)) return r;
      rcb_->width = static_cast<int32_t>(std::min<int64_t>(rcb_->width, v));
      st.seenWidth = true;
      return kRioOk;
    case 257:
      if (RioStatus r = scalar(e, &v)) return r;
      rcb_->height = static_cast<int32_t>(std::min<int64_t>(rcb_->height, v));
      st.seenLength = true;
      return kRioOk;
    case 258:  // BitsPerSample
    case 277:  // SamplesPerPixel
      if (RioStatus r = scalar(e, &v, false)) return r;
      return v == 1 ? kRioOk : kRioBadHeader;
    case 259:
      if (RioStatus r = scalar(e, &v, false)) return r;
      switch (v) {
        case kNone: case kCcittRle: case kGroup3: case kGroup4: case kPackBits: break;
        case kLzw: return kRioNotImplemented;
        default: return kRioBadHeader;
      }
      st.compression = static_cast<int32_t>(v);
      st.seenCompression = true;
      return kRioOk;
    case 262:
      if (RioStatus r = scalar(e, &v, false)) return r;
      if (v == 2 || v == 4) return kRioNotImplemented;
      if (v == 0 || v == 1) st.photometric = static_cast<int32_t>(v);
      return kRioOk;
    case 264: case 265: case 290: case 291: case 301: case 318: case 319:
      return kRioNotImplemented;
    case 266:  // FillOrder
      if (RioStatus r = scalar(e, &v, false)) return r;
      if (v != 1 && v != 2) return kRioBadHeader;
      st.fillReversed = v == 2;
      return kRioOk;
    case 269:
      st.seenDocumentName = true;
      return ascii(e, st.documentName);
    case 273:
      st.seenStripOffsets = true;
      return table(e, &st.stripOffsets, &st.stripOffsetCount);
    case 278:
      if (RioStatus r = scalar(e, &v)) return r;
      st.rowsPerStrip = v;
      return kRioOk;
    case 279:
      st.seenStripByteCounts = true;
      return table(e, &st.stripByteCounts, &st.stripCountCount);
    case 280:  // MinSampleValue
      if (RioStatus r = scalar(e, &v, false)) return r;
      return v == 0 ? kRioOk : kRioBadHeader;
    case 282:
      return rational(e, &st.xResolution, true);
    case 283:
      return rational(e, &st.yResolution, true);
    case 284:  // PlanarConfiguration
      if (RioStatus r = scalar(e, &v, false)) return r;
      return v == 1 ? kRioOk : kRioBadHeader;
    case 285:
      return ascii(e, st.pageName);
    case 286:
      return rational(e, &st.xPosition, false);
    case 287:
      return rational(e, &st.yPosition, false);
    case 292:
      if (RioStatus r = scalar(e, &v)) return r;
      st.t4Options = static_cast<int32_t>(std::min<int64_t>(v, INT32_MAX));
      return kRioOk;
    case 293:
      if (RioStatus r = scalar(e, &v)) return r;
      st.t6Options = static_cast<int32_t>(std::min<int64_t>(v, INT32_MAX));
      return kRioOk;
    case 296:
      if (RioStatus r = scalar(e, &v, false)) return r;
      if (v < 1 || v > 3) return kRioBadHeader;
      st.unit = static_cast<int32_t>(v);
      return kRioOk;
    case 297: {
      if (e.type != kShort || e.count != 2) return kRioBadHeader;
      st.pageNumber[0] = get16(e.value, st.bigEndian);
      st.pageNumber[1] = get16(e.value + 2, st.bigEndian);
      return kRioOk;
    }
    case 322:
      if (RioStatus r = scalar(e, &v)) return r;
      if (v <= 0 || v > kMaxLineWidth) return kRioBadHeader;
      st.tileWidth = static_cast<int32_t>(v);
      st.seenTileWidth = true;
      return kRioOk;
    case 323:
      if (RioStatus r = scalar(e, &v)) return r;
      if (v <= 0 || v > INT32_MAX) return kRioBadHeader;
      st.tileLength = static_cast<int32_t>(v);
      st.seenTileLength = true;
      return kRioOk;
    case 324:
      st.seenTileOffsets = true;
      return table(e, &st.tileOffsets, &st.tileOffsetCount);
    case 325:
      st.seenTileByteCounts = true;
      return table(e, &st.tileByteCounts, &st.tileCountCount);
    default:
      return kRioOk;
  }
}

// Checks the tables against the page and sets up the segments, their line buffers and the row buffer.
RioStatus finishLayout(RCB* rcb, TiffReadState& st) {
  const int64_t width = rcb->width;
  const int64_t height = rcb->height;
  if (st.seenTileWidth || st.seenTileLength || st.seenTileOffsets || st.seenTileByteCounts) {
    st.offsets = st.tileOffsets;
    st.byteCounts = st.tileByteCounts;
    if (!st.seenTileWidth || !st.seenTileLength || !st.seenTileOffsets || !st.seenTileByteCounts)
      return kRioBadHeader;
    st.tiled = true;
    st.tilesAcross = static_cast<int32_t>((width + st.tileWidth - 1) / st.tileWidth);
    st.tilesDown = static_cast<int32_t>((height + st.tileLength - 1) / st.tileLength);
    if (st.tilesAcross > kMaxTileColumns) return kRioBadHeader;
    const int64_t tiles = int64_t{st.tilesAcross} * std::max(st.tilesDown, 1);
    if (st.tileOffsetCount != tiles || st.tileCountCount != tiles) return kRioBadHeader;
    st.segmentCount = tiles;
  } else {
    st.offsets = st.stripOffsets;
    st.byteCounts = st.stripByteCounts;
    if (!st.seenStripOffsets || !st.seenStripByteCounts) return kRioBadHeader;
    if (st.rowsPerStrip == 0) return kRioBadHeader;
    const int64_t rows = st.rowsPerStrip < 0 || st.rowsPerStrip >= height ? std::max<int64_t>(height, 1)
                                                                           : st.rowsPerStrip;
    const int64_t strips = std::max<int64_t>((height + rows - 1) / rows, 1);
    if (st.stripOffsetCount != strips || st.stripCountCount != strips) return kRioBadHeader;
    st.segmentCount = strips;
    st.tileWidth = static_cast<int32_t>(width);
    st.tileLength = static_cast<int32_t>(std::min<int64_t>(rows, INT32_MAX));
    st.tilesAcross = 1;
    st.tilesDown = static_cast<int32_t>(strips);
  }
  for (int64_t i = 0; i < st.segmentCount; ++i)
    if (st.offsets[i] > st.fileSize) return kRioBadHeader;

  // Segment records and two line buffers each, one scratch line, one row buffer of the segment width.
  const int64_t perLine = lineValues(st.tileWidth);
  int64_t lines = 0;
  if (!checkedMul(perLine, 2 * int64_t{st.tilesAcross} + 1, &lines) || lines > (int64_t{1} << 29))
    return kRioOutOfMemory;
  st.segments = static_cast<Segment*>(rioCalloc(static_cast<size_t>(st.tilesAcross), sizeof(Segment)));
  st.lineBlock = static_cast<int32_t*>(rioMalloc(static_cast<size_t>(lines) * sizeof(int32_t)));
  const int64_t words = bitmapWords(st.tileWidth);
  st.row = static_cast<uint32_t*>(rioCalloc(static_cast<size_t>(words), sizeof(uint32_t)));
  if (!st.segments || !st.lineBlock || !st.row) return kRioOutOfMemory;
  st.rowBytes = static_cast<int32_t>((int64_t{st.tileWidth} + 7) / 8);
  for (int32_t c = 0; c < st.tilesAcross; ++c) {
    Segment& seg = st.segments[c];
    new (&seg) Segment{};
    seg.cur = initLine(st.lineBlock + perLine * (2 * c));
    seg.ref = initLine(st.lineBlock + perLine * (2 * c + 1));
    seg.decoder.bits.lsbFirst = st.fillReversed;
    seg.decoder.noEol = st.compression == kCcittRle;
    seg.decoder.lineAlign = st.compression == kCcittRle;
    seg.decoder.codingWord = 1;
  }
  st.scratch = initLine(st.lineBlock + perLine * (2 * int64_t{st.tilesAcross}));
  if (st.tiled && !streamSetWindows(rcb->inStream, st.tilesAcross, kWindowMinimum)) return kRioOutOfMemory;
  return kRioOk;
}

RioStatus buildExtraHeader(RCB* rcb, const TiffReadState& st) {
  char numbers[2][16];
  std::snprintf(numbers[0], sizeof numbers[0], "%d", st.pageNumber[0]);
  std::snprintf(numbers[1], sizeof numbers[1], "%d", st.pageNumber[1]);
  const char* parts[] = {"Tiff", st.documentName, st.pageName, numbers[0], numbers[1]};
  size_t total = 0;
  for (const char* p : parts) total += std::strlen(p) + 1;
  auto* block = static_cast<uint8_t*>(rioMalloc(total));
  if (!block) return kRioOutOfMemory;
  size_t at = 0;
  for (const char* p : parts) {
    const size_t n = std::strlen(p) + 1;
    std::memcpy(block + at, p, n);
    at += n;
  }
  return rioAttachExtraHeader(rcb, block, static_cast<int32_t>(total));
}

RioStatus readDirectory(RCB* rcb, TiffReadState& st) {
  RasterStream* s = rcb->inStream;
  if (int32_t r = streamMakeSeekable(s)) return r;
  if (!streamFileSize(s, &st.fileSize)) return kRioBadHeader;
  if (int32_t r = streamSeek(s, 0)) return r;
  uint8_t head[8];
  if (streamRead(s, head, 8) != 8) return kRioBadHeader;
  if (head[0] == 'I' && head[1] == 'I')
    st.bigEndian = false;
  else if (head[0] == 'M' && head[1] == 'M')
    st.bigEndian = true;
  else
    return kRioBadHeader;
  if (get16(head + 2, st.bigEndian) != 42) return kRioBadHeader;
  const int64_t directory = get32(head + 4, st.bigEndian);
  if (directory < 8) return kRioBadHeader;  // inside the file header itself

  DirectoryReader reader(rcb, &st);
  uint8_t countBytes[2];
  if (RioStatus r = reader.readAt(directory, countBytes, 2)) return r;
  const int64_t entries = get16(countBytes, st.bigEndian);
  if (entries == 0) return kRioBadHeader;
  auto* block = static_cast<uint8_t*>(rioMalloc(static_cast<size_t>(entries * 12)));
  if (!block) return kRioOutOfMemory;
  RioStatus status = reader.readAt(directory + 2, block, entries * 12);
  for (int64_t i = 0; status == kRioOk && i < entries; ++i) {
    const uint8_t* p = block + 12 * i;
    const Entry e{get16(p, st.bigEndian), get16(p + 2, st.bigEndian), get32(p + 4, st.bigEndian), p + 8};
    status = reader.handle(e);
  }
  rioFree(block);
  if (status != kRioOk) return status;

  if (!st.seenWidth || !st.seenLength) return kRioBadHeader;
  if (rcb->width <= 0 || rcb->width > kMaxLineWidth) return kRioBadColumns;
  if (st.compression == kGroup3 && st.t4Options >= 0) {
    if (st.t4Options > 7) return kRioBadHeader;
    if (st.t4Options & 3) return kRioNotImplemented;
  }
  if (st.compression == kGroup4 && st.t6Options > 3) return kRioBadHeader;
  const double unitScale = st.unit == 3 ? 2.54 : 1.0;
  if (st.xResolution >= 0) rcb->xDpi = static_cast<double>(st.xResolution) * unitScale;
  if (st.yResolution >= 0) rcb->yDpi = static_cast<double>(st.yResolution) * unitScale;
  st.xPosition = static_cast<int64_t>(static_cast<double>(st.xPosition) * unitScale);
  st.yPosition = static_cast<int64_t>(static_cast<double>(st.yPosition) * unitScale);
  if (RioStatus r = finishLayout(rcb, st)) return r;
  if (st.seenDocumentName) return buildExtraHeader(rcb, st);
  return kRioOk;
}

// ---------------------------------------------------------------------------------------------------------
// Reading rows.

// Starts strip or tile `index` in segment `column`: position, byte budget, decoder and reference line.
RioStatus startSegment(RCB* rcb, TiffReadState& st, int32_t column, int64_t index) {
  Segment& seg = st.segments[column];
  const int64_t offset = st.offsets[index];
  const int64_t available = std::min<int64_t>(st.byteCounts[index], st.fileSize - offset);
  if (st.tiled) {
    if (!streamSetWindowOffset(rcb->inStream, column, offset)) return kRioInternal;
  } else if (int32_t r = streamSeek(rcb->inStream, offset)) {
    return r;
  }
  seg.bytesLeft = available;
  faxDecoderRestart(&seg.decoder);
  faxDecoderSetByteLimit(&seg.decoder, available);
  seg.ref[0] = seg.ref[1] = kSlineEnd;
  return kRioOk;
}

// PackBits codes until the row's bytes are filled; bytes of a run beyond the row are dropped. With
// FillOrder 2 every stored byte, codes included, is reversed as it is taken.
RioStatus unpackRow(RasterStream* s, Segment& seg, uint8_t* row, int32_t rowBytes, bool reversed) {
  int32_t filled = 0;
  auto next = [&]() -> int {
    if (seg.bytesLeft <= 0) return -1;
    --seg.bytesLeft;
    const int b = streamGetByte(s);
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
  return kRioOk;
}

RioStatus decodeSegmentRow(RCB* rcb, TiffReadState& st, Segment& seg) {
  RasterStream* s = rcb->inStream;
  const int32_t width = st.tileWidth;
  switch (st.compression) {
    case kCcittRle:
    case kGroup3:
      return g3DecodeLine(&seg.decoder, s, width, seg.cur);
    case kGroup4:
      return g4DecodeLine(&seg.decoder, s, width, seg.ref, seg.cur);
    case kNone:
    case kPackBits: {
      auto* row = reinterpret_cast<uint8_t*>(st.row);
      if (st.compression == kNone) {
        if (seg.bytesLeft < st.rowBytes) return kRioUnexpectedEof;
        if (streamRead(s, row, st.rowBytes) != st.rowBytes) return kRioUnexpectedEof;
        seg.bytesLeft -= st.rowBytes;
        if (st.fillReversed)
          for (int32_t i = 0; i < st.rowBytes; ++i) row[i] = kBitReverse[row[i]];
      } else if (RioStatus r = unpackRow(s, seg, row, st.rowBytes, st.fillReversed)) {
        return r;
      }
      BitmapStringToRuns(st.row, static_cast<int32_t>(bitmapWords(width)), seg.cur, 0, width - 1);
      return kRioOk;
    }
    default:
      return kRioInternal;
  }
}

// The runs of `src` inside [0, width), or of their complement there (black is zero), into `dst`.
void segmentRuns(const int32_t* src, int32_t* dst, int32_t width, bool invert) {
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

// ---------------------------------------------------------------------------------------------------------
// Writing.

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

// Rational form of a resolution: 0/1 for 0; else d = trunc(2147483647 / x), n = trunc(x * d), reduced to
// (n / d)/1 when d divides n. False for a value beyond 2147483647 or below 0.
bool tiffRational(double x, uint32_t* numerator, uint32_t* denominator) {
  if (!(x >= 0) || x > 2147483647.0) return false;
  if (x < DBL_MIN) {
    *numerator = 0;
    *denominator = 1;
    return true;
  }
  // Below half a dot per inch the denominator would leave 32 bits: it stops at the largest one.
  const double d = std::min(std::trunc(2147483647.0 / x), 4294967295.0);
  const double n = std::trunc(x * d);
  const auto dn = static_cast<uint32_t>(d);
  const auto nn = static_cast<uint32_t>(n);
  if (dn != 0 && nn % dn == 0) {
    *numerator = nn / dn;
    *denominator = 1;
  } else {
    *numerator = nn;
    *denominator = dn;
  }
  return true;
}

struct OutEntry {
  uint16_t tag;
  uint16_t type;
  uint32_t count;
  uint32_t value;     // inline value (shorts in the low half) or offset
  uint8_t text[4];    // inline ASCII
  bool inlineText;
};

void encodeEntry(const OutEntry& e, uint8_t* p) {
  put16(p, e.tag);
  put16(p + 2, e.type);
  put32(p + 4, e.count);
  if (e.inlineText) {
    std::memcpy(p + 8, e.text, 4);
  } else if (e.type == kShort && e.count <= 2) {
    put16(p + 8, e.value & 0xFFFF);
    put16(p + 10, e.value >> 16);
  } else {
    put32(p + 8, e.value);
  }
}

// Names taken from a "Tiff" extra-header block: document name, page name, page numbers.
struct CarriedNames {
  const char* document = "";
  int32_t documentLength = 0;
  const char* page = "";
  int32_t pageLength = 0;
  int32_t pageNumber[2] = {0, 0};
};

CarriedNames carriedNames(const RCB* rcb) {
  CarriedNames out;
  if (!rcb->extraHeader || rcb->extraHeaderLength <= 0) return out;
  const auto* p = reinterpret_cast<const char*>(rcb->extraHeader);
  const int64_t n = rcb->extraHeaderLength;
  const char* part[5] = {"", "", "", "", ""};
  int32_t length[5] = {};
  int64_t at = 0;
  for (int i = 0; i < 5 && at < n; ++i) {
    const auto len = static_cast<int64_t>(strnlen(p + at, static_cast<size_t>(n - at)));
    part[i] = p + at;
    length[i] = static_cast<int32_t>(std::min<int64_t>(len, kMaxName));
    at += len + 1;
  }
  if (length[0] != 4 || std::memcmp(part[0], "Tiff", 4) != 0) return out;
  out.document = part[1];
  out.documentLength = length[1];
  out.page = part[2];
  out.pageLength = length[2];
  for (int i = 0; i < 2; ++i) {
    char digits[16] = {};
    std::memcpy(digits, part[3 + i], static_cast<size_t>(std::min(length[3 + i], 15)));
    out.pageNumber[i] = static_cast<int32_t>(std::strtol(digits, nullptr, 10));
  }
  return out;
}

RioStatus writeBytes(RasterStream* s, const void* data, int64_t n) {
  if (n <= 0) return kRioOk;
  if (n > INT32_MAX || streamWrite(s, data, static_cast<int32_t>(n)) != n || !s->ok) return kRioStreamIo;
  return kRioOk;
}

RioStatus padToEven(RasterStream* s) {
  static const uint8_t zero = 0;
  return (streamTell(s) & 1) ? writeBytes(s, &zero, 1) : kRioOk;
}

RioStatus tiffWriteHeaderImpl(RCB* rcb, TiffWriteState& st) {
  RasterStream* s = rcb->outStream;
  if (!(rcb->xDpi > 0) || !std::isfinite(rcb->xDpi)) rcb->xDpi = 200;
  if (!(rcb->yDpi > 0) || !std::isfinite(rcb->yDpi)) rcb->yDpi = 200;
  uint32_t rational[4][2] = {};
  if (!tiffRational(rcb->xDpi, &rational[0][0], &rational[0][1]) ||
      !tiffRational(rcb->yDpi, &rational[1][0], &rational[1][1]))
    return kRioInternal;
  tiffRational(0, &rational[2][0], &rational[2][1]);
  tiffRational(0, &rational[3][0], &rational[3][1]);
  const CarriedNames names = carriedNames(rcb);

  OutEntry entries[24];
  int32_t n = 0;
  auto add = [&](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) -> int32_t {
    entries[n] = OutEntry{tag, type, count, value, {}, false};
    return n++;
  };
  // ASCII entries carry their NUL in the count; values of more than 4 bytes get their offset later.
  auto addText = [&](uint16_t tag, const char* text, int32_t length) {
    const int32_t i = add(tag, kAscii, static_cast<uint32_t>(length + 1), 0);
    if (length + 1 <= 4) {
      entries[i].inlineText = true;
      std::memcpy(entries[i].text, text, static_cast<size_t>(length));
    }
    return i;
  };
  add(254, kLong, 1, 0);
  add(256, kLong, 1, static_cast<uint32_t>(rcb->width));
  st.entryImageLength = add(257, kLong, 1, static_cast<uint32_t>(std::max(rcb->height, 0)));
  add(258, kShort, 1, 1);
  add(259, kShort, 1, static_cast<uint32_t>(st.compression));
  add(262, kShort, 1, 0);
  int32_t documentEntry = -1, pageEntry = -1;
  if (names.documentLength > 0) documentEntry = addText(269, names.document, names.documentLength);
  if (!st.tiled) {
    st.entryOffsets = add(273, kLong, 1, 0);
    st.entryRowsPerStrip = add(278, kLong, 1, 0);
    st.entryByteCounts = add(279, kLong, 1, 0);
  }
  int32_t rationalEntry[4];
  rationalEntry[0] = add(282, kRational, 1, 0);
  rationalEntry[1] = add(283, kRational, 1, 0);
  if (names.pageLength > 0) pageEntry = addText(285, names.page, names.pageLength);
  rationalEntry[2] = add(286, kRational, 1, 0);
  rationalEntry[3] = add(287, kRational, 1, 0);
  if (st.compression == kGroup4) add(293, kLong, 1, 0);
  add(296, kShort, 1, 2);
  if (names.pageNumber[0] != 0 || names.pageNumber[1] != 0)
    add(297, kShort, 2,
        (static_cast<uint32_t>(names.pageNumber[0]) & 0xFFFF) |
            (static_cast<uint32_t>(names.pageNumber[1]) << 16));
  add(315, kAscii, sizeof kMaker, 8);
  if (st.tiled) {
    add(322, kLong, 1, kWriteTileWidth);
    add(323, kLong, 1, static_cast<uint32_t>(st.tileLength));
    st.entryOffsets = add(324, kLong, 1, 0);
    st.entryByteCounts = add(325, kLong, 1, 0);
  }

  // Values behind the directory: the four rationals, then the long names, each on an even offset.
  int64_t at = kDirectoryOffset + 2 + 12 * n + 4;
  for (int i = 0; i < 4; ++i) {
    entries[rationalEntry[i]].value = static_cast<uint32_t>(at);
    at += 8;
  }
  for (int32_t i : {documentEntry, pageEntry}) {
    if (i < 0 || entries[i].inlineText) continue;
    entries[i].value = static_cast<uint32_t>(at);
    at += entries[i].count + (entries[i].count & 1);
  }

  uint8_t head[kDirectoryOffset] = {'I', 'I', 42, 0, static_cast<uint8_t>(kDirectoryOffset), 0, 0, 0};
  std::memcpy(head + 8, kMaker, sizeof kMaker);
  uint8_t directory[2 + 12 * 24 + 4] = {};
  put16(directory, static_cast<uint32_t>(n));
  for (int32_t i = 0; i < n; ++i) encodeEntry(entries[i], directory + 2 + 12 * i);
  if (RioStatus r = writeBytes(s, head, sizeof head)) return r;
  if (RioStatus r = writeBytes(s, directory, 2 + 12 * n + 4)) return r;
  uint8_t values[32];
  for (int i = 0; i < 4; ++i) {
    put32(values + 8 * i, rational[i][0]);
    put32(values + 8 * i + 4, rational[i][1]);
  }
  if (RioStatus r = writeBytes(s, values, sizeof values)) return r;
  const struct {
    int32_t entry;
    const char* text;
  } texts[] = {{documentEntry, names.document}, {pageEntry, names.page}};
  for (const auto& t : texts) {
    if (t.entry < 0 || entries[t.entry].inlineText) continue;
    const uint8_t zeros[2] = {0, 0};
    if (RioStatus r = writeBytes(s, t.text, entries[t.entry].count - 1)) return r;
    if (RioStatus r = writeBytes(s, zeros, 1 + (entries[t.entry].count & 1))) return r;
  }
  return streamTell(s) == at ? kRioOk : kRioInternal;
}

RioStatus addSegment(TiffWriteState& st, int64_t offset, int64_t bytes) {
  if (offset > UINT32_MAX || bytes > UINT32_MAX) return kRioInternal;
  if (st.count == st.capacity) {
    const int64_t capacity = int64_t{st.capacity} + kStripGrowth;
    if (capacity > INT32_MAX / 4) return kRioOutOfMemory;
    auto* o = static_cast<uint32_t*>(rioRealloc(st.offsets, static_cast<size_t>(capacity) * 4));
    if (!o) return kRioOutOfMemory;
    st.offsets = o;
    auto* c = static_cast<uint32_t*>(rioRealloc(st.byteCounts, static_cast<size_t>(capacity) * 4));
    if (!c) return kRioOutOfMemory;
    st.byteCounts = c;
    st.capacity = static_cast<int32_t>(capacity);
  }
  st.offsets[st.count] = static_cast<uint32_t>(offset);
  st.byteCounts[st.count] = static_cast<uint32_t>(bytes);
  ++st.count;
  return kRioOk;
}

RioStatus closeStrip(RCB* rcb, TiffWriteState& st) {
  RasterStream* s = rcb->outStream;
  RioStatus r = kRioOk;
  if (st.compression == kGroup4)
    r = g4EncodeFinish(&st.encoder, s);
  else if (st.compression == kGroup3)
    r = g3EncodeFinish(&st.encoder, s);
  if (r != kRioOk) return r;
  st.segmentOpen = false;
  st.rowInSegment = 0;
  return addSegment(st, st.segmentStart, streamTell(s) - st.segmentStart);
}

RioStatus writeStripRow(RCB* rcb, TiffWriteState& st) {
  RasterStream* s = rcb->outStream;
  if (!st.segmentOpen) {
    st.segmentOpen = true;
    st.segmentStart = streamTell(s);
    st.rowInSegment = 0;
    faxEncoderRestart(&st.encoder);  // Group 3: every strip begins with an end-of-line code
    faxLinesRestart(&st.lines);      // Group 4: every strip begins against a white row
  }
  RioStatus r = kRioOk;
  FaxLines& lines = st.lines;
  const int32_t n = faxLinesTake(&lines, rcb->curSline);
  switch (st.compression) {
    case kGroup4:
      r = g4EncodeLine(&st.encoder, s, lines.width, lines.cur, lines.ref);
      break;
    case kGroup3:
      r = g3EncodeLine(&st.encoder, s, lines.width, lines.cur);
      break;
    case kNone: {
      auto* row = reinterpret_cast<uint8_t*>(st.row);
      std::memset(row, 0, static_cast<size_t>(st.rowBytes));
      for (int32_t i = 0; i < n; i += 2) rowSetRun(row, lines.cur[i], lines.cur[i + 1]);
      r = writeBytes(s, row, st.rowBytes);
      break;
    }
    default:
      r = kRioInternal;
  }
  faxLinesAdvance(&lines);
  if (r != kRioOk) return r;
  if (++st.rowInSegment >= st.rowsPerStrip) return closeStrip(rcb, st);
  return kRioOk;
}

// Codes the band: each tile column in turn as an independent Group 4 block ended by its end-of-block code
// and padded to a whole word, so no bits of one tile reach the next.
RioStatus flushBand(RCB* rcb, TiffWriteState& st) {
  RasterStream* s = rcb->outStream;
  for (int32_t c = 0; c < st.tilesAcross; ++c) {
    const int64_t start = streamTell(s);
    faxEncoderRestart(&st.encoder);
    FaxLines& lines = st.tileLines;
    faxLinesRestart(&lines);
    const int32_t left = c * kWriteTileWidth;
    for (int32_t y = 0; y < st.tileLength; ++y) {
      ExtractRunsTPicture(st.band, y, lines.cur, left, left + kWriteTileWidth - 1);
      rioShiftSline(lines.cur, -left);
      if (RioStatus r = g4EncodeLine(&st.encoder, s, kWriteTileWidth, lines.cur, lines.ref)) return r;
      faxLinesAdvance(&lines);
    }
    if (RioStatus r = g4EncodeFinish(&st.encoder, s)) return r;
    if (RioStatus r = addSegment(st, start, streamTell(s) - start)) return r;
  }
  ClearTPicture(st.band);
  st.bandRows = 0;
  return kRioOk;
}

RioStatus writeTileRow(RCB* rcb, TiffWriteState& st) {
  faxLinesTake(&st.lines, rcb->curSline);
  if (!WriteRunsTPicture(st.band, st.bandRows, st.lines.cur, 1)) return kRioOutOfMemory;
  ++st.bandRows;
  // The last band is coded once the image's last row is in (rows below it stay white).
  if (st.bandRows == st.tileLength || rcb->linesWritten + 1 == rcb->height) return flushBand(rcb, st);
  return kRioOk;
}

RioStatus writeTables(RCB* rcb, TiffWriteState& st, OutEntry* offsets, OutEntry* counts) {
  RasterStream* s = rcb->outStream;
  offsets->count = counts->count = static_cast<uint32_t>(st.count);
  if (st.count == 1) {
    offsets->value = st.offsets[0];
    counts->value = st.byteCounts[0];
    return kRioOk;
  }
  if (RioStatus r = padToEven(s)) return r;
  uint8_t buffer[4 * 256];
  for (uint32_t* table : {st.offsets, st.byteCounts}) {
    const int64_t at = streamTell(s);
    if (at > UINT32_MAX) return kRioInternal;
    (table == st.offsets ? offsets : counts)->value = static_cast<uint32_t>(at);
    for (int32_t i = 0; i < st.count; i += 256) {
      const int32_t k = std::min(256, st.count - i);
      for (int32_t j = 0; j < k; ++j) put32(buffer + 4 * j, table[i + j]);
      if (RioStatus r = writeBytes(s, buffer, 4 * k)) return r;
    }
  }
  return kRioOk;
}

RioStatus patchEntry(RasterStream* s, int32_t index, const OutEntry& e) {
  uint8_t bytes[12];
  encodeEntry(e, bytes);
  if (int32_t r = streamSeek(s, kDirectoryOffset + 2 + 12 * int64_t{index})) return r;
  return writeBytes(s, bytes, 12);
}

RioStatus finishImpl(RCB* rcb, TiffWriteState& st) {
  RasterStream* s = rcb->outStream;
  if (!rcb->headerWritten) {
    rcb->headerWritten = true;
    if (RioStatus r = tiffWriteHeaderImpl(rcb, st)) return r;
  }
  const int64_t rows = std::max(rcb->linesWritten, 0);
  if (st.tiled) {
    if (st.bandRows > 0 || st.count == 0)
      if (RioStatus r = flushBand(rcb, st)) return r;
  } else {
    if (st.segmentOpen) {
      if (RioStatus r = closeStrip(rcb, st)) return r;
    } else if (st.count == 0) {
      if (RioStatus r = addSegment(st, streamTell(s), 0)) return r;
    }
  }
  OutEntry offsets{static_cast<uint16_t>(st.tiled ? 324 : 273), kLong, 0, 0, {}, false};
  OutEntry counts{static_cast<uint16_t>(st.tiled ? 325 : 279), kLong, 0, 0, {}, false};
  if (RioStatus r = writeTables(rcb, st, &offsets, &counts)) return r;
  if (rows > UINT32_MAX) return kRioInternal;
  if (RioStatus r = patchEntry(s, st.entryImageLength, {257, kLong, 1, static_cast<uint32_t>(rows), {}, false}))
    return r;
  if (RioStatus r = patchEntry(s, st.entryOffsets, offsets)) return r;
  if (RioStatus r = patchEntry(s, st.entryByteCounts, counts)) return r;
  if (!st.tiled) {
    const int64_t perStrip = st.count == 1 ? rows : st.rowsPerStrip;
    if (RioStatus r = patchEntry(s, st.entryRowsPerStrip,
                                 {278, kLong, 1, static_cast<uint32_t>(std::min<int64_t>(perStrip, UINT32_MAX)),
                                  {}, false}))
      return r;
  }
  return kRioOk;
}

// ---------------------------------------------------------------------------------------------------------
// Driver operations.

RioStatus openWriter(RCB* rcb) {
  if (rcb->width <= 0 || rcb->width > kMaxLineWidth) return kRioBadColumns;
  // Random access first: the entries are patched once the data are out.
  if (int32_t r = streamMakeSeekable(rcb->outStream)) return r;
  auto* st = rioNewState<TiffWriteState>(rcb->writerState);
  if (!st) return kRioOutOfMemory;
  const int64_t rowsPerStrip = configuredRowsPerStrip(rioSettings(rcb));
  switch (rcb->outFormat) {
    case kFormatTiff: st->compression = kGroup4; st->rowsPerStrip = INT64_MAX; break;
    case kFormatOptigraphics: case kFormatTiffPlain: st->compression = kGroup4; st->rowsPerStrip = rowsPerStrip; break;
    case kFormatTiffUncompressed: st->compression = kNone; st->rowsPerStrip = rowsPerStrip; break;
    case kFormatTiffG3: st->compression = kGroup3; st->rowsPerStrip = rowsPerStrip; break;
    default: st->compression = kGroup4; st->tiled = true; break;
  }
  st->encoder = FaxEncoder{};
  st->rowBytes = static_cast<int32_t>((int64_t{rcb->width} + 7) / 8);
  st->row = static_cast<uint32_t*>(rioCalloc(static_cast<size_t>(bitmapWords(rcb->width)), sizeof(uint32_t)));
  if (!st->row) return kRioOutOfMemory;
  if (RioStatus r = faxLinesAlloc(&st->lines, rcb->width)) return r;
  if (RioStatus r = addSegment(*st, 0, 0)) return r;  // the first 1000 entries
  st->count = 0;
  if (st->tiled) {
    const int32_t length = std::min(512, std::max(rcb->height, 1));
    st->tileLength = (length + 15) / 16 * 16;
    st->tilesAcross = static_cast<int32_t>((int64_t{rcb->width} + kWriteTileWidth - 1) / kWriteTileWidth);
    st->band = AllocTPicture(st->tileLength, st->tilesAcross * kWriteTileWidth);
    if (!st->band) return kRioOutOfMemory;
    if (RioStatus r = faxLinesAlloc(&st->tileLines, kWriteTileWidth)) return r;
  }
  return kRioOk;
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
  if (RioStatus r = tiffWriteHeaderImpl(rcb, *st)) return rioSetError(rcb, r);
  return kRioOk;
}

RioStatus tiffAllocSlines(RCB* rcb) {
  int32_t compression = kGroup4;
  if (rcb->writing && isTiffId(rcb->outFormat)) {
    if (auto* w = rioState<TiffWriteState>(rcb->writerState)) compression = w->compression;
    // Group 4 strips code each row against the one above it.
    if (compression != kNone) return rioAllocSlinePair(rcb);
  }
  if (rcb->reading && readsId(rcb->inFormat))
    if (auto* r = rioState<TiffReadState>(rcb->readerState)) compression = r->compression;
  switch (compression) {
    case kNone: case kPackBits: return rioAllocSline(rcb);
    case kCcittRle: case kGroup3: case kGroup4: return rioAllocSlinePair(rcb);
    default: return rioSetError(rcb, kRioNotImplemented);
  }
}

RioStatus tiffReadSline(RCB* rcb) {
  auto* st = rioState<TiffReadState>(rcb->readerState);
  if (!st || !st->segments || !rcb->curSline) return rioSetError(rcb, kRioInternal);
  if (rcb->linesRead >= rcb->height) return kRioEndOfPage;
  const int64_t row = rcb->linesRead;
  const int64_t inSegment = row % st->tileLength;
  if (inSegment == 0) {
    const int64_t first = row / st->tileLength * st->tilesAcross;
    if (first + st->tilesAcross > st->segmentCount) return rioSetError(rcb, kRioBadHeader);
    for (int32_t c = 0; c < st->tilesAcross; ++c)
      if (RioStatus r = startSegment(rcb, *st, c, first + c)) return rioSetError(rcb, r);
  }
  int32_t* line = rcb->curSline;
  line[0] = line[1] = kSlineEnd;
  int32_t* tail = line;
  const bool invert = st->photometric == 1;
  for (int32_t c = 0; c < st->tilesAcross; ++c) {
    Segment& seg = st->segments[c];
    if (st->tiled && !streamSelectWindow(rcb->inStream, c)) return rioSetError(rcb, kRioInternal);
    if (RioStatus r = decodeSegmentRow(rcb, *st, seg)) return r;
    const int64_t left = int64_t{c} * st->tileWidth;
    const auto visible = static_cast<int32_t>(std::min<int64_t>(st->tileWidth, rcb->width - left));
    segmentRuns(seg.cur, st->scratch, visible, invert);
    tail = rioAppendSline(tail, st->scratch, static_cast<int32_t>(left));
    std::swap(seg.cur, seg.ref);
  }
  return kRioOk;
}

RioStatus tiffWriteSline(RCB* rcb) {
  auto* st = rioState<TiffWriteState>(rcb->writerState);
  if (!st || !rcb->outStream || !rcb->curSline) return rioSetError(rcb, kRioInternal);
  const RioStatus r = st->tiled ? writeTileRow(rcb, *st) : writeStripRow(rcb, *st);
  return r ? rioSetError(rcb, r) : kRioOk;
}

RioStatus tiffFinishWrite(RCB* rcb) {
  auto* st = rioState<TiffWriteState>(rcb->writerState);
  if (!st || !rcb->outStream) return rioSetError(rcb, kRioInternal);
  if (st->finished) return st->finishStatus;
  st->finished = true;
  st->finishStatus = finishImpl(rcb, *st);
  return st->finishStatus ? rioSetError(rcb, st->finishStatus) : kRioOk;
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

// Every TIFF starts with its byte order, "II" or "MM"; the header reader checks the rest.
RasterFormatId probeTiff(const uint8_t* b, RioStatus*) {
  return (b[0] == 'I' && b[1] == 'I') || (b[0] == 'M' && b[1] == 'M') ? kFormatTiff : 0;
}

}  // namespace vantrel
