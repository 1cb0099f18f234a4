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

struct FaxLineWriter {
  FaxEncoder encoder;
  LinePair lines;
  bool carrying = false;  // the page's code is the reader's, copied at the end instead of coded
};

// Reading: the next line of rcb->inStream into rcb->curSline, at the width the reader's lines were made for.
[[nodiscard]] RioStatus g3ReadSline(RCB* rcb, FaxLineReader* r);
[[nodiscard]] RioStatus g4ReadSline(RCB* rcb, FaxLineReader* r);

// Writing: rcb->curSline to rcb->outStream, at the width the writer's lines were made for.
[[nodiscard]] RioStatus g3WriteSline(RCB* rcb, FaxLineWriter* w);
[[nodiscard]] RioStatus g4WriteSline(RCB* rcb, FaxLineWriter* w);
[[nodiscard]] RioStatus g3FinishWrite(RCB* rcb, FaxLineWriter* w);
[[nodiscard]] RioStatus g4FinishWrite(RCB* rcb, FaxLineWriter* w);

// Carrying a reader's Group 4 code over (rio/carried_code.h) into a writer that stores the page as one Group 4
// block. g4WriteSline and g4FinishWrite do all of it; a writer with a coder of its own calls these.
// Before the first row: whether the writer copies the code instead of coding rows (not a code whose colours
// are the other way round).
[[nodiscard]] bool g4TakeCarried(RCB* rcb);
// At the end of the page: the code through its last row appended to the encoder's pending bits, in the
// encoder's bit order; the writer then ends the block as it does after coded rows. -15 when the reader's
// code does not reach the page's last row, -10 when the input ends first.
[[nodiscard]] RioStatus g4PutCarried(RCB* rcb, FaxEncoder* e);

}  // namespace vantrel
