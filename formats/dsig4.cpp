// The "DI" Group 4 format (id 13): a 164-byte header, little-endian, then one Group 4 image, most
// significant bit first. The reader takes the resolution at 40, width and height at 134 and 138, requires
// the coding word 4 at 132 and finds the data at 164 + S, S the sum of the five 32-bit words at 48, 64, 80,
// 96 and 112. The writer puts the data right after the header (S = 0) and patches their length in at 128
// at the end, so its output must be seekable.
#include <algorithm>
#include <cmath>

#include "formats/common/seekable_output.h"
#include "formats/common/byte_io.h"
#include "formats/common/fax_lines.h"
#include "formats/registry.h"

namespace vantrel {
namespace {

constexpr int32_t kHeaderSize = 164;
constexpr uint32_t kVersion = 1992;
constexpr int kResolutionAt = 40;
constexpr int kSkipWordsAt = 48;  // five words, 16 bytes apart
constexpr int kSkipWords = 5;
constexpr int kLengthAt = 128;
constexpr int kCodingAt = 132;
constexpr uint32_t kCodingGroup4 = 4;
constexpr int kWidthAt = 134;
constexpr int kHeightAt = 138;

struct Dsig4ReadState {
  FaxLineReader g4;  // the decoder with a line pair of its own
};

struct Dsig4WriteState {
  FaxLineWriter g4;  // the encoder with a line pair of its own
  bool headerDone = false;          // the header reached the stream: the file can be finished
  SeekableOutput output;  // finish result kept for close
};

RioStatus dsig4Open(RCB* rcb) {
  if (rcb->reading && rcb->inFormat == kFormatDsig4 && !rioNewState<Dsig4ReadState>(rcb->readerState))
    return rioSetError(rcb, kRioOutOfMemory);
  if (rcb->writing && rcb->outFormat == kFormatDsig4) {
    if (rcb->width <= 0) return rioSetError(rcb, kRioBadColumns);
    auto* st = rioNewState<Dsig4WriteState>(rcb->writerState);
    if (!st) return rioSetError(rcb, kRioOutOfMemory);
    st->g4.encoder = FaxEncoder{};
    st->output = SeekableOutput{};
    if (RioStatus r = linePairAlloc(&st->g4.lines, rcb->width)) return rioSetError(rcb, r);
    // The length is patched at the end: random access must be prepared before the first byte leaves.
    if (RioStatus r = seekableOutputOpen(rcb)) return r;
  }
  return kRioOk;
}

// ---------------------------------------------------------------------------------------------------------
// Reading.

RioStatus dsig4ReadHeader(RCB* rcb) {
  auto* st = rioState<Dsig4ReadState>(rcb->readerState);
  if (!st || rcb->inFormat != kFormatDsig4) return rioSetError(rcb, kRioInternal);
  uint8_t h[kHeaderSize];
  if (rioReadInput(rcb, h, kHeaderSize) != kHeaderSize) return rioSetError(rcb, kRioUnexpectedEof);
  if (getLe16(h + kCodingAt) != kCodingGroup4) return rioSetError(rcb, kRioNotImplemented);
  const uint32_t width = getLe32(h + kWidthAt);
  const uint32_t height = getLe32(h + kHeightAt);
  if (width == 0 || width > static_cast<uint32_t>(kMaxLineWidth)) return rioSetError(rcb, kRioBadColumns);
  if (height > static_cast<uint32_t>(INT32_MAX)) return rioSetError(rcb, kRioBadRows);
  int64_t skip = 0;  // five unsigned 32-bit words: at most 5 * (2^32 - 1)
  for (int k = 0; k < kSkipWords; ++k) skip += getLe32(h + kSkipWordsAt + 16 * k);
  int64_t dataBytes = 0;
  if (RioStatus r = seekToImageData(rcb, kHeaderSize + skip, &dataBytes)) return rioSetError(rcb, r);
  // Every Group 4 row takes at least one bit: a larger height cannot be in the file.
  if (height > 8 * static_cast<uint64_t>(dataBytes)) return rioSetError(rcb, kRioBadRows);
  rcb->width = static_cast<int32_t>(width);
  rcb->height = static_cast<int32_t>(height);
  const uint32_t dpi = getLe16(h + kResolutionAt);
  rcb->xDpi = rcb->yDpi = dpi;
  st->g4.decoder = FaxDecoder{};
  if (RioStatus r = linePairAlloc(&st->g4.lines, rcb->width)) return rioSetError(rcb, r);
  rcb->carried = CarriedCode{CarriedCoding::kGroup4, false, false, rcb->width, rcb->height,
                             streamTell(rcb->inStream), dataBytes};
  return kRioOk;
}

RioStatus dsig4ReadSline(RCB* rcb) {
  auto* st = rioState<Dsig4ReadState>(rcb->readerState);
  if (!st) return rioSetError(rcb, kRioInternal);
  if (rcb->linesRead >= rcb->height) return kRioEndOfPage;
  return g4ReadSline(rcb, &st->g4);
}

// ---------------------------------------------------------------------------------------------------------
// Writing.

RioStatus dsig4WriteHeader(RCB* rcb) {
  auto* st = rioState<Dsig4WriteState>(rcb->writerState);
  RasterStream* out = rcb->outStream;
  if (!st || !out) return rioSetError(rcb, kRioInternal);
  uint8_t h[kHeaderSize] = {'D', 'I'};
  for (int copy = 0; copy < 2; ++copy) {
    uint8_t* p = h + 2 + 6 * copy;
    putLe16(p, kVersion);
    p[2] = p[3] = p[4] = p[5] = 0x01;
  }
  const double dpi = std::isfinite(rcb->xDpi) ? std::clamp(std::round(rcb->xDpi), 0.0, 65535.0) : 0.0;
  putLe16(h + kResolutionAt, static_cast<uint32_t>(dpi));
  putLe16(h + kCodingAt, kCodingGroup4);
  putLe32(h + kWidthAt, static_cast<uint32_t>(rcb->width));
  putLe32(h + kHeightAt, static_cast<uint32_t>(rcb->height));
  if (writeAll(out, h, kHeaderSize) != kRioOk) return rioSetError(rcb, kRioStreamIo);
  st->headerDone = true;
  return kRioOk;
}

RioStatus dsig4WriteSline(RCB* rcb) {
  auto* st = rioState<Dsig4WriteState>(rcb->writerState);
  if (!st) return rioSetError(rcb, kRioInternal);
  return g4WriteSline(rcb, &st->g4);
}

// The end-of-block code, then the data length patched in at 128 and the stream back at the end.
RioStatus finishFile(RCB* rcb, Dsig4WriteState* st) {
  RasterStream* out = rcb->outStream;
  if (!out) return rioSetError(rcb, kRioBadStream);
  // A page closed before its first line still gets its header, so the file is well formed.
  if (!rcb->headerWritten) {
    rcb->headerWritten = true;
    if (RioStatus r = dsig4WriteHeader(rcb)) return r;
  }
  if (!st->headerDone) return rcb->status != kRioOk ? rcb->status : rioSetError(rcb, kRioStreamIo);
  if (RioStatus r = g4FinishWrite(rcb, &st->g4)) return r;
  const int64_t end = streamTell(out);
  const int64_t length = end - kHeaderSize;
  if (length < 0) return rioSetError(rcb, kRioInternal);
  if (length > int64_t{UINT32_MAX}) return rioSetError(rcb, kRioBadParameter);
  uint8_t field[4];
  putLe32(field, static_cast<uint32_t>(length));
  if (patchAt(out, kLengthAt, field, sizeof field) != kRioOk) return rioSetError(rcb, kRioStreamIo);
  return kRioOk;
}

RioStatus dsig4FinishWrite(RCB* rcb) {
  auto* st = rioState<Dsig4WriteState>(rcb->writerState);
  if (!st || rcb->outFormat != kFormatDsig4) return rioSetError(rcb, kRioInternal);
  return seekableOutputFinish(rcb, st->output, finishFile(rcb, st));
}

RioStatus dsig4Close(RCB* rcb) {
  RioStatus result = kRioOk;
  if (rcb->reading && rcb->inFormat == kFormatDsig4 && rcb->linesRead != rcb->height)
    rioSetWarning(rcb, kRioBadRows);
  if (rcb->writing && rcb->outFormat == kFormatDsig4) {
    auto* st = rioState<Dsig4WriteState>(rcb->writerState);
    result = seekableOutputClose(rcb, st ? &st->output : nullptr);
  }
  return result;
}

RioStatus dsig4AllocSlines(RCB* rcb) { return rioAllocSlinePair(rcb); }

}  // namespace

extern const FormatDriver kDsig4Driver = {
    dsig4Open, dsig4ReadHeader, dsig4WriteHeader, dsig4AllocSlines, dsig4ReadSline, dsig4WriteSline,
    rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNothing, dsig4FinishWrite, dsig4Close,
};

RasterFormatId probeDsig4(const uint8_t* b, RioStatus*) { return b[0] == 'D' && b[1] == 'I' ? kFormatDsig4 : 0; }

}  // namespace vantrel
