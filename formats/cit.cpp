// Intergraph CIT (id 31): a header of 256-byte blocks, then one image. Header numbers are 16-bit
// little-endian: at 2 the header words that follow (data at 2 N + 4), at 4 the data type, at 184 the width,
// at 188 the height, at 192 the resolution stored negated. Data type 24 is Group 4 stored least significant
// bit first (the one we write, after a 1024-byte header); type 9 is rows of bytes in a byte run-length code,
// every data byte complemented (0 = black). Other types are refused.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "formats/common/byte_io.h"
#include "formats/common/fax_lines.h"
#include "formats/registry.h"
#include "picture/tpicture.h"

namespace vantrel {
namespace {

constexpr int32_t kBlockSize = 256;
constexpr int32_t kWrittenHeaderSize = 4 * kBlockSize;
constexpr uint8_t kLevelByte = 0x08;
constexpr uint8_t kRasterType = 0x09;
constexpr uint32_t kWrittenWordsToFollow = (kWrittenHeaderSize - 4) / 2;  // 0x01FE
constexpr int kWordsToFollowAt = 2;
constexpr int kDataTypeAt = 4;
constexpr int kWidthAt = 184;
constexpr int kHeightAt = 188;
constexpr int kResolutionAt = 192;
constexpr uint8_t kTypeGroup4 = 24;
constexpr uint8_t kTypeByteRuns = 9;
constexpr int kRepeatCode = 0xC0;  // a byte at or above it repeats the next byte (count in its low six bits)
constexpr uint32_t kMaxSide = 65535;  // the 16-bit size fields

struct CitReadState {
  uint8_t dataType = 0;
  FaxLineReader g4;  // the decoder with a line pair of its own
  uint8_t* row = nullptr;  // type 9: one row in whole 32-bit words, pixel 0 first
  int32_t rowBytes = 0;
  int32_t repeatLeft = 0;  // type 9: copies still owed by a run that crossed the end of the row above
  uint8_t repeatByte = 0;
  ~CitReadState() { rioFree(row); }
};

struct CitWriteState {
  FaxLineWriter g4;  // the encoder with a line pair of its own
};

RioStatus citOpen(RCB* rcb) {
  if (rcb->reading && rcb->inFormat == kFormatCit && !rioNewState<CitReadState>(rcb->readerState))
    return rioSetError(rcb, kRioOutOfMemory);
  if (rcb->writing && rcb->outFormat == kFormatCit) {
    // The header holds 16 bits of each: a larger page would wrap.
    if (rcb->width <= 0 || static_cast<uint32_t>(rcb->width) > kMaxSide) return rioSetError(rcb, kRioBadColumns);
    if (static_cast<uint32_t>(rcb->height) > kMaxSide) return rioSetError(rcb, kRioBadRows);
    auto* st = rioNewState<CitWriteState>(rcb->writerState);
    if (!st) return rioSetError(rcb, kRioOutOfMemory);
    st->g4.encoder = FaxEncoder{};
    st->g4.encoder.bits.lsbFirst = true;
    if (RioStatus r = linePairAlloc(&st->g4.lines, rcb->width)) return rioSetError(rcb, r);
  }
  return kRioOk;
}

// ---------------------------------------------------------------------------------------------------------
// Reading.

RioStatus citReadHeader(RCB* rcb) {
  auto* st = rioState<CitReadState>(rcb->readerState);
  if (!st || rcb->inFormat != kFormatCit) return rioSetError(rcb, kRioInternal);
  uint8_t h[kBlockSize];
  if (rioReadInput(rcb, h, kBlockSize) != kBlockSize) return rioSetError(rcb, kRioUnexpectedEof);
  const int64_t dataStart = 2 * int64_t{getLe16(h + kWordsToFollowAt)} + 4;
  if (dataStart < kBlockSize) return rioSetError(rcb, kRioBadHeader);  // inside the block just read
  st->dataType = h[kDataTypeAt];
  if (st->dataType != kTypeGroup4 && st->dataType != kTypeByteRuns) return rioSetError(rcb, kRioNotImplemented);
  const int32_t width = static_cast<int32_t>(getLe16(h + kWidthAt));
  if (width == 0) return rioSetError(rcb, kRioBadColumns);
  rcb->width = width;
  rcb->height = static_cast<int32_t>(getLe16(h + kHeightAt));
  const auto resolution = static_cast<int16_t>(getLe16(h + kResolutionAt));
  if (resolution < 0) rcb->xDpi = rcb->yDpi = -static_cast<double>(resolution);

  int64_t dataBytes = 0;
  if (RioStatus r = seekToImageData(rcb, dataStart, &dataBytes)) return rioSetError(rcb, r);
  if (st->dataType == kTypeGroup4) {
    st->g4.decoder = FaxDecoder{};
    st->g4.decoder.bits.lsbFirst = true;
    if (RioStatus r = linePairAlloc(&st->g4.lines, width)) return rioSetError(rcb, r);
    rcb->carried = CarriedCode{CarriedCoding::kGroup4, true, false, width, rcb->height,
                               streamTell(rcb->inStream), dataBytes};
  } else {
    st->rowBytes = (width + 7) / 8;
    const int64_t words = bitmapWords(width);
    st->row = static_cast<uint8_t*>(rioCalloc(static_cast<size_t>(words), sizeof(uint32_t)));
    if (!st->row) return rioSetError(rcb, kRioOutOfMemory);
  }
  return kRioOk;
}

// One type-9 row: literal bytes and repeats, each data byte stored complemented. A repeat that passes the
// end of the row carries into the next one.
RioStatus readByteRunRow(RasterStream* in, CitReadState* st) {
  uint8_t* row = st->row;
  const int32_t rowBytes = st->rowBytes;
  int32_t filled = std::min(st->repeatLeft, rowBytes);
  std::memset(row, st->repeatByte, static_cast<size_t>(filled));
  st->repeatLeft -= filled;
  while (filled < rowBytes) {
    const int code = streamGetByte(in);
    if (code < 0) return kRioUnexpectedEof;
    if (code < kRepeatCode) {
      row[filled++] = static_cast<uint8_t>(~code);
      continue;
    }
    const int value = streamGetByte(in);
    if (value < 0) return kRioUnexpectedEof;
    const int32_t count = code & 0x3F;
    const int32_t here = std::min(count, rowBytes - filled);
    st->repeatByte = static_cast<uint8_t>(~value);
    std::memset(row + filled, st->repeatByte, static_cast<size_t>(here));
    filled += here;
    st->repeatLeft = count - here;
  }
  return kRioOk;
}

RioStatus citReadSline(RCB* rcb) {
  auto* st = rioState<CitReadState>(rcb->readerState);
  if (!st || !rcb->curSline) return rioSetError(rcb, kRioInternal);
  if (rcb->linesRead >= rcb->height) return kRioEndOfPage;
  if (st->dataType == kTypeGroup4) return g4ReadSline(rcb, &st->g4);
  if (RioStatus r = readByteRunRow(rcb->inStream, st)) return rioSetError(rcb, r);
  BitmapStringToRuns(reinterpret_cast<const uint32_t*>(st->row), static_cast<int32_t>(bitmapWords(rcb->width)),
                     rcb->curSline, 0, rcb->width - 1);
  return kRioOk;
}

// ---------------------------------------------------------------------------------------------------------
// Writing.

RioStatus citWriteHeader(RCB* rcb) {
  if (!rioState<CitWriteState>(rcb->writerState) || !rcb->outStream) return rioSetError(rcb, kRioInternal);
  uint8_t h[kWrittenHeaderSize] = {};
  h[0] = kLevelByte;
  h[1] = kRasterType;
  putLe16(h + kWordsToFollowAt, kWrittenWordsToFollow);
  h[kDataTypeAt] = kTypeGroup4;
  h[6] = 3;
  putLe16(h + kWidthAt, static_cast<uint32_t>(rcb->width));
  putLe16(h + kHeightAt, static_cast<uint32_t>(rcb->height));
  // Stored negated; an unknown resolution is 0, which reads back as unknown.
  const double dpi = std::isfinite(rcb->xDpi) ? std::clamp(rcb->xDpi, 0.0, 32767.0) : 0.0;
  putLe16(h + kResolutionAt, static_cast<uint32_t>(-static_cast<int32_t>(dpi)) & 0xFFFF);
  h[kBlockSize + 255] = 3;
  if (streamWrite(rcb->outStream, h, kWrittenHeaderSize) != kWrittenHeaderSize)
    return rioSetError(rcb, kRioStreamIo);
  return kRioOk;
}

RioStatus citWriteSline(RCB* rcb) {
  auto* st = rioState<CitWriteState>(rcb->writerState);
  if (!st) return rioSetError(rcb, kRioInternal);
  return g4WriteSline(rcb, &st->g4);
}

RioStatus citFinishWrite(RCB* rcb) {
  auto* st = rioState<CitWriteState>(rcb->writerState);
  if (!st || !rcb->outStream) return rioSetError(rcb, kRioInternal);
  // A page closed before its first line still gets its header, so the file is well formed.
  if (!rcb->headerWritten) {
    rcb->headerWritten = true;
    if (RioStatus r = citWriteHeader(rcb)) return r;
  }
  return g4FinishWrite(rcb, &st->g4);
}

RioStatus citClose(RCB* rcb) {
  if (rcb->reading && rcb->inFormat == kFormatCit && rcb->linesRead != rcb->height) rioSetWarning(rcb, kRioBadRows);
  if (rcb->writing && rcb->outFormat == kFormatCit && rcb->linesWritten != rcb->height)
    rioSetWarning(rcb, kRioBadRows);
  return kRioOk;
}

RioStatus citAllocSlines(RCB* rcb) { return rioAllocSlinePair(rcb); }

}  // namespace

extern const FormatDriver kCitDriver = {
    citOpen, citReadHeader, citWriteHeader, citAllocSlines, citReadSline, citWriteSline,
    rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNotImplemented, citFinishWrite, citClose,
};

// The first header word: 0x08, then 0x09 (raster) or 0x00.
RasterFormatId probeCit(const uint8_t* b, RioStatus*) {
  return b[0] == kLevelByte && (b[1] == kRasterType || b[1] == 0x00) ? kFormatCit : 0;
}

}  // namespace vantrel
