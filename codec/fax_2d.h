// Two-dimensional line coding shared by the Group 4 codec and the Group 3 two-dimensional decoder: the
// changing elements of a reference line, the mode-code look-up, horizontal-mode runs, and the decoding of
// one line of mode codes. Internal to codec/.
//
// Positions: a0 starts at -1, before the first pixel, so that "strictly right of a0" admits pixel 0 at the
// line start; run lengths count from pixel 0. Changing elements of a run list alternate: an even index
// turns the line black, an odd one white, so the colour of a0 is the parity of the elements written.
#pragma once

#include <cstdint>

#include "codec/bits.h"
#include "codec/fax_tables.h"
#include "rio/status.h"
#include "rio/stream.h"

namespace vantrel::fax_detail {

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

// One run of `colour` through the Modified Huffman tables: its length, or a negative status. Runs longer
// than `limit` fail with -14. Where the eight zeros of an end-of-line code start, nothing is consumed and
// the result is -1 (kRioEndOfPage).
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
        if (e.next == kMhEolTableIndex) return total == 0 ? kRioEndOfPage : kRioBadData;
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

}  // namespace vantrel::fax_detail
