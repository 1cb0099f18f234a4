#include "rio/resample.h"

#include <cmath>

namespace vantrel {
namespace {

constexpr int64_t kFixedOne = 32768;  // 1.0 with 15 fraction bits

}  // namespace

bool scaledSide(int64_t side, double factor, SizeRule rule, int64_t max, int32_t* out) {
  const double exact = static_cast<double>(side) * factor;
  double v = 0;
  if (rule == SizeRule::kCeiling)
    v = std::ceil(exact);
  else
    v = exact < 0 ? std::trunc(exact - 0.5) : std::trunc(exact + 0.5);
  if (!std::isfinite(v) || v < 1 || v > static_cast<double>(max)) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

RioStatus LineResampler::init(int32_t inWidth, int32_t inHeight, int32_t outWidth, int32_t outHeight, double sx,
                              double sy) {
  inWidth_ = inWidth;
  inHeight_ = inHeight;
  outWidth_ = outWidth;
  outHeight_ = outHeight;
  acc_ = 0;
  // In 64 bits: wide pages at high targets overflow 32.
  xfix_ = static_cast<uint64_t>(sx * kFixedOne);
  yfix_ = static_cast<int64_t>(outHeight < inHeight ? sy * kFixedOne : kFixedOne / sy);
  if (outWidth != inWidth) {
    scaled_.reset(alloc_sline(inWidth));
    merged_.reset(alloc_sline(inWidth));
    if (!scaled_ || !merged_) return kRioOutOfMemory;
  }
  return kRioOk;
}

const int32_t* LineResampler::scaleRow(const int32_t* line) {
  if (outWidth_ == inWidth_) return line;
  rioCopySline(line, scaled_.get());
  rioScaleSlineFixed(scaled_.get(), xfix_);
  if (outWidth_ > inWidth_) return scaled_.get();
  rioNormalizeSline(scaled_.get(), merged_.get());
  return merged_.get();
}

int32_t LineResampler::rowsAfterLine(int64_t rowsLeft) {
  if (outHeight_ < inHeight_) {
    acc_ += yfix_;
    if (acc_ <= kFixedOne) return 0;
    acc_ -= kFixedOne;
    return 1;
  }
  if (outHeight_ == inHeight_) return 1;
  int32_t rows = 0;
  while (acc_ < kFixedOne && rows < rowsLeft) {
    ++rows;
    acc_ += yfix_;
  }
  acc_ -= kFixedOne;
  return rows;
}

}  // namespace vantrel
