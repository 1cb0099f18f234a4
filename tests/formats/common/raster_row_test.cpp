#include "formats/common/raster_row.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "codec/fax.h"
#include "rio/sline.h"

namespace vantrel {
namespace {

// Lines as writers meet them: mostly in order, some runs out of order, overlapping, touching, empty, before
// 0 or past the width.
std::vector<int32_t> randomLine(std::mt19937& rng, int32_t width) {
  std::vector<int32_t> line;
  int32_t x = static_cast<int32_t>(rng() % 5) - 2;
  while (x < width + 10 && line.size() < 200) {
    const auto length = static_cast<int32_t>(rng() % 4 == 0 ? rng() % 200 : rng() % 9);
    line.push_back(x);
    line.push_back(x + length);
    switch (rng() % 8) {
      case 0: x -= static_cast<int32_t>(rng() % 30); break;  // back: overlapping or out of order
      case 1: x += length; break;                             // touching
      default: x += length + 1 + static_cast<int32_t>(rng() % 90);
    }
  }
  line.push_back(kSlineEnd);
  line.push_back(kSlineEnd);
  return line;
}

class RowFromLineTest : public ::testing::TestWithParam<uint32_t> {};

// The gathered row equals the row of the line that faxNormalizeLine leaves, set run by run; the slack is
// left clear.
TEST_P(RowFromLineTest, MatchesTheNormalisedLineSetRunByRun) {
  std::mt19937 rng(GetParam());
  for (int32_t width : {1, 7, 8, 63, 64, 65, 127, 128, 129, 200, 1000, 4099}) {
    const int32_t rowBytes = (width + 7) / 8;
    for (int k = 0; k < 40; ++k) {
      const std::vector<int32_t> line = randomLine(rng, width);
      std::vector<int32_t> normal(line.size() + 2);
      const int32_t n = faxNormalizeLine(line.data(), normal.data(), width);
      std::vector<uint8_t> expected(static_cast<size_t>(rowBytes + kRowSlack), 0);
      for (int32_t i = 0; i < n; i += 2) rowSetRun(expected.data(), normal[i], normal[i + 1]);
      std::vector<uint8_t> row(static_cast<size_t>(rowBytes + kRowSlack), 0xA5);
      rowFromLine(row.data(), rowBytes, line.data(), width);
      ASSERT_EQ(row, expected) << "width " << width << " line " << k;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, RowFromLineTest, ::testing::Values(1u, 2u, 3u, 4u));

}  // namespace
}  // namespace vantrel
