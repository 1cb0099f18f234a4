// PostScript writer (id 9): a print-ready Level 2 program that follows the document structuring
// conventions. Each page is one imagemask of the page's Group 4 code, ASCII85-encoded so the file stays
// 7-bit text, one image pixel per device pixel at the image's resolution (200 dpi when unknown), on a
// page of the image's size. A document of several pages has one such page each, on its own size; its
// bounding box, the largest page's, goes in the trailer.
//
// Nothing is held: each line is coded as it comes into a small stream whose sink ASCII85-encodes every
// buffer of code into the output. The program reads the data through
// currentfile /ASCII85Decode filter /CCITTFaxDecode filter, which end at their own end marks, so the code
// length is never needed beforehand; after the image the rest of the data, up to "~>", is skipped.
// Numbers are formatted here, never by printf, so the process locale cannot change them.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "codec/fax.h"
#include "formats/common/line_pair.h"
#include "formats/common/raster_row.h"
#include "formats/pages.h"
#include "formats/registry.h"

namespace vantrel {
namespace {

constexpr int32_t kDataLineLength = 75;      // characters of ASCII85 data per line
constexpr double kPointsPerInch = 72;
constexpr double kLowestDpi = 1;             // resolutions outside these are unknown here
constexpr double kHighestDpi = 1e6;

// Appends text to a line being built; the buffers below are sized for their longest line.
class LineBuilder {
 public:
  LineBuilder(char* buffer, size_t size) : begin_(buffer), cur_(buffer), end_(buffer + size) {}
  LineBuilder& text(const char* s) {
    const size_t n = std::min(std::strlen(s), static_cast<size_t>(end_ - cur_));
    std::memcpy(cur_, s, n);
    cur_ += n;
    return *this;
  }
  LineBuilder& number(int64_t v) {
    cur_ = std::to_chars(cur_, end_, v).ptr;
    return *this;
  }
  // A real in fixed notation with at most `decimals` decimals, trailing zeros dropped.
  LineBuilder& real(double v, int decimals = 6) {
    char* start = cur_;
    cur_ = std::to_chars(cur_, end_, v, std::chars_format::fixed, decimals).ptr;
    if (std::find(start, cur_, '.') != cur_) {
      while (cur_[-1] == '0') --cur_;
      if (cur_[-1] == '.') --cur_;
    }
    return *this;
  }
  const char* data() const { return begin_; }
  int32_t size() const { return static_cast<int32_t>(cur_ - begin_); }

 private:
  char* begin_;
  char* cur_;
  char* end_;
};

bool put(RasterStream* out, const char* data, int32_t n) {
  return streamWrite(out, data, n) == n;
}
bool put(RCB* rcb, const LineBuilder& line) {
  return put(rcb->outStream, line.data(), line.size());
}
template <size_t N>
bool put(RCB* rcb, const char (&literal)[N]) {
  return put(rcb->outStream, literal, static_cast<int32_t>(N - 1));
}

// A resolution as the comment lines give it: truncated, held to the int32 range, 0 when not a number.
int64_t dpiInteger(double dpi) {
  if (!(dpi == dpi)) return 0;
  return static_cast<int64_t>(std::trunc(std::clamp(dpi, -2147483648.0, 2147483647.0)));
}

// ASCII85 of a byte stream in lines of kDataLineLength characters; a line never starts with "%", which
// would read as a comment to a document manager (a space goes in front, which the decoder skips).
class Ascii85Writer {
 public:
  // Encodes the bytes into `out`; false when the stream did not take everything.
  bool write(RasterStream* out, const uint8_t* data, size_t n) {
    Chars chars(out, column_);
    size_t i = 0;
    if (carried_ > 0) {
      while (carried_ < 4 && i < n) carry_[carried_++] = data[i++];
      if (carried_ < 4) return chars.finish(&column_);
      chars.group(carry_, 4);
      carried_ = 0;
    }
    for (; i + 4 <= n; i += 4) chars.group(data + i, 4);
    while (i < n) carry_[carried_++] = data[i++];
    return chars.finish(&column_);
  }
  // The last bytes as a short group, then the end mark "~>" on a line of its own.
  bool finish(RasterStream* out) {
    Chars chars(out, column_);
    if (carried_ > 0) chars.group(carry_, carried_);
    carried_ = 0;
    const bool ok = chars.finish(&column_);
    column_ = 0;
    return ok && put(out, "\n~>\n", 4);
  }

 private:

