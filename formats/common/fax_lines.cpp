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
  if (rcb->linesWritten == 0) w->carry.on = g4CarryStart(rcb, &w->carry);
  if (w->carry.on) return record(rcb, g4CarryRow(rcb, &w->carry, &w->encoder, &w->lines));
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
  if (w->carry.on)
    if (RioStatus r = g4CarryFinish(rcb, &w->carry, &w->encoder)) return record(rcb, r);
  return record(rcb, g4EncodeFinish(&w->encoder, rcb->outStream));
}

bool g4CarryStart(RCB* rcb, G4Carry* carry) {
  *carry = G4Carry{};
  const CarriedCoding coding =
      rcb->carried.coding == CarriedCoding::kGroup4Strips ? CarriedCoding::kGroup4Strips : CarriedCoding::kGroup4;
  if (!rioAcceptCarriedCode(rcb, coding)) return false;
  if (!rcb->carried.blackIsZero && rcb->carried.origin) return true;
  rcb->carried = CarriedCode{};
  return false;
}

namespace {

// Bits [fromBit, toBit) of the block at `offset` of the carried code's input appended to the encoder; the
// input is left where it stood, for a reader still reading it.
RioStatus putCodeBits(const CarriedCode& code, int64_t offset, int64_t fromBit, int64_t toBit, FaxEncoder* e,
                      RasterStream* out) {
  RasterStream* in = code.source;
  const int64_t back = streamTell(in);
  if (streamSeek(in, offset + fromBit / 8) != 0) return kRioStreamIo;
  FaxBitWriter& w = e->bits;
  int skip = static_cast<int>(fromBit % 8);  // bits of the first byte already out
  int64_t left = toBit - fromBit;
  uint8_t block[16384];
  while (left > 0) {
    const int32_t want = static_cast<int32_t>(std::min<int64_t>((left + skip + 7) / 8, sizeof block));
    if (streamRead(in, block, want) != want) return kRioUnexpectedEof;
    if (code.lsbFirst)
      for (int32_t i = 0; i < want; ++i) block[i] = kBitReverse[block[i]];
    int32_t i = 0;
    if (skip > 0) {
      const int n = static_cast<int>(std::min<int64_t>(left, 8 - skip));
      bitsPut(w, out, (block[0] >> (8 - skip - n)) & ((1u << n) - 1), n);
      left -= n;
      skip = 0;
      i = 1;
    }
    for (; i + 4 <= want && left >= 32; i += 4, left -= 32)
      bitsPut(w, out,
              (uint32_t{block[i]} << 24) | (uint32_t{block[i + 1]} << 16) | (uint32_t{block[i + 2]} << 8) |
                  block[i + 3],
              32);
    for (; i < want && left > 0; ++i) {
      const int n = static_cast<int>(std::min<int64_t>(left, 8));
      bitsPut(w, out, block[i] >> (8 - n), n);
      left -= n;
    }
  }
  if (streamSeek(in, back) != 0) return kRioStreamIo;
  return w.failed ? kRioStreamIo : kRioOk;
}

}  // namespace

RioStatus g4CarryRow(RCB* rcb, G4Carry* carry, FaxEncoder* e, LinePair* lines) {
  const CarriedCode& code = rcb->carried;
  const CarriedCode& reader = *code.origin;
  const int64_t row = rcb->linesWritten;
  // Blocks are told apart by their rows: a hostile file may give two of them one offset.
  if (row == 0 || (code.stripRows > 0 && row % code.stripRows == 0)) {
    if (row > 0) {
      // The block before is out whole; this row starts the next against white, so it is coded afresh.
      if (RioStatus r = putCodeBits(code, carry->blockOffset, carry->fromBit, carry->toBit, e, rcb->outStream))
        return r;
      linePairTake(lines, rcb->curSline);
      if (RioStatus r = g4EncodeOwnLine(e, rcb->outStream, lines->width, lines->cur, lines->ref)) return r;
      carry->fromBit = reader.codedBits;
    }
    carry->blockOffset = reader.offset;
  }
  carry->toBit = reader.codedBits;
  carry->rows = reader.codedRows;
  // The last row of a block is the reference of the next block's first row.
  if (code.stripRows > 0 && (row + 1) % code.stripRows == 0) {
    linePairTake(lines, rcb->curSline);
    linePairSwap(lines);
  }
  return kRioOk;
}

RioStatus g4CarryFinish(RCB* rcb, G4Carry* carry, FaxEncoder* e) {
  // A page cut short ends after its last whole row, as coded rows would: its run has failed already.
  if (carry->blockOffset < 0) return kRioOk;
  const CarriedCode& code = rcb->carried;
  if (carry->toBit < carry->fromBit) return kRioInternal;
  return putCodeBits(code, carry->blockOffset, carry->fromBit, carry->toBit, e, rcb->outStream);
}

}  // namespace vantrel
