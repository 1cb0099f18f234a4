#include "formats/fax_lines.h"

namespace vantrel {
namespace {

RioStatus checkRcb(RCB* rcb, bool reading) {
  if (!rcb) return kRioNoRcb;
  if (!(reading ? rcb->inStream : rcb->outStream)) return rioSetError(rcb, kRioBadStream);
  if (!rcb->curSline || rcb->width < 0) return rioSetError(rcb, kRioInternal);
  return kRioOk;
}

// The coder's result, kept as the RCB's first error when it is one.
RioStatus record(RCB* rcb, RioStatus status) {
  return status ? rioSetError(rcb, status) : status;
}

RioStatus checkFinish(RCB* rcb) {
  if (!rcb) return kRioNoRcb;
  if (!rcb->outStream) return rioSetError(rcb, kRioBadStream);
  return kRioOk;
}

}  // namespace

RioStatus g3ReadSline(RCB* rcb, FaxDecoder* d) {
  if (RioStatus s = checkRcb(rcb, true)) return s;
  return record(rcb, g3DecodeLine(d, rcb->inStream, rcb->width, rcb->curSline));
}

RioStatus g4ReadSline(RCB* rcb, FaxDecoder* d) {
  if (RioStatus s = checkRcb(rcb, true)) return s;
  return record(rcb, g4DecodeLine(d, rcb->inStream, rcb->width, rcb->refSline, rcb->curSline));
}

RioStatus g3WriteSline(RCB* rcb, FaxEncoder* e) {
  if (RioStatus s = checkRcb(rcb, false)) return s;
  return record(rcb, g3EncodeLine(e, rcb->outStream, rcb->width, rcb->curSline));
}

RioStatus g4WriteSline(RCB* rcb, FaxEncoder* e) {
  if (RioStatus s = checkRcb(rcb, false)) return s;
  return record(rcb, g4EncodeLine(e, rcb->outStream, rcb->width, rcb->curSline, rcb->refSline));
}

RioStatus g3FinishWrite(RCB* rcb, FaxEncoder* e) {
  if (RioStatus s = checkFinish(rcb)) return s;
  return record(rcb, g3EncodeFinish(e, rcb->outStream));
}

RioStatus g4FinishWrite(RCB* rcb, FaxEncoder* e) {
  if (RioStatus s = checkFinish(rcb)) return s;
  return record(rcb, g4EncodeFinish(e, rcb->outStream));
}

}  // namespace vantrel
