// CalComp raster writer (id 12): a text preamble, a binary set-up block, then every row as records of five
// bytes (a count c of 1 to 127 and one 32-pixel group, meaning c copies of that group), covering all W
// groups of the row. 16-bit numbers are big-endian.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "formats/common/byte_io.h"
#include "formats/common/raster_row.h"
#include "formats/registry.h"

namespace vantrel {
namespace {
constexpr int32_t kGroupBytes = 4;
constexpr int32_t kRecordBytes = 1 + kGroupBytes;
constexpr int32_t kMaxRepeat = 127;
constexpr int32_t kMaxGroups = 65535;  // the 16-bit group-count field
constexpr double kDefaultDpi = 200;

constexpr char kPreamble[] = "&&&&CALCOMP DEVICE CONTROL\nCCRF()\n^^^^END OF FILE\n";
constexpr uint8_t kSetupHead[] = {0x02, 0x00, 0x06, 0x08, 0x00, 0x0A, 0x01, 0x00, 0x08, 0x20, 0x00, 0x04};
constexpr uint8_t kTrailer[] = {0x00, 0x02, 0x00, 0x03, 0x00, 0x00};

struct CalCompState {
  int32_t groups = 0;      // W, groups per row
  int32_t pixels = 0;      // pixels a row carries: the width
  uint8_t* row = nullptr;  // W groups, pixels in pixel order, most significant bit leftmost
  ~CalCompState() { rioFree(row); }
};

double knownDpi(double dpi) {
  return std::isfinite(dpi) && dpi > 0 ? dpi : 0;
}

// The image length in whole inches, rounded up. An unknown vertical resolution takes the horizontal one,
// 200 when both are unknown; the result is held to the 16-bit field.
uint16_t lengthInches(int32_t height, double xDpi, double yDpi) {
  double dpi = knownDpi(yDpi);
  if (dpi == 0) dpi = knownDpi(xDpi);
  if (dpi == 0) dpi = kDefaultDpi;
  const double inches = std::trunc((height + dpi - 1) / dpi);
  return static_cast<uint16_t>(std::clamp(inches, 0.0, 65535.0));
}

CalCompState* stateOf(RCB* rcb) {
  return rioState<CalCompState>(rcb->writerState);
}

RioStatus calcompOpen(RCB* rcb) {
  if (!rcb->writing || rcb->outFormat != kFormatCalComp) return rioSetError(rcb, kRioNotImplemented);
  // A row of more groups than the 16-bit field counts cannot be stated: refused before anything is written.
  const int64_t groups = (int64_t{rcb->width} + 31) / 32;
  if (groups > kMaxGroups) return rioSetError(rcb, kRioBadColumns);
  auto* st = rioNewState<CalCompState>(rcb->writerState);
  if (!st) return rioSetError(rcb, kRioOutOfMemory);
  st->groups = static_cast<int32_t>(groups);
  st->pixels = rcb->width;
  if (!st->row) {
    st->row = static_cast<uint8_t*>(rioMalloc(static_cast<size_t>(std::max(st->groups, 1)) * kGroupBytes));
    if (!st->row) return rioSetError(rcb, kRioOutOfMemory);
  }
  return kRioOk;
}

// Writers leave short writes to the stream, whose close reports them.
RioStatus calcompWriteHeader(RCB* rcb) {
  CalCompState* st = stateOf(rcb);
  if (!st) return rioSetError(rcb, kRioInternal);
  uint8_t h[sizeof kPreamble - 1 + sizeof kSetupHead + 7];
  uint8_t* p = h;
  std::memcpy(p, kPreamble, sizeof kPreamble - 1);
  p += sizeof kPreamble - 1;
  std::memcpy(p, kSetupHead, sizeof kSetupHead);
  p += sizeof kSetupHead;
  putBe16(p, static_cast<uint16_t>(st->groups));
  putBe16(p + 2, 1);
  putBe16(p + 4, lengthInches(rcb->height, rcb->xDpi, rcb->yDpi));
  p[6] = 0;
  (void)streamWrite(rcb->outStream, h, sizeof h);
  return kRioOk;
}

RioStatus calcompAllocSlines(RCB* rcb) {
  return rioAllocSline(rcb);
}

RioStatus calcompWriteSline(RCB* rcb) {
  CalCompState* st = stateOf(rcb);
  const int32_t* runs = rcb->curSline;
  if (!st || !runs) return rioSetError(rcb, kRioInternal);
  uint8_t* row = st->row;
  const int32_t groups = st->groups;
  rowFromRuns<RunListEnd::kAtStart>(row, groups * kGroupBytes, runs, rcb->slineBytes / 8 - 1, st->pixels);

  // Records go out through a small buffer of whole records.
  uint8_t out[256 * kRecordBytes];
  size_t used = 0;
  for (int32_t g = 0; g < groups;) {
    const uint8_t* group = row + g * kGroupBytes;
    int32_t count = 1;
    while (count < kMaxRepeat && g + count < groups &&
           std::memcmp(group, group + count * kGroupBytes, kGroupBytes) == 0)
      ++count;
    out[used] = static_cast<uint8_t>(count);
    std::memcpy(out + used + 1, group, kGroupBytes);
    used += kRecordBytes;
    if (used == sizeof out) {
      (void)streamWrite(rcb->outStream, out, static_cast<int32_t>(used));
      used = 0;
    }
    g += count;
  }
  if (used) (void)streamWrite(rcb->outStream, out, static_cast<int32_t>(used));
  return kRioOk;
}

// The trailer. A page that received no line still gets its header first.
RioStatus calcompFinishWrite(RCB* rcb) {
  if (!stateOf(rcb)) return rioSetError(rcb, kRioInternal);
  if (!rcb->headerWritten) {
    rcb->headerWritten = true;
    if (RioStatus r = calcompWriteHeader(rcb)) return r;
  }
  (void)streamWrite(rcb->outStream, kTrailer, sizeof kTrailer);
  return kRioOk;
}

RioStatus calcompClose(RCB* rcb) {
  rioReleaseState(rcb->writerState);
  return kRioOk;
}

}  // namespace

extern const FormatDriver kCalCompDriver = {
    calcompOpen, rioDriverRefuses, calcompWriteHeader, calcompAllocSlines, rioDriverRefuses, calcompWriteSline,
    rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNotImplemented, calcompFinishWrite, calcompClose,
};

}  // namespace vantrel
