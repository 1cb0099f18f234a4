// HP PCL (id 14) and HP RTL (ids 8 and 19) writers. Output only.
//
// PCL sends every row uncompressed ("\e*b#W" and ceil(width / 8) bytes of pixels, most significant bit
// leftmost). RTL compresses each row with method 1 (byte pairs: repeat count - 1, value) straight from the
// run list; id 8 frames the raster data with HP-GL/2 commands (plot size, pen position, page advance), id 19
// is the bare raster stream. Ids 8 and 19 share one driver and differ only in their header and trailer.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "formats/common/raster_row.h"
#include "formats/registry.h"

namespace vantrel {
namespace {

constexpr double kPlotterUnitsPerInch = 1016;

// Fixed commands; "\033" is the escape byte.
constexpr char kReset[] = "\033E";
constexpr char kTopMargin0[] = "\033&l0E";
constexpr char kVertical60[] = "\033*p60Y";
constexpr char kStartRasterLeft[] = "\033*r0A";
constexpr char kEndRasterPcl[] = "\033*rB";
constexpr char kEnterHpgl2[] = "\033%0B";
constexpr char kBeginPlot[] = "BP5,1;";
constexpr char kPenHome[] = "PUPA0,0;";
constexpr char kEnterRtlAtPen[] = "\033%1A";
constexpr char kColourMode[] = "\033&a1N";
constexpr char kColourIndex[] = "\033v0a0b0c1I";
constexpr char kMethod1[] = "\033*b1M";
constexpr char kStartRasterHere[] = "\033*r1A";
constexpr char kEndRasterRtl[] = "\033*rC";
constexpr char kPageAdvance[] = "PG;";

// Parameterised commands: the number replaces '#'.
constexpr char kWidthCommand[] = "\033*r#S";
constexpr char kResolutionCommand[] = "\033*t#R";
constexpr char kRowCommand[] = "\033*b#W";
constexpr char kCompressionCommand[] = "\033*b#M";
constexpr char kHeightCommand[] = "\033*r#T";

struct PclState {
  uint8_t* row = nullptr;  // the row's pixels, eight to a byte, most significant bit leftmost
  int32_t rowBytes = 0;    // ceil(width / 8)
  ~PclState() { rioFree(row); }
};

struct RtlState {
  uint8_t* packed = nullptr;  // one method-1 row: at most two bytes per started byte of the row
  ~RtlState() { rioFree(packed); }
};

// A command with its number in place, ready to write.
struct Command {
  char text[40];
  int32_t length = 0;
};

Command expand(const char* pattern, int64_t value) {
  Command c;
  const char* hash = std::strchr(pattern, '#');
  auto before = static_cast<int32_t>(hash - pattern);
  std::memcpy(c.text, pattern, static_cast<size_t>(before));
  char* end = std::to_chars(c.text + before, c.text + sizeof c.text, value).ptr;
  size_t after = std::strlen(hash + 1);
  std::memcpy(end, hash + 1, after);
  c.length = static_cast<int32_t>(end - c.text + static_cast<int64_t>(after));
  return c;
}

bool put(RCB* rcb, const void* data, int32_t n) {
  return streamWrite(rcb->outStream, data, n) == n;
}
bool put(RCB* rcb, const Command& c) {
  return put(rcb, c.text, c.length);
}
template <size_t N>
bool put(RCB* rcb, const char (&literal)[N]) {
  return put(rcb, literal, static_cast<int32_t>(N - 1));
}

// A non-negative command number from a real value: truncated, held to the int32 range.
int64_t truncated(double v) {
  if (!(v > 0)) return 0;
  if (v >= INT32_MAX) return INT32_MAX;
  return static_cast<int64_t>(v);
}

// The black runs of curSline, clipped to [0, width) and made strictly increasing, whatever the list holds.
// The walk never reads past the line buffer, even when the terminator is missing.
class ClippedRuns {
 public:
  explicit ClippedRuns(const RCB* rcb)
      : p_(rcb->curSline), width_(rcb->width), pairsLeft_(std::max<int64_t>(rcb->slineBytes / 8 - 1, 0)) {}

  bool next(int32_t* s, int32_t* e) {
    for (; pairsLeft_ > 0 && !rioSlineEnd(p_); --pairsLeft_, p_ += 2) {
      int32_t start = std::max(p_[0], reached_);
      int32_t end = std::min(p_[1], width_);
      if (start >= width_) break;
      if (end <= start) continue;
      reached_ = end;
      *s = start;
      *e = end;
      --pairsLeft_;
      p_ += 2;
      return true;
    }
    pairsLeft_ = 0;
    return false;
  }

