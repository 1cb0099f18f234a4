// HP PCL (id 14) and HP RTL (ids 8 and 19) writers. Output only.
//
// By default PCL sends every row uncompressed ("\e*b#W" and ceil(width / 8) bytes of pixels, most
// significant bit leftmost) and RTL compresses each row with method 1 (byte pairs: repeat count - 1, value)
// straight from the run list. The setting "ZEB_PCLMODE" can ask either for PackBits (method 2, also straight
// from the runs) or delta row (method 3, each row against the row before it) instead. Id 8 frames the
// raster data with HP-GL/2 commands (plot size, pen position, page advance), id 19 is the bare raster
// stream. Ids 8 and 19 share one driver and differ only in their header and trailer.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "formats/common/raster_row.h"
#include "formats/pcl_mode.h"
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
constexpr char kStartRasterHere[] = "\033*r1A";
constexpr char kEndRasterRtl[] = "\033*rC";
constexpr char kPageAdvance[] = "PG;";

// Parameterised commands: the number replaces '#'.
constexpr char kWidthCommand[] = "\033*r#S";
constexpr char kResolutionCommand[] = "\033*t#R";
constexpr char kRowCommand[] = "\033*b#W";
constexpr char kCompressionCommand[] = "\033*b#M";
constexpr char kHeightCommand[] = "\033*r#T";

// What both drivers keep: the method, and the buffers it needs, allocated at open.
struct HpRasterState {
  int32_t method = 0;         // the compression method of the rows
  int32_t rowBytes = 0;       // ceil(width / 8)
  uint8_t* row = nullptr;     // uncompressed and delta row: the row's pixels, eight to a byte
  uint8_t* seed = nullptr;    // delta row: the row before, all white at the start
  uint8_t* packed = nullptr;  // a compressed row: at most two bytes per started byte of the row
  ~HpRasterState() {
    rioFree(row);
    rioFree(seed);
    rioFree(packed);
  }
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

// The byte walk of the run-list coders: for each run [s, e) the row is crossed to s over white (F = 0x00),
// the bits from s to the end of its byte are set in A, the byte being assembled, the row is crossed to e
// over black (F = 0xFF) and the bits from e on are cleared. Returns the end of the last run.
template <class Cross>
int32_t crossRuns(const RCB* rcb, uint8_t& A, Cross& cross) {
  ClippedRuns runs(rcb);
  int32_t s = 0;
  int32_t e = 0;
  while (runs.next(&s, &e)) {
    cross(s, uint8_t{0x00});
    A |= static_cast<uint8_t>(0xFF >> (s & 7));
    cross(e, uint8_t{0xFF});
    A &= static_cast<uint8_t>(0xFF << (8 - (e & 7)));
  }
  return e;
}

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
  if (crossRuns(rcb, A, cross) & 7) {
    *q++ = 0;
    *q++ = A;
  }
  return static_cast<int32_t>(q - out);
}

// PackBits (method 2) straight from the runs: the row's bytes up to its last black pixel as stretches of
// equal bytes (the bytes crossed over a white gap or a black run, and the bytes holding a run's ends), each
// stretch of two or more as repeat pairs (1 - count as a signed byte, value) of at most 128 bytes, single
// bytes gathered into literals (count - 1, then the bytes) of at most 128. Returns the bytes written to
// `out`, at most rowBytes + ceil(rowBytes / 128).
int32_t packBits(const RCB* rcb, uint8_t* out) {
  uint8_t* q = out;
  uint8_t* literal = nullptr;  // the count byte of the literal being gathered
  auto single = [&](uint8_t v) {
    if (!literal || *literal == 127) {
      literal = q++;
      *literal = 0xFF;  // becomes 0 with the first byte
    }
    ++*literal;
    *q++ = v;
  };
  auto stretch = [&](uint8_t v, int64_t n) {
    for (; n >= 2; n -= std::min<int64_t>(n, 128)) {
      *q++ = static_cast<uint8_t>(1 - std::min<int64_t>(n, 128));
      *q++ = v;
      literal = nullptr;
    }
    if (n == 1) single(v);
  };
  int64_t P = 7;  // the last column of the byte being assembled
  uint8_t A = 0;  // its bits so far
  auto cross = [&](int64_t x, uint8_t F) {
    if (x <= P) return;
    const int64_t n = (x - P - 1) / 8 + 1;  // bytes completed: the one being assembled, then n - 1 of F
    if (A == F) {
      stretch(F, n);
    } else {
      single(A);
      stretch(F, n - 1);
    }
    A = F;
    P += 8 * n;
  };
  if (crossRuns(rcb, A, cross) & 7) single(A);
  return static_cast<int32_t>(q - out);
}

