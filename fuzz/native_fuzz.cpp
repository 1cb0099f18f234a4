// Fuzz target: recognition and the native run-length reader, and the writer fed with what was read.
#include "fuzz/read_all.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  using namespace vantrel::fuzz;
  LeakCheck leaks;
  std::vector<uint8_t> bytes(data, data + size);
  // Recognition only leads into the native reader or fails: other formats have targets of their own.
  RioStatus st = 0;
  const auto probe = static_cast<int32_t>(std::min<size_t>(size, 5));
  const RasterFormatId recognised = rioRecognizeBytes(bytes.data(), probe, &st);
  if (recognised == 0 || recognised == kFormatRunLength) readAll(bytes, 0);
  readAll(bytes, kFormatRunLength, kFormatRunLength);
  return 0;
}
