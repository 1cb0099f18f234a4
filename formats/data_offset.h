// Positioning a reader at its image data, for formats whose header says where the data start.
#pragma once

#include <cstdint>

#include "rio/rcb.h"

namespace vantrel {

// After the header is read: makes the input seekable (a pipe is spooled), checks `offset` against the
// file size and seeks there. *bytesLeft gets the bytes from the data start to the end of the file.
// -11 when the offset lies beyond the end; -8 when the stream is in error, cannot be sized or seeked.
[[nodiscard]] inline RioStatus seekToImageData(RCB* rcb, int64_t offset, int64_t* bytesLeft) {
  RasterStream* s = rcb->inStream;
  int64_t size = 0;
  if (!s || !s->ok || streamMakeSeekable(s) != 0 || !streamFileSize(s, &size)) return kRioStreamIo;
  if (offset < 0 || offset > size) return kRioBadHeader;
  if (streamSeek(s, offset) != 0) return kRioStreamIo;
  *bytesLeft = size - offset;
  return kRioOk;
}

}  // namespace vantrel
