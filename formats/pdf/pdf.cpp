// PDF/A-2b (id 35, output only): PDF 1.7, each page one Group 4 image mask drawn over the whole page. The
// file is written front to back and never sought: every stream's length is an indirect object written
// after the stream, the page tree and the cross-reference table come last, from offsets counted while
// writing, so the output may be a pipe. The document objects (catalog, metadata, output intent with its
// grey profile, information dictionary) go out with the first page; each page adds its image, the
// image's length, its content stream and its page object. A page whose code the run offered
// (rio/carried_code.h) gets that code copied unchanged instead of its lines coded.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "formats/common/byte_io.h"
#include "formats/common/fax_lines.h"
#include "formats/pdf/pdf.h"
#include "formats/pages.h"
#include "formats/registry.h"

namespace vantrel {
namespace {

using namespace pdf;

// Fixed object numbers of the document; each page takes kObjectsPerPage after them.
constexpr int32_t kCatalog = 1, kPageTree = 2, kMetadata = 3, kOutputIntent = 4, kProfile = 5, kInfo = 6,
                  kFirstPageObject = 7;
// A page's objects, from its first.
constexpr int32_t kPageObject = 0, kImageObject = 1, kImageLength = 2, kContents = 3, kObjectsPerPage = 4;

// PDF/A's page limits in default user space units; a larger or smaller page sets /UserUnit.
constexpr double kMaxPageUnits = 14400;
constexpr double kMinPageUnits = 3;
constexpr double kDefaultDpi = 200;

struct PdfWriteState {
  FaxLineWriter fax;
  int64_t start = 0;           // the output position of the header
  int64_t* offsets = nullptr;  // by object number; 0 = not written yet
  int32_t capacity = 0;
  int32_t objects = kFirstPageObject;  // the next object number
  int32_t* pages = nullptr;            // the page objects, for the page tree
  int32_t pageCount = 0;
  int32_t pageCapacity = 0;
  PdfDates dates{};
  uint8_t id[16] = {};
  bool documentStarted = false;
  // The page being written.
  bool carrying = false;
  int32_t pageBase = 0;
  int64_t imageStart = 0;
  double unit = 1;  // /UserUnit
  double widthUnits = 0, heightUnits = 0;
  RioStatus finishStatus = kRioOk;
  bool finished = false;

  PdfWriteState() = default;
  PdfWriteState(const PdfWriteState&) = delete;
  PdfWriteState& operator=(const PdfWriteState&) = delete;
  ~PdfWriteState() {
    rioFree(offsets);
    rioFree(pages);
  }
};

PdfWriteState* stateOf(RCB* rcb) { return rioState<PdfWriteState>(rcb->writerState); }

RioStatus put(RasterStream* s, const char* format, ...) __attribute__((format(printf, 2, 3)));
RioStatus put(RasterStream* s, const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n < 0 || n >= static_cast<int>(sizeof text)) return kRioInternal;
  return writeAll(s, text, n);
}

// A real number as PDF writes it: at most four decimals, no trailing zeros.
struct Real {
  char text[32];
  explicit Real(double v) {
    std::snprintf(text, sizeof text, "%.4f", v);
    char* end = text + std::strlen(text);
    while (end[-1] == '0') *--end = '\0';
    if (end[-1] == '.') end[-1] = '\0';
  }
};

int64_t position(const PdfWriteState& st, RasterStream* s) { return streamTell(s) - st.start; }

// Grows the offset table to hold object numbers below `needed`.
RioStatus reserveObjects(PdfWriteState& st, int32_t needed) {
  if (needed <= st.capacity) return kRioOk;
  const int32_t capacity = std::max(needed, st.capacity * 2 + 16);
  auto* grown = static_cast<int64_t*>(rioRealloc(st.offsets, static_cast<size_t>(capacity) * sizeof(int64_t)));
  if (!grown) return kRioOutOfMemory;
  std::fill(grown + st.capacity, grown + capacity, int64_t{0});
  st.offsets = grown;
  st.capacity = capacity;
  return kRioOk;
}

RioStatus beginObject(PdfWriteState& st, RasterStream* s, int32_t number) {
  if (number <= 0 || number >= st.capacity) return kRioInternal;
  st.offsets[number] = position(st, s);
  return put(s, "%d 0 obj\n", number);
}

// A stream object whose data are known whole: its dictionary entries, the data, the end.
RioStatus writeStreamObject(PdfWriteState& st, RasterStream* s, int32_t number, const char* entries,
                            const void* data, size_t size) {
  if (RioStatus r = beginObject(st, s, number)) return r;
  if (RioStatus r = put(s, "<< %s /Length %zu >>\nstream\n", entries, size)) return r;
  if (RioStatus r = writeAll(s, data, static_cast<int64_t>(size))) return r;
  return put(s, "\nendstream\nendobj\n");
}

// The date the file states: the settings' (seconds since 1970, for reproducible output), else now.
std::time_t creationTime(const RioSettings& settings) {
  const std::string& text = settings.sourceDate;
  if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos)
    return std::time(nullptr);
  return static_cast<std::time_t>(std::stoll(text));
}

