// Fuzz target: the Group 3 two-dimensional line decoder, run by the fax harness (fuzz/fax_decode.h).
#include <cstddef>
#include <cstdint>

#include "fuzz/fax_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return vantrel::fuzz::decodeFaxInput(data, size, vantrel::fuzz::FaxCoding::kGroup3TwoD);
}
