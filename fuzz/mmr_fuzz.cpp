// Fuzz target: the Fuji Xerox MMR reader, through recognition and as a forced format; the rows read are
// written again as MMR, so the writer meets hostile widths too.
#include "formats/common/byte_io.h"
#include "fuzz/read_all.h"

namespace {

// A legal width in the header's size record is folded to at most 8192 columns: a line pair of the
// largest legal width costs hundreds of megabytes, and the fuzzer would spend its time allocating it.
// Widths the reader must refuse (zero, negative, beyond the line limit) are left as they are.
void capWidth(std::vector<uint8_t>& bytes) {
  constexpr size_t kHeaderSize = 36;
  constexpr int64_t kCap = 8192;
  for (size_t at = 0; at + 2 <= kHeaderSize && at + 2 <= bytes.size() && bytes[at] == 0x9B;) {
    const size_t size = bytes[at + 1] == 0x5F ? 12 : 6;
    if (size == 12 && at + 8 <= bytes.size()) {
      const int64_t width = static_cast<int32_t>(vantrel::getBe32(&bytes[at + 4]));
      if (width > kCap && width <= vantrel::kMaxLineWidth)
        vantrel::putBe32(&bytes[at + 4], static_cast<uint32_t>(1 + (width - 1) % kCap));
      return;
    }
    at += size;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel::fuzz;
  LeakCheck leaks;
  std::vector<uint8_t> bytes(data, data + size);
  capWidth(bytes);
  readAll(bytes, 0, vantrel::kFormatMmr);  // recognised, and written again
  readAll(bytes, vantrel::kFormatMmr);     // read as MMR whatever it holds
  return 0;
}
