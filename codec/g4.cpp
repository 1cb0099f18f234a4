// Group 4 coding (T.6): each line coded against the line above it. The decoding of a line of mode codes
// serves the Group 3 two-dimensional decoder too.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Copies eight values and returns a mask of those at or past `width` (as unsigned: end markers too).
inline uint32_t copyEight(const int32_t* from, int32_t* to, int32_t width) {
#if defined(__SSE2__)
  const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
  const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 4));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(to), low);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 4), high);
  // x >= width unsigned is x ^ bias > (width - 1) ^ bias signed (width >= 1 here).
  const __m128i bias = _mm_set1_epi32(INT32_MIN);
  const __m128i last = _mm_set1_epi32((width - 1) ^ INT32_MIN);
  const __m128i pastLow = _mm_cmpgt_epi32(_mm_xor_si128(low, bias), last);
  const __m128i pastHigh = _mm_cmpgt_epi32(_mm_xor_si128(high, bias), last);
  return static_cast<uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(pastLow)) |
                               (_mm_movemask_ps(_mm_castsi128_ps(pastHigh)) << 4));
#else
  std::memcpy(to, from, 8 * sizeof(int32_t));
  uint32_t past = 0;
  for (int j = 0; j < 8; ++j)
    past |= uint32_t{static_cast<uint32_t>(from[j]) >= static_cast<uint32_t>(width)} << j;
  return past;
#endif
}