// The header and the objects every document has, before its first page.
RioStatus startDocument(RCB* rcb, PdfWriteState& st) {
  RasterStream* s = rcb->outStream;
  st.start = streamTell(s);
  if (RioStatus r = reserveObjects(st, kFirstPageObject + kObjectsPerPage)) return r;
  st.dates = formatDates(creationTime(rioSettings(rcb)));
  fileIdentifier(st.dates, rcb->width, rcb->height, rcb->xDpi, rcb->yDpi, st.id);
  // The comment line of bytes above 127 marks the file as binary.
  if (RioStatus r = put(s, "%%PDF-1.7\n%%\xE2\xE3\xCF\xD3\n")) return r;

  if (RioStatus r = beginObject(st, s, kCatalog)) return r;
  if (RioStatus r = put(s, "<< /Type /Catalog /Pages %d 0 R /Metadata %d 0 R /OutputIntents [%d 0 R] >>\nendobj\n",
                        kPageTree, kMetadata, kOutputIntent))
    return r;

  char xmp[kXmpCapacity];
  const size_t xmpSize = buildXmp(xmp, sizeof xmp, st.dates);
  if (xmpSize == 0) return kRioInternal;
  if (RioStatus r = writeStreamObject(st, s, kMetadata, "/Type /Metadata /Subtype /XML", xmp, xmpSize)) return r;

  if (RioStatus r = beginObject(st, s, kOutputIntent)) return r;
  if (RioStatus r = put(s,
                        "<< /Type /OutputIntent /S /GTS_PDFA1 /OutputConditionIdentifier (Custom) "
                        "/Info (Grey, gamma 2.2) /DestOutputProfile %d 0 R >>\nendobj\n",
                        kProfile))
    return r;

  uint8_t profile[kGreyProfileCapacity];
  const size_t profileSize = buildGreyProfile(profile, sizeof profile);
  if (profileSize == 0) return kRioInternal;
  if (RioStatus r = writeStreamObject(st, s, kProfile, "/N 1", profile, profileSize)) return r;

  if (RioStatus r = beginObject(st, s, kInfo)) return r;
  if (RioStatus r = put(s, "<< /Producer (%s) /CreationDate (%s) /ModDate (%s) >>\nendobj\n", kProducer,
                        st.dates.info, st.dates.info))
    return r;
  st.documentStarted = true;
  return kRioOk;
}

// The page's size in default user space units, and the /UserUnit that keeps both sides within PDF/A's
// limits. A page whose sides cannot both be brought within them is refused.
RioStatus pageGeometry(const RCB* rcb, PdfWriteState& st) {
  const double width = rcb->width * 72.0 / rcb->xDpi;
  const double height = rcb->height * 72.0 / rcb->yDpi;
  const double longer = std::max(width, height), shorter = std::min(width, height);
  // Any unit from lowest to highest keeps the page within the limits; a hair of room absorbs rounding.
  const double lowest = longer / kMaxPageUnits * (1 + 1e-9);
  const double highest = shorter / kMinPageUnits * (1 - 1e-9);
  if (!(lowest <= highest)) return rcb->width >= rcb->height ? kRioBadColumns : kRioBadRows;
  st.unit = std::clamp(1.0, lowest, highest);
  st.widthUnits = width / st.unit;
  st.heightUnits = height / st.unit;
  return kRioOk;
}

// The page's image XObject up to its data: a Group 4 image mask of the page's size (pageGeometry first).
RioStatus startPage(RCB* rcb, PdfWriteState& st) {
  RasterStream* s = rcb->outStream;
  st.pageBase = st.objects;
  if (st.pageBase > INT32_MAX - 2 * kObjectsPerPage) return kRioBadRows;
  if (RioStatus r = reserveObjects(st, st.pageBase + kObjectsPerPage + 1)) return r;
  st.objects += kObjectsPerPage;

  st.carrying = rioAcceptCarriedCode(rcb, CarriedCoding::kGroup4);
  const bool blackIsZero = st.carrying && rcb->carried.blackIsZero;
  if (RioStatus r = beginObject(st, s, st.pageBase + kImageObject)) return r;
  if (RioStatus r = put(s,
                        "<< /Type /XObject /Subtype /Image /Width %d /Height %d /ImageMask true "
                        "/BitsPerComponent 1 /Interpolate false /Filter /CCITTFaxDecode /DecodeParms << /K -1 "
                        "/Columns %d /Rows %d /EndOfBlock false%s >> /Length %d 0 R >>\nstream\n",
                        rcb->width, rcb->height, rcb->width, rcb->height, blackIsZero ? " /BlackIs1 true" : "",
                        st.pageBase + kImageLength))
    return r;
  st.imageStart = position(st, s);
  if (!st.carrying) {
    st.fax.encoder = FaxEncoder{};
    linePairRestart(&st.fax.lines);
  }
  return kRioOk;
}

