// Group 4 coding (T.6): each line coded against the line above it. The decoding of a line of mode codes
// serves the Group 3 two-dimensional decoder too.
#include <algorithm>
#include <array>
#include <cstdint>

#include "codec/fax.h"
#include "codec/fax_2d.h"
#include "codec/fax_tables.h"

namespace vantrel {

namespace {

using fax_detail::Changes;
using fax_detail::findB1B2;
using fax_detail::OwnLine;

// a1 - b1 of each vertical mode, indexed by its action.
constexpr int kVerticalDelta[kG4VL3 + 1] = {0, 0, 0, 0, 1, 2, 3, -1, -2, -3};

template <class Line>
RioStatus decodeModes(FaxBitReader& bits, RasterStream* in, int32_t width, const Line& b, int32_t* out,
                      fax_detail::ModeLine& line) {
  FaxBitReader r = bits;  // a local copy stays in registers
  int32_t a0 = line.a0;
  int32_t n = line.n;
  int32_t ri = 0;
  RioStatus status = kRioOk;
  while (a0 < width) {
    if (r.count < 32) bitsRefill(r, in);
    const uint32_t code = kG4ModeLookup[bitsPeek(r, kG4ModeBits)];
    const int length = static_cast<int>(code & 15);
    const int action = static_cast<int>(code >> 4);
    if (length > r.count) {
      status = kRioUnexpectedEof;
      break;
    }
    if (action >= kG4V0 && action <= kG4VL3) {
      bitsConsume(r, length);
      int32_t b1 = 0, b2 = 0;
      findB1B2(b, a0, n & 1, ri, b1, b2);
      const int32_t a1 = b1 + kVerticalDelta[action];
      if (a1 <= a0) {
        status = kRioBadData;
        break;
      }
      if (a1 < width) {
        out[n++] = a0 = a1;
      } else {
        if (n & 1) out[n++] = width;
        a0 = width;
      }
      continue;
    }
    if (action == kG4Pass) {
      bitsConsume(r, length);
      int32_t b1 = 0, b2 = 0;
      findB1B2(b, a0, n & 1, ri, b1, b2);
      a0 = b2;  // b2 > a0 on a valid reference line; the colour stays
      if (a0 >= width && (n & 1)) out[n++] = width;
      continue;
    }
    if (action == kG4Horizontal) {
      bitsConsume(r, length);
      const int colour = n & 1;
      const int32_t start = std::max(a0, 0);
      // Both runs are always decoded, also when the first reaches the width. An end-of-line code
      // cannot stand for a run.
      const int64_t run1 = fax_detail::decodeRun(r, in, colour, width - start);
      if (run1 < 0) {
        status = run1 == kRioEndOfPage ? kRioBadData : static_cast<RioStatus>(run1);
        break;
      }
      const int32_t a1 = start + static_cast<int32_t>(run1);
      const int64_t run2 = fax_detail::decodeRun(r, in, colour ^ 1, width - a1);
      if (run2 < 0) {
        status = run2 == kRioEndOfPage ? kRioBadData : static_cast<RioStatus>(run2);
        break;
      }
      const int32_t a2 = a1 + static_cast<int32_t>(run2);
      // An empty run is legal only first on the line or at its right edge.
      if (a1 <= a0 || (a2 == a1 && a1 < width)) {
        status = kRioBadData;
        break;
      }
      if (a1 < width) {
        out[n++] = a1;
        if (a2 < width)
          out[n++] = a2;
        else if (n & 1)
          out[n++] = width;
      } else if (n & 1) {
        out[n++] = width;
      }
      a0 = a2;
      continue;
    }
    switch (action) {
      case kG4EndOfLine:
        status = kRioEndOfPage;  // not consumed: the caller decides what it ends
        break;
      case kG4Uncompressed:
        status = kRioUnsupported;
        break;
      case kG4Extension:
        status = kRioBadData;
        break;
      default:
        status = kRioInternal;
        break;
    }
    break;
  }
  bits = r;
  line.a0 = a0;
  line.n = n;
  return status;
}

// The writer's word and the stream's buffer in locals: codes go in 32 bits at a time, and every completed
// word goes straight into the buffer while the buffer keeps room after it (as bitsWriteWord does).
class WordPutter {
 public:
  WordPutter(FaxBitWriter& w, RasterStream* s) : w_(w), s_(s), bits_(w.bits), count_(w.count) { reload(); }
  ~WordPutter() {
    s_->cur = cur_;
    w_.bits = bits_;
    w_.count = count_;
  }
  WordPutter(const WordPutter&) = delete;
  WordPutter& operator=(const WordPutter&) = delete;

  // A code of 1-32 bits, right-aligned with nothing above it.
  void put(uint32_t code, int length) {
    bits_ |= static_cast<uint64_t>(code) << (64 - count_ - length);
    count_ += length;
    if (count_ < 32) return;
    if (cur_ < fastEnd_) {
      const uint32_t word = static_cast<uint32_t>(bits_ >> 32);
      cur_[0] = static_cast<uint8_t>(word >> 24);
      cur_[1] = static_cast<uint8_t>(word >> 16);
      cur_[2] = static_cast<uint8_t>(word >> 8);
      cur_[3] = static_cast<uint8_t>(word);
      cur_ += 4;
    } else {
      s_->cur = cur_;
      w_.bits = bits_;
      bitsWriteWord(w_, s_);
      reload();
    }
    bits_ <<= 32;
    count_ -= 32;
  }