template <class Line>
RioStatus decodeModes(FaxBitReader& reader, RasterStream* in, int32_t width, const Line b, int32_t* out,
                      fax_detail::ModeLine& line) {
  fax_detail::LocalBits r(reader, in);
  int32_t a0 = line.a0;
  int32_t n = line.n;
  int32_t ri = 0;
  const int64_t outValues = slineValues(width);  // the room `out` has
  RioStatus status = kRioOk;
  while (a0 < width) {
    r.ensure(16);  // a mode code has at most 10 bits
    // Two or more V0 codes (a single 1 bit each; one alone takes the look-up below), taken together: the
    // first puts a1 on b1, and each one after it on the reference's next changing element, which is then
    // b1 (right of a0, of the colour it needs).
    if (const int ones = r.leadingOnes(); ones > 1) {
      int32_t b1 = 0, b2 = 0;
      const int32_t i = findB1B2(b, a0, n & 1, ri, b1, b2);
      // Up to eight at once without a branch per code: eight values copied, as many kept as there are
      // codes, unless a value at or past the width (an end marker too) ends the line first.
      const int32_t* from = b.eight(i);
      if (from && n + 8 <= outValues) {
        const uint32_t past = copyEight(from, out + n, width);
        const int k = std::min(ones, 8);
        const int end = std::countr_zero(past | 0x100u);
        if (end < k) [[unlikely]] {
          n += end;
          if (n & 1) out[n++] = width;
          a0 = width;
          r.consume(end + 1);
          ri = i + end + 1;
          continue;
        }
        n += k;
        a0 = out[n - 1];
        r.consume(k);
        ri = i + k;
        continue;
      }
      int k = 0;
      for (;;) {
        const int32_t a1 = b[i + k];
        ++k;
        if (a1 >= width) {
          if (n & 1) out[n++] = width;
          a0 = width;
          break;
        }
        out[n++] = a0 = a1;
        if (k == ones) break;
      }
      r.consume(k);
      ri = i + k;
      continue;
    }
    const uint32_t code = kG4ModeLookup[r.peek(kG4ModeBits)];
    const int length = static_cast<int>(code & 15);
    const int action = static_cast<int>(code >> 4);
    if (length > r.count()) {
      status = kRioUnexpectedEof;
      break;
    }
    if (action >= kG4V0 && action <= kG4VL3) {
      r.consume(length);
      int32_t b1 = 0, b2 = 0;
      const int32_t i = findB1B2(b, a0, n & 1, ri, b1, b2);
      const int32_t delta = kVerticalDelta[action];
      const int32_t a1 = b1 + delta;
      ri = delta >= 0 ? i + 1 : ri;  // the next search starts past b1 when a1 is not left of it
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
      r.consume(length);
      int32_t b1 = 0, b2 = 0;
      ri = findB1B2(b, a0, n & 1, ri, b1, b2) + 2;  // past b2
      a0 = b2;  // b2 > a0 on a valid reference line; the colour stays
      if (a0 >= width && (n & 1)) out[n++] = width;
      continue;
    }
    if (action == kG4Horizontal) {
      r.consume(length);
      const int colour = n & 1;
      const int32_t start = std::max(a0, 0);
      // Both runs are always decoded, also when the first reaches the width. An end-of-line code
      // cannot stand for a run.
      const int64_t run1 = r.run(colour, width - start);
      if (run1 < 0) {
        status = run1 == kRioEndOfPage ? kRioBadData : static_cast<RioStatus>(run1);
        break;
      }
      const int32_t a1 = start + static_cast<int32_t>(run1);
      const int64_t run2 = r.run(colour ^ 1, width - a1);
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
  line.a0 = a0;
  line.n = n;
  return status;
}

// Where completed words may go straight into the stream's buffer: below `end`, which keeps room after the
// word (as bitsWriteWord does); nowhere when the stream is not an open, unreversed write stream.
struct DirectWords {
  uint8_t* cur;
  uint8_t* end;
};

DirectWords directWords(const FaxBitWriter& w, RasterStream* s) {
  const bool direct = !w.lsbFirst && s->ok && s->mode == 1 && s->end - s->cur > 4;
  return {s->cur, direct ? s->end - 4 : s->cur};
}

// The word at the top of `bits` through bitsWriteWord (a full buffer, or no direct writes).
DirectWords writeWord(FaxBitWriter& w, RasterStream* s, uint64_t bits, uint8_t* cur) {
  s->cur = cur;
  w.bits = bits;
  bitsWriteWord(w, s);
  return directWords(w, s);
}

// Appends a code of 1-32 bits (right-aligned, nothing above it) to the writer's word kept in locals.
inline void put(FaxBitWriter& w, RasterStream* s, uint64_t& bits, int32_t& count, DirectWords& to,
                uint32_t code, int length) {
  bits |= static_cast<uint64_t>(code) << (64 - count - length);
  count += length;
  if (count < 32) return;
  if (to.cur < to.end) [[likely]] {
    const uint32_t word = static_cast<uint32_t>(bits >> 32);
    to.cur[0] = static_cast<uint8_t>(word >> 24);
    to.cur[1] = static_cast<uint8_t>(word >> 16);
    to.cur[2] = static_cast<uint8_t>(word >> 8);
    to.cur[3] = static_cast<uint8_t>(word);
    to.cur += 4;
  } else {
    to = writeWord(w, s, bits, to.cur);
  }
  bits <<= 32;
  count -= 32;
}

// The codes of a run below 2560 (a makeup code and a terminating code, or only the latter) as one code of
// at most 25 bits; `length` gets its length.
inline uint32_t runCodes(int colour, int32_t run, int& length) {
  const RunCodeTable& t = kRunCodes[colour];
  const FaxCode& term = t.terminating[run & 63];
  if (run < 64) {
    length = term.length;
    return term.bits;
  }
  const FaxCode& makeup = t.makeup[run >> 6];
  length = makeup.length + term.length;
  return (static_cast<uint32_t>(makeup.bits) << term.length) | term.bits;
}

// Horizontal mode with a run of 2560 or more, through the writer itself.
DirectWords putLongRuns(FaxBitWriter& w, RasterStream* s, uint8_t* cur, int colour, int32_t run1,
                        int32_t run2) {
  s->cur = cur;
  bitsPut(w, s, kModeEncode[kG4Horizontal].bits, kModeEncode[kG4Horizontal].length);
  fax_detail::putRun(w, s, colour, run1);
  fax_detail::putRun(w, s, colour ^ 1, run2);
  return directWords(w, s);
}

// The vertical mode codes, indexed by a1 - b1 + 3.
constexpr std::array<FaxCode, 7> kVerticalCodes = [] {
  constexpr G4Action kVertical[7] = {kG4VL3, kG4VL2, kG4VL1, kG4V0, kG4VR1, kG4VR2, kG4VR3};
  std::array<FaxCode, 7> t{};
  for (int i = 0; i < 7; ++i) t[i] = kModeEncode[kVertical[i]];
  return t;
}();

// The coding of one line. The writer's word, its count and the buffer position stay in locals; they go
// back to the writer and the stream only around the rare writes through them.
template <class Line>
RioStatus encodeModes(FaxEncoder* e, RasterStream* out, int32_t width, const Line a, const Line b) {
  constexpr FaxCode kPass = kModeEncode[kG4Pass];
  constexpr FaxCode kHorizontal = kModeEncode[kG4Horizontal];
  FaxBitWriter& w = e->bits;
  uint64_t bits = w.bits;
  int32_t count = w.count;
  DirectWords to = directWords(w, out);
  int32_t a0 = -1;
  int32_t ci = 0;  // index of a1: the line's values increase, so each mode says where the next a1 is
  int32_t ri = 0;
  while (a0 < width) {
    const int32_t a1 = a[ci];
    const int colour = ci & 1;
    int32_t b1 = 0, b2 = 0;
    const int32_t i = findB1B2(b, a0, colour, ri, b1, b2);
    const uint32_t vertical = static_cast<uint32_t>(a1) - static_cast<uint32_t>(b1) + 3;  // 0-6: vertical
    uint32_t code = 0;
    int length = 0;
    if (a1 == b1) {
      // V0 codes in a row, one 1 bit each: after a1 on b1, the next b1 is the reference's next changing
      // element, so the run goes on while the lines agree element by element (up to the width).
      int32_t k = 1;
      for (int32_t x = a1; x < width && k < 32; ++k) {
        x = a[ci + k];
        if (x != b[i + k]) break;
      }
      a0 = a[ci + k - 1];
      ci += k;
      ri = i + k;
      code = static_cast<uint32_t>((uint64_t{1} << k) - 1);
      length = k;
    } else if (b2 < a1) {
      code = kPass.bits;
      length = kPass.length;
      a0 = b2;
      ri = i + 2;  // the next search starts past b2
    } else if (vertical <= 6) {
      code = kVerticalCodes[vertical].bits;
      length = kVerticalCodes[vertical].length;
      a0 = a1;
      ++ci;
      ri = a1 >= b1 ? i + 1 : ri;  // past b1 when a1 is not left of it
    } else {
      const int32_t a2 = a[ci + 1];
      const int32_t run1 = a1 - std::max(a0, 0);
      const int32_t run2 = a2 - a1;
      a0 = a2;
      ci += 2;
      if (run1 >= kLongestMakeup || run2 >= kLongestMakeup) [[unlikely]] {
        w.bits = bits;
        w.count = count;
        to = putLongRuns(w, out, to.cur, colour, run1, run2);
        bits = w.bits;
        count = w.count;
        continue;
      }
      // The mode code with the first run's codes (at most 28 bits), then the second run's.
      int first = 0;
      const uint32_t firstCode = runCodes(colour, run1, first);
      const uint32_t modeAndFirst = (uint32_t{kHorizontal.bits} << first) | firstCode;
      put(w, out, bits, count, to, modeAndFirst, kHorizontal.length + first);
      code = runCodes(colour ^ 1, run2, length);
    }
    put(w, out, bits, count, to, code, length);
  }
  out->cur = to.cur;
  w.bits = bits;
  w.count = count;
  return w.failed ? kRioStreamIo : kRioOk;
}

}  // namespace

RioStatus fax_detail::decodeModeLine(FaxBitReader& bits, RasterStream* in, int32_t width, const int32_t* ref,
                                     int32_t* out, ModeLine& line) {
  return decodeModes(bits, in, width, Changes{ref, faxReferenceLength(ref, width), width}, out, line);
}

RioStatus fax_detail::decodeOwnModeLine(FaxBitReader& bits, RasterStream* in, int32_t width, const int32_t* ref,
                                        int32_t* out, ModeLine& line) {
  return decodeModes(bits, in, width, OwnLine{ref, width}, out, line);
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