// Everything of the page after its image data: the stream's end and length, the content stream that
// draws the image over the whole page, the page object.
RioStatus endPage(RCB* rcb, PdfWriteState& st) {
  RasterStream* s = rcb->outStream;
  const int32_t base = st.pageBase;
  const int64_t length = position(st, s) - st.imageStart;
  if (RioStatus r = put(s, "\nendstream\nendobj\n")) return r;
  if (RioStatus r = beginObject(st, s, base + kImageLength)) return r;
  if (RioStatus r = put(s, "%lld\nendobj\n", static_cast<long long>(length))) return r;

  const Real w(st.widthUnits), h(st.heightUnits);
  char contents[128];
  const int n = std::snprintf(contents, sizeof contents, "q\n%s 0 0 %s 0 0 cm\n/Im1 Do\nQ\n", w.text, h.text);
  if (n <= 0 || n >= static_cast<int>(sizeof contents)) return kRioInternal;
  if (RioStatus r = writeStreamObject(st, s, base + kContents, "", contents, static_cast<size_t>(n))) return r;

  if (RioStatus r = beginObject(st, s, base + kPageObject)) return r;
  char unit[48] = "";
  if (st.unit != 1) std::snprintf(unit, sizeof unit, " /UserUnit %.9g", st.unit);
  if (RioStatus r = put(s,
                        "<< /Type /Page /Parent %d 0 R /MediaBox [0 0 %s %s]%s /Resources << /XObject << /Im1 %d 0 R "
                        ">> >> /Contents %d 0 R >>\nendobj\n",
                        kPageTree, w.text, h.text, unit, base + kImageObject, base + kContents))
    return r;

  if (st.pageCount == st.pageCapacity) {
    const int32_t capacity = st.pageCapacity * 2 + 8;
    auto* grown = static_cast<int32_t*>(rioRealloc(st.pages, static_cast<size_t>(capacity) * sizeof(int32_t)));
    if (!grown) return kRioOutOfMemory;
    st.pages = grown;
    st.pageCapacity = capacity;
  }
  st.pages[st.pageCount++] = base + kPageObject;
  return kRioOk;
}

// The page tree, the cross-reference table and the trailer.
RioStatus endDocument(RCB* rcb, PdfWriteState& st) {
  RasterStream* s = rcb->outStream;
  if (RioStatus r = beginObject(st, s, kPageTree)) return r;
  if (RioStatus r = put(s, "<< /Type /Pages /Count %d /Kids [", st.pageCount)) return r;
  for (int32_t i = 0; i < st.pageCount; ++i)
    if (RioStatus r = put(s, i % 8 == 7 ? "%d 0 R\n" : "%d 0 R ", st.pages[i])) return r;
  if (RioStatus r = put(s, "] >>\nendobj\n")) return r;

  const int64_t xref = position(st, s);
  if (RioStatus r = put(s, "xref\n0 %d\n0000000000 65535 f\r\n", st.objects)) return r;
  for (int32_t i = 1; i < st.objects; ++i)
    if (RioStatus r = put(s, "%010lld 00000 n\r\n", static_cast<long long>(st.offsets[i]))) return r;
  char id[33];
  for (int i = 0; i < 16; ++i) std::snprintf(id + 2 * i, 3, "%02X", st.id[i]);
  return put(s, "trailer\n<< /Size %d /Root %d 0 R /Info %d 0 R /ID [<%s> <%s>] >>\nstartxref\n%lld\n%%%%EOF\n",
             st.objects, kCatalog, kInfo, id, id, static_cast<long long>(xref));
}

RioStatus pdfOpen(RCB* rcb) {
  if (rcb->reading && !rcb->writing) return rioSetError(rcb, kRioNotImplemented);
  if (!rcb->writing || rcb->outFormat != kFormatPdf) return kRioOk;
  // A page without pixels has no image to draw.
  if (rcb->width <= 0) return rioSetError(rcb, kRioBadColumns);
  if (rcb->height <= 0) return rioSetError(rcb, kRioBadRows);
  auto* st = rioNewState<PdfWriteState>(rcb->writerState);
  if (!st) return rioSetError(rcb, kRioOutOfMemory);
  if (RioStatus r = linePairAlloc(&st->fax.lines, rcb->width)) return rioSetError(rcb, r);
  return kRioOk;
}

