// Id 1: the internal run-list dump. No name selects it and recognition never yields it; it exists so
// that run lists can be stored and inspected as they are, and so that the core can be exercised with a
// format of known, trivial layout.
//
// Layout, all int32 little-endian: "RUN1", width, height; then per line the run count n followed by the
// 2n run boundaries.
#include <cstring>

#include "formats/common/byte_io.h"
#include "formats/registry.h"

namespace vantrel {
namespace {

constexpr char kMagic[4] = {'R', 'U', 'N', '1'};

RioStatus readHeader(RCB* rcb) {
  uint8_t h[12];
  if (rioReadInput(rcb, h, 12) != 12) return kRioStreamIo;
  if (std::memcmp(h, kMagic, 4) != 0) return kRioBadHeader;
  int32_t width = static_cast<int32_t>(getLe32(h + 4));
  int32_t height = static_cast<int32_t>(getLe32(h + 8));
  if (width < rcb->width) rcb->width = width;
  if (height < rcb->height) rcb->height = height;
  return kRioOk;
}

RioStatus writeHeader(RCB* rcb) {
  uint8_t h[12];
  std::memcpy(h, kMagic, 4);
  putLe32(h + 4, static_cast<uint32_t>(rcb->width));
  putLe32(h + 8, static_cast<uint32_t>(rcb->height));
  return streamWrite(rcb->outStream, h, 12) == 12 ? kRioOk : kRioStreamIo;
}

RioStatus allocSlines(RCB* rcb) { return rioAllocSline(rcb); }

RioStatus readSline(RCB* rcb) {
  int32_t* line = rcb->curSline;
  line[0] = line[1] = kSlineEnd;
  uint8_t b[8];
  int32_t got = streamRead(rcb->inStream, b, 4);
  if (got == 0) return kRioEndOfPage;
  if (got != 4) return kRioUnexpectedEof;
  int32_t n = static_cast<int32_t>(getLe32(b));
  if (n < 0 || n > (rcb->width + 1) / 2) return kRioBadData;
  int32_t previousEnd = -1;
  for (int32_t i = 0; i < n; ++i) {
    if (streamRead(rcb->inStream, b, 8) != 8) {
      line[2 * i] = line[2 * i + 1] = kSlineEnd;
      return kRioUnexpectedEof;
    }
    int32_t s = static_cast<int32_t>(getLe32(b));
    int32_t e = static_cast<int32_t>(getLe32(b + 4));
    if (s <= previousEnd || e <= s || e > rcb->width) {
      line[2 * i] = line[2 * i + 1] = kSlineEnd;
      return kRioBadData;
    }
    line[2 * i] = s;
    line[2 * i + 1] = e;
    line[2 * i + 2] = line[2 * i + 3] = kSlineEnd;
    previousEnd = e;
  }
  return kRioOk;
}

RioStatus writeSline(RCB* rcb) {
  const int32_t* runs = rcb->curSline;
  uint8_t b[8];
  putLe32(b, static_cast<uint32_t>(rioSlineRuns(runs)));
  if (streamWrite(rcb->outStream, b, 4) != 4) return kRioStreamIo;
  for (; runs[0] >= 0; runs += 2) {
    putLe32(b, static_cast<uint32_t>(runs[0]));
    putLe32(b + 4, static_cast<uint32_t>(runs[1]));
    if (streamWrite(rcb->outStream, b, 8) != 8) return kRioStreamIo;
  }
  return kRioOk;
}

RioStatus close(RCB* rcb) {
  if (rcb->writing && rcb->outFormat == kFormatRunDump && rcb->linesWritten != rcb->height) rioSetWarning(rcb, kRioBadRows);
  if (rcb->reading && rcb->inFormat == kFormatRunDump && rcb->linesRead != rcb->height) rioSetWarning(rcb, kRioBadRows);
  return kRioOk;
}

}  // namespace

const FormatDriver kRunDumpDriver = {
    rioDriverNothing, readHeader, writeHeader, allocSlines, readSline, writeSline, rioDriverNotImplemented,
    rioDriverNotImplemented, rioDriverNothing, rioDriverNothing, close,
};

}  // namespace vantrel
