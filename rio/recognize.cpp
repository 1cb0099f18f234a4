// Recognition of the input format from its first five bytes, by the probes the registry lists in order.
#include "formats/registry.h"
#include "rio/rcb.h"

namespace vantrel {

RasterFormatId rioRecognizeBytes(const uint8_t* bytes, int32_t count, RioStatus* status) {
  RioStatus st = kRioOk;
  RasterFormatId id = 0;
  if (count < 5) {
    st = kRioStreamIo;
  } else {
    int probes = 0;
    const FormatProbe* probe = rioRecognitionProbes(&probes);
    for (int i = 0; i < probes && id == 0 && st == kRioOk; ++i) id = probe[i](bytes, &st);
    if (id == 0 && st == kRioOk) st = kRioUnknownFormat;
  }
  if (status) *status = id != 0 ? kRioOk : st;
  return id;
}

RasterFormatId rioRecognizeRaster(RCB* rcb, RioStatus* status) {
  RioStatus st = kRioOk;
  RasterFormatId id = 0;
  auto* block = static_cast<uint8_t*>(rioMalloc(5));
  if (!block) {
    st = kRioOutOfMemory;
  } else {
    rioFree(rcb->probeBytes);
    rcb->probeBytes = block;
    rcb->probeCount = 5;
    rcb->probeUsed = 0;
    int32_t got = streamRead(rcb->inStream, block, 5);
    id = rioRecognizeBytes(block, got, &st);
  }
  if (status) *status = st;
  if (id == 0) rioSetError(rcb, st);
  return id;
}

}  // namespace vantrel
