// A line pair: the line being coded or decoded and the line above it, its reference. Each line has the
// pair (0, 0) in front, which a coder may look back at, and room for the end of an own line (codec/fax.h);
// both live in one block allocated once. Every fax reader and writer, and every column of a tiled reader
// or writer, keeps a pair of its own, so nothing depends on what another side does with an RCB's line
// buffers.
#pragma once

#include <cstdint>
#include <utility>

#include "codec/fax.h"
#include "rio/alloc.h"
#include "rio/sline.h"
#include "rio/status.h"

namespace vantrel {

struct LinePair {
  int32_t width = 0;
  int32_t* cur = nullptr;  // the line being coded or decoded
  int32_t* ref = nullptr;  // the line above it; all white at the start of an image, strip, tile or segment
  int32_t* block = nullptr;

  LinePair() = default;
  LinePair(const LinePair&) = delete;
  LinePair& operator=(const LinePair&) = delete;
  ~LinePair() { rioFree(block); }
};

// Allocates the pair for `width` (replacing any earlier one), both lines white; -3 when memory runs out,
// -4 for a negative width.
[[nodiscard]] RioStatus linePairAlloc(LinePair* lines, int32_t width);

// The reference becomes white: the next line starts an image, strip, tile or segment.
inline void linePairRestart(LinePair* lines) {
  for (int32_t i = 0; i < kFaxOwnLineEnds; ++i) lines->ref[i] = kSlineEnd;
}

// The line just coded or decoded becomes the reference of the next.
inline void linePairSwap(LinePair* lines) { std::swap(lines->cur, lines->ref); }

// Normalises `runs` into lines->cur for coding (faxNormalizeLine at the pair's width), reading at most
// maxValues int32 of it, and ends it as an own line; returns its value count.
inline int32_t linePairTake(LinePair* lines, const int32_t* runs, int64_t maxValues = INT64_MAX) {
  const int32_t n = faxNormalizeLine(runs, lines->cur, lines->width, maxValues);
  for (int32_t i = 2; i < kFaxOwnLineEnds; ++i) lines->cur[n + i] = kSlineEnd;
  return n;
}

}  // namespace vantrel
