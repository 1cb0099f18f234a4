// The written TIFF: the header with the maker string, the first page's little-endian directory with the
// values that do not fit an entry right behind it, and, after the data, the strip or tile tables and the
// entries that depend on the data, patched in place. A later page's directory follows its data and tables,
// written whole, and the link of the page before it is patched to point to it.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "formats/common/byte_io.h"
#include "formats/tiff/tiff.h"

namespace vantrel::tiff {
namespace {

constexpr char kMaker[] = "ZEB Corporation";  // 15 characters and the NUL: 16 bytes at kMakerOffset
constexpr uint32_t kMakerOffset = 8;
constexpr int64_t kDirectoryOffset = 24;
constexpr uint32_t kUnitInch = 2;
constexpr uint32_t kSubfilePage = 2;  // NewSubfileType: one page of a document of several
constexpr int32_t kMaxPageNumber = 0xFFFF;  // PageNumber holds shorts

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
  putLe16(p, e.tag);
  putLe16(p + 2, e.type);
  putLe32(p + 4, e.count);
  if (e.inlineText) {
    std::memcpy(p + 8, e.text, 4);
  } else if (e.type == kShort && e.count <= 2) {
    putLe16(p + 8, e.value & 0xFFFF);
    putLe16(p + 10, e.value >> 16);
  } else {
    putLe32(p + 8, e.value);
  }
}

// Names taken from a "Tiff" extra-header block: document name, page name, page numbers, description.
struct CarriedNames {
  const char* document = "";
  int32_t documentLength = 0;
  const char* page = "";
  int32_t pageLength = 0;
  int32_t pageNumber[2] = {0, 0};
  const char* description = "";
  int32_t descriptionLength = 0;
};

CarriedNames carriedNames(const RCB* rcb) {
  CarriedNames out;
  if (!rcb->extraHeader || rcb->extraHeaderLength <= 0) return out;
  const auto* p = reinterpret_cast<const char*>(rcb->extraHeader);
  const int64_t n = rcb->extraHeaderLength;
  const char* part[6] = {"", "", "", "", "", ""};
  int32_t length[6] = {};
  int64_t at = 0;
  for (int i = 0; i < 6 && at < n; ++i) {
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
  out.description = part[5];
  out.descriptionLength = length[5];
  for (int i = 0; i < 2; ++i) {
    char digits[16] = {};
    std::memcpy(digits, part[3 + i], static_cast<size_t>(std::min(length[3 + i], 15)));
    out.pageNumber[i] = static_cast<int32_t>(std::strtol(digits, nullptr, 10));
  }
  return out;
}

RioStatus padToEven(RasterStream* s) {
  static const uint8_t zero = 0;
  return (streamTell(s) & 1) ? writeAll(s, &zero, 1) : kRioOk;
}

// One page's directory as it is written: the entries, and the values behind it that do not fit an entry.
struct Directory {
  OutEntry entries[24];
  int32_t n = 0;
  uint32_t rational[4][2] = {};
  CarriedNames names;
  int32_t documentEntry = -1, descriptionEntry = -1, pageEntry = -1;
  int64_t end = 0;  // the position after the values
};

// The directory of the page in the RCB at `offset`; the entries that depend on the data are placeholders
// (their indexes in st). Resolutions of 0 become 200 in the RCB first.
RioStatus buildDirectory(RCB* rcb, TiffWriteState& st, int64_t offset, Directory* d) {
  if (!(rcb->xDpi > 0) || !std::isfinite(rcb->xDpi)) rcb->xDpi = 200;
  if (!(rcb->yDpi > 0) || !std::isfinite(rcb->yDpi)) rcb->yDpi = 200;
  if (!tiffRational(rcb->xDpi, &d->rational[0][0], &d->rational[0][1]) ||
      !tiffRational(rcb->yDpi, &d->rational[1][0], &d->rational[1][1]))
    return kRioInternal;
  tiffRational(0, &d->rational[2][0], &d->rational[2][1]);
  tiffRational(0, &d->rational[3][0], &d->rational[3][1]);
  d->names = carriedNames(rcb);
  const CarriedNames& names = d->names;

  OutEntry* entries = d->entries;
  int32_t& n = d->n;
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
  // Pages of a document of several are marked so (NewSubfileType bit 1) and numbered from 0.
  const bool ofSeveral = rcb->pagesToWrite > 1;
  add(kTagNewSubfileType, kLong, 1, ofSeveral ? kSubfilePage : 0);
  add(kTagImageWidth, kLong, 1, static_cast<uint32_t>(rcb->width));
  st.entryImageLength = add(kTagImageLength, kLong, 1, static_cast<uint32_t>(std::max(rcb->height, 0)));
  add(kTagBitsPerSample, kShort, 1, 1);
  add(kTagCompression, kShort, 1, static_cast<uint32_t>(st.compression));
  add(kTagPhotometric, kShort, 1, 0);
  if (names.documentLength > 0) d->documentEntry = addText(kTagDocumentName, names.document, names.documentLength);
  if (names.descriptionLength > 0)
    d->descriptionEntry = addText(kTagImageDescription, names.description, names.descriptionLength);
  if (!st.tiled) st.entryOffsets = add(kTagStripOffsets, kLong, 1, 0);
  // The orientation a reader carried (a TIFF's, or a CALS rorient); the usual one is not stated.
  for (int32_t v = 2; v <= 8; ++v)
    if (rcb->rorient[0] == kOrientationRorient[v][0] && rcb->rorient[1] == kOrientationRorient[v][1])
      add(kTagOrientation, kShort, 1, static_cast<uint32_t>(v));
  if (!st.tiled) {
    st.entryRowsPerStrip = add(kTagRowsPerStrip, kLong, 1, 0);
    st.entryByteCounts = add(kTagStripByteCounts, kLong, 1, 0);
  }
  int32_t rationalEntry[4];
  rationalEntry[0] = add(kTagXResolution, kRational, 1, 0);
  rationalEntry[1] = add(kTagYResolution, kRational, 1, 0);
  if (names.pageLength > 0) d->pageEntry = addText(kTagPageName, names.page, names.pageLength);
  rationalEntry[2] = add(kTagXPosition, kRational, 1, 0);
  rationalEntry[3] = add(kTagYPosition, kRational, 1, 0);
  if (st.compression == kCompressionGroup4) add(kTagT6Options, kLong, 1, 0);
  add(kTagResolutionUnit, kShort, 1, kUnitInch);
  if (ofSeveral) {
    const auto page = static_cast<uint32_t>(std::min(rcb->pageWritten, kMaxPageNumber));
    const auto pages = static_cast<uint32_t>(std::min(rcb->pagesToWrite, kMaxPageNumber));
    add(kTagPageNumber, kShort, 2, page | (pages << 16));
  } else if (names.pageNumber[0] != 0 || names.pageNumber[1] != 0) {
    add(kTagPageNumber, kShort, 2,
        (static_cast<uint32_t>(names.pageNumber[0]) & 0xFFFF) |
            (static_cast<uint32_t>(names.pageNumber[1]) << 16));
  }
  add(kTagArtist, kAscii, sizeof kMaker, kMakerOffset);
  if (st.tiled) {
    add(kTagTileWidth, kLong, 1, kWriteTileWidth);
    add(kTagTileLength, kLong, 1, static_cast<uint32_t>(st.band.tileLength));
    st.entryOffsets = add(kTagTileOffsets, kLong, 1, 0);
    st.entryByteCounts = add(kTagTileByteCounts, kLong, 1, 0);
  }

  // Values behind the directory: the four rationals, then the long names, each on an even offset.
  int64_t at = offset + 2 + 12 * n + 4;
  for (int i = 0; i < 4; ++i) {
    entries[rationalEntry[i]].value = static_cast<uint32_t>(at);
    at += 8;
  }
  for (int32_t i : {d->documentEntry, d->descriptionEntry, d->pageEntry}) {
    if (i < 0 || entries[i].inlineText) continue;
    entries[i].value = static_cast<uint32_t>(at);
    at += entries[i].count + (entries[i].count & 1);
  }
  d->end = at;
  if (at > UINT32_MAX) return kRioInternal;  // no 32-bit offset reaches it
  st.directoryOffset = offset;
  st.entryCount = n;
  return kRioOk;
}

// The directory and its values at the stream's position (the offset it was built for).
RioStatus writeDirectory(RasterStream* s, const Directory& d) {
  uint8_t directory[2 + 12 * 24 + 4] = {};
  putLe16(directory, static_cast<uint32_t>(d.n));
  for (int32_t i = 0; i < d.n; ++i) encodeEntry(d.entries[i], directory + 2 + 12 * i);
  if (RioStatus r = writeAll(s, directory, 2 + 12 * d.n + 4)) return r;
  uint8_t values[32];
  for (int i = 0; i < 4; ++i) {
    putLe32(values + 8 * i, d.rational[i][0]);
    putLe32(values + 8 * i + 4, d.rational[i][1]);
  }
  if (RioStatus r = writeAll(s, values, sizeof values)) return r;
  const struct {
    int32_t entry;
    const char* text;
  } texts[] = {{d.documentEntry, d.names.document},
               {d.descriptionEntry, d.names.description},
               {d.pageEntry, d.names.page}};
  for (const auto& t : texts) {
    if (t.entry < 0 || d.entries[t.entry].inlineText) continue;
    const uint8_t zeros[2] = {0, 0};
    if (RioStatus r = writeAll(s, t.text, d.entries[t.entry].count - 1)) return r;
    if (RioStatus r = writeAll(s, zeros, 1 + (d.entries[t.entry].count & 1))) return r;
  }
  return streamTell(s) == d.end ? kRioOk : kRioInternal;
}

RioStatus writeTables(RasterStream* s, const OffsetTable& table, OutEntry* offsets, OutEntry* counts) {
  offsets->count = counts->count = static_cast<uint32_t>(table.count);
  if (table.count == 1) {
    offsets->value = table.offsets[0];
    counts->value = table.byteCounts[0];
    return kRioOk;
  }
  if (RioStatus r = padToEven(s)) return r;
  for (OutEntry* entry : {offsets, counts}) {
    const int64_t at = streamTell(s);
    if (at > UINT32_MAX) return kRioInternal;
    entry->value = static_cast<uint32_t>(at);
    const TableColumns columns = entry == offsets ? TableColumns::kOffsets : TableColumns::kByteCounts;
    if (RioStatus r = offsetTableWrite(table, s, columns, false)) return r;
  }
  return kRioOk;
}

RioStatus patchEntry(RasterStream* s, const TiffWriteState& st, int32_t index, const OutEntry& e) {
  uint8_t bytes[12];
  encodeEntry(e, bytes);
  return patchAt(s, st.directoryOffset + 2 + 12 * int64_t{index}, bytes, 12);
}

}  // namespace

RioStatus writeHeader(RCB* rcb, TiffWriteState& st) {
  // A later page's directory follows its data, once every value is known.
  if (st.previousLink >= 0) return kRioOk;
  RasterStream* s = rcb->outStream;
  Directory d;
  if (RioStatus r = buildDirectory(rcb, st, kDirectoryOffset, &d)) return r;
  uint8_t head[kDirectoryOffset] = {'I', 'I', 42, 0, static_cast<uint8_t>(kDirectoryOffset), 0, 0, 0};
  std::memcpy(head + kMakerOffset, kMaker, sizeof kMaker);
  if (RioStatus r = writeAll(s, head, sizeof head)) return r;
  return writeDirectory(s, d);
}

RioStatus writeTablesAndPatch(RCB* rcb, TiffWriteState& st) {
  RasterStream* s = rcb->outStream;
  const int64_t rows = std::max(rcb->linesWritten, 0);
  OutEntry offsets{st.tiled ? kTagTileOffsets : kTagStripOffsets, kLong, 0, 0, {}, false};
  OutEntry counts{st.tiled ? kTagTileByteCounts : kTagStripByteCounts, kLong, 0, 0, {}, false};
  if (RioStatus r = writeTables(s, st.table, &offsets, &counts)) return r;
  if (rows > UINT32_MAX) return kRioInternal;
  if (rows == 0) return kRioBadRows;  // ImageLength 0 is no page (libtiff refuses it)
  const OutEntry length{kTagImageLength, kLong, 1, static_cast<uint32_t>(rows), {}, false};
  const int64_t perStrip = st.table.count == 1 ? rows : st.rowsPerStrip;
  const OutEntry rowsPerStrip{kTagRowsPerStrip, kLong, 1, static_cast<uint32_t>(std::min<int64_t>(perStrip, UINT32_MAX)),
                              {}, false};
  if (st.previousLink < 0) {
    // The first page's directory stands after the file header: its entries are patched in place.
    if (RioStatus r = patchEntry(s, st, st.entryImageLength, length)) return r;
    if (RioStatus r = patchEntry(s, st, st.entryOffsets, offsets)) return r;
    if (RioStatus r = patchEntry(s, st, st.entryByteCounts, counts)) return r;
    if (!st.tiled)
      if (RioStatus r = patchEntry(s, st, st.entryRowsPerStrip, rowsPerStrip)) return r;
    return kRioOk;
  }
  // A later page's directory goes after its tables, on an even offset, whole; the page before links to it.
  if (RioStatus r = padToEven(s)) return r;
  Directory d;
  const int64_t at = streamTell(s);
  if (RioStatus r = buildDirectory(rcb, st, at, &d)) return r;
  d.entries[st.entryImageLength] = length;
  d.entries[st.entryOffsets] = offsets;
  d.entries[st.entryByteCounts] = counts;
  if (!st.tiled) d.entries[st.entryRowsPerStrip] = rowsPerStrip;
  if (RioStatus r = writeDirectory(s, d)) return r;
  uint8_t link[4];
  putLe32(link, static_cast<uint32_t>(at));
  return patchBuffered(s, st.previousLink, link, 4);
}

}  // namespace vantrel::tiff