RioStatus pdfWriteHeader(RCB* rcb) {
  PdfWriteState* st = stateOf(rcb);
  if (!st || !rcb->outStream) return rioSetError(rcb, kRioInternal);
  if (!(rcb->xDpi > 0)) rcb->xDpi = kDefaultDpi;
  if (!(rcb->yDpi > 0)) rcb->yDpi = kDefaultDpi;
  // A page that cannot be stated is refused before anything is written.
  if (RioStatus r = pageGeometry(rcb, *st)) return rioSetError(rcb, r);
  // A later page may be wider or narrower than the one before it.
  if (st->fax.lines.width != rcb->width)
    if (RioStatus r = linePairAlloc(&st->fax.lines, rcb->width)) return rioSetError(rcb, r);
  if (!st->documentStarted)
    if (RioStatus r = startDocument(rcb, *st)) return rioSetError(rcb, r);
  if (RioStatus r = startPage(rcb, *st)) return rioSetError(rcb, r);
  return kRioOk;
}

RioStatus pdfAllocSlines(RCB* rcb) { return rioAllocSlinePair(rcb); }

RioStatus pdfWriteSline(RCB* rcb) {
  PdfWriteState* st = stateOf(rcb);
  if (!st) return rioSetError(rcb, kRioInternal);
  if (rcb->linesWritten >= rcb->height) return rioSetError(rcb, kRioBadRows);
  if (st->carrying) return kRioOk;  // the reader decodes the line; its code is copied at the end
  return g4WriteSline(rcb, &st->fax);
}

// The page's image data to their end, then the page. A page cut short, or a run that failed, ends here:
// its output is dropped.
RioStatus finishPage(RCB* rcb, PdfWriteState& st) {
  // A reader sharing the RCB leaves the end of its page (-1) there.
  if (rcb->status != kRioOk && rcb->status != kRioEndOfPage) return rcb->status;
  if (rcb->linesWritten != rcb->height) return kRioBadRows;
  if (st.carrying) {
    int64_t copied = 0;
    if (RioStatus r = rioCopyCarriedCode(rcb->carried, rcb->outStream, &copied)) return r;
  } else if (RioStatus r = g4FinishWrite(rcb, &st.fax)) {
    return r;
  }
  return endPage(rcb, st);
}

RioStatus pdfFinishWrite(RCB* rcb) {
  PdfWriteState* st = stateOf(rcb);
  if (!st || st->finished) return kRioOk;
  st->finished = true;
  // A page closed before its first line has written nothing: it is refused, not made a blank page.
  if (!rcb->headerWritten) {
    st->finishStatus = rcb->status != kRioOk ? rcb->status : kRioBadRows;
  } else {
    st->finishStatus = finishPage(rcb, *st);
    if (st->finishStatus == kRioOk) st->finishStatus = endDocument(rcb, *st);
  }
  if (st->finishStatus != kRioOk) rioSetError(rcb, st->finishStatus);
  return st->finishStatus;
}

// Ends a page of a document of several; the next line starts the next page.
RioStatus pdfEndPage(RCB* rcb) {
  PdfWriteState* st = stateOf(rcb);
  if (!st || st->finished) return rioSetError(rcb, kRioInternal);
  if (!rcb->headerWritten) return rioSetError(rcb, rcb->status != kRioOk ? rcb->status : kRioBadRows);
  if (RioStatus r = finishPage(rcb, *st)) {
    st->finished = true;
    st->finishStatus = r;
    return rioSetError(rcb, r);
  }
  return kRioOk;
}

RioStatus pdfClose(RCB* rcb) {
  if (!rcb->writing || rcb->outFormat != kFormatPdf) return kRioOk;
  const PdfWriteState* st = stateOf(rcb);
  return st ? rioFromStreamResult(st->finishStatus) : kRioOk;
}

}  // namespace

extern const PageOps kPdfPages = {nullptr, nullptr, pdfEndPage};

extern const FormatDriver kPdfDriver = {
    pdfOpen,          rioDriverNotImplemented, pdfWriteHeader, pdfAllocSlines,
    rioDriverNotImplemented, pdfWriteSline,   rioDriverNotImplemented, rioDriverNotImplemented,
    rioDriverNothing, pdfFinishWrite,          pdfClose,
};

}  // namespace vantrel