 private:
  const int32_t* p_;
  int32_t width_;
  int64_t pairsLeft_;
  int32_t reached_ = 0;
};

// Method 1 straight from the runs. P is the last column of the byte being assembled, A its bits so far.
// Crossing to column x with fill F (0x00 over a white gap, 0xFF over a black run) sends the bytes passed:
// a single byte as a literal pair, several as a literal for a partial first byte and then repeat pairs of
// at most 255 bytes. Bytes after the last black pixel are not sent. Returns the bytes written to `out`,
// at most 2 * ceil(width / 8).
int32_t packMethod1(const RCB* rcb, uint8_t* out) {
  uint8_t* q = out;
  int64_t P = 7;
  uint8_t A = 0;
  auto cross = [&](int64_t x, uint8_t F) {
    if (x <= P) return;
    int64_t n = (x - P - 1) / 8 + 1;
    if (n == 1 || A != F) {
      *q++ = 0;
      *q++ = A;
      A = F;
      P += 8;
      if (--n == 0) return;
    }
    P += 8 * n;
    for (; n > 255; n -= 255) {
      *q++ = 254;
      *q++ = F;
    }
    *q++ = static_cast<uint8_t>(n - 1);
    *q++ = F;
  };
  ClippedRuns runs(rcb);
  int32_t s = 0;
  int32_t e = 0;
  while (runs.next(&s, &e)) {
    cross(s, 0x00);
    A |= static_cast<uint8_t>(0xFF >> (s & 7));
    cross(e, 0xFF);
    A &= static_cast<uint8_t>(0xFF << (8 - (e & 7)));
  }
  if (e & 7) {
    *q++ = 0;
    *q++ = A;
  }
  return static_cast<int32_t>(q - out);
}

RioStatus allocSlines(RCB* rcb) {
  return rioAllocSline(rcb);
}

// ---- PCL (id 14) ----

PclState* pclState(RCB* rcb) {
  return rioState<PclState>(rcb->writerState);
}

RioStatus pclOpen(RCB* rcb) {
  if (!rcb->writing) return kRioNotImplemented;
  PclState* st = rioNewState<PclState>(rcb->writerState);
  if (!st) return kRioOutOfMemory;
  st->rowBytes = static_cast<int32_t>((static_cast<int64_t>(rcb->width) + 7) / 8);
  st->row = static_cast<uint8_t*>(rioMalloc(static_cast<size_t>(std::max(st->rowBytes, 1))));
  return st->row ? kRioOk : kRioOutOfMemory;
}

// Only the parameterised commands are checked; a short one is recorded and the header goes on.
RioStatus pclWriteHeader(RCB* rcb) {
  double xDpi = 0;
  double yDpi = 0;
  plotterDpi(rcb, &xDpi, &yDpi);
  auto checked = [rcb](const Command& c) {
    if (!put(rcb, c)) rioSetError(rcb, kRioStreamIo);
  };
  (void)put(rcb, kReset);
  (void)put(rcb, kTopMargin0);
  (void)put(rcb, kVertical60);
  checked(expand(kResolutionCommand, truncated(yDpi)));
  checked(expand(kCompressionCommand, 0));
  checked(expand(kHeightCommand, rcb->height));
  checked(expand(kWidthCommand, rcb->width));
  (void)put(rcb, kStartRasterLeft);
  return kRioOk;
}

RioStatus pclWriteSline(RCB* rcb) {
  PclState* st = pclState(rcb);
  if (!st) return rioSetError(rcb, kRioInternal);
  std::memset(st->row, 0, static_cast<size_t>(st->rowBytes));
  ClippedRuns runs(rcb);
  int32_t s = 0;
  int32_t e = 0;
  while (runs.next(&s, &e)) rowSetRun(st->row, s, e);
  if (!put(rcb, expand(kRowCommand, st->rowBytes))) rioSetError(rcb, kRioStreamIo);
  if (st->rowBytes > 0) (void)put(rcb, st->row, st->rowBytes);
  return kRioOk;
}

RioStatus pclFinishWrite(RCB* rcb) {
  if (!rcb->headerWritten) {
    rcb->headerWritten = true;
    (void)pclWriteHeader(rcb);
  }
  (void)put(rcb, kEndRasterPcl);
  (void)put(rcb, kReset);
  return kRioOk;
}

RioStatus pclClose(RCB* rcb) {
  rioReleaseState(rcb->writerState);
  return kRioOk;
}

// ---- RTL (ids 8 and 19) ----

RtlState* rtlState(RCB* rcb) {
  return rioState<RtlState>(rcb->writerState);
}

RioStatus rtlOpen(RCB* rcb) {
  if (!rcb->writing) return kRioNotImplemented;
  RtlState* st = rioNewState<RtlState>(rcb->writerState);
  if (!st) return kRioOutOfMemory;
  int64_t capacity = 2 * ((static_cast<int64_t>(rcb->width) + 7) / 8);
  st->packed = static_cast<uint8_t*>(rioMalloc(static_cast<size_t>(std::max<int64_t>(capacity, 1))));
  return st->packed ? kRioOk : kRioOutOfMemory;
}

// Plot size in plotter units. The real quotients decide; a tie counts as wide.
Command plotSizeCommand(const RCB* rcb, double xDpi, double yDpi) {
  double across = std::max(rcb->width - 1, 0);
  double along = std::max(rcb->height - 1, 0);
  int64_t wp = truncated(across * kPlotterUnitsPerInch / xDpi);
  int64_t hp = truncated(along * kPlotterUnitsPerInch / yDpi);
  int64_t first = across / xDpi < along / yDpi ? hp : wp + 1;
  Command c;
  char* p = c.text;
  *p++ = 'P';
  *p++ = 'S';
  p = std::to_chars(p, c.text + sizeof c.text, first).ptr;
  *p++ = ',';
  p = std::to_chars(p, c.text + sizeof c.text, wp).ptr;
  *p++ = ';';
  c.length = static_cast<int32_t>(p - c.text);
  return c;
}

int64_t rtlResolution(const RCB* rcb) {
  double xDpi = 0;
  double yDpi = 0;
  plotterDpi(rcb, &xDpi, &yDpi);
  return truncated(xDpi + 0.5);
}

RioStatus rtlWriteHeader(RCB* rcb) {
  bool ok = true;
  if (rcb->outFormat == kFormatRtl) {
    double xDpi = 0;
    double yDpi = 0;
    plotterDpi(rcb, &xDpi, &yDpi);
    // The frame stops at its first short write; the raster set-up after it is sent in every case.
    ok = put(rcb, kReset) && put(rcb, kEnterHpgl2) && put(rcb, kBeginPlot) &&
         put(rcb, plotSizeCommand(rcb, xDpi, yDpi)) && put(rcb, kPenHome) && put(rcb, kEnterRtlAtPen) &&
         put(rcb, kColourMode);
    ok = ok && put(rcb, expand(kWidthCommand, rcb->width)) &&
         put(rcb, expand(kResolutionCommand, rtlResolution(rcb)));
    ok = put(rcb, kColourIndex) && ok;
    ok = put(rcb, kMethod1) && ok;
    ok = put(rcb, kStartRasterHere) && ok;
  } else {
    ok = put(rcb, kReset) && put(rcb, expand(kWidthCommand, rcb->width)) &&
         put(rcb, expand(kResolutionCommand, rtlResolution(rcb)));
    ok = put(rcb, kMethod1) && ok;
  }
  return ok ? kRioOk : rioSetError(rcb, kRioStreamIo);
}

RioStatus rtlWriteSline(RCB* rcb) {
  RtlState* st = rtlState(rcb);
  if (!st) return rioSetError(rcb, kRioInternal);
  int32_t n = packMethod1(rcb, st->packed);
  bool ok = put(rcb, expand(kRowCommand, n));
  if (n > 0) ok = put(rcb, st->packed, n) && ok;
  return ok ? kRioOk : rioSetError(rcb, kRioStreamIo);
}

RioStatus rtlFinishWrite(RCB* rcb) {
  RioStatus r = kRioOk;
  if (!rcb->headerWritten) {
    rcb->headerWritten = true;
    r = rtlWriteHeader(rcb);
  }
  bool ok = rcb->outFormat == kFormatRtl ? put(rcb, kEndRasterRtl) && put(rcb, kEnterHpgl2) &&
                                                 put(rcb, kPageAdvance) && put(rcb, kReset)
                                           : put(rcb, kReset);
  if (!ok) r = rioSetError(rcb, kRioStreamIo);
  return r;
}

RioStatus rtlClose(RCB* rcb) {
  rioReleaseState(rcb->writerState);
  return kRioOk;
}

}  // namespace

const FormatDriver kPclDriver = {
    pclOpen, rioDriverNotImplemented, pclWriteHeader, allocSlines, rioDriverNotImplemented, pclWriteSline,
    rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNotImplemented, pclFinishWrite, pclClose,
};

const FormatDriver kRtlDriver = {
    rtlOpen, rioDriverNotImplemented, rtlWriteHeader, allocSlines, rioDriverNotImplemented, rtlWriteSline,
    rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNotImplemented, rtlFinishWrite, rtlClose,
};

}  // namespace vantrel
