// The glue of writers that go back over what they wrote (lengths and tables patched at the end): the output
// made seekable before the first byte, rows past the height left out, the finish result kept for close.
#pragma once

#include "rio/rcb.h"
#include "rio/stream.h"

namespace vantrel {

struct SeekableOutput {
  RioStatus finishStatus = kRioOk;  // what finishWrite met: the result of close
};

// At open: random access is prepared before the first byte leaves (a port output is spooled).
inline RioStatus seekableOutputOpen(RCB* rcb) {
  if (!rcb->outStream) return rioSetError(rcb, kRioBadStream);
  if (RioStatus r = streamMakeSeekable(rcb->outStream)) return rioSetError(rcb, r);
  return kRioOk;
}

// Rows past the height would never be read back: true when this row is one, which the writer leaves out
// (the count is flagged).
inline bool seekableOutputPastHeight(RCB* rcb) {
  if (rcb->linesWritten < rcb->height) return false;
  rioSetWarning(rcb, kRioBadRows);
  return true;
}

// finishWrite: keeps what finishing the file met. A file that is not what it should be fails the stream
// too, so that no front end calls it complete.
inline RioStatus seekableOutputFinish(RCB* rcb, SeekableOutput& output, RioStatus finished) {
  output.finishStatus = finished;
  if (finished != kRioOk && rcb->outStream) rcb->outStream->ok = false;
  return finished;
}

// close: a line count other than the height is a warning; the result is what finishing met.
inline RioStatus seekableOutputClose(RCB* rcb, const SeekableOutput* output) {
  if (rcb->linesWritten != rcb->height) rioSetWarning(rcb, kRioBadRows);
  return output ? output->finishStatus : kRioOk;
}

}  // namespace vantrel
