// Group 3 two-dimensional decoding (Modified READ, T.4 with K > 1): each line follows an end-of-line code
// and a tag bit that says whether it holds Modified Huffman runs or Group 4 mode codes against the line
// above it. Runs and modes are decoded by the code the Group 4 decoder uses.
#include <algorithm>
#include <bit>
#include <cstdint>

#include "codec/fax.h"
#include "codec/fax_2d.h"

namespace vantrel {
namespace {

constexpr int32_t kEolZeros = 11;  // the zeros of an end-of-line code (fill bits add more)

// Skips to just past the next end-of-line code: drops bits up to a run of at least eleven zeros, then the
// zeros and the 1 that ends the code. False when the data end first.
bool skipToEol(FaxBitReader& r, RasterStream* in) {
  int32_t zeros = 0;
  for (;;) {
    if (r.count < 32) bitsRefill(r, in);
    if (r.count == 0) return false;
    const int32_t z = std::countl_zero(r.bits);
    if (z >= r.count) {  // every valid bit is zero
      zeros = std::min(zeros + r.count, kEolZeros);
      bitsConsume(r, r.count);
      continue;
    }
    bitsConsume(r, z + 1);
    if (zeros + z >= kEolZeros) return true;
    zeros = 0;
  }
}

// One line of Modified Huffman runs, white first, until the width. line.a0 stays -1 until a run is read.
RioStatus decodeRunLine(FaxBitReader& reader, RasterStream* in, int32_t width, int32_t* out,
                        fax_detail::ModeLine& line) {
  fax_detail::LocalBits r(reader, in);  // the word stays in registers for the whole line
  int32_t pos = 0;
  int colour = 0;
  while (pos < width) {
    const int64_t run = r.run(colour, width - pos);
    if (run < 0) return static_cast<RioStatus>(run);
    if (run == 0 && line.a0 >= 0) return kRioBadData;  // only the first (white) run may be empty
    pos += static_cast<int32_t>(run);
    line.a0 = pos;
    if (pos < width)
      out[line.n++] = pos;
    else if (colour)
      out[line.n++] = width;  // the last black run closes at the width
    colour ^= 1;
  }
  return kRioOk;
}

// One line; `Own`: `ref` is an own line and `out` is left one.
template <bool Own>
RioStatus decode2d(FaxDecoder* d, RasterStream* in, int32_t width, const int32_t* ref, int32_t* out,
                   int32_t* values = nullptr) {
  out[0] = out[1] = kSlineEnd;
  if (width < 0) return kRioBadParameter;
  if (d->eolCount > 1) return kRioEndOfPage;  // the return-to-control sequence has been met
  d->started = true;
  FaxBitReader r = d->bits;
  fax_detail::ModeLine line;
  RioStatus status = kRioOk;
  if (!skipToEol(r, in)) {
    status = kRioUnexpectedEof;
  } else {
    bitsEnsure(r, in, 1);
    if (r.count < 1) {
      status = kRioUnexpectedEof;
    } else {
      const bool oneDimensional = bitsPeek(r, 1);
      bitsConsume(r, 1);
      if (oneDimensional) {
        status = decodeRunLine(r, in, width, out, line);
      } else if constexpr (Own) {
        status = fax_detail::decodeOwnModeLine(r, in, width, ref, out, line);
      } else {
        status = fax_detail::decodeModeLine(r, in, width, ref, out, line);
      }
    }
  }
  d->eolCount = 0;
  if (status == kRioEndOfPage) {
    // An end-of-line code, left for the next line to skip: right after the tag it is the second in a
    // row; later it ends a short line, whose rest is white (a black run open under a pass closes at a0).
    if (line.a0 < 0) {
      d->eolCount = 2;
    } else {
      status = kRioOk;
      if ((line.n & 1) && line.a0 > out[line.n - 1]) out[line.n++] = line.a0;
    }
  }
  d->bits = r;
  const int32_t n = line.n & ~1;  // a black run still open has no end: drop its start
  out[n] = out[n + 1] = kSlineEnd;
  if constexpr (Own) {
    for (int32_t i = 2; i < kFaxOwnLineEnds; ++i) out[n + i] = kSlineEnd;
    *values = n;
  }
  return status;
}

}  // namespace

RioStatus g3Decode2dLine(FaxDecoder* d, RasterStream* in, int32_t width, const int32_t* ref, int32_t* out) {
  return decode2d<false>(d, in, width, ref, out);
}

RioStatus g3Decode2dOwnLine(FaxDecoder* d, RasterStream* in, int32_t width, const int32_t* ref, int32_t* out,
                            int32_t* values) {
  return decode2d<true>(d, in, width, ref, out, values);
}

}  // namespace vantrel
