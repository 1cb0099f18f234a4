// Native Group 3 (id 4) and Group 4 (id 5): the native header, then one CCITT-coded image to the end of
// the file. Group 3 is written one-dimensional with byte-aligned end-of-line codes, bytes least significant
// bit first; Group 4 most significant bit first. The reader takes alignment and bit order from the header.
#include <cstring>

#include "formats/common/fax_lines.h"
#include "formats/native.h"
#include "formats/registry.h"

namespace vantrel {
namespace {

struct NativeFaxReadState {
  NativeHeaderInfo header;
  FaxLineReader fax;
};

struct NativeFaxWriteState {
  FaxLineWriter fax;
};

bool isFaxId(RasterFormatId id) { return id == kFormatNativeG3 || id == kFormatNativeG4; }
int codingOf(RasterFormatId id) { return id == kFormatNativeG3 ? kNativeGroup3 : kNativeGroup4; }

RioStatus faxOpen(RCB* rcb) {
  if (rcb->reading && isFaxId(rcb->inFormat) && !rioNewState<NativeFaxReadState>(rcb->readerState))
    return rioSetError(rcb, kRioOutOfMemory);
  if (rcb->writing && isFaxId(rcb->outFormat)) {
    auto* st = rioNewState<NativeFaxWriteState>(rcb->writerState);
    if (!st) return rioSetError(rcb, kRioOutOfMemory);
    st->fax.encoder = FaxEncoder{};  // empty accumulator
    if (RioStatus r = linePairAlloc(&st->fax.lines, rcb->width)) return rioSetError(rcb, r);
  }
  return kRioOk;
}

RioStatus faxReadHeader(RCB* rcb) {
  auto* st = rioState<NativeFaxReadState>(rcb->readerState);
  if (!st || !isFaxId(rcb->inFormat)) return rioSetError(rcb, kRioInternal);
  if (RioStatus r = nativeReadHeader(rcb, codingOf(rcb->inFormat), &st->header)) return r;
  FaxDecoder& d = st->fax.decoder;
  d = FaxDecoder{};
  d.codingWord = st->header.codingWord;
  d.lineAlign = st->header.lineAligned;
  d.bits.lsbFirst = st->header.bitReversed;
  if (RioStatus r = linePairAlloc(&st->fax.lines, rcb->width)) return rioSetError(rcb, r);
  // A Group 4 image is one block from the end of the header to the end of the file.
  if (rcb->inFormat == kFormatNativeG4)
    rcb->carried = CarriedCode{CarriedCoding::kGroup4, st->header.bitReversed, false, rcb->width, rcb->height,
                               streamTell(rcb->inStream), kCarriedToEnd};
  return kRioOk;
}

RioStatus faxWriteHeader(RCB* rcb) {
  auto* st = rioState<NativeFaxWriteState>(rcb->writerState);
  if (!st || !isFaxId(rcb->outFormat)) return rioSetError(rcb, kRioInternal);
  FaxEncoder& e = st->fax.encoder;
  const bool group3 = rcb->outFormat == kFormatNativeG3;
  e.codingWord = group3 ? 1 : 0;
  e.lineAlign = group3;
  e.bits.lsbFirst = group3;
  return nativeWriteHeader(rcb, codingOf(rcb->outFormat), st->fax.lines.width);
}

RioStatus faxAllocSlines(RCB* rcb) { return rioAllocSlinePair(rcb); }

// The height is known from the header: once it is reached the page ends, so an image without its end
// code, or with bytes after it, reads whole.
RioStatus faxReadSline(RCB* rcb) {
  auto* st = rioState<NativeFaxReadState>(rcb->readerState);
  if (!st) return rioSetError(rcb, kRioInternal);
  if (rcb->linesRead >= rcb->height) return kRioEndOfPage;
  return rcb->inFormat == kFormatNativeG3 ? g3ReadSline(rcb, &st->fax) : g4ReadSline(rcb, &st->fax);
}

RioStatus faxWriteSline(RCB* rcb) {
  auto* st = rioState<NativeFaxWriteState>(rcb->writerState);
  if (!st) return rioSetError(rcb, kRioInternal);
  return rcb->outFormat == kFormatNativeG3 ? g3WriteSline(rcb, &st->fax) : g4WriteSline(rcb, &st->fax);
}

RioStatus faxFinishWrite(RCB* rcb) {
  auto* st = rioState<NativeFaxWriteState>(rcb->writerState);
  if (!st) return rioSetError(rcb, kRioInternal);
  // A page closed before its first line still gets its header, so the file is well formed.
  if (!rcb->headerWritten) {
    rcb->headerWritten = true;
    if (RioStatus r = faxWriteHeader(rcb)) return rioSetError(rcb, r);
  }
  return rcb->outFormat == kFormatNativeG3 ? g3FinishWrite(rcb, &st->fax) : g4FinishWrite(rcb, &st->fax);
}

RioStatus faxClose(RCB* rcb) {
  if (rcb->reading && isFaxId(rcb->inFormat) && rcb->linesRead != rcb->height) rioSetWarning(rcb, kRioBadRows);
  if (rcb->writing && isFaxId(rcb->outFormat) && rcb->linesWritten != rcb->height)
    rioSetWarning(rcb, kRioBadRows);
  return kRioOk;
}

}  // namespace

// One table for both ids: each operation tells them apart by the RCB's input or output format id.
extern const FormatDriver kNativeFaxDriver = {
    faxOpen, faxReadHeader, faxWriteHeader, faxAllocSlines, faxReadSline, faxWriteSline,
    rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNothing, faxFinishWrite, faxClose,
};

}  // namespace vantrel
