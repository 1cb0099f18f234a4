// Recognition of the input format from its first five bytes.
#include "rio/rcb.h"

namespace vantrel {

RasterFormatId rioRecognizeBytes(const uint8_t* b, int32_t count, RioStatus* status) {
  auto fail = [status](RioStatus code) {
    if (status) *status = code;
    return RasterFormatId{0};
  };
  if (count < 5) return fail(kRioStreamIo);
  if (status) *status = kRioOk;
  if ((b[0] == 'I' && b[1] == 'I') || (b[0] == 'M' && b[1] == 'M')) return 10;
  if (b[0] == 'D' && b[1] == 'I') return 13;
  if (b[0] == 's' && b[1] == 'r' && b[2] == 'c' && b[3] == 'd') return 6;
  if (b[0] == 'Z' && b[1] == 'E' && b[2] == 'B' && (b[3] == ' ' || b[3] == 0)) {
    switch (b[4]) {
      case 0: return 3;
      case 1: return 4;
      case 2: return 5;
      default: return fail(kRioUnknownFormat);
    }
  }
  if (b[0] == 0x9B && (b[1] == 0x52 || (b[1] >= 0x5C && b[1] <= 0x5F))) return 34;
  if (b[0] == 0x0A) return 20;
  if (b[0] == 0x02) return 25;
  if (b[0] == 0x03) return 26;
  if (b[0] == 0x12) return 30;
  if (b[0] == 0x08 && (b[1] == 0x00 || b[1] == 0x09)) return 31;
  return fail(kRioUnknownFormat);
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