// Delta row (method 3): the bytes of `row` that differ from `seed` (the row before), as commands of one to
// eight replacement bytes. Each command byte holds the count - 1 in its top three bits and in its low five
// the offset from the end of the previous replacement (from the row's start for the first); an offset of 31
// or more puts 31 there and the rest in following bytes, 255 meaning another follows. A row equal to its
// seed is empty. Returns the bytes written to `out`, at most 2 * rowBytes.
int32_t packDeltaRow(const uint8_t* row, const uint8_t* seed, int32_t rowBytes, uint8_t* out) {
  uint8_t* q = out;
  int32_t done = 0;  // the end of the previous replacement
  int32_t i = 0;
  while (i < rowBytes) {
    // Equal bytes are skipped eight at a time while they can be.
    uint64_t a = 0;
    uint64_t b = 0;
    if (i + 8 <= rowBytes && (std::memcpy(&a, row + i, 8), std::memcpy(&b, seed + i, 8), a == b)) {
      i += 8;
      continue;
    }
    if (row[i] == seed[i]) {
      ++i;
      continue;
    }
    int32_t count = 1;
    while (count < 8 && i + count < rowBytes && row[i + count] != seed[i + count]) ++count;
    int32_t offset = i - done;
    const int32_t first = std::min(offset, 31);
    *q++ = static_cast<uint8_t>((count - 1) << 5 | first);
    if (first == 31) {
      for (offset -= 31; offset >= 255; offset -= 255) *q++ = 255;
      *q++ = static_cast<uint8_t>(offset);
    }
    std::memcpy(q, row + i, static_cast<size_t>(count));
    q += count;
    i += count;
    done = i;
  }
  return static_cast<int32_t>(q - out);
}

RioStatus allocSlines(RCB* rcb) {
  return rioAllocSline(rcb);
}

HpRasterState* stateOf(RCB* rcb) {
  return rioState<HpRasterState>(rcb->writerState);
}

// The state for the method "ZEB_PCLMODE" asks for (`ownMethod` when it asks for none); a value the
// drivers do not know refuses the open, before anything is written.
RioStatus openState(RCB* rcb, int32_t ownMethod) {
  if (!rcb->writing) return kRioNotImplemented;
  const int32_t mode = pclCompressionMode(rioSettings(rcb));
  if (mode < 0) return rioSetError(rcb, kRioBadParameter);
  HpRasterState* st = rioNewState<HpRasterState>(rcb->writerState);
  if (!st) return kRioOutOfMemory;
  st->method = mode == 0 ? ownMethod : mode;
  st->rowBytes = static_cast<int32_t>((static_cast<int64_t>(rcb->width) + 7) / 8);
  const auto bytes = [](int64_t n) { return static_cast<size_t>(std::max<int64_t>(n, 1)); };
  if (st->method == 0 || st->method == 3) {
    st->row = static_cast<uint8_t*>(rioMalloc(bytes(st->rowBytes)));
    if (!st->row) return kRioOutOfMemory;
  }
  if (st->method == 3) {
    st->seed = static_cast<uint8_t*>(rioMalloc(bytes(st->rowBytes)));
    if (!st->seed) return kRioOutOfMemory;
    std::memset(st->seed, 0, bytes(st->rowBytes));
  }
  if (st->method != 0) {
    st->packed = static_cast<uint8_t*>(rioMalloc(bytes(2 * int64_t{st->rowBytes})));
    if (!st->packed) return kRioOutOfMemory;
  }
  return kRioOk;
}

// The row's pixels in st->row.
void fillRow(RCB* rcb, HpRasterState* st) {
  std::memset(st->row, 0, static_cast<size_t>(st->rowBytes));
  ClippedRuns runs(rcb);
  int32_t s = 0;
  int32_t e = 0;
  while (runs.next(&s, &e)) rowSetRun(st->row, s, e);
}

