// Fuzz target: the JEDMICS C4 and EDMICS B4 readers (named, as they have no magic); the rows read are
// written again as the other twin, so the writers meet hostile sizes and document texts too.
#include "fuzz/read_all.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel::fuzz;
  LeakCheck leaks;
  std::vector<uint8_t> bytes(data, data + size);
  readAll(bytes, vantrel::kFormatJedmicsC4, vantrel::kFormatEdmicsB4);
  readAll(bytes, vantrel::kFormatEdmicsB4, vantrel::kFormatJedmicsC4);
  return 0;
}
