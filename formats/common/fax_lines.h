// Fax line adapters: the Group 3 and Group 4 line coders applied to an RCB, for the drivers of formats
// that store fax-coded data.
//
// Each side keeps a line pair of its own (the line being coded and the one above it, its reference), so
// that nothing depends on what the other side of a read-write RCB, or the front end, does with curSline
// and refSline: a reader decodes into its own line and hands a copy out in curSline; a writer codes a
// normalised copy of curSline and leaves curSline as it was. Any failure is also recorded as the RCB's
// status when none is set yet.
#pragma once

#include "codec/fax.h"
#include "formats/common/line_pair.h"
#include "rio/rcb.h"

namespace vantrel {

struct FaxLineReader {
  FaxDecoder decoder;
  LinePair lines;
};

// A writer's side of a reader's Group 4 code carried over (rio/carried_code.h): the part of the reader's
// current block not copied yet.
struct G4Carry {
  bool on = false;           // the writer copies the code instead of coding rows
  int64_t blockOffset = -1;  // where that block starts in the input
  int64_t fromBit = 0;       // its bits before this one are out already
  int64_t toBit = 0;         // the reader's code of the block reaches here
  int32_t rows = 0;          // rows the reader's code reaches
};

struct FaxLineWriter {
  FaxEncoder encoder;
  LinePair lines;
  G4Carry carry;
};

// Reading: the next line of rcb->inStream into rcb->curSline, at the width the reader's lines were made for.
[[nodiscard]] RioStatus g3ReadSline(RCB* rcb, FaxLineReader* r);
[[nodiscard]] RioStatus g4ReadSline(RCB* rcb, FaxLineReader* r);

// Writing: rcb->curSline to rcb->outStream, at the width the writer's lines were made for.
[[nodiscard]] RioStatus g3WriteSline(RCB* rcb, FaxLineWriter* w);
[[nodiscard]] RioStatus g4WriteSline(RCB* rcb, FaxLineWriter* w);
[[nodiscard]] RioStatus g3FinishWrite(RCB* rcb, FaxLineWriter* w);
[[nodiscard]] RioStatus g4FinishWrite(RCB* rcb, FaxLineWriter* w);

// Carrying a reader's Group 4 code over into a writer that stores the page as one Group 4 block, bit order
// and padding its own. g4WriteSline and g4FinishWrite do it; a writer with a coder of its own calls these.
// Before the first row: whether the writer copies the code instead of coding rows (not a code whose colours
// are the other way round).
[[nodiscard]] bool g4CarryStart(RCB* rcb, G4Carry* carry);
// Each row: notes how far the reader's code reaches. Where a block of the reader's code begins, the block
// before it is copied out and this row coded against the row above it (`lines` keeps that row).
[[nodiscard]] RioStatus g4CarryRow(RCB* rcb, G4Carry* carry, FaxEncoder* e, LinePair* lines);
// At the end of the page: the rest of the code appended to the encoder's pending bits; the writer then ends
// the block as it does after coded rows. -10 when the input ends first.
[[nodiscard]] RioStatus g4CarryFinish(RCB* rcb, G4Carry* carry, FaxEncoder* e);

}  // namespace vantrel
