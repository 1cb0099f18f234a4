#include "formats/common/fax_lines.h"

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
  if (status == kRioOk) linePairSwap(&lines);
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
  return record(rcb, g4EncodeFinish(&w->encoder, rcb->outStream));
}

}  // namespace vantrel
