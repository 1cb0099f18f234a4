// Fuzz target: the LZW strip decoder, run by the byte-decoder harness (fuzz/byte_decode.h).
#include <cstddef>
#include <cstdint>

#include "fuzz/byte_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return vantrel::fuzz::decodeByteInput(data, size, vantrel::fuzz::ByteCoding::kLzw);
}
