// The page digest of a run (-digest): a SHA-256 over the page as the run hands it to the writer, laid out
// as a raw PBM file ("P4\n", the width and height in decimal separated by a space, "\n", then each row's
// pixels eight to a byte, most significant bit leftmost, 1 = black, the last byte of a row padded with 0
// bits). The layout is independent of any file format, so an input and its translation have the same
// digest whenever their pixels agree, and `sha256sum` over a PBM file of the page computes it too.
#pragma once

#include <sha2.h>

#include <cstdint>
#include <memory>
#include <string>

#include "rio/alloc.h"

namespace vantrel {

class PageDigest {
 public:
  // Starts a page of `width` x `height` pixels; false when its row buffer cannot be had.
  [[nodiscard]] bool begin(int32_t width, int32_t height);
  // One row, as a run list. Rows past the height are not part of the page.
  void addLine(const int32_t* runs);
  // The digest in lower-case hexadecimal; rows the run did not hand over count as white (writers pad a
  // short page with white rows).
  std::string finish();

 private:
  SHA2_CTX context_{};
  struct Free {
    void operator()(uint8_t* p) const { rioFree(p); }
  };
  // One row and the slack the row packer writes past it, reused for every row.
  std::unique_ptr<uint8_t, Free> row_;
  int32_t width_ = 0;
  int32_t height_ = 0;
  int32_t rowBytes_ = 0;
  int32_t rows_ = 0;
};

}  // namespace vantrel
