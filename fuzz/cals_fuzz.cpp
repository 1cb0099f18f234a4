// Fuzz target: recognition and the fax-coded readers (CALS Type 1, native Group 3 and Group 4).
#include "fuzz/read_all.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel::fuzz;
  LeakCheck leaks;
  std::vector<uint8_t> bytes(data, data + size);
  readAll(bytes, 0);  // recognised
  readAll(bytes, vantrel::kFormatCals);  // read as CALS whatever it holds
  return 0;
}
