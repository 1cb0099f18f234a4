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
#include "rio/rcb.h"

namespace vantrel {

// Two lines of one width, each with the (0, 0) pair in front, in one block allocated once.
struct FaxLines {
  int32_t width = 0;
  int32_t* cur = nullptr;  // the line being coded or decoded
  int32_t* ref = nullptr;  // the line above it; all white at the start of an image or strip
  int32_t* block = nullptr;

  FaxLines() = default;
  FaxLines(const FaxLines&) = delete;
  FaxLines& operator=(const FaxLines&) = delete;
  ~FaxLines() { rioFree(block); }
};

// Allocates the pair for `width` (replacing any earlier one), both lines white; -3 when memory runs out.
[[nodiscard]] RioStatus faxLinesAlloc(FaxLines* lines, int32_t width);
// The reference becomes white: the next line starts an image or strip.
void faxLinesRestart(FaxLines* lines);
// Normalises `runs` into lines->cur (faxNormalizeLine) for coding, reading at most maxValues int32 of it;
// returns its value count.
int32_t faxLinesTake(FaxLines* lines, const int32_t* runs, int64_t maxValues = INT64_MAX);
// The line just coded or decoded becomes the reference of the next.
void faxLinesAdvance(FaxLines* lines);

struct FaxLineReader {
  FaxDecoder decoder;
  FaxLines lines;
};

struct FaxLineWriter {
  FaxEncoder encoder;
  FaxLines lines;
};

// Reading: the next line of rcb->inStream into rcb->curSline, at the width the reader's lines were made for.
[[nodiscard]] RioStatus g3ReadSline(RCB* rcb, FaxLineReader* r);
[[nodiscard]] RioStatus g4ReadSline(RCB* rcb, FaxLineReader* r);

// Writing: rcb->curSline to rcb->outStream, at the width the writer's lines were made for.
[[nodiscard]] RioStatus g3WriteSline(RCB* rcb, FaxLineWriter* w);
[[nodiscard]] RioStatus g4WriteSline(RCB* rcb, FaxLineWriter* w);
[[nodiscard]] RioStatus g3FinishWrite(RCB* rcb, FaxLineWriter* w);
[[nodiscard]] RioStatus g4FinishWrite(RCB* rcb, FaxLineWriter* w);

}  // namespace vantrel
