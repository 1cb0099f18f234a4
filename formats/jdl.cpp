// Japan Digital Labs plotter streams, output only: id 11 sends every row uncompressed behind its own
// escape sequence; id 28 (the 4000E) announces dots per row and the height in 16-bit fields and sends each
// row as byte pairs (c, v), meaning c + 1 copies of v. Rows are ceil(width / 8) bytes, most significant bit
// leftmost, 1 = black; numbers are little-endian.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "formats/common/byte_io.h"
#include "formats/common/raster_row.h"
#include "formats/registry.h"

namespace vantrel {
namespace {

constexpr int32_t kMaxRowBytes = 65535;       // both models give the row length in 16 bits
constexpr int32_t kMaxWidth = 8 * kMaxRowBytes;  // 524,280 dots
constexpr int32_t kMaxHeight4000 = 65535;
// The 4000E states the width as a 16-bit count of dots, 8 per row byte.
constexpr int32_t kMaxWidth4000 = 8 * (65535 / 8);  // 65,528 dots
constexpr int32_t kMaxRepeat = 256;  // one pair of the 4000E
constexpr int32_t kMinPaperTenths = 83;

// Id 11.
constexpr uint8_t kJdlHeader[] = {0x1B, 0x0D, 0x50, 0x1B, 0x7A, 0x4D, 0x01};
constexpr uint8_t kJdlRowStart[] = {0x1B, 0x67, 0x49, 0x01};
constexpr uint8_t kJdlRowEnd[] = {0x0D, 0x1B, 0x76};
constexpr uint8_t kJdlTrailer[] = {0x1B, 0x19, 0x52};

// Id 28.
constexpr char kReset[] = "\033*@";
constexpr char kIdentify[] = "\033/@JDRL:";
constexpr char kDots[] = "\033*H";
constexpr char kRows[] = "\033*I";
constexpr char kArea[] = "\033/A0,0,";
constexpr uint8_t kMode[] = {0x1B, 0x2A, 0x45, 0x01};
constexpr char kStartRaster[] = "\033*Q";
constexpr char kEndRaster[] = "\033*Z";

struct JdlState {
  uint8_t* row = nullptr;   // the row's pixels
  uint8_t* coded = nullptr;  // the row as sent: at most 2 bytes per row byte, or the row and its framing
  int32_t rowBytes = 0;
  ~JdlState() { rioFree(row); }
};

bool isJdl(RasterFormatId id) { return id == kFormatJdl || id == kFormatJdl4000; }

JdlState* stateOf(RCB* rcb) { return rioState<JdlState>(rcb->writerState); }

// Writers leave short writes to the stream, whose close reports them.
void put(RCB* rcb, const void* data, size_t n) { (void)streamWrite(rcb->outStream, data, static_cast<int32_t>(n)); }
template <size_t N>
void put(RCB* rcb, const char (&literal)[N]) {
  put(rcb, literal, N - 1);
}

RioStatus jdlOpen(RCB* rcb) {
  if (!rcb->writing || !isJdl(rcb->outFormat)) return rioSetError(rcb, kRioNotImplemented);
  // Sizes the stream cannot state are refused before anything is written.
  if (rcb->width > (rcb->outFormat == kFormatJdl4000 ? kMaxWidth4000 : kMaxWidth))
    return rioSetError(rcb, kRioBadColumns);
  if (rcb->outFormat == kFormatJdl4000 && rcb->height > kMaxHeight4000) return rioSetError(rcb, kRioBadRows);
  auto* st = rioNewState<JdlState>(rcb->writerState);
  if (!st) return rioSetError(rcb, kRioOutOfMemory);
  st->rowBytes = (rcb->width + 7) / 8;
  if (!st->row) {
    const size_t codedBytes = 2 * static_cast<size_t>(st->rowBytes) + sizeof kJdlRowStart + 2 + sizeof kJdlRowEnd;
    st->row = static_cast<uint8_t*>(rioMalloc(static_cast<size_t>(st->rowBytes) + codedBytes));
    if (!st->row) return rioSetError(rcb, kRioOutOfMemory);
    st->coded = st->row + st->rowBytes;
  }
  return kRioOk;
}

// The paper size in tenths of an inch, at least the plotter's minimum.
int64_t paperTenths(int32_t pixels, double dpi) {
  const double tenths = std::trunc((pixels / dpi + 0.09) * 10);
  return static_cast<int64_t>(std::clamp(tenths, double{kMinPaperTenths}, 1e9));
}

RioStatus jdlWriteHeader(RCB* rcb) {
  JdlState* st = stateOf(rcb);
  if (!st) return rioSetError(rcb, kRioInternal);
  if (rcb->outFormat == kFormatJdl) {
    put(rcb, kJdlHeader, sizeof kJdlHeader);
    return kRioOk;
  }
  double xDpi = 0, yDpi = 0;
  plotterDpi(rcb, &xDpi, &yDpi);
  uint8_t number[2];
  put(rcb, kReset);
  put(rcb, kIdentify);
  put(rcb, kDots);
  putLe16(number, static_cast<uint32_t>(8 * st->rowBytes));
  put(rcb, number, sizeof number);
  put(rcb, kRows);
  putLe16(number, static_cast<uint32_t>(rcb->height));
  put(rcb, number, sizeof number);
  put(rcb, kArea);
  char text[48];
  char* end = std::to_chars(text, text + 20, paperTenths(rcb->width, xDpi)).ptr;
  *end++ = ',';
  end = std::to_chars(end, end + 20, paperTenths(rcb->height, yDpi)).ptr;
  *end++ = ':';
  put(rcb, text, static_cast<size_t>(end - text));
  put(rcb, kMode, sizeof kMode);
  put(rcb, kStartRaster);
  return kRioOk;
}

// The 4000E's pairs: each takes as many equal bytes as it can, at most 256.
size_t codeRepeats(const uint8_t* row, int32_t n, uint8_t* out) {
  uint8_t* p = out;
  for (int32_t i = 0; i < n;) {
    const uint8_t v = row[i];
    int32_t run = 1;
    while (run < kMaxRepeat && i + run < n && row[i + run] == v) ++run;
    *p++ = static_cast<uint8_t>(run - 1);
    *p++ = v;
    i += run;
  }
  return static_cast<size_t>(p - out);
}

RioStatus jdlWriteSline(RCB* rcb) {
  JdlState* st = stateOf(rcb);
  if (!st || !rcb->curSline) return rioSetError(rcb, kRioInternal);
  rowFromRuns(st->row, st->rowBytes, rcb->curSline, rcb->slineBytes / 8 - 1, rcb->width);
  uint8_t* p = st->coded;
  if (rcb->outFormat == kFormatJdl4000) {
    put(rcb, p, codeRepeats(st->row, st->rowBytes, p));
    return kRioOk;
  }
  std::memcpy(p, kJdlRowStart, sizeof kJdlRowStart);
  p += sizeof kJdlRowStart;
  putLe16(p, static_cast<uint32_t>(st->rowBytes));
  p += 2;
  std::memcpy(p, st->row, static_cast<size_t>(st->rowBytes));
  p += st->rowBytes;
  std::memcpy(p, kJdlRowEnd, sizeof kJdlRowEnd);
  p += sizeof kJdlRowEnd;
  put(rcb, st->coded, static_cast<size_t>(p - st->coded));
  return kRioOk;
}

// The trailer. A page that received no line still gets its header first.
RioStatus jdlFinishWrite(RCB* rcb) {
  if (!stateOf(rcb)) return rioSetError(rcb, kRioInternal);
  if (!rcb->headerWritten) {
    rcb->headerWritten = true;
    if (RioStatus r = jdlWriteHeader(rcb)) return r;
  }
  if (rcb->outFormat == kFormatJdl)
    put(rcb, kJdlTrailer, sizeof kJdlTrailer);
  else
    put(rcb, kEndRaster);
  return kRioOk;
}

RioStatus jdlAllocSlines(RCB* rcb) { return rioAllocSline(rcb); }

}  // namespace

// One table for both models: each operation tells them apart by the RCB's output format id.
extern const FormatDriver kJdlDriver = {
    jdlOpen, rioDriverRefuses, jdlWriteHeader, jdlAllocSlines, rioDriverRefuses, jdlWriteSline,
    rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNotImplemented, jdlFinishWrite, rioDriverNothing,
};

}  // namespace vantrel
