// Fuji Xerox MMR (id 34): a 36-byte header of five tagged records (0x9B, a record code, big-endian
// numbers), the image coded in Group 4 from offset 36, then a six-byte closing record. The header's
// length field L counts the coded bytes, so the closing record stands at 36 + L and the file is
// 36 + L + 6 bytes long. The writer patches L once the image is coded, so its output must be seekable.
#include <string>

#include "formats/common/seekable_output.h"
#include "formats/common/byte_io.h"
#include "formats/common/fax_lines.h"
#include "formats/registry.h"

namespace vantrel {
namespace {
constexpr int kHeaderSize = 36;
constexpr int kHeaderRecords = 5;
constexpr int kLengthOffset = 32;  // L, inside the 0x5C record at 30
constexpr uint8_t kRecordMark = 0x9B;
constexpr uint8_t kResolutionCode = 0x52;
constexpr uint8_t kSizeCode = 0x5F;
constexpr uint8_t kUnusedCode = 0x5E;
constexpr uint8_t kCodingCode = 0x5D;
constexpr uint8_t kLengthCode = 0x5C;
constexpr uint8_t kMsbFirst = 2;      // the bit-order byte of the 0x5D record; every other value: lsb first
constexpr uint8_t kGroup4Scheme = 7;  // the only coding scheme there is
constexpr uint8_t kClosingRecord[6] = {kRecordMark, kCodingCode, 0x00, 0x02, 0x00, 0x00};

struct MmrReadState {
  FaxLineReader fax;
};

struct MmrWriteState {
  FaxLineWriter fax;                // its reference line is the last row coded, the padding's reference
  bool headerDone = false;          // the header reached the stream: the file can be finished
  SeekableOutput output;  // finish result kept for close
};

RioStatus mmrOpen(RCB* rcb) {
  if (rcb->reading && rcb->inFormat == kFormatMmr && !rioNewState<MmrReadState>(rcb->readerState))
    return rioSetError(rcb, kRioOutOfMemory);
  if (rcb->writing && rcb->outFormat == kFormatMmr) {
    auto* st = rioNewState<MmrWriteState>(rcb->writerState);
    if (!st) return rioSetError(rcb, kRioOutOfMemory);
    st->fax.encoder = FaxEncoder{};  // empty accumulator, most significant bit first
    st->output = SeekableOutput{};
    if (RioStatus r = linePairAlloc(&st->fax.lines, rcb->width)) return rioSetError(rcb, r);
    // L is patched at the end: random access must be prepared before the first byte leaves.
    if (RioStatus r = seekableOutputOpen(rcb)) return r;
  }
  return kRioOk;
}

// ---------------------------------------------------------------------------------------------------------
// Reading.

RioStatus mmrReadHeader(RCB* rcb) {
  auto* st = rioState<MmrReadState>(rcb->readerState);
  if (!st || rcb->inFormat != kFormatMmr) return rioSetError(rcb, kRioInternal);
  uint8_t h[kHeaderSize];
  if (rioReadInput(rcb, h, kHeaderSize) != kHeaderSize) return rioSetError(rcb, kRioStreamIo);

  bool haveSize = false;
  bool haveCoding = false;
  int64_t width = 0;
  int64_t height = 0;
  uint8_t bitOrder = kMsbFirst;
  uint8_t scheme = 0;
  int at = 0;
  for (int record = 0; record < kHeaderRecords; ++record) {
    if (at + 2 > kHeaderSize || h[at] != kRecordMark) return rioSetError(rcb, kRioBadHeader);
    const uint8_t code = h[at + 1];
    const int size = code == kSizeCode ? 12 : 6;
    if (code != kResolutionCode && code != kSizeCode && code != kUnusedCode && code != kCodingCode &&
        code != kLengthCode)
      return rioSetError(rcb, kRioBadHeader);
    if (at + size > kHeaderSize) return rioSetError(rcb, kRioBadHeader);
    const uint8_t* r = h + at;
    switch (code) {
      case kResolutionCode: {
        const double dpi = r[5] * 200.0 + 200.0;
        rcb->xDpi = dpi;
        rcb->yDpi = dpi;
        break;
      }
      case kSizeCode:
        // Both are unsigned on disk; as int32 a value at or above 2^31 is negative, and refused below.
        width = static_cast<int32_t>(getBe32(r + 4));
        height = static_cast<int32_t>(getBe32(r + 8));
        haveSize = true;
        break;
      case kCodingCode:
        bitOrder = r[4];
        scheme = r[5];
        haveCoding = true;
        break;
      default:
        break;  // 0x5E carries nothing; L (0x5C) is not trusted: the height ends the image
    }
    at += size;
  }
  if (!haveSize) return rioSetError(rcb, kRioBadHeader);
  if (width <= 0 || width > kMaxLineWidth) return rioSetError(rcb, kRioBadColumns);
  if (height < 0) return rioSetError(rcb, kRioBadRows);
  if (!haveCoding || scheme != kGroup4Scheme) return rioSetError(rcb, kRioNotImplemented);
  rcb->width = static_cast<int32_t>(width);
  rcb->height = static_cast<int32_t>(height);

  st->fax.decoder = FaxDecoder{};
  st->fax.decoder.bits.lsbFirst = bitOrder != kMsbFirst;
  if (RioStatus r = linePairAlloc(&st->fax.lines, rcb->width)) return rioSetError(rcb, r);
  // The code runs from the header on; the length field is not trusted, so the closing record goes along
  // (a decoder stops at the height before it).
  rcb->carried = CarriedCode{CarriedCoding::kGroup4, bitOrder != kMsbFirst, false, rcb->width, rcb->height,
                             streamTell(rcb->inStream), kCarriedToEnd};
  return kRioOk;
}

// The height ends the page: a file without its end-of-block code, or with the closing record and any
// other bytes after the data, reads whole.
RioStatus mmrReadSline(RCB* rcb) {
  auto* st = rioState<MmrReadState>(rcb->readerState);
  if (!st) return rioSetError(rcb, kRioInternal);
  if (rcb->linesRead >= rcb->height) return kRioEndOfPage;
  return g4ReadSline(rcb, &st->fax);
}

// ---------------------------------------------------------------------------------------------------------
// Writing.

RioStatus mmrWriteHeader(RCB* rcb) {
  auto* st = rioState<MmrWriteState>(rcb->writerState);
  RasterStream* out = rcb->outStream;
  if (!st || !out || rcb->outFormat != kFormatMmr) return rioSetError(rcb, kRioInternal);
  if (rcb->width <= 0 || rcb->width > kMaxLineWidth) return rioSetError(rcb, kRioBadColumns);
  if (rcb->height < 0) return rioSetError(rcb, kRioBadRows);
  if (!out->ok || streamSeek(out, 0) != 0) return rioSetError(rcb, kRioStreamIo);
  if (rcb->xDpi != 200 && rcb->xDpi != 400)
    rioOutputDetail(rcb, "written as 400 dpi: MMR states 200 or 400 dpi only, and the page is " +
                             std::to_string(static_cast<int64_t>(rcb->xDpi)) + " dpi (rescale it with -odpi)");
  // clang-format off
  uint8_t h[kHeaderSize] = {
      kRecordMark, kResolutionCode, 0x00, 0x02, 0x00, static_cast<uint8_t>(rcb->xDpi == 200 ? 0 : 1),
      kRecordMark, kSizeCode,       0x00, 0x08, 0,    0, 0, 0, 0, 0, 0, 0,
      kRecordMark, kUnusedCode,     0x00, 0x02, 0x00, 0x00,
      kRecordMark, kCodingCode,     0x00, 0x02, kMsbFirst, kGroup4Scheme,
      kRecordMark, kLengthCode,     0,    0,    0,    0,
  };
  // clang-format on
  putBe32(h + 10, static_cast<uint32_t>(rcb->width));
  putBe32(h + 14, static_cast<uint32_t>(rcb->height));
  if (RioStatus r = writeAll(out, h, kHeaderSize)) return rioSetError(rcb, r);
  st->headerDone = true;
  return kRioOk;
}

RioStatus mmrWriteSline(RCB* rcb) {
  auto* st = rioState<MmrWriteState>(rcb->writerState);
  if (!st) return rioSetError(rcb, kRioInternal);
  if (seekableOutputPastHeight(rcb)) return kRioOk;
  return g4WriteSline(rcb, &st->fax);
}

// White rows up to the height. The first is coded against the last row written, the rest against white.
RioStatus padToHeight(RCB* rcb, MmrWriteState* st) {
  const int32_t white[4] = {0, 0, kSlineEnd, kSlineEnd};  // with the (0, 0) pair a coder may look back at
  const int32_t* ref = st->fax.lines.ref;
  for (int64_t row = rcb->linesWritten; row < rcb->height; ++row) {
    if (RioStatus r = g4EncodeLine(&st->fax.encoder, rcb->outStream, st->fax.lines.width, white + 2, ref))
      return rioSetError(rcb, r);
    ref = nullptr;
  }
  return kRioOk;
}

// Everything after the last row: padding rows, the end-of-block code, the closing record after the data,
// and L patched into the header. The closing record is written at the end before the seek back, so a
// stream that cannot seek still has every byte but L.
RioStatus finishFile(RCB* rcb, MmrWriteState* st) {
  RasterStream* out = rcb->outStream;
  if (!out) return rioSetError(rcb, kRioBadStream);
  // A page closed before its first line still gets its header, so the file is well formed.
  if (!rcb->headerWritten) {
    rcb->headerWritten = true;
    if (RioStatus r = mmrWriteHeader(rcb)) return r;
  }
  // Without its header there is no file to finish; the failure is the run's own.
  if (!st->headerDone) return rcb->status != kRioOk ? rcb->status : rioSetError(rcb, kRioStreamIo);
  // A failed run's output is thrown away: no padding (a hostile height would make it huge).
  const bool failed = rcb->status != kRioOk && rcb->status != kRioEndOfPage;
  if (!failed && rcb->linesWritten < rcb->height) {
    if (RioStatus r = padToHeight(rcb, st)) return r;
  }
  if (RioStatus r = g4FinishWrite(rcb, &st->fax)) return r;
  const int64_t end = streamTell(out);
  const int64_t length = end - kHeaderSize;
  if (length < 0) return rioSetError(rcb, kRioInternal);
  if (length > int64_t{UINT32_MAX}) return rioSetError(rcb, kRioBadParameter);
  if (RioStatus r = writeAll(out, kClosingRecord, sizeof kClosingRecord)) return rioSetError(rcb, r);
  uint8_t field[4];
  putBe32(field, static_cast<uint32_t>(length));
  if (RioStatus r = patchAt(out, kLengthOffset, field, sizeof field)) return rioSetError(rcb, r);
  return kRioOk;
}

RioStatus mmrFinishWrite(RCB* rcb) {
  auto* st = rioState<MmrWriteState>(rcb->writerState);
  if (!st || rcb->outFormat != kFormatMmr) return rioSetError(rcb, kRioInternal);
  return seekableOutputFinish(rcb, st->output, finishFile(rcb, st));
}

RioStatus mmrClose(RCB* rcb) {
  RioStatus result = kRioOk;
  if (rcb->reading && rcb->inFormat == kFormatMmr && rcb->linesRead != rcb->height)
    rioSetWarning(rcb, kRioBadRows);
  if (rcb->writing && rcb->outFormat == kFormatMmr) {
    auto* st = rioState<MmrWriteState>(rcb->writerState);
    result = seekableOutputClose(rcb, st ? &st->output : nullptr);
  }
  return result;
}

RioStatus mmrAllocSlines(RCB* rcb) {
  return rioAllocSlinePair(rcb);
}

}  // namespace

extern const FormatDriver kMmrDriver = {
    mmrOpen, mmrReadHeader, mmrWriteHeader, mmrAllocSlines, mmrReadSline, mmrWriteSline,
    rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNothing, mmrFinishWrite, mmrClose,
};

// The first header record: 0x9B, then "R" or one of 0x5C..0x5F.
RasterFormatId probeMmr(const uint8_t* b, RioStatus*) {
  return b[0] == 0x9B && (b[1] == 0x52 || (b[1] >= 0x5C && b[1] <= 0x5F)) ? kFormatMmr : 0;
}

}  // namespace vantrel
