// PostScript writer (id 9): a small program drawing every black run as a horizontal segment, one unit of
// 1/300 inch per pixel whatever the resolution, the top row at y = height and each following row one unit
// lower, the whole drawing shifted 75 units right and up. Numbers are formatted here, never by printf, so
// the process locale cannot change them.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "formats/registry.h"

namespace vantrel {
namespace {
constexpr int32_t kMaxRows = 4800;  // 16 inches at 300 units per inch

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
  const char* data() const { return begin_; }
  int32_t size() const { return static_cast<int32_t>(cur_ - begin_); }
  int32_t room() const { return static_cast<int32_t>(end_ - cur_); }
  void clear() { cur_ = begin_; }

 private:
  char* begin_;
  char* cur_;
  char* end_;
};

bool put(RCB* rcb, const char* data, int32_t n) {
  return streamWrite(rcb->outStream, data, n) == n;
}
bool put(RCB* rcb, const char* text) {
  return put(rcb, text, static_cast<int32_t>(std::strlen(text)));
}
bool put(RCB* rcb, const LineBuilder& line) {
  return put(rcb, line.data(), line.size());
}

// A resolution as the prolog's integer: truncated, held to the int32 range, 0 when not a number.
int64_t dpiInteger(double dpi) {
  if (!(dpi == dpi)) return 0;
  return static_cast<int64_t>(std::trunc(std::clamp(dpi, -2147483648.0, 2147483647.0)));
}

RioStatus postscriptOpen(RCB* rcb) {
  if (!rcb->writing || rcb->outFormat != kFormatPostScript) return rioSetError(rcb, kRioNotImplemented);
  return kRioOk;
}

// A short write of a line carrying numbers stops the prolog at once; one of the fixed lines is noticed
// after the last line. Either way the status is -8.
RioStatus postscriptWriteHeader(RCB* rcb) {
  char buffer[96];
  LineBuilder line(buffer, sizeof buffer);
  bool fixedLost = false;
  fixedLost |= !put(rcb, "%!PS-Adobe-2.0\n");
  fixedLost |= !put(rcb, "%%Creator: ZEB Gridwright\n");
  fixedLost |= !put(rcb, "%%EndComments\n");
  line.text("%% ").number(rcb->height).text(" ").number(rcb->width).text(" rows x cols\n");
  if (!put(rcb, line)) return rioSetError(rcb, kRioStreamIo);
  line.clear();
  line.text("%% ").number(dpiInteger(rcb->xDpi)).text(" ").number(dpiInteger(rcb->yDpi)).text(" x y\n");
  if (!put(rcb, line)) return rioSetError(rcb, kRioStreamIo);
  line.clear();
  line.text("%% ").number(rcb->xExtent).text(" ").number(rcb->yExtent).text(" xe ye\n");
  if (!put(rcb, line)) return rioSetError(rcb, kRioStreamIo);
  fixedLost |= !put(rcb, "0.24 0.24 scale\n");
  line.clear();
  line.text("/y ").number(rcb->height).text(" def\n");
  if (!put(rcb, line)) return rioSetError(rcb, kRioStreamIo);
  fixedLost |= !put(rcb, "/n { stroke newpath /y y 1 sub def 0 y moveto } def\n");
  fixedLost |= !put(rcb, "/l { 0 rmoveto 0 rlineto } def\n");
  if (!put(rcb, "75.000000 75.000000 translate\n")) return rioSetError(rcb, kRioStreamIo);
  fixedLost |= !put(rcb, "newpath 0 y moveto\n");
  if (fixedLost) return rioSetError(rcb, kRioStreamIo);
  return kRioOk;
}

RioStatus postscriptAllocSlines(RCB* rcb) {
  return rioAllocSline(rcb);
}

// Each run [s, e) becomes "length gap l " with the gap measured from P, where the previous segment ended
// (P = 0 at the start of the row, e - 1 after each run): l moves right by the gap and draws the length, so
// every run is stroked from s - 1 to e - 1. Runs are clipped to the width first.
RioStatus postscriptWriteSline(RCB* rcb) {
  const int32_t* runs = rcb->curSline;
  if (!runs) return rioSetError(rcb, kRioInternal);
  if (rcb->linesWritten >= kMaxRows) {
    rioSetWarning(rcb, kRioBadRows);
    return kRioOk;
  }
  char buffer[2048];
  LineBuilder line(buffer, sizeof buffer);
  constexpr int32_t kLongestCommand = 2 * 20 + 4;
  int64_t previousEnd = 0;
  const int64_t maxRuns = rcb->slineBytes / 8 - 1;  // pairs the line buffer can hold
  for (int64_t i = 0; i < maxRuns && runs[0] != kSlineEnd; ++i, runs += 2) {
    const int64_t s = std::max(runs[0], 0);
    const int64_t e = std::min(runs[1], rcb->width);
    if (s >= e) continue;
    if (line.room() < kLongestCommand) {
      if (!put(rcb, line)) return rioSetError(rcb, kRioStreamIo);
      line.clear();
    }
    line.number(e - s).text(" ").number(s - previousEnd - 1).text(" l ");
    previousEnd = e - 1;
  }
  if (line.size() && !put(rcb, line)) return rioSetError(rcb, kRioStreamIo);
  if (!put(rcb, "n\n")) return kRioStreamIo;
  return kRioOk;
}

// The trailer; a page that received no line still gets its prolog first. The core does not use the
// result, so a short write here surfaces through the stream's close.
RioStatus postscriptFinishWrite(RCB* rcb) {
  if (!rcb->headerWritten) {
    rcb->headerWritten = true;
    if (RioStatus r = postscriptWriteHeader(rcb)) return r;
  }
  if (!put(rcb, "stroke showpage\n")) return kRioStreamIo;
  return kRioOk;
}

}  // namespace

extern const FormatDriver kPostScriptDriver = {
    postscriptOpen, rioDriverRefuses, postscriptWriteHeader, postscriptAllocSlines, rioDriverRefuses,
    postscriptWriteSline, rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNotImplemented,
    postscriptFinishWrite, rioDriverNothing,
};

}  // namespace vantrel
