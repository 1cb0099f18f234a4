// Fuzz target: the PBM reader (raw and plain, recognised), each line written again as raw PBM.
#include "fuzz/read_all.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  using namespace vantrel::fuzz;
  LeakCheck leaks;
  std::vector<uint8_t> bytes(data, data + size);
  readAll(bytes, 0, kFormatPbm);
  return 0;
}
