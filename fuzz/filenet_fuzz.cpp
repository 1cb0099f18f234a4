// Fuzz target: the FileNet IMG reader, through recognition and as either id, on both layouts; the rows
// read are written again as FileNet, so the writer meets hostile sizes too.
#include "fuzz/read_all.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel::fuzz;
  LeakCheck leaks;
  std::vector<uint8_t> bytes(data, data + size);
  readAll(bytes, 0, vantrel::kFormatFileNet);     // recognised, and written again
  readAll(bytes, vantrel::kFormatFileNetVariant);  // read as FileNet whatever it holds
  return 0;
}
