// The fixed-frame raw scan (id 30, read only): uncompressed rows of ceil(width / 8) bytes, most significant
// bit leftmost, 1 = black, in one of two frames. 0xFF at both offsets 839 and 840 marks the larger frame
// (6976 x 4524, data from 869); otherwise the frame is 6736 x 4500 with data from 839. No resolution.
#include <cstring>

#include "formats/common/byte_io.h"
#include "formats/registry.h"
#include "picture/tpicture.h"

namespace vantrel {
namespace {

constexpr uint8_t kMagic = 0x12;
constexpr int32_t kMarkAt = 839;  // the two marker bytes of the larger frame; the smaller frame's data

struct Frame {
  int32_t width;
  int32_t height;
  int32_t dataAt;
};
constexpr Frame kSmallFrame{6736, 4500, kMarkAt};
constexpr Frame kLargeFrame{6976, 4524, 869};

struct FixedFrameState {
  uint32_t* row = nullptr;  // one row in whole words, pixel 0 first
  int32_t rowBytes = 0;
  ~FixedFrameState() { rioFree(row); }
};

RioStatus frameOpen(RCB* rcb) {
  if (!rcb->reading || rcb->inFormat != kFormatFixedFrame) return rioSetError(rcb, kRioNotImplemented);
  if (!rioNewState<FixedFrameState>(rcb->readerState)) return rioSetError(rcb, kRioOutOfMemory);
  return kRioOk;
}

// The frame from the two marker bytes; the whole frame must be in the file, or the page would end in rows
// that are not there.
RioStatus frameReadHeader(RCB* rcb) {
  auto* st = rioState<FixedFrameState>(rcb->readerState);
  if (!st) return rioSetError(rcb, kRioInternal);
  uint8_t head[kMarkAt + 2];
  if (rioReadInput(rcb, head, sizeof head) != static_cast<int32_t>(sizeof head))
    return rioSetError(rcb, kRioUnexpectedEof);
  const Frame& f = head[kMarkAt] == 0xFF && head[kMarkAt + 1] == 0xFF ? kLargeFrame : kSmallFrame;
  int64_t dataBytes = 0;
  if (RioStatus r = seekToImageData(rcb, f.dataAt, &dataBytes)) return rioSetError(rcb, r);
  st->rowBytes = (f.width + 7) / 8;
  if (dataBytes < int64_t{st->rowBytes} * f.height) return rioSetError(rcb, kRioUnexpectedEof);
  rcb->width = f.width;
  rcb->height = f.height;
  if (!st->row) {
    st->row = static_cast<uint32_t*>(rioCalloc(static_cast<size_t>(bitmapWords(f.width)), sizeof(uint32_t)));
    if (!st->row) return rioSetError(rcb, kRioOutOfMemory);
  }
  return kRioOk;
}

RioStatus frameReadSline(RCB* rcb) {
  auto* st = rioState<FixedFrameState>(rcb->readerState);
  if (!st || !st->row || !rcb->curSline) return rioSetError(rcb, kRioInternal);
  if (rcb->linesRead >= rcb->height) return kRioEndOfPage;
  if (streamRead(rcb->inStream, st->row, st->rowBytes) != st->rowBytes) return rioSetError(rcb, kRioUnexpectedEof);
  BitmapStringToRuns(st->row, static_cast<int32_t>(bitmapWords(rcb->width)), rcb->curSline, 0, rcb->width - 1);
  return kRioOk;
}

RioStatus frameClose(RCB* rcb) {
  if (rcb->reading && rcb->inFormat == kFormatFixedFrame && rcb->linesRead != rcb->height)
    rioSetWarning(rcb, kRioBadRows);
  return kRioOk;
}

RioStatus frameAllocSlines(RCB* rcb) { return rioAllocSline(rcb); }

}  // namespace

extern const FormatDriver kFixedFrameDriver = {
    frameOpen, frameReadHeader, rioDriverRefuses, frameAllocSlines, frameReadSline, rioDriverRefuses,
    rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNotImplemented, rioDriverRefuses, frameClose,
};

RasterFormatId probeFixedFrame(const uint8_t* b, RioStatus*) { return b[0] == kMagic ? kFormatFixedFrame : 0; }

}  // namespace vantrel
