// Run lists. An Sline is one image line as int32 pairs (start, end) of its black runs, start inclusive and
// end exclusive, increasing and not overlapping, ended by the pair (-1, -1). Inside an RCB the pair in front
// of the first run always holds (0, 0), so a coder may look one pair back.
#pragma once

#include <cstdint>

namespace vantrel {

using Sline = int32_t*;

inline constexpr int32_t kSlineEnd = -1;

// The terminator is the pair (-1, -1); a run may carry a negative start while it is being clipped.
inline bool rioSlineEnd(const int32_t* pair) { return pair[0] == kSlineEnd && pair[1] == kSlineEnd; }

// int32 values a run list of a line of `width` pixels needs: up to (width + 1) / 2 runs and the terminator.
inline constexpr int64_t slineValues(int64_t width) { return 2 * ((width + 1) / 2) + 2; }

// A free-standing run list with room for a line of n pixels, or nullptr (toolkit error 9 for n < 0,
// 1 when memory runs out). Released with free_sline.
int32_t* alloc_sline(int32_t n);
void free_sline(int32_t* runs);

void rioCopySline(const int32_t* src, int32_t* dst);
// Copies at most the runs that fall inside [0, width), clipped to it (a narrower destination line).
void rioCopySlineClipped(const int32_t* src, int32_t* dst, int32_t width);
void rioShiftSline(int32_t* runs, int32_t dx);
// start := floor(start * factor / 32768), the same for end; factor has 15 fraction bits. Products are taken
// in 64 bits, and a boundary that would leave the int32 range stops at INT32_MAX (INT32_MIN below 0).
void rioScaleSlineFixed(int32_t* runs, uint64_t factor);
void rioScaleSlineClip(const int32_t* src, int32_t* dst, double scale, double shift, int32_t limit);
// How rioNormalizeRuns treats a run before joining it. kClip (the coders'): starts below 0 become 0, ends
// are cut to the width, the list ends at the first run starting at or beyond the width or at a start of
// kSlineEnd, and runs left empty are dropped. kWiden: runs stay where they are (the width is not used) and
// an empty run is widened to one pixel, so no black is lost.
enum class SlineRule { kClip, kWiden };
// Normalises a run list into dst (which may be src itself): each run treated by the rule, then a run
// starting at or before the previous end joins it. At most maxValues int32 of src are read (a list without
// a terminator within its buffer ends there). Returns the number of int32 values before the terminator.
int32_t rioNormalizeRuns(const int32_t* src, int32_t* dst, SlineRule rule, int32_t width = INT32_MAX,
                         int64_t maxValues = INT64_MAX);
// Joins runs that overlap or touch; an empty run is widened to one pixel first, so no black is lost.
inline void rioNormalizeSline(const int32_t* src, int32_t* dst) {
  (void)rioNormalizeRuns(src, dst, SlineRule::kWiden);
}
// dst := the union of a and b (each increasing): runs that overlap or touch are joined, empty runs dropped.
// dst must not be a or b and needs room for the line both lie in. Cost: the runs of both, not the width.
void rioMergeSline(const int32_t* a, const int32_t* b, int32_t* dst);
// In place: the list ends at the first run starting at or beyond width; starts below 0 become 0; ends are
// cut to width; runs whose end is not past their start are dropped; a run starting at or before the
// previous run's end joins it (keeping the larger end).
void rioClipSline(int32_t* runs, int32_t width);
// Appends src shifted by dx to a line under construction whose last end value `tail` points at (or at the
// terminator's first word when the line is empty). Returns the position of the new last end value.
int32_t* rioAppendSline(int32_t* tail, const int32_t* src, int32_t dx);

// Number of runs in a list.
int32_t rioSlineRuns(const int32_t* runs);

}  // namespace vantrel
