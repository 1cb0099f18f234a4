// Word to run conversion, shared by the picture's row reader and the bitmap strings: the byte table, with
// touching runs joined as they come. Private to picture/: not installed.
#pragma once

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

  // The runs of a word in memory order whose pixel 0 is column `base`.
  void word(uint32_t w, int32_t base) {
    if (w == 0) return;
    if (w == 0xFFFFFFFFu) {
      add(base, base + 32);
      return;
    }
    uint32_t m = wordToMsbFirst(w);
    for (int k = 0; k < 4; ++k) {
      uint32_t b = (m >> (24 - 8 * k)) & 0xFF;
      if (b == 0) continue;
      int32_t at = base + 8 * k;
      if (b == 0xFF) {
        add(at, at + 8);
        continue;
      }
      const ByteRuns& r = kByteRuns[b];
      for (int i = 0; i < r.count; ++i) add(at + r.start[i], at + r.end[i]);
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
