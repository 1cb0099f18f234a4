// Word to run conversion, shared by the picture's row reader and the bitmap strings: counts of leading
// zeros and ones, with touching runs joined as they come. Private to picture/: not installed.
#pragma once

#include <bit>
#include <cstdint>

#include "picture/bitmap_string.h"
#include "rio/sline.h"

namespace vantrel {

class RunWriter {
 public:
  explicit RunWriter(int32_t* out) : out_(out), begin_(out) {}

  void add(int32_t start, int32_t end) {
    if (start == end_) {
      end_ = end;
      return;
    }
    flush();
    start_ = start;
    end_ = end;
  }

  // The runs of a word in memory order whose pixel 0 is column `base`: one count of leading zeros for
  // each white stretch and one of leading ones for each black run.
  void word(uint32_t w, int32_t base) {
    if (w == 0) return;
    uint32_t m = wordToMsbFirst(w);
    int32_t x = base;
    while (m != 0) {
      const int white = std::countl_zero(m);
      m <<= white;
      x += white;
      const int black = std::countl_one(m);
      add(x, x + black);
      x += black;
      m = black == 32 ? 0 : m << black;
    }
  }

  int32_t finish(int32_t** tail) {
    flush();
    out_[0] = out_[1] = kSlineEnd;
    if (tail) *tail = out_ == begin_ ? out_ : out_ - 1;
    return static_cast<int32_t>((out_ - begin_) / 2);
  }

 private:
  void flush() {
    if (start_ < 0) return;
    out_[0] = start_;
    out_[1] = end_;
    out_ += 2;
  }

  int32_t* out_;
  int32_t* begin_;
  int32_t start_ = -1;
  int32_t end_ = -1;
};

}  // namespace vantrel
