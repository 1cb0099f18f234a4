// The line resampler: a page scaled horizontally as run lists and vertically by merging lines (black
// wins) or repeating them, with fixed-point factors of 15 fraction bits. The console's resize path, the
// batch translator's resampling and picture import all use it; they differ in how a scaled side is
// rounded.
#pragma once

#include <cstdint>
#include <memory>

#include "rio/sline.h"
#include "rio/status.h"

namespace vantrel {

enum class SizeRule {
  kRound,    // half away from zero (the console)
  kCeiling,  // the next whole number above a fraction (the batch translator, picture import)
};

// `side` * `factor` under the rule, as a side of 1..max pixels; false when it is not one.
[[nodiscard]] bool scaledSide(int64_t side, double factor, SizeRule rule, int64_t max, int32_t* out);

class LineResampler {
 public:
  // Plans the scaling of inWidth x inHeight to outWidth x outHeight by the factors sx and sy (output
  // over input). -3 when the run lists for horizontal scaling cannot be had.
  [[nodiscard]] RioStatus init(int32_t inWidth, int32_t inHeight, int32_t outWidth, int32_t outHeight, double sx,
                               double sy);

  // The line scaled to the output width: the line itself when the widths agree, else a run list of the
  // resampler's (shrinking merges runs that meet, and black that shrank to nothing keeps a pixel).
  const int32_t* scaleRow(const int32_t* line);

  // Called after a line has been added to the output row being collected: how often that row is to be
  // written now. Shrinking answers 0 (keep collecting) or 1; equal heights 1; growing the repeat count,
  // at most rowsLeft.
  [[nodiscard]] int32_t rowsAfterLine(int64_t rowsLeft);

  bool shrinking() const { return outHeight_ < inHeight_; }

 private:
  struct SlineDeleter {
    void operator()(int32_t* runs) const { free_sline(runs); }
  };
  int32_t inWidth_ = 0, inHeight_ = 0, outWidth_ = 0, outHeight_ = 0;
  uint64_t xfix_ = 0;
  int64_t yfix_ = 0;
  int64_t acc_ = 0;
  std::unique_ptr<int32_t, SlineDeleter> scaled_, merged_;
};

}  // namespace vantrel
