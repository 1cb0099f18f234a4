#include "run/page_digest.h"

#include <algorithm>
#include <cstring>

#include "formats/common/raster_row.h"

namespace vantrel {

bool PageDigest::begin(int32_t width, int32_t height) {
  width_ = std::max(width, 0);
  height_ = std::max(height, 0);
  rowBytes_ = static_cast<int32_t>((static_cast<int64_t>(width_) + 7) / 8);
  rows_ = 0;
  row_.reset(static_cast<uint8_t*>(rioCalloc(static_cast<size_t>(rowBytes_) + kRowSlack, 1)));
  if (!row_) return false;
  SHA256Init(&context_);
  const std::string header = "P4\n" + std::to_string(width_) + " " + std::to_string(height_) + "\n";
  SHA256Update(&context_, reinterpret_cast<const uint8_t*>(header.data()), header.size());
  return true;
}

void PageDigest::addLine(const int32_t* runs) {
  if (rows_ >= height_) return;
  rowFromLine(row_.get(), rowBytes_, runs, width_);
  SHA256Update(&context_, row_.get(), static_cast<size_t>(rowBytes_));
  ++rows_;
}

std::string PageDigest::finish() {
  if (!row_) return {};
  std::memset(row_.get(), 0, static_cast<size_t>(rowBytes_));
  for (; rows_ < height_; ++rows_) SHA256Update(&context_, row_.get(), static_cast<size_t>(rowBytes_));
  char hex[SHA256_DIGEST_STRING_LENGTH];
  SHA256End(&context_, hex);
  return hex;
}

}  // namespace vantrel