  // One run of `colour` as putRun codes it.
  void putRun(int colour, int32_t run) {
    const RunCodeTable& t = kRunCodes[colour];
    const FaxCode& longest = t.makeup[kLongestMakeup / 64];
    for (; run >= kLongestMakeup; run -= kLongestMakeup) put(longest.bits, longest.length);
    const FaxCode& term = t.terminating[run & 63];
    if (run >= 64) {
      const FaxCode& makeup = t.makeup[run >> 6];
      put((static_cast<uint32_t>(makeup.bits) << term.length) | term.bits, makeup.length + term.length);
    } else {
      put(term.bits, term.length);
    }
  }

 private:
  void reload() {
    cur_ = s_->cur;
    const bool direct = !w_.lsbFirst && s_->ok && s_->mode == 1 && s_->end - s_->cur > 4;
    fastEnd_ = direct ? s_->end - 4 : s_->cur;
  }

  FaxBitWriter& w_;
  RasterStream* s_;
  uint64_t bits_;
  int32_t count_;
  uint8_t* cur_ = nullptr;
  uint8_t* fastEnd_ = nullptr;
};

// The vertical mode codes, indexed by a1 - b1 + 3.
constexpr std::array<FaxCode, 7> kVerticalCodes = [] {
  constexpr G4Action kVertical[7] = {kG4VL3, kG4VL2, kG4VL1, kG4V0, kG4VR1, kG4VR2, kG4VR3};
  std::array<FaxCode, 7> t{};
  for (int i = 0; i < 7; ++i) t[i] = kModeEncode[kVertical[i]];
  return t;
}();

template <class Line>
RioStatus encodeModes(FaxEncoder* e, RasterStream* out, int32_t width, const Line& a, const Line& b) {
  constexpr FaxCode kPass = kModeEncode[kG4Pass];
  constexpr FaxCode kHorizontal = kModeEncode[kG4Horizontal];
  {
    WordPutter w(e->bits, out);
    int32_t a0 = -1;
    int32_t ci = 0;  // index of a1
    int32_t ri = 0;
    while (a0 < width) {
      ci = a.rightOf(a0, ci);
      const int32_t a1 = a[ci];
      const int colour = ci & 1;
      int32_t b1 = 0, b2 = 0;
      findB1B2(b, a0, colour, ri, b1, b2);
      const uint32_t vertical = static_cast<uint32_t>(a1) - static_cast<uint32_t>(b1) + 3;  // 0-6: vertical
      if (b2 < a1) {
        w.put(kPass.bits, kPass.length);
        a0 = b2;
      } else if (vertical <= 6) {
        const FaxCode& code = kVerticalCodes[vertical];
        w.put(code.bits, code.length);
        a0 = a1;
      } else {
        const int32_t a2 = a[ci + 1];
        w.put(kHorizontal.bits, kHorizontal.length);
        w.putRun(colour, a1 - std::max(a0, 0));
        w.putRun(colour ^ 1, a2 - a1);
        a0 = a2;
      }
    }
  }
  return e->bits.failed ? kRioStreamIo : kRioOk;
}

}  // namespace

RioStatus fax_detail::decodeModeLine(FaxBitReader& bits, RasterStream* in, int32_t width, const int32_t* ref,
                                     int32_t* out, ModeLine& line) {
  return decodeModes(bits, in, width, Changes{ref, faxReferenceLength(ref, width), width}, out, line);
}

RioStatus g4DecodeLine(FaxDecoder* d, RasterStream* in, int32_t width, const int32_t* ref, int32_t* out) {
  if (width < 0) {
    out[0] = out[1] = kSlineEnd;
    return kRioBadParameter;
  }
  fax_detail::ModeLine line;
  // An end-of-line code where a mode code starts is the end-of-block code: met again on the next call.
  const RioStatus status = fax_detail::decodeModeLine(d->bits, in, width, ref, out, line);
  const int32_t n = line.n & ~1;  // a black run still open after a failure has no end: drop its start
  out[n] = out[n + 1] = kSlineEnd;
  return status;
}

RioStatus g4DecodeOwnLine(FaxDecoder* d, RasterStream* in, int32_t width, const int32_t* ref, int32_t* out,
                          int32_t* values) {
  fax_detail::ModeLine line;
  RioStatus status = kRioBadParameter;
  if (width >= 0) status = decodeModes(d->bits, in, width, OwnLine{ref, width}, out, line);
  const int32_t n = line.n & ~1;  // a black run still open after a failure has no end: drop its start
  for (int32_t i = 0; i < kFaxOwnLineEnds; ++i) out[n + i] = kSlineEnd;
  *values = n;
  return status;
}

RioStatus g4EncodeLine(FaxEncoder* e, RasterStream* out, int32_t width, const int32_t* cur,
                       const int32_t* ref) {
  if (width < 0) return kRioBadParameter;
  return encodeModes(e, out, width, Changes{cur, faxReferenceLength(cur, width), width},
                     Changes{ref, faxReferenceLength(ref, width), width});
}

RioStatus g4EncodeOwnLine(FaxEncoder* e, RasterStream* out, int32_t width, const int32_t* cur,
                          const int32_t* ref) {
  if (width < 0) return kRioBadParameter;
  return encodeModes(e, out, width, OwnLine{cur, width}, OwnLine{ref, width});
}

RioStatus g4EncodeFinish(FaxEncoder* e, RasterStream* out) {
  // End of block: two end-of-line codes.
  const uint32_t eol = kEolEncode.bits;
  bitsPut(e->bits, out, (eol << kEolEncode.length) | eol, 2 * kEolEncode.length);
  return faxEncoderFlush(e, out);
}

}  // namespace vantrel
