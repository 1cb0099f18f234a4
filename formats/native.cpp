// Native run-length format (id 3): the native header, then one 4-byte record per black run, big-endian.
// Record: last-pixel word (bits 0-14 index of the run's last black pixel, bit 15 end of image), length word
// (bits 0-14 run length, bit 15 end of line). A line not ending at the last column ends with a marker record
// (last pixel width - 1, length 0, end of line); an all-white line is that marker alone.
#include "formats/native.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "formats/common/byte_io.h"
#include "formats/registry.h"

namespace vantrel {
namespace {
constexpr int kRecordSize = 4;
constexpr uint16_t kFlagBit = 0x8000;  // end of image in the last-pixel word, end of line in the length word
constexpr uint16_t kValueMask = 0x7FFF;
constexpr int32_t kExtraChunk = 65536;  // extra header bytes are read this many at a time

struct NativeReadState {
  bool endOfImage = false;  // the end-of-image record has been read
  NativeHeaderInfo header;
};

// The writer keeps its own width: in an RCB that also reads, the reader's width must stay as it is.
struct NativeWriteState {
  int32_t width = 0;  // the RCB's width held to the 15-bit fields
  uint8_t held[kRecordSize] = {};  // the last record of the last line, held back for the end-of-image flag
  bool holding = false;
};

// Resolution field: tenths of a dot per inch, rounded half away from zero, held to the int32 range.
uint32_t dpiTenths(double dpi) {
  double v = std::round(dpi * 10);
  if (!(v == v)) return 0;
  v = std::clamp(v, static_cast<double>(INT32_MIN), static_cast<double>(INT32_MAX));
  return static_cast<uint32_t>(static_cast<int32_t>(v));
}

void encodeRecord(uint8_t* out, int32_t lastPixel, int32_t length, bool endOfLine) {
  putBe16(out, static_cast<uint16_t>(lastPixel & kValueMask));
  putBe16(out + 2, static_cast<uint16_t>((length & kValueMask) | (endOfLine ? kFlagBit : 0)));
}

// The marker record ending a line that does not reach the last column.
void encodeMarker(uint8_t* out, int32_t width) {
  encodeRecord(out, std::max(width - 1, 0), 0, true);
}

bool readRecord(RasterStream* in, uint8_t* rec) {
  if (in->end - in->cur >= kRecordSize) {
    std::memcpy(rec, in->cur, kRecordSize);
    in->cur += kRecordSize;
    return true;
  }
  return streamRead(in, rec, kRecordSize) == kRecordSize;
}

RioStatus writeBytes(RCB* rcb, const uint8_t* bytes, int32_t n) {
  if (!rcb->outStream || streamWrite(rcb->outStream, bytes, n) != n) return rioSetError(rcb, kRioStreamIo);
  return kRioOk;
}

RioStatus flushHeld(RCB* rcb, NativeWriteState* st) {
  if (!st->holding) return kRioOk;
  st->holding = false;
  return writeBytes(rcb, st->held, kRecordSize);
}

// Extra header bytes beyond the fixed 90: read in bounded chunks into a buffer that grows only as data
// arrive, so a huge length field in a small file ends in a short read, not a huge allocation.
RioStatus readExtraHeader(RCB* rcb, int32_t length) {
  int64_t capacity = std::min<int64_t>(length, kExtraChunk);
  auto* block = static_cast<uint8_t*>(rioMalloc(static_cast<size_t>(capacity)));
  if (!block) return rioSetError(rcb, kRioOutOfMemory);
  int64_t got = 0;
  while (got < length) {
    if (got == capacity) {
      int64_t grown = std::min<int64_t>(length, capacity + std::min<int64_t>(capacity, kExtraChunk * 16));
      auto* bigger = static_cast<uint8_t*>(rioRealloc(block, static_cast<size_t>(grown)));
      if (!bigger) {
        rioFree(block);
        return rioSetError(rcb, kRioOutOfMemory);
      }
      block = bigger;
      capacity = grown;
    }
    const auto chunk = static_cast<int32_t>(std::min<int64_t>(capacity - got, kExtraChunk));
    const int32_t n = rioReadInput(rcb, block + got, chunk);
    got += std::max(n, 0);
    if (n != chunk) {
      rioFree(block);
      return rioSetError(rcb, kRioStreamIo);
    }
  }
  const RioStatus r = rioAttachExtraHeader(rcb, block, length);
  if (r != kRioOk) {
    rioFree(block);
    return rioSetError(rcb, r);
  }
  return kRioOk;
}

RioStatus nativeOpen(RCB* rcb) {
  if (rcb->reading && rcb->inFormat == kFormatRunLength && !rioNewState<NativeReadState>(rcb->readerState))
    return rioSetError(rcb, kRioOutOfMemory);
  if (rcb->writing && rcb->outFormat == kFormatRunLength) {
    auto* st = rioNewState<NativeWriteState>(rcb->writerState);
    if (!st) return rioSetError(rcb, kRioOutOfMemory);
    // Pixel indexes hold 15 bits: a wider page cannot be stated and is refused before anything is written.
    if (rcb->width > kNativeMaxWidth) return rioSetError(rcb, kRioBadColumns);
    st->width = rcb->width;
  }
  return kRioOk;
}

RioStatus nativeReadHeaderOp(RCB* rcb) {
  auto* st = rioState<NativeReadState>(rcb->readerState);
  if (!st) return rioSetError(rcb, kRioInternal);
  return nativeReadHeader(rcb, kNativeRunLength, &st->header);
}

RioStatus nativeWriteHeaderOp(RCB* rcb) {
  auto* st = rioState<NativeWriteState>(rcb->writerState);
  if (!st) return rioSetError(rcb, kRioInternal);
  return nativeWriteHeader(rcb, kNativeRunLength, st->width);
}

RioStatus nativeAllocSlines(RCB* rcb) {
  return rioAllocSline(rcb);
}

// Runs are merged and clipped as their records arrive, so the list stays increasing, disjoint and inside
// [0, width): it can never hold more than (width + 1) / 2 runs, whatever the records say. A line that
// needed repair gives the same runs as clipping the raw list to the width and joining overlaps.
RioStatus nativeReadSline(RCB* rcb) {
  auto* st = rioState<NativeReadState>(rcb->readerState);
  Sline runs = rcb->curSline;
  if (!st || !runs || !rcb->inStream) return rioSetError(rcb, kRioInternal);
  if (st->endOfImage) return kRioEndOfPage;

  const int32_t width = rcb->width;
  RasterStream* in = rcb->inStream;
  int32_t values = 0;      // int32 values stored so far (two per run)
  int32_t previousE = -2;  // last pixel of the previous run record, as stored in the file
  bool repair = false;
  bool closed = false;  // a run started at or beyond the width: the repaired list ends there
  uint8_t rec[kRecordSize];
  for (;;) {
    if (!readRecord(in, rec)) {
      runs[values] = runs[values + 1] = kSlineEnd;
      if (repair) rioSetWarning(rcb, kRioBadData);
      return rioSetError(rcb, kRioStreamIo);
    }
    const uint16_t lastWord = getBe16(rec);
    const uint16_t lengthWord = getBe16(rec + 2);
    const int32_t e = lastWord & kValueMask;
    const int32_t n = lengthWord & kValueMask;
    if (n > 0) {
      int32_t start = e - n + 1;
      if (e >= width || start < 0) {
        rioSetWarning(rcb, kRioBadColumns);
        repair = true;
      }
      if (start <= previousE + 1) repair = true;
      previousE = e;
      if (!closed && start >= width) closed = true;
      if (!closed) {
        start = std::max(start, 0);
        const int32_t end = std::min(e + 1, width);
        if (end > start) {
          if (values > 0 && start <= runs[values - 1]) {
            runs[values - 1] = std::max(runs[values - 1], end);
          } else {
            runs[values] = start;
            runs[values + 1] = end;
            values += 2;
          }
        }
      }
    }
    if (lengthWord & kFlagBit) {
      runs[values] = runs[values + 1] = kSlineEnd;
      if (repair) rioSetWarning(rcb, kRioBadData);
      if (lastWord & kFlagBit) st->endOfImage = true;
      return kRioOk;
    }
  }
}

enum class LineState { kStart, kAfterRun, kAtLastColumn };

RioStatus nativeWriteSline(RCB* rcb) {
  auto* st = rioState<NativeWriteState>(rcb->writerState);
  const int32_t* runs = rcb->curSline;
  if (!st || !runs) return rioSetError(rcb, kRioInternal);
  if (rcb->linesWritten >= rcb->height) {
    rioSetWarning(rcb, kRioBadRows);
    return kRioOk;
  }
  const int32_t width = st->width;
  LineState state = LineState::kStart;
  int64_t previousE = -2;
  uint8_t rec[kRecordSize];
  RioStatus r = kRioOk;
  for (; runs[0] != kSlineEnd; runs += 2) {
    int64_t s = runs[0];
    int64_t e = int64_t{runs[1]} - 1;
    if (e >= width) {
      if (s > e || s <= previousE + 1) {
        rioSetWarning(rcb, kRioBadData);
        continue;
      }
      rioSetWarning(rcb, kRioBadColumns);
      if (s >= width) break;
      e = width - 1;
    }
    if (state == LineState::kAtLastColumn) return rioSetError(rcb, kRioInternal);
    if (s < 0) {
      rioSetWarning(rcb, kRioBadColumns);
      s = 0;
    }
    if (s > e) {  // an empty run carries no pixel and has no record
      rioSetWarning(rcb, kRioBadData);
      continue;
    }
    // Overlaps below the last column are written as they are: the reader joins them.
    if ((r = flushHeld(rcb, st)) != kRioOk) return r;
    previousE = e;
    const auto last = static_cast<int32_t>(e);  // now inside [0, width)
    const auto length = static_cast<int32_t>(e - s + 1);
    if (last == width - 1) {
      encodeRecord(st->held, last, length, true);
      st->holding = true;
      state = LineState::kAtLastColumn;
    } else {
      encodeRecord(rec, last, length, false);
      if ((r = writeBytes(rcb, rec, kRecordSize)) != kRioOk) return r;
      state = LineState::kAfterRun;
    }
  }
  if (state == LineState::kAtLastColumn) return kRioOk;
  if ((r = flushHeld(rcb, st)) != kRioOk) return r;
  encodeMarker(st->held, width);
  st->holding = true;
  return kRioOk;
}

RioStatus nativeFinishWrite(RCB* rcb) {
  auto* st = rioState<NativeWriteState>(rcb->writerState);
  if (!st) return rioSetError(rcb, kRioInternal);
  RioStatus r = kRioOk;
  // A page closed before its first line still gets its header, so the file is a valid (white) page.
  if (!rcb->headerWritten) {
    rcb->headerWritten = true;
    if ((r = nativeWriteHeaderOp(rcb)) != kRioOk) return r;
  }
  if (rcb->linesWritten > rcb->height) rioSetWarning(rcb, kRioBadRows);
  // Pad to the height with white lines, unless the run has already failed (the output is lost anyway and
  // a hostile height would make the padding huge).
  const bool failed = rcb->status != kRioOk && rcb->status != kRioEndOfPage;
  if (!failed && rcb->linesWritten < rcb->height) {
    if ((r = flushHeld(rcb, st)) != kRioOk) return r;
    const int32_t width = st->width;
    constexpr int kBlockRecords = 4096;
    uint8_t block[kBlockRecords * kRecordSize];
    for (int i = 0; i < kBlockRecords; ++i) encodeMarker(block + i * kRecordSize, width);
    int64_t missing = int64_t{rcb->height} - rcb->linesWritten - 1;  // the last one is held back
    while (missing > 0) {
      const auto n = static_cast<int32_t>(std::min<int64_t>(missing, kBlockRecords));
      if ((r = writeBytes(rcb, block, n * kRecordSize)) != kRioOk) return r;
      missing -= n;
    }
    encodeMarker(st->held, width);
    st->holding = true;
  }
  if (st->holding) {
    st->held[0] |= kFlagBit >> 8;
    st->holding = false;
    return writeBytes(rcb, st->held, kRecordSize);
  }
  uint8_t last[kRecordSize];
  encodeMarker(last, st->width);
  last[0] |= kFlagBit >> 8;
  rcb->linesWritten += 1;
  return writeBytes(rcb, last, kRecordSize);
}

RioStatus nativeClose(RCB* rcb) {
  if (rcb->reading && rcb->inFormat == kFormatRunLength && rcb->linesRead != rcb->height)
    rioSetWarning(rcb, kRioBadRows);
  if (rcb->writing && rcb->outFormat == kFormatRunLength && rcb->linesWritten != rcb->height)
    rioSetWarning(rcb, kRioBadRows);
  return kRioOk;
}

}  // namespace

RioStatus nativeReadHeader(RCB* rcb, int codingType, NativeHeaderInfo* out) {
  uint8_t h[kNativeFixedHeaderSize];
  if (rioReadInput(rcb, h, kNativeFixedHeaderSize) != kNativeFixedHeaderSize)
    return rioSetError(rcb, kRioStreamIo);
  std::memcpy(rcb->makerTag, h, 4);
  if (std::memcmp(h, "ZEB ", 4) != 0) rioSetWarning(rcb, kRioBadHeader);
  if (h[4] != codingType) return rioSetError(rcb, kRioBadHeader);
  if (codingType == kNativeRunLength) {
    if (h[5] != 1) return rioSetError(rcb, kRioBadHeader);
  } else if (h[6] != 2 && h[6] != 3) {
    rioSetWarning(rcb, kRioBadHeader);
  }
  if (h[7] != 2) return rioSetError(rcb, kRioBadHeader);

  const uint32_t headerLength = getBe32(h + 10);
  if (headerLength > INT32_MAX) return rioSetError(rcb, kRioBadHeader);

  // Offset 18 holds the vertical resolution, 22 the horizontal one (the order the writer uses).
  const auto yTenths = static_cast<int32_t>(getBe32(h + 18));
  const auto xTenths = static_cast<int32_t>(getBe32(h + 22));
  if (yTenths < 0 || xTenths < 0) rioSetWarning(rcb, kRioBadHeader);
  rcb->yDpi = std::max(yTenths, 0) / 10.0;
  rcb->xDpi = std::max(xTenths, 0) / 10.0;

  // Sizes are signed fields: anything above INT32_MAX reads as negative and is refused.
  const auto height = static_cast<int32_t>(getBe32(h + 26));
  const auto width = static_cast<int32_t>(getBe32(h + 30));
  if (height < 0) return rioSetError(rcb, kRioBadRows);
  rcb->height = std::min(rcb->height, height);
  rcb->width = std::min(rcb->width, width);
  if (rcb->width <= 0 || rcb->width > kMaxLineWidth) return rioSetError(rcb, kRioBadColumns);

  rcb->attribute = h[41];
  rcb->yExtent = static_cast<int32_t>(getBe32(h + 42));
  rcb->xExtent = static_cast<int32_t>(getBe32(h + 46));

  NativeHeaderInfo info;
  info.codingType = h[4];
  info.codingWord = getBe16(h + 50);
  info.lineAligned = h[53] == 1;
  info.bitReversed = h[54] == 1;
  info.headerLength = static_cast<int32_t>(headerLength);
  info.dataOffset = std::max(info.headerLength, kNativeFixedHeaderSize);
  if (info.headerLength > kNativeFixedHeaderSize) {
    const RioStatus r = readExtraHeader(rcb, info.headerLength - kNativeFixedHeaderSize);
    if (r != kRioOk) return r;
  }
  if (out) *out = info;
  return kRioOk;
}

void nativeEncodeHeader(RCB* rcb, int codingType, int32_t width, uint8_t out[kNativeWrittenHeaderSize]) {
  std::memset(out, 0, kNativeWrittenHeaderSize);
  std::memcpy(out, "ZEB ", 4);
  out[4] = static_cast<uint8_t>(codingType);
  out[5] = 1;
  out[6] = 3;
  out[7] = 2;
  putBe32(out + 10, kNativeWrittenHeaderSize);
  if (rcb->xDpi == 0) rcb->xDpi = kNativeDefaultDpi;
  if (rcb->yDpi == 0) rcb->yDpi = kNativeDefaultDpi;
  putBe32(out + 18, dpiTenths(rcb->yDpi));
  putBe32(out + 22, dpiTenths(rcb->xDpi));
  putBe32(out + 26, static_cast<uint32_t>(rcb->height));
  putBe32(out + 30, static_cast<uint32_t>(width));
  out[41] = static_cast<uint8_t>(rcb->attribute);
  const bool group3 = codingType == kNativeGroup3;
  putBe16(out + 50, group3 ? 1 : 0);
  out[53] = group3 ? 1 : 0;
  out[54] = group3 ? 1 : 0;
}

RioStatus nativeWriteHeader(RCB* rcb, int codingType, int32_t width) {
  uint8_t h[kNativeWrittenHeaderSize];
  nativeEncodeHeader(rcb, codingType, width, h);
  return writeBytes(rcb, h, kNativeWrittenHeaderSize);
}

extern const FormatDriver kNativeRunLengthDriver = {
    nativeOpen, nativeReadHeaderOp, nativeWriteHeaderOp, nativeAllocSlines, nativeReadSline, nativeWriteSline,
    rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNothing, nativeFinishWrite, nativeClose,
};

// "ZEB" and a space or 0, then the coding: 0 run-length, 1 Group 3, 2 Group 4; another coding is a native
// file no reader takes.
RasterFormatId probeNative(const uint8_t* b, RioStatus* status) {
  if (!(b[0] == 'Z' && b[1] == 'E' && b[2] == 'B' && (b[3] == ' ' || b[3] == 0))) return 0;
  switch (b[4]) {
    case 0: return kFormatRunLength;
    case 1: return kFormatNativeG3;
    case 2: return kFormatNativeG4;
    default:
      if (status) *status = kRioUnknownFormat;
      return 0;
  }
}

}  // namespace vantrel
