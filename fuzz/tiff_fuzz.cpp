// Fuzz target: the TIFF reader, through recognition and named, with the rows written again as TIFF.
#include "fuzz/read_all.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel::fuzz;
  LeakCheck leaks;
  std::vector<uint8_t> bytes(data, data + size);
  readAll(bytes, 0, vantrel::kFormatTiff);  // recognised, and written again as one-strip Group 4
  readAll(bytes, vantrel::kFormatTiffG3);  // named: the reader takes any TIFF whatever the id
  return 0;
}
