// Group 4 coding (T.6): each line coded against the line above it. The decoding of a line of mode codes
// serves the Group 3 two-dimensional decoder too.
#include <algorithm>
#include <cstdint>

#include "codec/fax.h"
#include "codec/fax_2d.h"
#include "codec/fax_tables.h"

namespace vantrel {

namespace {

using fax_detail::Changes;
using fax_detail::findB1B2;

constexpr int kVerticalDelta[kG4VL3 + 1] = {0, 0, 0, 0, 1, 2, 3, -1, -2, -3};

}  // namespace

RioStatus fax_detail::decodeModeLine(FaxBitReader& bits, RasterStream* in, int32_t width, const int32_t* ref,
                                     int32_t* out, ModeLine& line) {
  const Changes b{ref, faxReferenceLength(ref, width), width};
  FaxBitReader r = bits;  // a local copy stays in registers
  int32_t a0 = line.a0;
  int32_t n = line.n;
  int32_t ri = 0;
  RioStatus status = kRioOk;
  while (a0 < width) {
    if (r.count < 32) bitsRefill(r, in);
    int length = 0;
    const int action = nextMode(r, length);
    if (length > r.count) {
      status = kRioUnexpectedEof;
      break;
    }
    int32_t b1 = 0, b2 = 0;
    switch (action) {
      case kG4Pass:
        bitsConsume(r, length);
        findB1B2(b, a0, n & 1, ri, b1, b2);
        a0 = b2;  // b2 > a0 on a valid reference line; the colour stays
        if (a0 >= width && (n & 1)) out[n++] = width;
        continue;
      case kG4V0:
      case kG4VR1:
      case kG4VR2:
      case kG4VR3:
      case kG4VL1:
      case kG4VL2:
      case kG4VL3: {
        bitsConsume(r, length);
        findB1B2(b, a0, n & 1, ri, b1, b2);
        const int32_t a1 = b1 + kVerticalDelta[action];
        if (a1 <= a0) {
          status = kRioBadData;
          break;
        }
        if (a1 >= width) {
          if (n & 1) out[n++] = width;
          a0 = width;
        } else {
          out[n++] = a0 = a1;
        }
        continue;
      }
      case kG4Horizontal: {
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

RioStatus g4EncodeLine(FaxEncoder* e, RasterStream* out, int32_t width, const int32_t* cur,
                       const int32_t* ref) {
  if (width < 0) return kRioBadParameter;
  const Changes a{cur, faxReferenceLength(cur, width), width};
  const Changes b{ref, faxReferenceLength(ref, width), width};
  FaxBitWriter w = e->bits;
  int32_t a0 = -1;
  int32_t ci = 0;  // index of a1
  int32_t ri = 0;
  while (a0 < width) {
    while (a[ci] <= a0) ++ci;
    const int32_t a1 = a[ci];
    const int colour = ci & 1;
    int32_t b1 = 0, b2 = 0;
    findB1B2(b, a0, colour, ri, b1, b2);
    if (b2 < a1) {
      bitsPut(w, out, kModeEncode[kG4Pass].bits, kModeEncode[kG4Pass].length);
      a0 = b2;
    } else if (a1 - b1 <= 3 && b1 - a1 <= 3) {
      static constexpr G4Action kVertical[7] = {kG4VL3, kG4VL2, kG4VL1, kG4V0, kG4VR1, kG4VR2, kG4VR3};
      const FaxCode& code = kModeEncode[kVertical[a1 - b1 + 3]];
      bitsPut(w, out, code.bits, code.length);
      a0 = a1;
    } else {
      const int32_t a2 = a[ci + 1];
      bitsPut(w, out, kModeEncode[kG4Horizontal].bits, kModeEncode[kG4Horizontal].length);
      fax_detail::putRun(w, out, colour, a1 - std::max(a0, 0));
      fax_detail::putRun(w, out, colour ^ 1, a2 - a1);
      a0 = a2;
    }
  }
  e->bits = w;
  return w.failed ? kRioStreamIo : kRioOk;
}

RioStatus g4EncodeFinish(FaxEncoder* e, RasterStream* out) {
  // End of block: two end-of-line codes.
  const uint32_t eol = kEolEncode.bits;
  bitsPut(e->bits, out, (eol << kEolEncode.length) | eol, 2 * kEolEncode.length);
  return faxEncoderFlush(e, out);
}

}  // namespace vantrel
