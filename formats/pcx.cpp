// PCX (id 20): a 128-byte header, then the rows, each coded with the PCX byte run-length scheme (a byte of
// 0xC0 or more is a count byte whose low six bits repeat the byte after it; any other byte stands for
// itself). One bit per pixel, one plane, most significant bit leftmost; in the file 0 is black.
//
// The writer writes the standard file: version 5, window 0..W - 1 by 0..H - 1, a palette of black and
// white, rows of the width in bytes rounded up to an even count (padded white). The reader takes both
// conventions: version 0 (files of the older writer) has width Xmax, height Ymax and rows of Xmax / 8 + 1
// bytes; every other version has Xmax - Xmin + 1 by Ymax - Ymin + 1 and rows of the header's bytes per line.
// Colour files (more planes or more bits per pixel) are refused.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "formats/common/byte_io.h"
#include "formats/common/raster_row.h"
#include "formats/registry.h"
#include "picture/tpicture.h"

namespace vantrel {
namespace {

constexpr int32_t kHeaderSize = 128;
constexpr uint8_t kMagic = 0x0A;
constexpr uint8_t kWrittenVersion = 5;
constexpr uint8_t kOldVersion = 0;  // the older writer's convention: the window is the size itself
constexpr uint8_t kRunLengthCoding = 1;
constexpr uint8_t kCountFlag = 0xC0;
constexpr int32_t kMaxRepeat = 63;
constexpr int32_t kMaxSide = 65536;  // the 16-bit window fields hold 0..65535

// Header offsets.
constexpr int kVersion = 1;
constexpr int kCoding = 2;
constexpr int kBitsPerPixel = 3;
constexpr int kXMin = 4;
constexpr int kYMin = 6;
constexpr int kXMax = 8;
constexpr int kYMax = 10;
constexpr int kHorizontalDpi = 12;
constexpr int kVerticalDpi = 14;
constexpr int kPalette = 16;
constexpr int kPlanes = 65;
constexpr int kBytesPerLine = 66;
constexpr int kPaletteInfo = 68;

struct PcxReadState {
  int32_t rowBytes = 0;      // bytes a row takes in the file
  uint8_t flip = 0xFF;       // XORed into each file byte so that 1 is black
  int32_t carried = 0;       // bytes of a run that passed the previous row's end
  uint8_t carriedByte = 0;   // their value, already flipped
  uint32_t* row = nullptr;   // the row as a bitmap string: rowBytes, at least the width's whole words
  ~PcxReadState() { rioFree(row); }
};

struct PcxWriteState {
  int32_t width = 0;
  int32_t height = 0;
  int32_t rowBytes = 0;       // the width in bytes, rounded up to even
  int32_t rowsWritten = 0;
  uint8_t* row = nullptr;     // rowBytes, 1 is black
  uint8_t* packed = nullptr;  // one coded row: at most two bytes for each row byte
  ~PcxWriteState() {
    rioFree(row);
    rioFree(packed);
  }
};

// A resolution field: truncated to an integer and held to 0..65535.
uint16_t dpiField(double dpi) {
  if (!(dpi > 0)) return 0;
  return static_cast<uint16_t>(std::min(std::trunc(dpi), 65535.0));
}

bool readsPcx(const RCB* rcb) {
  return rcb->reading && rcb->inFormat == kFormatPcx;
}
bool writesPcx(const RCB* rcb) {
  return rcb->writing && rcb->outFormat == kFormatPcx;
}

RioStatus pcxOpen(RCB* rcb) {
  if (readsPcx(rcb) && !rioNewState<PcxReadState>(rcb->readerState)) return rioSetError(rcb, kRioOutOfMemory);
  if (!writesPcx(rcb) || rioState<PcxWriteState>(rcb->writerState)) return kRioOk;
  // The window fields cannot hold a larger page, and no window holds an empty one.
  if (rcb->width < 1 || rcb->width > kMaxSide) return rioSetError(rcb, kRioBadColumns);
  if (rcb->height < 1 || rcb->height > kMaxSide) return rioSetError(rcb, kRioBadRows);
  auto* st = rioNewState<PcxWriteState>(rcb->writerState);
  if (!st) return rioSetError(rcb, kRioOutOfMemory);
  st->width = rcb->width;
  st->height = rcb->height;
  const int32_t bytes = (rcb->width + 7) / 8;
  st->rowBytes = bytes + bytes % 2;
  st->row = static_cast<uint8_t*>(rioMalloc(static_cast<size_t>(st->rowBytes)));
  st->packed = static_cast<uint8_t*>(rioMalloc(2 * static_cast<size_t>(st->rowBytes)));
  if (!st->row || !st->packed) return rioSetError(rcb, kRioOutOfMemory);
  return kRioOk;
}

// The header's geometry, checked: a colour image is refused, and a row must hold the width.
RioStatus pcxReadHeader(RCB* rcb) {
  auto* st = rioState<PcxReadState>(rcb->readerState);
  if (!st) return rioSetError(rcb, kRioInternal);
  uint8_t h[kHeaderSize];
  if (rioReadInput(rcb, h, kHeaderSize) != kHeaderSize) return rioSetError(rcb, kRioUnexpectedEof);
  if (h[0] != kMagic || h[kBitsPerPixel] > 1 || h[kPlanes] > 1) return rioSetError(rcb, kRioBadHeader);

  int32_t width = 0;
  int32_t height = 0;
  int32_t rowBytes = 0;
  if (h[kVersion] == kOldVersion) {
    width = getLe16(h + kXMax);
    height = getLe16(h + kYMax);
    rowBytes = width / 8 + 1;
  } else {
    width = getLe16(h + kXMax) - getLe16(h + kXMin) + 1;
    height = getLe16(h + kYMax) - getLe16(h + kYMin) + 1;
    rowBytes = getLe16(h + kBytesPerLine);
  }
  if (width < 1) return rioSetError(rcb, kRioBadColumns);
  if (height < 0) return rioSetError(rcb, kRioBadRows);
  if (rowBytes < (width + 7) / 8) return rioSetError(rcb, kRioBadHeader);

  rcb->width = std::min(rcb->width, width);
  rcb->height = std::min(rcb->height, height);
  rcb->xDpi = getLe16(h + kHorizontalDpi);
  rcb->yDpi = getLe16(h + kVerticalDpi);
  st->rowBytes = rowBytes;
  // Pixel value 0 is black, as every common reader takes it, unless the palette of a version 5 file says
  // outright that 0 is white and 1 black (a page of a single colour may be written so).
  const uint8_t* palette = h + kPalette;
  const bool zeroIsWhite = h[kVersion] == kWrittenVersion && palette[0] == 0xFF && palette[1] == 0xFF &&
                           palette[2] == 0xFF && palette[3] == 0 && palette[4] == 0 && palette[5] == 0;
  st->flip = zeroIsWhite ? 0x00 : 0xFF;
  const int64_t words = std::max<int64_t>(bitmapWords(rcb->width), (int64_t{rowBytes} + 3) / 4);
  st->row = static_cast<uint32_t*>(rioCalloc(static_cast<size_t>(words), sizeof(uint32_t)));
  if (!st->row) return rioSetError(rcb, kRioOutOfMemory);
  return kRioOk;
}

RioStatus pcxAllocSlines(RCB* rcb) {
  return rioAllocSline(rcb);
}

// One row: rowBytes bytes, a run passing the row's end carried into the next row.
RioStatus pcxReadSline(RCB* rcb) {
  auto* st = rioState<PcxReadState>(rcb->readerState);
  if (!st || !st->row || !rcb->curSline || !rcb->inStream) return rioSetError(rcb, kRioInternal);
  if (rcb->linesRead >= rcb->height) return kRioEndOfPage;
  RasterStream* in = rcb->inStream;
  auto* row = reinterpret_cast<uint8_t*>(st->row);
  const int32_t rowBytes = st->rowBytes;
  const uint8_t flip = st->flip;
  int32_t filled = std::min(st->carried, rowBytes);
  std::memset(row, st->carriedByte, static_cast<size_t>(filled));
  st->carried -= filled;
  while (filled < rowBytes) {
    const int b = streamGetByte(in);
    if (b < 0) return kRioUnexpectedEof;
    if (b < kCountFlag) {
      row[filled++] = static_cast<uint8_t>(b ^ flip);
      continue;
    }
    const int v = streamGetByte(in);
    if (v < 0) return kRioUnexpectedEof;
    const int32_t count = b & kMaxRepeat;
    const int32_t here = std::min(count, rowBytes - filled);
    const auto value = static_cast<uint8_t>(v ^ flip);
    std::memset(row + filled, value, static_cast<size_t>(here));
    filled += here;
    st->carried = count - here;
    st->carriedByte = value;
  }
  BitmapStringToRuns(st->row, static_cast<int32_t>(bitmapWords(rcb->width)), rcb->curSline, 0, rcb->width - 1);
  return kRioOk;
}

RioStatus put(RCB* rcb, const uint8_t* bytes, int32_t n) {
  if (streamWrite(rcb->outStream, bytes, n) != n) return rioSetError(rcb, kRioStreamIo);
  return kRioOk;
}

RioStatus pcxWriteHeader(RCB* rcb) {
  auto* st = rioState<PcxWriteState>(rcb->writerState);
  if (!st) return rioSetError(rcb, kRioInternal);
  uint8_t h[kHeaderSize] = {};
  h[0] = kMagic;
  h[kVersion] = kWrittenVersion;
  h[kCoding] = kRunLengthCoding;
  h[kBitsPerPixel] = 1;
  putLe16(h + kXMax, static_cast<uint16_t>(st->width - 1));
  putLe16(h + kYMax, static_cast<uint16_t>(st->height - 1));
  putLe16(h + kHorizontalDpi, dpiField(rcb->xDpi));
  putLe16(h + kVerticalDpi, dpiField(rcb->yDpi));
  std::memset(h + kPalette + 3, 0xFF, 3);  // entry 0 black, entry 1 white
  h[kPlanes] = 1;
  putLe16(h + kBytesPerLine, static_cast<uint16_t>(st->rowBytes));
  putLe16(h + kPaletteInfo, 1);
  return put(rcb, h, kHeaderSize);
}

// Codes a row of 1-is-black bytes: runs of 1 to 63 equal bytes; a count byte goes before a run of more than
// one byte and before a single byte that would itself read as a count. Returns the bytes written.
int32_t packRow(const uint8_t* row, int32_t n, uint8_t* out) {
  uint8_t* q = out;
  for (int32_t i = 0; i < n;) {
    const uint8_t c = row[i];
    const int32_t limit = std::min(n, i + kMaxRepeat);
    int32_t j = i + 1;
    while (j < limit && row[j] == c) ++j;
    const int32_t run = j - i;
    const auto v = static_cast<uint8_t>(~c);
    if (run > 1 || v >= kCountFlag) *q++ = static_cast<uint8_t>(kCountFlag | run);
    *q++ = v;
    i = j;
  }
  return static_cast<int32_t>(q - out);
}

RioStatus pcxWriteSline(RCB* rcb) {
  auto* st = rioState<PcxWriteState>(rcb->writerState);
  const int32_t* runs = rcb->curSline;
  if (!st || !runs) return rioSetError(rcb, kRioInternal);
  if (st->rowsWritten >= st->height) {  // the header has no room for it
    rioSetWarning(rcb, kRioBadRows);
    return kRioOk;
  }
  rowFromRuns(st->row, st->rowBytes, runs, rcb->slineBytes / 8 - 1, st->width);
  ++st->rowsWritten;
  return put(rcb, st->packed, packRow(st->row, st->rowBytes, st->packed));
}

// A page closed early is completed with white rows, so that its rows match the header, unless the run has
// failed (its output is lost anyway). A page that received no line still gets its header.
RioStatus pcxFinishWrite(RCB* rcb) {
  auto* st = rioState<PcxWriteState>(rcb->writerState);
  if (!st) return rioSetError(rcb, kRioInternal);
  if (!rcb->headerWritten) {
    rcb->headerWritten = true;
    if (RioStatus r = pcxWriteHeader(rcb)) return r;
  }
  if (rcb->status != kRioOk && rcb->status != kRioEndOfPage) return kRioOk;
  std::memset(st->row, 0, static_cast<size_t>(st->rowBytes));
  const int32_t n = packRow(st->row, st->rowBytes, st->packed);
  for (; st->rowsWritten < st->height; ++st->rowsWritten)
    if (RioStatus r = put(rcb, st->packed, n)) return r;
  return kRioOk;
}

RioStatus pcxClose(RCB*) {
  return kRioOk;  // the core releases the state blocks
}

}  // namespace

extern const FormatDriver kPcxDriver = {
    pcxOpen, pcxReadHeader, pcxWriteHeader, pcxAllocSlines, pcxReadSline, pcxWriteSline,
    rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNotImplemented, pcxFinishWrite, pcxClose,
};

// Any file whose first byte is 0x0A is taken as PCX; the reader judges the rest.
RasterFormatId probePcx(const uint8_t* bytes, RioStatus*) {
  return bytes[0] == kMagic ? kFormatPcx : 0;
}

}  // namespace vantrel