  // The characters of one call, collected in a buffer that goes out whenever it fills.
  class Chars {
   public:
    Chars(RasterStream* out, int32_t column) : out_(out), column_(column) {}
    // Five characters for four bytes ("z" for four zeros); n < 4 bytes (the end): n + 1 characters.
    void group(const uint8_t* b, int32_t n) {
      uint8_t padded[4] = {};
      std::memcpy(padded, b, static_cast<size_t>(n));
      uint32_t v = uint32_t{padded[0]} << 24 | uint32_t{padded[1]} << 16 | uint32_t{padded[2]} << 8 | padded[3];
      if (v == 0 && n == 4) {
        emit('z');
        return;
      }
      char c[5];
      for (int k = 4; k >= 0; --k, v /= 85) c[k] = static_cast<char>('!' + v % 85);
      for (int k = 0; k <= n; ++k) emit(c[k]);
    }
    bool finish(int32_t* column) {
      *column = column_;
      return flush() && ok_;
    }

   private:
    void emit(char c) {
      if (used_ + 3 > sizeof buffer_) ok_ = flush() && ok_;
      if (column_ == kDataLineLength) {
        buffer_[used_++] = '\n';
        column_ = 0;
      }
      if (column_ == 0 && c == '%') {
        buffer_[used_++] = ' ';
        ++column_;
      }
      buffer_[used_++] = c;
      ++column_;
    }
    bool flush() {
      const bool ok = put(out_, buffer_, static_cast<int32_t>(used_));
      used_ = 0;
      return ok;
    }

    RasterStream* out_;
    int32_t column_;
    char buffer_[4096];
    size_t used_ = 0;
    bool ok_ = true;
  };