// The row as its method sends it: *data gets the bytes, the result their number.
int32_t codeRow(RCB* rcb, HpRasterState* st, const uint8_t** data) {
  *data = st->packed;
  switch (st->method) {
    case 0:
      fillRow(rcb, st);
      *data = st->row;
      return st->rowBytes;
    case 1:
      return packMethod1(rcb, st->packed);
    case 2:
      return packBits(rcb, st->packed);
    default: {
      fillRow(rcb, st);
      const int32_t n = packDeltaRow(st->row, st->seed, st->rowBytes, st->packed);
      std::swap(st->row, st->seed);
      return n;
    }
  }
}

// ---- PCL (id 14) ----

RioStatus pclOpen(RCB* rcb) {
  return openState(rcb, 0);
}

// Only the parameterised commands are checked; a short one is recorded and the header goes on.
RioStatus pclWriteHeader(RCB* rcb) {
  HpRasterState* st = stateOf(rcb);
  if (!st) return rioSetError(rcb, kRioInternal);
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
  checked(expand(kCompressionCommand, st->method));
  checked(expand(kHeightCommand, rcb->height));
  checked(expand(kWidthCommand, rcb->width));
  (void)put(rcb, kStartRasterLeft);
  return kRioOk;
}

RioStatus pclWriteSline(RCB* rcb) {
  HpRasterState* st = stateOf(rcb);
  if (!st) return rioSetError(rcb, kRioInternal);
  const uint8_t* data = nullptr;
  const int32_t n = codeRow(rcb, st, &data);
  if (!put(rcb, expand(kRowCommand, n))) rioSetError(rcb, kRioStreamIo);
  if (n > 0) (void)put(rcb, data, n);
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

RioStatus rtlOpen(RCB* rcb) {
  return openState(rcb, 1);
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
  HpRasterState* st = stateOf(rcb);
  if (!st) return rioSetError(rcb, kRioInternal);
  const Command method = expand(kCompressionCommand, st->method);
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
    ok = put(rcb, method) && ok;
    ok = put(rcb, kStartRasterHere) && ok;
  } else {
    ok = put(rcb, kReset) && put(rcb, expand(kWidthCommand, rcb->width)) &&
         put(rcb, expand(kResolutionCommand, rtlResolution(rcb)));
    ok = put(rcb, method) && ok;
  }
  return ok ? kRioOk : rioSetError(rcb, kRioStreamIo);
}

RioStatus rtlWriteSline(RCB* rcb) {
  HpRasterState* st = stateOf(rcb);
  if (!st) return rioSetError(rcb, kRioInternal);
  const uint8_t* data = nullptr;
  const int32_t n = codeRow(rcb, st, &data);
  bool ok = put(rcb, expand(kRowCommand, n));
  if (n > 0) ok = put(rcb, data, n) && ok;
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

int32_t pclCompressionMode(const RioSettings& settings) {
  const std::string& v = settings.pclMode;
  if (v.empty() || v == "0") return 0;
  if (v == "2") return 2;
  if (v == "3") return 3;
  return -1;
}

std::string pclModeRefusal(RasterFormatId id, const RioSettings& settings) {
  if ((id != kFormatPcl && id != kFormatRtl && id != kFormatRtlPlain) || pclCompressionMode(settings) >= 0)
    return {};
  return std::string(kPclModeSetting) + " is \"" + settings.pclMode +
         "\": it may be 0 (PCL uncompressed, RTL method 1), 2 (PackBits) or 3 (delta row)";
}

const FormatDriver kPclDriver = {
    pclOpen, rioDriverNotImplemented, pclWriteHeader, allocSlines, rioDriverNotImplemented, pclWriteSline,
    rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNotImplemented, pclFinishWrite, pclClose,
};

const FormatDriver kRtlDriver = {
    rtlOpen, rioDriverNotImplemented, rtlWriteHeader, allocSlines, rioDriverNotImplemented, rtlWriteSline,
    rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNotImplemented, rtlFinishWrite, rtlClose,
};

}  // namespace vantrel
