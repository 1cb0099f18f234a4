// HP-GL/2 writer (id 29). Output only: every black run of every row becomes one pen-down stroke of a
// polyline-encoded command in 7-bit mode. Coordinate pairs are (row, column), one user unit per pixel;
// after the absolute move to (0, 0) every pair is relative to where the pen stopped.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "formats/common/raster_row.h"
#include "formats/registry.h"

namespace vantrel {
namespace {

constexpr double kPlotterUnitsPerInch = 1016;
constexpr double kMillimetresPerInch = 25.4;

constexpr char kPenUpFlag = '<';
constexpr char kZero = '_';               // the code of 0
constexpr char kOrigin[] = "__";          // absolute pen-up move to (0, 0)
constexpr char kTrailer[] = ";PUSP0PG;";  // close the polyline, pen up, pen away, next page
constexpr int kMaxNumberCode = 7;         // characters of the code of a 33-bit magnitude

// Where the pen stopped: the row of the last run drawn and the column of its end.
struct PenState {
  int64_t lastRow = 0;
  int64_t lastColumn = 0;
};

PenState* penState(RCB* rcb) {
  return rioState<PenState>(rcb->writerState);
}

// Polyline-encoded number, 7-bit mode: z = 2v (v >= 0) or 2|v| + 1, sent in base-32 digits, low digits
// first; digits before the last are 63..94, the last is 95..126. Returns the characters written.
int encodeNumber(int64_t v, char* out) {
  uint64_t z = v >= 0 ? 2 * static_cast<uint64_t>(v) : 2 * static_cast<uint64_t>(-v) + 1;
  int n = 0;
  for (; z >= 32; z >>= 5) out[n++] = static_cast<char>(z % 32 + 63);
  out[n++] = static_cast<char>(z + 95);
  return n;
}

bool put(RCB* rcb, const char* data, int32_t n) {
  return streamWrite(rcb->outStream, data, n) == n;
}

// Held to the range of the 32-bit fields a plotter reads; negative values become 0.
int64_t clampField(double v) {
  if (!(v > 0)) return 0;
  if (v >= INT32_MAX) return INT32_MAX;
  return static_cast<int64_t>(v);
}

// Appends text or a number to a header under construction.
class Text {
 public:
  Text(char* buffer, size_t size) : p_(buffer), end_(buffer + size), begin_(buffer) {}
  Text& operator<<(const char* s) {
    size_t n = std::min(std::strlen(s), static_cast<size_t>(end_ - p_));
    std::memcpy(p_, s, n);
    p_ += n;
    return *this;
  }
  Text& operator<<(int64_t v) {
    p_ = std::to_chars(p_, end_, v).ptr;
    return *this;
  }
  // Fixed notation with two decimals and the C locale's point, whatever the process locale.
  Text& fixed2(double v) {
    auto r = std::to_chars(p_, end_, v, std::chars_format::fixed, 2);
    if (r.ec == std::errc()) p_ = r.ptr;
    return *this;
  }
  int32_t length() const { return static_cast<int32_t>(p_ - begin_); }

 private:
  char* p_;
  char* end_;
  char* begin_;
};

RioStatus allocSlines(RCB* rcb) {
  return rioAllocSline(rcb);
}

RioStatus open(RCB* rcb) {
  if (!rcb->writing) return kRioNotImplemented;
  PenState* pen = rioNewState<PenState>(rcb->writerState);
  if (!pen) return kRioOutOfMemory;
  *pen = PenState{};
  return kRioOk;
}

// Plot size and scaling from the extents in plotter units: truncated integers, wide only when strictly
// wider. The user scale along the rows keeps one row one pixel high at unequal resolutions.
RioStatus writeHeader(RCB* rcb) {
  PenState* pen = penState(rcb);
  if (!pen) return rioSetError(rcb, kRioInternal);
  *pen = PenState{};
  double xDpi = 0;
  double yDpi = 0;
  plotterDpi(rcb, &xDpi, &yDpi);
  int64_t hd = clampField(std::max(rcb->height - 1, 0) * kPlotterUnitsPerInch / yDpi);
  int64_t wd = clampField(std::max(rcb->width - 1, 0) * kPlotterUnitsPerInch / xDpi);
  int64_t length = hd;
  int64_t scale = rcb->height;
  if (wd > hd) {
    length = wd;
    scale = clampField(std::floor(static_cast<double>(rcb->width) * yDpi / xDpi + 0.5));
    if (rcb->width > 0) scale = std::max<int64_t>(scale, 1);
  }
  // The pen width field can be as long as a double in fixed notation.
  char buffer[512];
  Text t(buffer, sizeof buffer);
  t << "\033%-1BBPINPS" << length << "," << wd << "NP2IP0,0," << length << "," << wd << ";SC0," << scale
    << ",0," << int64_t{rcb->width} << ";PW";
  t.fixed2(kMillimetresPerInch / yDpi + 0.005);
  t << "SP1PE7<=";
  if (!put(rcb, buffer, t.length())) return rioSetError(rcb, kRioStreamIo);
  if (!put(rcb, kOrigin, 2)) return rioSetError(rcb, kRioStreamIo);
  return kRioOk;
}

// One item per run, clipped to the width: pen-up move to the run's start, pen-down move to its end.
RioStatus writeSline(RCB* rcb) {
  PenState* pen = penState(rcb);
  if (!pen) return rioSetError(rcb, kRioInternal);
  const int64_t row = rcb->linesWritten;
  int64_t rowStep = row - pen->lastRow;
  bool drew = false;
  const int32_t* p = rcb->curSline;
  const int32_t width = rcb->width;
  int32_t reached = 0;
  // Never past the line buffer, even when the terminator is missing.
  for (int64_t pairs = std::max<int64_t>(rcb->slineBytes / 8 - 1, 0); pairs > 0 && !rioSlineEnd(p);
       --pairs, p += 2) {
    int32_t s = std::max(p[0], reached);
    int32_t e = std::min(p[1], width);
    if (s >= width) break;
    if (e <= s) continue;
    reached = e;
    char item[3 + 3 * kMaxNumberCode];
    int n = 0;
    item[n++] = kPenUpFlag;
    n += encodeNumber(rowStep, item + n);
    n += encodeNumber(s - pen->lastColumn, item + n);
    item[n++] = kZero;
    n += encodeNumber(e - s, item + n);
    pen->lastColumn = e;
    rowStep = 0;
    drew = true;
    if (!put(rcb, item, n)) {
      pen->lastRow = row;
      return rioSetError(rcb, kRioStreamIo);
    }
  }
  if (drew) pen->lastRow = row;
  return kRioOk;
}

RioStatus finishWrite(RCB* rcb) {
  RioStatus r = kRioOk;
  if (!rcb->headerWritten) {
    rcb->headerWritten = true;
    r = writeHeader(rcb);
  }
  if (!put(rcb, kTrailer, static_cast<int32_t>(sizeof kTrailer - 1))) r = rioSetError(rcb, kRioStreamIo);
  return r;
}

RioStatus close(RCB* rcb) {
  rioReleaseState(rcb->writerState);
  return kRioOk;
}

}  // namespace

const FormatDriver kHpgl2Driver = {
    open, rioDriverNotImplemented, writeHeader, allocSlines, rioDriverNotImplemented, writeSline,
    rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNotImplemented, finishWrite, close,
};

}  // namespace vantrel
