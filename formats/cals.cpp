// CALS Type 1 Group 4 (id 6): sixteen 128-byte text records, then one T.6 image (end-of-block code at the
// end, zero bits to a whole word, most significant bit first). Records are taken by position; each value
// starts two characters after the record's first colon.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "formats/common/fax_lines.h"
#include "formats/registry.h"

namespace vantrel {
namespace {
constexpr int kRecordSize = 128;
constexpr int kRecordCount = 16;
constexpr int kHeaderSize = kRecordSize * kRecordCount;
constexpr int kTextRecords = 11;  // records after the eleventh are blank
// "Cals" and seven record texts, each with its terminator.
constexpr int32_t kExtraCapacity = 5 + 7 * (kRecordSize + 1);
constexpr int32_t kMaxPelCount = 999999;
constexpr int32_t kMaxDensity = 9999;
constexpr int32_t kMaxOrient = 999;

struct CalsReadState {
  FaxLineReader fax;
};

struct CalsWriteState {
  FaxLineWriter fax;
};

// The identification records: record number (1-based), keyword and the RCB text they carry.
struct IdRecord {
  int number;
  const char* keyword;
  CalsText text;
};
constexpr IdRecord kIdRecords[] = {
    {1, "srcdocid", CalsText::kSrcdocid}, {2, "dstdocid", CalsText::kDstdocid},
    {3, "txtfilid", CalsText::kTxtfilid}, {4, "figid", CalsText::kFigid},
    {5, "srcgph", CalsText::kSrcgph},     {6, "doccls", CalsText::kDoccls},
    {11, "notes", CalsText::kNotes},
};

int textWidth(CalsText t) { return kCalsTextWidth[static_cast<int>(t)]; }

RioStatus calsOpen(RCB* rcb) {
  if (rcb->reading && rcb->inFormat == kFormatCals && !rioNewState<CalsReadState>(rcb->readerState))
    return rioSetError(rcb, kRioOutOfMemory);
  if (rcb->writing && rcb->outFormat == kFormatCals) {
    // The pel count record holds six digits a side: a larger page is refused before anything is written,
    // never coded at a size its header does not state.
    if (rcb->width > kMaxPelCount) return rioSetError(rcb, kRioBadColumns);
    if (rcb->height > kMaxPelCount) return rioSetError(rcb, kRioBadRows);
    auto* st = rioNewState<CalsWriteState>(rcb->writerState);
    if (!st) return rioSetError(rcb, kRioOutOfMemory);
    st->fax.encoder = FaxEncoder{};  // empty accumulator, most significant bit first
    if (RioStatus r = linePairAlloc(&st->fax.lines, rcb->width)) return rioSetError(rcb, r);
  }
  return kRioOk;
}

// ---------------------------------------------------------------------------------------------------------
// Reading.

// One record as text: at most 128 characters (an embedded NUL ends it early).
struct Record {
  char text[kRecordSize + 1];
  int length;
  int value;  // index of the value: two characters after the first colon, or -1 without a colon
};

void splitRecord(Record* r) {
  r->text[kRecordSize] = '\0';
  r->length = static_cast<int>(strnlen(r->text, kRecordSize));
  const char* colon = static_cast<const char*>(std::memchr(r->text, ':', static_cast<size_t>(r->length)));
  r->value = colon ? std::min(static_cast<int>(colon - r->text) + 2, r->length) : -1;
}

int trimmedLength(const char* s, int n) {
  while (n > 0 && s[n - 1] == ' ') --n;
  return n;
}

// A whole number in the manner of "%ld", held to the int32 range; false without digits.
bool parseDensity(const char* s, int64_t* out) {
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(s, &end, 10);
  if (end == s) return false;
  *out = std::clamp<long long>(v, INT32_MIN, INT32_MAX);
  return true;
}

RioStatus checkOrientation(RCB* rcb, const Record& r) {
  if (r.value < 0) return rioSetError(rcb, kRioBadHeader);
  int rotation = 0;
  int direction = 0;
  if (std::sscanf(r.text + r.value, "%3d,%3d", &rotation, &direction) != 2) return rioSetError(rcb, kRioBadHeader);
  if (rotation != 0 && rotation != 90 && rotation != 180 && rotation != 270) rioSetWarning(rcb, kRioBadHeader);
  if (direction != 90 && direction != 270) rioSetWarning(rcb, kRioBadHeader);
  rcb->rorient[0] = rotation;
  rcb->rorient[1] = direction;
  return kRioOk;
}

RioStatus checkPelCount(RCB* rcb, const Record& r) {
  if (r.value < 0) return rioSetError(rcb, kRioBadHeader);
  int pels = 0;
  int lines = 0;
  if (std::sscanf(r.text + r.value, "%6d,%6d", &pels, &lines) != 2) return rioSetError(rcb, kRioBadHeader);
  if (pels <= 0 || pels > rcb->width) return rioSetError(rcb, kRioBadColumns);
  if (lines < 0 || lines > rcb->height) return rioSetError(rcb, kRioBadRows);
  if (pels % 8 != 0) rioSetWarning(rcb, kRioBadColumns);
  rcb->width = pels;
  rcb->height = lines;
  return kRioOk;
}

RioStatus checkDensity(RCB* rcb, const Record& r) {
  if (r.value < 0) return rioSetError(rcb, kRioBadHeader);
  int64_t density = 0;
  if (!parseDensity(r.text + r.value, &density)) return rioSetError(rcb, kRioBadHeader);
  switch (density) {
    case 200: case 240: case 300: case 400: case 600: case 1200: break;
    default: rioSetWarning(rcb, kRioBadHeader);
  }
  // A resolution cannot be negative: such a file has an unknown one.
  const double dpi = density > 0 ? static_cast<double>(density) : 0.0;
  rcb->xDpi = dpi;
  rcb->yDpi = dpi;
  return kRioOk;
}

RioStatus readHeaderRecords(RCB* rcb, uint8_t* extra, int32_t* extraLength) {
  int32_t used = 0;
  auto append = [&](const char* s, int n) {
    std::memcpy(extra + used, s, static_cast<size_t>(n));
    used += n;
    extra[used++] = '\0';
  };
  append("Cals", 4);
  for (int number = 1; number <= kRecordCount; ++number) {
    Record r;
    if (rioReadInput(rcb, r.text, kRecordSize) != kRecordSize) return rioSetError(rcb, kRioStreamIo);
    if (number > kTextRecords) continue;
    splitRecord(&r);
    RioStatus s = kRioOk;
    switch (number) {
      case 7:
        if (r.value < 0) return rioSetError(rcb, kRioBadHeader);
        if (r.text[r.value] != '1') return rioSetError(rcb, kRioUnknownFormat);
        break;
      case 8: s = checkOrientation(rcb, r); break;
      case 9: s = checkPelCount(rcb, r); break;
      case 10: s = checkDensity(rcb, r); break;
      default: {
        const IdRecord* id = std::find_if(std::begin(kIdRecords), std::end(kIdRecords),
                                          [&](const IdRecord& x) { return x.number == number; });
        append(r.text, trimmedLength(r.text, r.length));
        char text[kRecordSize + 1] = {};
        if (r.value >= 0) {
          const int n = std::min(trimmedLength(r.text + r.value, r.length - r.value), textWidth(id->text));
          std::memcpy(text, r.text + r.value, static_cast<size_t>(n));
        }
        (void)rioSetCalsText(rcb, id->text, text);
      }
    }
    if (s != kRioOk) return s;
  }
  *extraLength = used;
  return kRioOk;
}

RioStatus calsReadHeader(RCB* rcb) {
  auto* st = rioState<CalsReadState>(rcb->readerState);
  if (!st) return rioSetError(rcb, kRioInternal);
  auto* extra = static_cast<uint8_t*>(rioMalloc(kExtraCapacity));
  if (!extra) return rioSetError(rcb, kRioOutOfMemory);
  int32_t used = 0;
  if (RioStatus r = readHeaderRecords(rcb, extra, &used)) {
    rioFree(extra);
    return r;
  }
  if (auto* shrunk = static_cast<uint8_t*>(rioRealloc(extra, static_cast<size_t>(used)))) extra = shrunk;
  (void)rioAttachExtraHeader(rcb, extra, used);
  if (RioStatus r = linePairAlloc(&st->fax.lines, rcb->width)) return rioSetError(rcb, r);
  // The image is one Group 4 block from here to the end of the file.
  rcb->carried = CarriedCode{CarriedCoding::kGroup4, false, false, rcb->width, rcb->height,
                             streamTell(rcb->inStream), kCarriedToEnd};
  return kRioOk;
}

// ---------------------------------------------------------------------------------------------------------
// Writing.

// The strings of a "Cals" extra-header block, read within its stored length; a missing one is empty.
struct CalsStrings {
  const char* text[8] = {};
  int length[8] = {};
  bool valid = false;
};

CalsStrings splitExtraHeader(const RCB* rcb) {
  CalsStrings out;
  const auto* p = reinterpret_cast<const char*>(rcb->extraHeader);
  const int64_t n = rcb->extraHeader ? std::max(rcb->extraHeaderLength, 0) : 0;
  int64_t at = 0;
  for (int i = 0; i < 8; ++i) {
    out.text[i] = "";
    if (at >= n) continue;
    const auto len = static_cast<int64_t>(strnlen(p + at, static_cast<size_t>(n - at)));
    out.text[i] = p + at;
    out.length[i] = static_cast<int>(std::min<int64_t>(len, kRecordSize));
    at += len + 1;
  }
  out.valid = out.length[0] == 4 && std::memcmp(out.text[0], "Cals", 4) == 0;
  return out;
}

// Formats one record into exactly 128 bytes; anything else is a fault of this writer.
template <class... Args>
bool putRecord(char* dst, const char* format, Args... args) {
  char buf[kRecordSize + 1];
  const int n = std::snprintf(buf, sizeof buf, format, args...);
  if (n != kRecordSize) return false;
  std::memcpy(dst, buf, kRecordSize);
  return true;
}

bool putText(char* dst, const char* s, int length) {
  return putRecord(dst, "%-*.*s", kRecordSize, std::min(length, kRecordSize), s);
}

int32_t clampWithWarning(RCB* rcb, int64_t v, int32_t lo, int32_t hi) {
  if (v < lo || v > hi) rioSetWarning(rcb, kRioBadHeader);
  return static_cast<int32_t>(std::clamp<int64_t>(v, lo, hi));
}

void encodeHeader(RCB* rcb, char* h, bool* ok) {
  std::memset(h, ' ', kHeaderSize);
  const CalsStrings strings = splitExtraHeader(rcb);
  bool good = true;
  for (size_t i = 0; i < std::size(kIdRecords); ++i) {
    const IdRecord& id = kIdRecords[i];
    char* dst = h + (id.number - 1) * kRecordSize;
    if (strings.valid) {
      good &= putText(dst, strings.text[i + 1], strings.length[i + 1]);
    } else {
      const int w = textWidth(id.text);
      const char* value = rioGetCalsText(rcb, id.text);
      good &= putRecord(dst, "%s: %-*.*s", id.keyword, w, w, value);
    }
  }
  good &= putRecord(h + 6 * kRecordSize, "%-128.128s", "rtype: 1");

  if (rcb->rorient[1] == 0) {
    rcb->rorient[1] = 270;
    rioSetWarning(rcb, kRioBadHeader);
  }
  const int32_t rotation = clampWithWarning(rcb, rcb->rorient[0], 0, kMaxOrient);
  const int32_t direction = clampWithWarning(rcb, rcb->rorient[1], 0, kMaxOrient);
  good &= putRecord(h + 7 * kRecordSize, "rorient: %3.3d,%3.3d %-111.111s", rotation, direction, "");

  const int32_t pels = clampWithWarning(rcb, rcb->width, 0, kMaxPelCount);
  const int32_t lines = clampWithWarning(rcb, rcb->height, 0, kMaxPelCount);
  good &= putRecord(h + 8 * kRecordSize, "rpelcnt: %6.6ld,%6.6ld %-105.105s", static_cast<long>(pels),
                    static_cast<long>(lines), "");

  if (!(rcb->xDpi >= 0.1)) {
    rcb->xDpi = 400;
    rioSetWarning(rcb, kRioBadHeader);
  }
  const int64_t whole = rcb->xDpi < 1e12 ? static_cast<int64_t>(rcb->xDpi) : int64_t{1} << 40;
  const int32_t density = clampWithWarning(rcb, whole, 0, kMaxDensity);
  good &= putRecord(h + 9 * kRecordSize, "rdensty: %4.4d %-114.114s", density, "");
  *ok = good;
}

RioStatus calsWriteHeader(RCB* rcb) {
  if (!rioState<CalsWriteState>(rcb->writerState) || !rcb->outStream) return rioSetError(rcb, kRioInternal);
  char h[kHeaderSize];
  bool ok = false;
  encodeHeader(rcb, h, &ok);
  if (!ok) return rioSetError(rcb, kRioInternal);
  if (streamWrite(rcb->outStream, h, kHeaderSize) != kHeaderSize) return rioSetError(rcb, kRioStreamIo);
  return kRioOk;
}

RioStatus calsAllocSlines(RCB* rcb) { return rioAllocSlinePair(rcb); }

// The height is known from the header: once it is reached the page ends, so an image without its
// end-of-block code, or with bytes after it, reads whole.
RioStatus calsReadSline(RCB* rcb) {
  auto* st = rioState<CalsReadState>(rcb->readerState);
  if (!st) return rioSetError(rcb, kRioInternal);
  if (rcb->linesRead >= rcb->height) return kRioEndOfPage;
  return g4ReadSline(rcb, &st->fax);
}

RioStatus calsWriteSline(RCB* rcb) {
  auto* st = rioState<CalsWriteState>(rcb->writerState);
  if (!st) return rioSetError(rcb, kRioInternal);
  return g4WriteSline(rcb, &st->fax);
}

RioStatus calsFinishWrite(RCB* rcb) {
  auto* st = rioState<CalsWriteState>(rcb->writerState);
  if (!st) return rioSetError(rcb, kRioInternal);
  // A page closed before its first line still gets its header, so the file is well formed.
  if (!rcb->headerWritten) {
    rcb->headerWritten = true;
    if (RioStatus r = calsWriteHeader(rcb)) return r;
  }
  return g4FinishWrite(rcb, &st->fax);
}

RioStatus calsClose(RCB* rcb) {
  if (rcb->reading && rcb->inFormat == kFormatCals && rcb->linesRead != rcb->height) rioSetWarning(rcb, kRioBadRows);
  if (rcb->writing && rcb->outFormat == kFormatCals && rcb->linesWritten != rcb->height)
    rioSetWarning(rcb, kRioBadRows);
  return kRioOk;
}

}  // namespace

extern const FormatDriver kCalsDriver = {
    calsOpen, calsReadHeader, calsWriteHeader, calsAllocSlines, calsReadSline, calsWriteSline,
    rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNothing, calsFinishWrite, calsClose,
};

// A CALS file starts with its srcdocid record.
RasterFormatId probeCals(const uint8_t* b, RioStatus*) {
  return b[0] == 's' && b[1] == 'r' && b[2] == 'c' && b[3] == 'd' ? kFormatCals : 0;
}

}  // namespace vantrel
