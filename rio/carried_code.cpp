#include "rio/carried_code.h"

#include <algorithm>

#include "rio/rcb.h"

namespace vantrel {

void rioOfferCarriedCode(RCB* writer, const RCB* reader) {
  if (!writer || !reader) return;
  CarriedCode code = reader->carried;
  writer->carried = CarriedCode{};
  if (code.coding == CarriedCoding::kNone || !reader->reading || !reader->inStream) return;
  if (code.columns != writer->width || code.rows != writer->height || code.columns != reader->width ||
      code.rows != reader->height || code.offset < 0)
    return;
  code.source = reader->inStream;
  code.origin = &reader->carried;
  writer->carried = code;
}

void rioCarriedBlock(RCB* reader, int64_t offset) {
  reader->carried.offset = offset;
  reader->carried.codedBits = 0;
}

void rioNoteCodedRow(RCB* reader, int64_t bitsAhead) {
  CarriedCode& code = reader->carried;
  code.codedBits = (streamTell(reader->inStream) - code.offset) * 8 - bitsAhead;
  code.codedRows = reader->linesRead + 1;
}


bool rioAcceptCarriedCode(RCB* writer, CarriedCoding coding) {
  if (!writer) return false;
  const CarriedCode& code = writer->carried;
  // The bytes are read a second time at the end of the page: a pipe whose start is gone cannot be.
  if (code.coding == coding && code.source && code.columns == writer->width && code.rows == writer->height &&
      streamMakeSeekable(code.source) == 0)
    return true;
  writer->carried = CarriedCode{};
  return false;
}

RioStatus rioCopyCarriedCode(const CarriedCode& code, RasterStream* out, int64_t* written) {
  *written = 0;
  RasterStream* in = code.source;
  if (!in || !out || code.coding == CarriedCoding::kNone) return kRioInternal;
  if (int32_t r = streamSeek(in, code.offset)) return r;
  uint8_t block[16384];
  int64_t left = code.length;
  while (left != 0) {
    const int32_t want = left < 0 ? static_cast<int32_t>(sizeof block)
                                  : static_cast<int32_t>(std::min<int64_t>(left, sizeof block));
    const int32_t got = streamRead(in, block, want);
    if (got <= 0) {
      if (left < 0) break;  // to the end of the input: this is it
      return kRioUnexpectedEof;
    }
    if (code.lsbFirst)
      for (int32_t i = 0; i < got; ++i) block[i] = kBitReverse[block[i]];
    if (streamWrite(out, block, got) != got) return kRioStreamIo;
    *written += got;
    if (left > 0) left -= got;
  }
  return kRioOk;
}

}  // namespace vantrel
