// The page digest against a plain packing of the same rows hashed whole: widths on both sides of byte and
// word edges, runs reaching the last pixel or past it, overlapping runs, rows missing at the bottom (white)
// and rows past the height (not part of the page).
#include <gtest/gtest.h>
#include <sha2.h>

#include <string>
#include <vector>

#include "run/page_digest.h"

namespace vantrel {
namespace {

using Row = std::vector<int32_t>;  // black runs as (start, end) pairs, without the terminator

struct DigestCase {
  const char* label;
  int32_t width;
  int32_t height;
  std::vector<Row> rows;  // handed to the digest; fewer or more than the height
};

// The page as a raw PBM file, pixel by pixel: the runs clipped to the width, a row padded to whole bytes.
std::string plainDigest(const DigestCase& c) {
  std::string pbm = "P4\n" + std::to_string(c.width) + " " + std::to_string(c.height) + "\n";
  const size_t rowBytes = (static_cast<size_t>(c.width) + 7) / 8;
  for (int32_t y = 0; y < c.height; ++y) {
    std::string row(rowBytes, '\0');
    if (y < static_cast<int32_t>(c.rows.size()))
      for (size_t i = 0; i + 1 < c.rows[y].size(); i += 2)
        for (int32_t x = std::max(c.rows[y][i], 0); x < std::min(c.rows[y][i + 1], c.width); ++x)
          row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
    pbm += row;
  }
  char hex[SHA256_DIGEST_STRING_LENGTH];
  return SHA256Data(reinterpret_cast<const uint8_t*>(pbm.data()), pbm.size(), hex);
}

class PageDigestRows : public ::testing::TestWithParam<DigestCase> {};

TEST_P(PageDigestRows, IsTheDigestOfThePlainPacking) {
  const DigestCase& c = GetParam();
  PageDigest digest;
  ASSERT_TRUE(digest.begin(c.width, c.height));
  for (Row row : c.rows) {
    row.push_back(-1);
    row.push_back(-1);
    digest.addLine(row.data());
  }
  EXPECT_EQ(digest.finish(), plainDigest(c));
}

INSTANTIATE_TEST_SUITE_P(
    Run, PageDigestRows,
    ::testing::Values(DigestCase{"OnePixel", 1, 2, {{0, 1}, {}}},
                      DigestCase{"SevenWide", 7, 2, {{0, 7}, {3, 4}}},
                      DigestCase{"NineWide", 9, 2, {{8, 9}, {0, 1, 7, 9}}},
                      DigestCase{"WordEdges", 129, 3, {{63, 65}, {0, 64, 64, 129}, {127, 128}}},
                      DigestCase{"RunPastTheWidth", 70, 1, {{60, 500}}},
                      DigestCase{"RunStartingPastTheWidth", 70, 1, {{10, 20, 80, 90}}},
                      DigestCase{"OverlappingRuns", 100, 1, {{10, 40, 30, 35, 38, 60}}},
                      DigestCase{"ShortPageIsPaddedWhite", 33, 4, {{0, 33}}},
                      DigestCase{"RowsPastTheHeightLeftOut", 16, 1, {{0, 8}, {0, 16}}},
                      DigestCase{"EmptyPage", 40, 0, {}}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace vantrel
