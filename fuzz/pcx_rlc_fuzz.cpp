// Fuzz target: the PCX and the Image Systems run-length readers, each line written again by the writer of
// the same family. The first byte routes: 0x0A is PCX (recognised), anything else is read as run-length,
// once as id 7 rewritten as id 7 and once as id 18 rewritten as Graphtec.
#include "fuzz/read_all.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  using namespace vantrel::fuzz;
  LeakCheck leaks;
  std::vector<uint8_t> bytes(data, data + size);
  if (size > 0 && data[0] == 0x0A) {
    readAll(bytes, 0, kFormatPcx);
    return 0;
  }
  readAll(bytes, kFormatRlc, kFormatRlc);
  readAll(bytes, kFormatRlcFamily, kFormatGraphtec);
  return 0;
}
