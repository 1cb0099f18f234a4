// Two-dimensional line coding shared by the Group 4 codec and the Group 3 two-dimensional decoder: the
// changing elements of a reference line, horizontal-mode runs, and the decoding of one line of mode codes.
// Internal to codec/.
//
// Positions: a0 starts at -1, before the first pixel, so that "strictly right of a0" admits pixel 0 at the
// line start; run lengths count from pixel 0. Changing elements of a run list alternate: an even index
// turns the line black, an odd one white, so the colour of a0 is the parity of the elements written.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "codec/bits.h"
#include "codec/fax_tables.h"
#include "rio/sline.h"
#include "rio/status.h"
#include "rio/stream.h"

namespace vantrel::fax_detail {

// A run list read with positions past its end at the width: `n` values checked by faxReferenceLength.
struct Changes {
  const int32_t* v;
  int32_t n;
  int32_t width;
  int32_t operator[](int32_t i) const { return i < n ? v[i] : width; }
  // Where eight values from i on may be read as they are: nullptr past the checked values.
  const int32_t* eight(int32_t i) const { return i + 8 <= n ? v + i : nullptr; }
  // The index of the first element right of a0, searching from `i`.
  int32_t rightOf(int32_t a0, int32_t i) const {
    while ((*this)[i] <= a0) ++i;
    return i;
  }
};

// A line the codec may read without checks (an own line, codec/fax.h): valid for its width and ended by
// kFaxOwnLineEnds kSlineEnd values, which stop the search right of a0 and read as the width.
struct OwnLine {
  const int32_t* v;
  int32_t width;
  int32_t operator[](int32_t i) const { return v[i] < 0 ? width : v[i]; }
  // Where eight values from i on may be read as they are (within the buffer; past the end markers they
  // mean nothing), or nullptr.
  const int32_t* eight(int32_t i) const { return i + 8 <= slineValues(width) ? v + i : nullptr; }
  int32_t rightOf(int32_t a0, int32_t i) const {
    // Unsigned, the end markers are above every position; a0 + 1 >= 0.
    while (static_cast<uint32_t>(v[i]) < static_cast<uint32_t>(a0 + 1)) ++i;
    return i;
  }
};

// b1: the first changing element of the reference line right of a0 whose colour is opposite to a0's
// colour; b2: the next one. Returns the index of b1. `ri` is where the search starts: an index of an
// element at or left of the first one right of a0 (a0 only grows, so the last search's start is one).
template <class Line>
inline int32_t findB1B2(const Line& ref, int32_t a0, int colour, int32_t& ri, int32_t& b1, int32_t& b2) {
  ri = ref.rightOf(a0, ri);
  const int32_t i = ri + ((ri & 1) != colour);
  b1 = ref[i];
  b2 = ref[i + 1];
  return i;
}

// The reader's word and count in locals, so that they stay in registers; only a refill goes through the
// reader itself.
class LocalBits {
 public:
  LocalBits(FaxBitReader& r, RasterStream* in) : r_(r), in_(in), bits_(r.bits), count_(r.count) {}
  ~LocalBits() {
    r_.bits = bits_;
    r_.count = count_;
  }
  LocalBits(const LocalBits&) = delete;
  LocalBits& operator=(const LocalBits&) = delete;

  void ensure(int32_t need) {
    if (count_ >= need) return;
    // Eight buffered bytes (bitsRefill's first case) are taken here, without the call.
    if (!r_.exhausted && in_->end - in_->cur >= 8 && (!r_.limited || r_.bytesLeft >= 8)) {
      uint64_t word = bitsLoad8(in_->cur, r_.lsbFirst);
      const int32_t taken = (64 - count_) >> 3;
      const int32_t filled = count_ + 8 * taken;
      word >>= count_;
      if (filled < 64) word &= ~(~uint64_t{0} >> filled);
      bits_ |= word;
      count_ = filled;
      in_->cur += taken;
      if (r_.limited) r_.bytesLeft -= taken;
      return;
    }
    r_.bits = bits_;
    r_.count = count_;
    bitsRefill(r_, in_);
    bits_ = r_.bits;
    count_ = r_.count;
  }
  int32_t count() const { return count_; }
  uint32_t peek(int n) const { return static_cast<uint32_t>(bits_ >> (64 - n)); }
  // The number of 1 bits in a row at the front, at most 63 so that they can be consumed at once (never
  // more than count(): the bits past it are zero).
  int leadingOnes() const { return std::countl_one(bits_ & ~uint64_t{1}); }
  void consume(int n) {  // n < 64
    bits_ <<= n;
    count_ -= n;
  }

  // One run of `colour` through the one-look-up run tables: its length, or a negative status. Runs
  // longer than `limit` fail with -14. Where the eight zeros of an end-of-line code start, nothing is
  // consumed and the result is -1 (kRioEndOfPage).
  int64_t run(int colour, int32_t limit) {
    const uint16_t* table = colour ? kMhBlackRuns.data() : kMhWhiteRuns.data();
    const int index = colour ? kMhBlackRunBits : kMhWhiteRunBits;
    int64_t total = 0;
    for (;;) {
      ensure(16);
      const uint32_t e = table[peek(index)];
      const int length = static_cast<int>(e & 15);
      const uint32_t value = e >> 4;
      if (length > count_) return kRioUnexpectedEof;
      if (value >= kMhRunInvalid) return value == kMhRunEndOfLine && total == 0 ? kRioEndOfPage : kRioBadData;
      consume(length);
      total += value;
      if (total > limit) return kRioBadColumns;
      if (value < 64) return total;  // a terminating code; after a makeup code the same colour goes on
    }
  }

 private:
  FaxBitReader& r_;
  RasterStream* in_;
  uint64_t bits_;
  int32_t count_;
};

// One run of `colour`: extended makeup codes of 2560 while they fit, then the makeup and terminating
// codes in one put. Shared with the Group 3 encoder.
inline void putRun(FaxBitWriter& w, RasterStream* out, int colour, int32_t run) {
  const RunCodeTable& t = kRunCodes[colour];
  const FaxCode& longest = t.makeup[kLongestMakeup / 64];
  for (; run >= kLongestMakeup; run -= kLongestMakeup) bitsPut(w, out, longest.bits, longest.length);
  const FaxCode& term = t.terminating[run & 63];
  if (run >= 64) {
    const FaxCode& makeup = t.makeup[run >> 6];
    bitsPut(w, out, (static_cast<uint32_t>(makeup.bits) << term.length) | term.bits,
            makeup.length + term.length);
  } else {
    bitsPut(w, out, term.bits, term.length);
  }
}

// Where one line of mode codes stopped.
struct ModeLine {
  int32_t a0 = -1;  // the width when the line is complete
  int32_t n = 0;    // changing elements written to `out`; odd while a black run is open
};

// Decodes mode codes against `ref` (nullptr: all white) into `out`, unterminated, until a0 reaches the
// width (0). Where seven zeros start a mode code (an end-of-line or end-of-block code) the result is -1
// with nothing consumed; -10, -12, -13, -14 and -18 as g4DecodeLine says. `line` tells how far it got.
[[nodiscard]] RioStatus decodeModeLine(FaxBitReader& bits, RasterStream* in, int32_t width,
                                       const int32_t* ref, int32_t* out, ModeLine& line);
// The same against an own line (codec/fax.h), read without checks.
[[nodiscard]] RioStatus decodeOwnModeLine(FaxBitReader& bits, RasterStream* in, int32_t width,
                                          const int32_t* ref, int32_t* out, ModeLine& line);

}  // namespace vantrel::fax_detail
