// Raster Graphics / Oce NKK run-length stream (id 21), output only: a 76-byte header ("PG;XR", the
// resolution flag, ";IN;ZN", then width and height as 32-bit little-endian), then every row of
// width / 8 + 1 bytes (most significant bit leftmost, 1 = black) in PackBits coding. No trailer.
#include <algorithm>
#include <cstring>

#include "formats/common/byte_io.h"
#include "formats/common/raster_row.h"
#include "formats/registry.h"

namespace vantrel {
namespace {

constexpr int32_t kHeaderSize = 76;
constexpr int kWidthAt = 24;
constexpr int kHeightAt = 28;
constexpr double kHighResolution = 400;  // at or above: the header's flag character is '1'
constexpr int32_t kMaxBlock = 128;       // longest literal block and longest repeat of PackBits
constexpr int32_t kMinRepeat = 3;        // shorter runs join the literal bytes

struct NkkState {
  uint8_t* row = nullptr;    // the row's pixels
  uint8_t* coded = nullptr;  // the row in PackBits: at most one control byte per 128 row bytes more
  int32_t rowBytes = 0;
  ~NkkState() { rioFree(row); }
};

NkkState* stateOf(RCB* rcb) { return rioState<NkkState>(rcb->writerState); }

// A read RCB opens (the format has always accepted it there) and is refused at its header.
RioStatus nkkOpen(RCB* rcb) {
  if (!rcb->writing || rcb->outFormat != kFormatNkk) return kRioOk;
  auto* st = rioNewState<NkkState>(rcb->writerState);
  if (!st) return rioSetError(rcb, kRioOutOfMemory);
  st->rowBytes = rcb->width / 8 + 1;
  if (!st->row) {
    const size_t codedBytes = static_cast<size_t>(st->rowBytes) + static_cast<size_t>(st->rowBytes) / kMaxBlock + 1;
    st->row = static_cast<uint8_t*>(rioMalloc(static_cast<size_t>(st->rowBytes) + codedBytes));
    if (!st->row) return rioSetError(rcb, kRioOutOfMemory);
    st->coded = st->row + st->rowBytes;
  }
  return kRioOk;
}

// Writers leave short writes to the stream, whose close reports them.
RioStatus nkkWriteHeader(RCB* rcb) {
  if (!stateOf(rcb)) return rioSetError(rcb, kRioInternal);
  uint8_t h[kHeaderSize] = {'P', 'G', ';', 'X', 'R', '0', ';', 'I', 'N', ';', 'Z', 'N', 0x01, 0x01};
  if (rcb->xDpi >= kHighResolution) h[5] = '1';
  putLe32(h + kWidthAt, static_cast<uint32_t>(rcb->width));
  putLe32(h + kHeightAt, static_cast<uint32_t>(rcb->height));
  (void)streamWrite(rcb->outStream, h, kHeaderSize);
  return kRioOk;
}

// PackBits: runs of three or more equal bytes (at most 128) as a repeat, everything else as literal blocks
// of at most 128 bytes. Returns the coded length (at most n + n / 128 + 1).
size_t packBits(const uint8_t* row, int32_t n, uint8_t* out) {
  uint8_t* p = out;
  int32_t literalFrom = 0;  // the pending literal bytes are [literalFrom, i)
  auto flushLiterals = [&](int32_t to) {
    while (literalFrom < to) {
      const int32_t block = std::min(kMaxBlock, to - literalFrom);
      *p++ = static_cast<uint8_t>(block - 1);
      std::memcpy(p, row + literalFrom, static_cast<size_t>(block));
      p += block;
      literalFrom += block;
    }
  };
  for (int32_t i = 0; i < n;) {
    int32_t run = 1;
    while (run < kMaxBlock && i + run < n && row[i + run] == row[i]) ++run;
    if (run >= kMinRepeat) {
      flushLiterals(i);
      *p++ = static_cast<uint8_t>(1 - run);
      *p++ = row[i];
      literalFrom = i + run;
    }
    i += run;
  }
  flushLiterals(n);
  return static_cast<size_t>(p - out);
}

RioStatus nkkWriteSline(RCB* rcb) {
  NkkState* st = stateOf(rcb);
  if (!st || !rcb->curSline) return rioSetError(rcb, kRioInternal);
  rowFromRuns(st->row, st->rowBytes, rcb->curSline, rcb->slineBytes / 8 - 1, rcb->width);
  const size_t n = packBits(st->row, st->rowBytes, st->coded);
  (void)streamWrite(rcb->outStream, st->coded, static_cast<int32_t>(n));
  return kRioOk;
}

// No trailer. A page that received no line still gets its header.
RioStatus nkkFinishWrite(RCB* rcb) {
  if (!stateOf(rcb)) return rioSetError(rcb, kRioInternal);
  if (!rcb->headerWritten) {
    rcb->headerWritten = true;
    return nkkWriteHeader(rcb);
  }
  return kRioOk;
}

RioStatus nkkAllocSlines(RCB* rcb) { return rioAllocSline(rcb); }

}  // namespace

extern const FormatDriver kNkkDriver = {
    nkkOpen, rioDriverRefuses, nkkWriteHeader, nkkAllocSlines, rioDriverRefuses, nkkWriteSline,
    rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNotImplemented, nkkFinishWrite, rioDriverNothing,
};

}  // namespace vantrel
