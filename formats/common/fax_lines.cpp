#include "formats/common/fax_lines.h"

#include <algorithm>
#include <cstring>

namespace vantrel {
namespace {

RioStatus checkRcb(RCB* rcb, const LinePair& lines, bool reading) {
  if (!rcb) return kRioNoRcb;
  if (!(reading ? rcb->inStream : rcb->outStream)) return rioSetError(rcb, kRioBadStream);
  if (!rcb->curSline || !lines.cur) return rioSetError(rcb, kRioInternal);
  return kRioOk;
}

// The values of curSline's list that its buffer holds: a list without a terminator there is cut.
int64_t listValues(const RCB* rcb) { return rcb->slineBytes / static_cast<int64_t>(sizeof(int32_t)) - 2; }

// The coder's result, kept as the RCB's first error when it is one.
RioStatus record(RCB* rcb, RioStatus status) {
  return status ? rioSetError(rcb, status) : status;
}

RioStatus checkFinish(RCB* rcb) {
  if (!rcb) return kRioNoRcb;
  if (!rcb->outStream) return rioSetError(rcb, kRioBadStream);
  return kRioOk;
}

// The decoded line goes out as a copy (also a partial one after a failure, which decoders terminate); only
// a whole line becomes the next reference.
RioStatus handOut(RCB* rcb, LinePair& lines, RioStatus status) {
  rioCopySline(lines.cur, rcb->curSline);
  if (status == kRioOk) linePairSwap(&lines);
  return record(rcb, status);
}

}  // namespace

RioStatus g3ReadSline(RCB* rcb, FaxLineReader* r) {
  if (RioStatus s = checkRcb(rcb, r->lines, true)) return s;
  LinePair& lines = r->lines;
  return handOut(rcb, lines, g3DecodeLine(&r->decoder, rcb->inStream, lines.width, lines.cur));
}

RioStatus g4ReadSline(RCB* rcb, FaxLineReader* r) {
  if (RioStatus s = checkRcb(rcb, r->lines, true)) return s;
  LinePair& lines = r->lines;
  int32_t values = 0;
  const RioStatus status =
      g4DecodeOwnLine(&r->decoder, rcb->inStream, lines.width, lines.ref, lines.cur, &values);
  // Decoded whole or not, the line goes out terminated; only a whole line becomes the next reference.
  std::memcpy(rcb->curSline, lines.cur, (static_cast<size_t>(values) + 2) * sizeof(int32_t));
  if (status == kRioOk) {
    linePairSwap(&lines);
    if (rcb->carried.coding == CarriedCoding::kGroup4) rioNoteCodedRow(rcb, r->decoder.bits.count);
  }
  return record(rcb, status);
}

RioStatus g3WriteSline(RCB* rcb, FaxLineWriter* w) {
  if (RioStatus s = checkRcb(rcb, w->lines, false)) return s;
  LinePair& lines = w->lines;
  linePairTake(&lines, rcb->curSline, listValues(rcb));
  return record(rcb, g3EncodeLine(&w->encoder, rcb->outStream, lines.width, lines.cur));
}

RioStatus g4WriteSline(RCB* rcb, FaxLineWriter* w) {
  if (RioStatus s = checkRcb(rcb, w->lines, false)) return s;
  if (rcb->linesWritten == 0) w->carrying = g4TakeCarried(rcb);
  if (w->carrying) {
    rioNoteCarriedRow(rcb);
    return kRioOk;
  }
  LinePair& lines = w->lines;
  linePairTake(&lines, rcb->curSline, listValues(rcb));
  const RioStatus status = g4EncodeOwnLine(&w->encoder, rcb->outStream, lines.width, lines.cur, lines.ref);
  linePairSwap(&lines);
  return record(rcb, status);
}

RioStatus g3FinishWrite(RCB* rcb, FaxLineWriter* w) {
  if (RioStatus s = checkFinish(rcb)) return s;
  return record(rcb, g3EncodeFinish(&w->encoder, rcb->outStream));
}

RioStatus g4FinishWrite(RCB* rcb, FaxLineWriter* w) {
  if (RioStatus s = checkFinish(rcb)) return s;
  if (w->carrying)
    if (RioStatus r = g4PutCarried(rcb, &w->encoder)) return record(rcb, r);
  return record(rcb, g4EncodeFinish(&w->encoder, rcb->outStream));
}

bool g4TakeCarried(RCB* rcb) {
  if (!rioAcceptCarriedCode(rcb, CarriedCoding::kGroup4)) return false;
  if (!rcb->carried.blackIsZero) return true;
  rcb->carried = CarriedCode{};
  return false;
}

RioStatus g4PutCarried(RCB* rcb, FaxEncoder* e) {
  const CarriedCode& code = rcb->carried;
  if (code.codedRows != code.rows || code.codedBits < 0) return kRioBadRows;
  RasterStream* in = code.source;
  RasterStream* out = rcb->outStream;
  if (streamSeek(in, code.offset) != 0) return kRioStreamIo;
  FaxBitWriter& w = e->bits;
  uint8_t block[16384];
  int64_t left = code.codedBits;
  while (left > 0) {
    const int32_t want = static_cast<int32_t>(std::min<int64_t>((left + 7) / 8, sizeof block));
    if (streamRead(in, block, want) != want) return kRioUnexpectedEof;
    if (code.lsbFirst)
      for (int32_t i = 0; i < want; ++i) block[i] = kBitReverse[block[i]];
    int32_t i = 0;
    for (; i + 4 <= want && left >= 32; i += 4, left -= 32)
      bitsPut(w, out, (uint32_t{block[i]} << 24) | (uint32_t{block[i + 1]} << 16) | (uint32_t{block[i + 2]} << 8) |
                          block[i + 3], 32);
    for (; i < want && left > 0; ++i) {
      const int n = static_cast<int>(std::min<int64_t>(left, 8));
      bitsPut(w, out, block[i] >> (8 - n), n);
      left -= n;
    }
  }
  return w.failed ? kRioStreamIo : kRioOk;
}

}  // namespace vantrel
