// Fuzz target: the Fuji Xerox MMR reader, through recognition and as a forced format; the rows read are
// written again as MMR, so the writer meets hostile widths too.
#include "fuzz/read_all.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel::fuzz;
  LeakCheck leaks;
  std::vector<uint8_t> bytes(data, data + size);
  readAll(bytes, 0, vantrel::kFormatMmr);  // recognised, and written again
  readAll(bytes, vantrel::kFormatMmr);     // read as MMR whatever it holds
  return 0;
}