  uint8_t carry_[4] = {};
  int32_t carried_ = 0;
  int32_t column_ = 0;
};

struct PostScriptState {
  FaxEncoder encoder;
  LinePair lines;
  Ascii85Writer text;
  RasterStream* out = nullptr;    // the RCB's output, where the text goes
  RasterStream* coded = nullptr;  // takes the Group 4 code; its sink is the ASCII85 writer
  bool imageOpen = false;         // the page's image data have begun and not yet ended
  double boxWidth = 0;            // points: the largest page's, for a document of several pages
  double boxHeight = 0;
  ~PostScriptState() {
    if (!coded) return;
    coded->cur = coded->base;  // a page given up sends nothing more
    (void)streamClose(coded);
  }
};

PostScriptState* stateOf(RCB* rcb) {
  return rioState<PostScriptState>(rcb->writerState);
}

size_t codeToText(const void* data, size_t size, size_t count, void* context) {
  auto* st = static_cast<PostScriptState*>(context);
  return st->text.write(st->out, static_cast<const uint8_t*>(data), size * count) ? count : 0;
}

RioStatus postscriptOpen(RCB* rcb) {
  if (!rcb->writing || rcb->outFormat != kFormatPostScript) return rioSetError(rcb, kRioNotImplemented);
  auto* st = rioNewState<PostScriptState>(rcb->writerState);
  if (!st) return rioSetError(rcb, kRioOutOfMemory);
  if (RioStatus r = linePairAlloc(&st->lines, std::max(rcb->width, 0))) return rioSetError(rcb, r);
  st->coded = streamOpen(nullptr, "w");
  if (!st->coded) return rioSetError(rcb, kRioOutOfMemory);
  if (!streamSetWriteCallback(st->coded, codeToText, st)) return rioSetError(rcb, kRioInternal);
  st->out = rcb->outStream;
  return kRioOk;
}

// The page in points at the image's resolution, each axis on its own.
struct PageSize {
  double xScale = 1;  // points per pixel
  double yScale = 1;
  double width = 0;   // points
  double height = 0;
};

PageSize pageSize(const RCB* rcb) {
  double xDpi = 0;
  double yDpi = 0;
  plotterDpi(rcb, &xDpi, &yDpi);
  PageSize p;
  p.xScale = kPointsPerInch / std::clamp(xDpi, kLowestDpi, kHighestDpi);
  p.yScale = kPointsPerInch / std::clamp(yDpi, kLowestDpi, kHighestDpi);
  p.width = std::max(rcb->width, 0) * p.xScale;
  p.height = std::max(rcb->height, 0) * p.yScale;
  return p;
}

// The procedure that draws a page's image: cols rows imagepage, the data following in the file.
constexpr char kProlog[] =
    "%%BeginProlog\n"
    "/imagepage { 4 dict begin /rows exch def /cols exch def\n"
    "/source currentfile /ASCII85Decode filter def\n"
    "/coded source << /K -1 /Columns cols /Rows rows >> /CCITTFaxDecode filter def\n"
    "<< /ImageType 1 /Width cols /Height rows /BitsPerComponent 1 /Decode [0 1]\n"
    "/ImageMatrix [1 0 0 -1 0 rows] /DataSource coded >> imagemask\n"
    "coded closefile source flushfile end } bind def\n"
    "%%EndProlog\n";

// The pages the document will hold: the count the caller gave, at least 1.
int32_t documentPages(const RCB* rcb) {
  return std::max(rcb->pagesToWrite, 1);
}

// The document's comments, the three comment lines callers read (rows x cols, x y, xe ye: the first
// page's) and the prolog. With several pages, the bounding box waits for the trailer.
bool writeDocumentHead(RCB* rcb, const PageSize& page) {
  char buffer[1024];
  LineBuilder head(buffer, sizeof buffer);
  const auto box = [&head, &page](const char* name, bool exact) -> LineBuilder& {
    head.text(name).text(" 0 0 ");
    if (exact) return head.real(page.width).text(" ").real(page.height).text("\n");
    return head.number(static_cast<int64_t>(std::ceil(page.width)))
        .text(" ")
        .number(static_cast<int64_t>(std::ceil(page.height)))
        .text("\n");
  };
  const int32_t pages = documentPages(rcb);
  head.text("%!PS-Adobe-3.0\n%%Creator: ZEB Gridwright\n");
  if (pages > 1) {
    head.text("%%BoundingBox: (atend)\n%%HiResBoundingBox: (atend)\n");
  } else {
    box("%%BoundingBox:", false);
    box("%%HiResBoundingBox:", true);
  }
  head.text("%%LanguageLevel: 2\n%%DocumentData: Clean7Bit\n");
  if (pages == 1)
    head.text("%%DocumentMedia: Drawing ").real(page.width).text(" ").real(page.height).text(" 0 () ()\n");
  head.text("%%Pages: ").number(pages).text("\n%%EndComments\n");
  head.text("%% ").number(rcb->height).text(" ").number(rcb->width).text(" rows x cols\n");
  head.text("%% ").number(dpiInteger(rcb->xDpi)).text(" ").number(dpiInteger(rcb->yDpi)).text(" x y\n");
  head.text("%% ").number(rcb->xExtent).text(" ").number(rcb->yExtent).text(" xe ye\n");
  return put(rcb, head) && put(rcb, kProlog);
}

// A page's comments and set-up, its size requested from the device (a device that cannot give it goes
// on with its own), and the start of its image unless the image is empty.
bool writePageHead(RCB* rcb, const PageSize& page, int32_t number) {
  char buffer[768];
  LineBuilder head(buffer, sizeof buffer);
  head.text("%%Page: ").number(number).text(" ").number(number).text("\n");
  head.text("%%PageBoundingBox: 0 0 ")
      .number(static_cast<int64_t>(std::ceil(page.width)))
      .text(" ")
      .number(static_cast<int64_t>(std::ceil(page.height)))
      .text("\n");
  head.text("%%BeginPageSetup\nmark { << /PageSize [").real(page.width).text(" ").real(page.height);
  head.text("] >> setpagedevice } stopped cleartomark\n%%EndPageSetup\nsave\n");
  if (rcb->width > 0 && rcb->height > 0) {
    head.real(page.xScale, 12).text(" ").real(page.yScale, 12).text(" scale\n");
    head.number(rcb->width).text(" ").number(rcb->height).text(" imagepage\n");
  }
  return put(rcb, head);
}

// The document's head before the first page; each page's head, its code starting on a white line.
RioStatus postscriptWriteHeader(RCB* rcb) {
  PostScriptState* st = stateOf(rcb);
  if (!st) return rioSetError(rcb, kRioInternal);
  const PageSize page = pageSize(rcb);
  const bool first = rcb->pageWritten == 0;
  if (!first) {
    if (RioStatus r = linePairAlloc(&st->lines, std::max(rcb->width, 0))) return rioSetError(rcb, r);
    faxEncoderRestart(&st->encoder);
  }
  st->boxWidth = std::max(st->boxWidth, page.width);
  st->boxHeight = std::max(st->boxHeight, page.height);
  if ((first && !writeDocumentHead(rcb, page)) || !writePageHead(rcb, page, rcb->pageWritten + 1))
    return rioSetError(rcb, kRioStreamIo);
  st->imageOpen = rcb->width > 0 && rcb->height > 0;
  return kRioOk;
}

RioStatus postscriptAllocSlines(RCB* rcb) {
  return rioAllocSline(rcb);
}

// The line in Group 4 against the line above it. Lines past the declared height are not part of the
// image: they are dropped with a warning.
RioStatus postscriptWriteSline(RCB* rcb) {
  PostScriptState* st = stateOf(rcb);
  if (!st || !rcb->curSline) return rioSetError(rcb, kRioInternal);
  if (!st->imageOpen) return kRioOk;
  if (rcb->linesWritten >= rcb->height) {
    rioSetWarning(rcb, kRioBadRows);
    return kRioOk;
  }
  LinePair& lines = st->lines;
  linePairTake(&lines, rcb->curSline, rcb->slineBytes / static_cast<int64_t>(sizeof(int32_t)) - 2);
  const RioStatus status = g4EncodeOwnLine(&st->encoder, st->coded, lines.width, lines.cur, lines.ref);
  linePairSwap(&lines);
  return status ? rioSetError(rcb, status) : kRioOk;
}

// White lines up to the declared height (a page that ended early, recorded as a warning), the end of the
// code and of its text, then the end of the page.
bool finishPage(RCB* rcb, PostScriptState* st) {
  bool ok = true;
  if (st->imageOpen) {
    st->imageOpen = false;
    LinePair& lines = st->lines;
    if (rcb->linesWritten < rcb->height) rioSetWarning(rcb, kRioBadRows);
    for (int64_t row = rcb->linesWritten; row < rcb->height && ok; ++row) {
      lines.cur[0] = lines.cur[1] = lines.cur[2] = kSlineEnd;
      ok = g4EncodeOwnLine(&st->encoder, st->coded, lines.width, lines.cur, lines.ref) == kRioOk;
      linePairSwap(&lines);
    }
    ok = ok && g4EncodeFinish(&st->encoder, st->coded) == kRioOk && streamFlush(st->coded) &&
         st->text.finish(st->out);
  }
  return ok && put(rcb, "restore\nshowpage\n%%PageTrailer\n");
}

// The last page's end, then the document's: with several pages, the bounding box of the largest.
RioStatus postscriptFinishWrite(RCB* rcb) {
  PostScriptState* st = stateOf(rcb);
  if (!st) return rioSetError(rcb, kRioInternal);
  if (!rcb->headerWritten) {
    rcb->headerWritten = true;
    if (RioStatus r = postscriptWriteHeader(rcb)) return r;
  }
  bool ok = finishPage(rcb, st) && put(rcb, "%%Trailer\n");
  if (ok && documentPages(rcb) > 1) {
    char buffer[256];
    LineBuilder tail(buffer, sizeof buffer);
    tail.text("%%BoundingBox: 0 0 ")
        .number(static_cast<int64_t>(std::ceil(st->boxWidth)))
        .text(" ")
        .number(static_cast<int64_t>(std::ceil(st->boxHeight)))
        .text("\n%%HiResBoundingBox: 0 0 ")
        .real(st->boxWidth)
        .text(" ")
        .real(st->boxHeight)
        .text("\n");
    ok = put(rcb, tail);
  }
  ok = ok && put(rcb, "%%EOF\n");
  return ok ? kRioOk : rioSetError(rcb, kRioStreamIo);
}

// Ends a page of a document of several; the next line starts the next page. A page that received no
// line is refused, not made a blank page.
RioStatus postscriptEndPage(RCB* rcb) {
  PostScriptState* st = stateOf(rcb);
  if (!st) return rioSetError(rcb, kRioInternal);
  if (!rcb->headerWritten) return rioSetError(rcb, rcb->status != kRioOk ? rcb->status : kRioBadRows);
  return finishPage(rcb, st) ? kRioOk : rioSetError(rcb, kRioStreamIo);
}

RioStatus postscriptClose(RCB* rcb) {
  rioReleaseState(rcb->writerState);
  return kRioOk;
}

}  // namespace

extern const PageOps kPostScriptPages = {nullptr, nullptr, postscriptEndPage};

extern const FormatDriver kPostScriptDriver = {
    postscriptOpen, rioDriverRefuses, postscriptWriteHeader, postscriptAllocSlines, rioDriverRefuses,
    postscriptWriteSline, rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNotImplemented,
    postscriptFinishWrite, postscriptClose,
};

}  // namespace vantrel
