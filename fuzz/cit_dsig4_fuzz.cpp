// Fuzz target: the Intergraph CIT, fixed-frame and "DI" Group 4 readers. The first byte picks the reader
// forced on the rest (below 0x55 CIT, below 0xAA dsig4, else the fixed frame); the rest is also read through
// recognition. What is read is written again in the other Group 4 format, so the writers meet hostile
// sizes too.
#include "fuzz/read_all.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  using namespace vantrel::fuzz;
  if (size == 0) return 0;
  LeakCheck leaks;
  const RasterFormatId forced = data[0] < 0x55 ? kFormatCit : data[0] < 0xAA ? kFormatDsig4 : kFormatFixedFrame;
  const RasterFormatId rewrite = forced == kFormatCit ? kFormatDsig4 : kFormatCit;
  std::vector<uint8_t> bytes(data + 1, data + size);
  readAll(bytes, forced, rewrite);
  readAll(bytes, 0);
  return 0;
}
