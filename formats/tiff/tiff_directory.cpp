// Parsing an image file directory of a TIFF: byte order, the entries by tag, the layout of strips
// or tiles checked against the page, and the extra-header block that carries the names to a writer.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "formats/common/byte_io.h"
#include "formats/tiff/tiff.h"
#include "rio/alloc.h"

namespace vantrel::tiff {

TiffReadState::~TiffReadState() {
  rioFree(stripOffsets);
  rioFree(stripByteCounts);
  rioFree(tileOffsets);
  rioFree(tileByteCounts);
}

namespace {

constexpr int32_t kMaxTileColumns = 65536;  // read windows the stream offers
constexpr int32_t kMinTileSide = 16;
constexpr int64_t kMaxShortTiles = int64_t{1} << 16;

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

  // A single short or long, whichever of the two the writer chose; a tag that is a short takes a long whose
  // value fits 16 bits.
  RioStatus scalar(const Entry& e, int64_t* v, bool allowLong = true) {
    if (e.count != 1) return kRioBadHeader;
    if (e.type == kShort)
      *v = get16(e.value, st_->bigEndian);
    else if (e.type == kLong)
      *v = get32(e.value, st_->bigEndian);
    else
      return kRioBadHeader;
    if (!allowLong && *v > 0xFFFF) return kRioBadHeader;
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

  // A rational as its quotient; a zero denominator is bad data, or (positions) gives 0.
  RioStatus rational(const Entry& e, double* v, bool zeroIsBad) {
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
    *v = static_cast<double>(n) / static_cast<double>(d);
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

  // A two-entry colour map (1-bit palette): whether entry 0 is darker than entry 1 by luminance.
  RioStatus colourMap(const Entry& e) {
    if (e.type != kShort) return kRioBadHeader;
    if (e.count != 6) return kRioOk;  // not a 1-bit map; the bit depth check refuses such an image
    const uint8_t* bytes = nullptr;
    uint8_t* buffer = nullptr;
    if (RioStatus r = valueBytes(e, &bytes, &buffer)) return r;
    double luminance[2];
    for (int i = 0; i < 2; ++i)
      luminance[i] = 0.299 * get16(bytes + 2 * i, st_->bigEndian) + 0.587 * get16(bytes + 4 + 2 * i, st_->bigEndian) +
                     0.114 * get16(bytes + 8 + 2 * i, st_->bigEndian);
    rioFree(buffer);
    st_->paletteZeroDarker = luminance[0] < luminance[1];
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
    case kTagNewSubfileType:
      if (RioStatus r = scalar(e, &v)) return r;
      if (v & 7) rioSetWarning(rcb_, kRioReducedImage);
      return kRioOk;
    case kTagSubfileType:
      if (RioStatus r = scalar(e, &v, false)) return r;
      if (v == 2 || v == 3) rioSetWarning(rcb_, kRioReducedImage);
      return v >= 1 && v <= 3 ? kRioOk : kRioBadHeader;
    case kTagImageWidth:
      if (RioStatus r = scalar(e, &v)) return r;
      rcb_->width = static_cast<int32_t>(std::min<int64_t>(rcb_->width, v));
      st.seenWidth = true;
      return kRioOk;
    case kTagImageLength:
      if (RioStatus r = scalar(e, &v)) return r;
      rcb_->height = static_cast<int32_t>(std::min<int64_t>(rcb_->height, v));
      st.seenLength = true;
      return kRioOk;
    case kTagBitsPerSample:
      if (e.count > 1) {
        // One value a sample: a colour image, judged (and described) once every entry is read.
        uint32_t* values = nullptr;
        int64_t count = 0;
        if (RioStatus r = table(e, &values, &count)) return r;
        st.bitsPerSample = values[0];
        st.bitsPerSampleValues = count;
        rioFree(values);
        return kRioOk;
      }
      [[fallthrough]];
    case kTagSamplesPerPixel:
      if (RioStatus r = scalar(e, &v, false)) return r;
      (e.tag == kTagBitsPerSample ? st.bitsPerSample : st.samplesPerPixel) = v;
      return kRioOk;  // judged with the photometric once every entry is read
    case kTagCompression:
      if (RioStatus r = scalar(e, &v, false)) return r;
      switch (v) {
        case kCompressionNone: case kCompressionCcittRle: case kCompressionGroup3: case kCompressionGroup4:
        case kCompressionLzw: case kCompressionDeflate: case kCompressionPackBits: case kCompressionOldDeflate:
          break;
        default: return kRioBadHeader;
      }
      st.compression = static_cast<int32_t>(v);
      st.seenCompression = true;
      return kRioOk;
    case kTagPhotometric:
      if (RioStatus r = scalar(e, &v, false)) return r;
      st.photometricStated = v;
      if (v == 0 || v == 1 || v == kPhotometricPalette) st.photometric = static_cast<int32_t>(v);
      return kRioOk;
    case kTagColorMap:
      return colourMap(e);
    case kTagPredictor:
      if (RioStatus r = scalar(e, &v, false)) return r;
      st.predictor = static_cast<int32_t>(v);
      return kRioOk;
    case kTagCellWidth: case kTagCellLength: case kTagGrayResponseUnit: case kTagGrayResponseCurve:
    case kTagTransferFunction: case kTagWhitePoint: case kTagPrimaryChromaticities:
      st.nonBilevelTags = true;  // nothing a one-bit image uses
      return kRioOk;
    case kTagFillOrder:
      if (RioStatus r = scalar(e, &v, false)) return r;
      if (v != 1 && v != 2) return kRioBadHeader;
      st.fillReversed = v == 2;
      return kRioOk;
    case kTagDocumentName:
      st.seenDocumentName = true;
      return ascii(e, st.documentName);
    case kTagImageDescription:
      st.carriesTexts = true;
      return ascii(e, st.imageDescription);
    case kTagOrientation:
      // Carried to the writer as the RCB's CALS orientation; a value outside 1..8, or of another type than
      // SHORT or LONG (some writers store a BYTE), is left out: it is no reason to refuse the pixels.
      if (scalar(e, &v, false) == kRioOk && v >= 1 && v <= 8) {
        rcb_->rorient[0] = kOrientationRorient[v][0];
        rcb_->rorient[1] = kOrientationRorient[v][1];
      }
      return kRioOk;
    case kTagStripOffsets:
      st.seenStripOffsets = true;
      return table(e, &st.stripOffsets, &st.stripOffsetCount);
    case kTagRowsPerStrip:
      if (RioStatus r = scalar(e, &v)) return r;
      st.rowsPerStrip = v;
      return kRioOk;
    case kTagStripByteCounts:
      st.seenStripByteCounts = true;
      return table(e, &st.stripByteCounts, &st.stripCountCount);
    case kTagMinSampleValue:
      if (RioStatus r = scalar(e, &v, false)) return r;
      return v == 0 ? kRioOk : kRioBadHeader;
    case kTagXResolution:
      return rational(e, &st.xResolution, true);
    case kTagYResolution:
      return rational(e, &st.yResolution, true);
    case kTagPlanarConfiguration:
      if (RioStatus r = scalar(e, &v, false)) return r;
      return v == 1 ? kRioOk : kRioBadHeader;
    case kTagPageName:
      st.carriesTexts = true;
      return ascii(e, st.pageName);
    case kTagXPosition:
      return rational(e, &st.xPosition, false);
    case kTagYPosition:
      return rational(e, &st.yPosition, false);
    case kTagT4Options:
      if (RioStatus r = scalar(e, &v)) return r;
      st.t4Options = static_cast<int32_t>(std::min<int64_t>(v, INT32_MAX));
      return kRioOk;
    case kTagT6Options:
      if (RioStatus r = scalar(e, &v)) return r;
      st.t6Options = static_cast<int32_t>(std::min<int64_t>(v, INT32_MAX));
      return kRioOk;
    case kTagResolutionUnit:
      if (RioStatus r = scalar(e, &v, false)) return r;
      if (v < 1 || v > 3) return kRioBadHeader;
      st.unit = static_cast<int32_t>(v);
      return kRioOk;
    case kTagPageNumber: {
      // Two shorts; a lone value is the page number alone.
      if (e.count == 1) {
        if (RioStatus r = scalar(e, &v, false)) return r;
        st.pageNumber[0] = static_cast<int32_t>(v);
        return kRioOk;
      }
      if (e.type != kShort || e.count != 2) return kRioBadHeader;
      st.pageNumber[0] = get16(e.value, st.bigEndian);
      st.pageNumber[1] = get16(e.value + 2, st.bigEndian);
      return kRioOk;
    }
    case kTagTileWidth:
      if (RioStatus r = scalar(e, &v)) return r;
      if (v <= 0 || v > kMaxLineWidth) return kRioBadHeader;
      st.tileWidth = static_cast<int32_t>(v);
      st.seenTileWidth = true;
      return kRioOk;
    case kTagTileLength:
      if (RioStatus r = scalar(e, &v)) return r;
      if (v <= 0 || v > INT32_MAX) return kRioBadHeader;
      st.tileLength = static_cast<int32_t>(v);
      st.seenTileLength = true;
      return kRioOk;
    case kTagTileOffsets:
      st.seenTileOffsets = true;
      return table(e, &st.tileOffsets, &st.tileOffsetCount);
    case kTagTileByteCounts:
      st.seenTileByteCounts = true;
      return table(e, &st.tileByteCounts, &st.tileCountCount);
    default:
      return kRioOk;
  }
}

// Checks the tables against the page: strips or tiles, their counts and offsets.
RioStatus finishLayout(RCB* rcb, TiffReadState& st) {
  const int64_t width = rcb->width;
  const int64_t height = rcb->height;
  if (st.seenTileWidth || st.seenTileLength || st.seenTileOffsets || st.seenTileByteCounts) {
    st.offsets = st.tileOffsets;
    st.byteCounts = st.tileByteCounts;
    if (!st.seenTileWidth || !st.seenTileLength || !st.seenTileOffsets || !st.seenTileByteCounts)
      return kRioBadHeader;
    // Tiles are at least 16 pixels wide (or one spans the page): narrower ones only multiply the work of
    // every row. Shorter tiles than 16 rows are read as libtiff reads them, on a page of at most 2^16 tiles,
    // since every tile costs its own start.
    if (st.tileWidth < std::min<int64_t>(kMinTileSide, width)) return kRioBadHeader;
    st.tiled = true;
    st.tilesAcross = static_cast<int32_t>((width + st.tileWidth - 1) / st.tileWidth);
    st.tilesDown = static_cast<int32_t>((height + st.tileLength - 1) / st.tileLength);
    if (st.tilesAcross > kMaxTileColumns) return kRioBadHeader;
    const int64_t tiles = int64_t{st.tilesAcross} * std::max(st.tilesDown, 1);
    if (st.tileLength < std::min<int64_t>(kMinTileSide, height) && tiles > kMaxShortTiles) return kRioBadHeader;
    if (st.tileOffsetCount != tiles || st.tileCountCount != tiles) return kRioBadHeader;
    st.segmentCount = tiles;
  } else {
    st.offsets = st.stripOffsets;
    st.byteCounts = st.stripByteCounts;
    if (!st.seenStripOffsets || !st.seenStripByteCounts) return kRioBadHeader;
    if (st.rowsPerStrip == 0) return kRioBadHeader;
    int64_t rows = st.rowsPerStrip < 0 || st.rowsPerStrip >= height ? std::max<int64_t>(height, 1)
                                                                     : st.rowsPerStrip;
    int64_t strips = std::max<int64_t>((height + rows - 1) / rows, 1);
    // Tables of another length than RowsPerStrip gives: the tables decide, when they split the page into
    // strips of equal rows (the last one shorter) and agree with each other.
    if (st.stripOffsetCount != strips && st.stripOffsetCount > 0 && st.stripOffsetCount == st.stripCountCount) {
      strips = st.stripOffsetCount;
      rows = std::max<int64_t>((height + strips - 1) / strips, 1);
      if ((height + rows - 1) / rows != strips) return kRioBadHeader;
    }
    if (st.stripOffsetCount != strips || st.stripCountCount != strips) return kRioBadHeader;
    st.segmentCount = strips;
    st.tileWidth = static_cast<int32_t>(width);
    st.tileLength = static_cast<int32_t>(std::min<int64_t>(rows, INT32_MAX));
    st.tilesAcross = 1;
    st.tilesDown = static_cast<int32_t>(strips);
  }
  for (int64_t i = 0; i < st.segmentCount; ++i)
    if (st.offsets[i] == 0 || st.offsets[i] > st.fileSize) return kRioBadHeader;
  return kRioOk;
}

RioStatus buildExtraHeader(RCB* rcb, const TiffReadState& st) {
  char numbers[2][16];
  std::snprintf(numbers[0], sizeof numbers[0], "%d", st.pageNumber[0]);
  std::snprintf(numbers[1], sizeof numbers[1], "%d", st.pageNumber[1]);
  // The description is a sixth part only when there is one, so a block without it stays as it was.
  const char* parts[] = {"Tiff", st.documentName, st.pageName, numbers[0], numbers[1], st.imageDescription};
  const size_t partCount = st.imageDescription[0] != '\0' ? 6 : 5;
  size_t total = 0;
  for (size_t i = 0; i < partCount; ++i) total += std::strlen(parts[i]) + 1;
  auto* block = static_cast<uint8_t*>(rioMalloc(total));
  if (!block) return kRioOutOfMemory;
  size_t at = 0;
  for (size_t i = 0; i < partCount; ++i) {
    const char* p = parts[i];
    const size_t n = std::strlen(p) + 1;
    std::memcpy(block + at, p, n);
    at += n;
  }
  return rioAttachExtraHeader(rcb, block, static_cast<int32_t>(total));
}

// A grey or colour image is refused in words a user acts on: what the file holds and what is read.
RioStatus checkBilevel(RCB* rcb, const TiffReadState& st) {
  static constexpr const char* kPhotometricNames[] = {"min-is-white", "min-is-black", "RGB", "palette",
                                                      "transparency mask", "separated (CMYK)", "YCbCr"};
  const int64_t samples = std::max(st.samplesPerPixel, st.bitsPerSampleValues);
  const bool multiBit = st.bitsPerSample != 1 || samples != 1;
  const bool colour = st.photometricStated == 2 || st.photometricStated == 4;
  if (!multiBit && !colour) return kRioOk;
  const int64_t p = st.photometricStated;
  std::string photometric = p < 0 ? "no photometric" : "photometric " + std::to_string(p);
  if (p >= 0 && p <= 6) photometric += std::string(" (") + kPhotometricNames[p] + ")";
  const std::string text = "bits per sample " + std::to_string(st.bitsPerSample) + ", samples per pixel " +
                           std::to_string(samples) + ", " + photometric +
                           ": not a bilevel image; only 1 bit per sample and 1 sample per pixel are read";
  rioInputDetail(rcb, text);
  return multiBit ? kRioBadHeader : kRioNotImplemented;
}

}  // namespace

void TiffReadState::clearPage() {
  const bool keepBigEndian = bigEndian;
  const int64_t keepFileSize = fileSize, keepFirst = firstDirectory, keepCurrent = directory;
  const int32_t keepPage = page, keepCount = pageCount;
  this->~TiffReadState();
  new (this) TiffReadState();
  bigEndian = keepBigEndian;
  fileSize = keepFileSize;
  firstDirectory = keepFirst;
  directory = keepCurrent;
  page = keepPage;
  pageCount = keepCount;
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
  st.firstDirectory = get32(head + 4, st.bigEndian);
  if (st.firstDirectory < 8) return kRioBadHeader;  // inside the file header itself
  return readPageDirectory(rcb, st, st.firstDirectory);
}

RioStatus readPageDirectory(RCB* rcb, TiffReadState& st, int64_t directory) {
  st.directory = directory;
  DirectoryReader reader(rcb, &st);
  uint8_t countBytes[2];
  if (RioStatus r = reader.readAt(directory, countBytes, 2)) return r;
  const int64_t entries = get16(countBytes, st.bigEndian);
  if (entries == 0) return kRioBadHeader;
  // The next directory's offset follows the entries; a chain cut off there ends with this page.
  uint8_t link[4];
  st.nextDirectory = reader.readAt(directory + 2 + entries * 12, link, 4) == kRioOk ? get32(link, st.bigEndian) : 0;
  auto* block = static_cast<uint8_t*>(rioMalloc(static_cast<size_t>(entries * 12)));
  if (!block) return kRioOutOfMemory;
  RioStatus status = reader.readAt(directory + 2, block, entries * 12);
  uint64_t seen[65536 / 64] = {};  // a repeated tag keeps its first value
  for (int64_t i = 0; status == kRioOk && i < entries; ++i) {
    const uint8_t* p = block + 12 * i;
    const Entry e{get16(p, st.bigEndian), get16(p + 2, st.bigEndian), get32(p + 4, st.bigEndian), p + 8};
    uint64_t& word = seen[e.tag / 64];
    const uint64_t bit = uint64_t{1} << (e.tag % 64);
    if (word & bit) continue;
    word |= bit;
    status = reader.handle(e);
  }
  rioFree(block);
  if (status != kRioOk) return status;
  if (RioStatus r = checkBilevel(rcb, st)) return r;

  if (!st.seenWidth || !st.seenLength) return kRioBadHeader;
  if (rcb->width <= 0 || rcb->width > kMaxLineWidth) return kRioBadColumns;
  if (st.compression == kCompressionGroup3 && st.t4Options >= 0) {
    if (st.t4Options > 7) return kRioBadHeader;
    if (st.t4Options & 2) return kRioNotImplemented;  // uncompressed mode
  }
  const bool byteCoded = st.compression == kCompressionLzw || st.compression == kCompressionDeflate ||
                         st.compression == kCompressionOldDeflate;
  if (byteCoded && st.predictor != 1) return kRioNotImplemented;  // differences between pixels
  if (st.compression == kCompressionGroup4 && st.t6Options > 3) return kRioBadHeader;
  const double unitScale = st.unit == kUnitCentimetre ? 2.54 : 1.0;
  if (st.xResolution >= 0) rcb->xDpi = st.xResolution * unitScale;
  if (st.yResolution >= 0) rcb->yDpi = st.yResolution * unitScale;
  st.xPosition *= unitScale;
  st.yPosition *= unitScale;
  if (RioStatus r = finishLayout(rcb, st)) return r;
  if (RioStatus r = prepareRows(rcb, st)) return r;
  if (st.seenDocumentName || st.carriesTexts) return buildExtraHeader(rcb, st);
  return kRioOk;
}

// ---------------------------------------------------------------------------------------------------------
// Reading rows.

}  // namespace vantrel::tiff
