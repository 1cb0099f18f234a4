// Group 4 coding (T.6): each line coded against the line above it.
//
// Positions: a0 starts at -1, before the first pixel, so that "strictly right of a0" admits pixel 0 at the
// line start; run lengths count from pixel 0. Changing elements of a run list alternate: an even index
// turns the line black, an odd one white, so the colour of a0 is the parity of the elements written.
#include <algorithm>
#include <cstdint>

#include "codec/fax.h"
#include "codec/fax_tables.h"

namespace vantrel {

namespace {

// A run list read with positions past its end at the width.
struct Changes {
  const int32_t* v;
  int32_t n;
  int32_t width;
  int32_t operator[](int32_t i) const { return i < n ? v[i] : width; }
};

// b1: the first changing element of the reference line right of a0 whose colour is opposite to a0's
// colour; b2: the next one. `ri` keeps the index of the first element right of a0 (a0 only grows).
inline void findB1B2(const Changes& ref, int32_t a0, int colour, int32_t& ri, int32_t& b1, int32_t& b2) {
  while (ref[ri] <= a0) ++ri;
  const int32_t i = ri + ((ri & 1) != colour);
  b1 = ref[i];
  b2 = ref[i + 1];
}

// The mode code at the reader's position: one look-up when it lies within the current byte, more when it
// runs into the next bytes. `length` is its length in bits.
inline int nextMode(const FaxBitReader& r, int& length) {
  const int row = bitsRow(r);
  uint32_t index = static_cast<uint32_t>(r.bits >> (56 + row));  // the rest of the current byte
  int action = kG4ModeTables.action[row][index];
  int position = kG4ModeTables.position[row][index];
  if (action != kG4Continue) {
    length = position - row;
    return action;
  }
  int used = 8 - row;
  for (;;) {
    index = static_cast<uint32_t>((r.bits << used) >> 56);
    action = kG4ModeTables.action[position][index];
    position = kG4ModeTables.position[position][index];
    if (action != kG4Continue) {
      length = used + position;
      return action;
    }
    used += 8;
  }
}

// One horizontal-mode run of `colour` through the Modified Huffman tables: its length, or a negative
// status. Runs longer than `limit` fail with -14; an end-of-line code here is illegal.
inline int64_t decodeRun(FaxBitReader& r, RasterStream* in, int colour, int32_t limit) {
  int64_t total = 0;
  int table = colour ? kMhBlackRoot : kMhWhiteRoot;
  for (;;) {
    if (r.count < 16) bitsRefill(r, in);
    const MhTable& t = kMhTables.tables[table];
    const MhEntry& e = kMhTables.entries[t.offset + bitsPeek(r, t.indexBits)];
    if (e.bits > r.count) return kRioUnexpectedEof;
    switch (e.kind) {
      case kMhNextTable:
        if (e.next == kMhEolTableIndex) return kRioBadData;
        bitsConsume(r, e.bits);
        table = e.next;
        continue;
      case kMhMakeup:
        bitsConsume(r, e.bits);
        total += e.value;
        if (total > limit) return kRioBadColumns;
        table = e.next;
        continue;
      case kMhTerminating:
        bitsConsume(r, e.bits);
        total += e.value;
        if (total > limit) return kRioBadColumns;
        return total;
      default:
        return kRioBadData;
    }
  }
}

constexpr int kVerticalDelta[kG4VL3 + 1] = {0, 0, 0, 0, 1, 2, 3, -1, -2, -3};

}  // namespace

RioStatus g4DecodeLine(FaxDecoder* d, RasterStream* in, int32_t width, const int32_t* ref, int32_t* out) {
  if (width < 0) {
    out[0] = out[1] = kSlineEnd;
    return kRioBadParameter;
  }
  const Changes b{ref, faxReferenceLength(ref, width), width};
  FaxBitReader r = d->bits;
  int32_t a0 = -1;
  int32_t n = 0;
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
        // Both runs are always decoded, also when the first reaches the width.
        const int64_t run1 = decodeRun(r, in, colour, width - start);
        if (run1 < 0) {
          status = static_cast<RioStatus>(run1);
          break;
        }
        const int32_t a1 = start + static_cast<int32_t>(run1);
        const int64_t run2 = decodeRun(r, in, colour ^ 1, width - a1);
        if (run2 < 0) {
          status = static_cast<RioStatus>(run2);
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
        status = kRioEndOfPage;  // not consumed: the next call meets it again
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
  d->bits = r;
  n &= ~1;  // a black run still open after a failure has no end: drop its start
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
