// TIFF layouts other writers make and libtiff reads, read by us as libtiff reads them: tiles of 16 pixels
// and more across but shorter than 16 rows, and strip tables longer than RowsPerStrip says (the tables
// decide). The files are built here, uncompressed, and tifftopnm (libtiff) gives the reference pixels. The
// tools must be installed (libtiff-tools, netpbm): a missing tool fails the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "tests/support/pbm.h"
#include "tests/support/read_back.h"

namespace vantrel {
namespace {

using namespace testpbm;
using testread::Bytes;
using testread::readBack;

void put16(Bytes& b, uint32_t v) {
  for (int i = 0; i < 2; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// The bytes of a block of the page (rows [y, y + h), columns [x, x + w)), 1 = black, padded with white.
Bytes block(const Bitmap& page, int32_t x, int32_t y, int32_t w, int32_t h) {
  Bytes out(static_cast<size_t>((w + 7) / 8) * h, 0);
  for (int32_t r = 0; r < h; ++r)
    for (int32_t c = 0; c < w; ++c)
      if (y + r < page.height && x + c < page.width && page.black(x + c, y + r))
        out[static_cast<size_t>(r * ((w + 7) / 8) + c / 8)] |= static_cast<uint8_t>(0x80 >> (c % 8));
  return out;
}

struct Layout {
  const char* name;
  int32_t width, height;
  int32_t tileWidth, tileLength;  // 0: strips
  int32_t rowsPerStrip;           // what the tag says
  int32_t stripRows;              // strips: the rows each strip really holds
};

// A little-endian uncompressed TIFF of the page, WhiteIsZero, in the layout.
Bytes layoutTiff(const Bitmap& page, const Layout& l) {
  std::vector<Bytes> blocks;
  if (l.tileWidth > 0) {
    for (int32_t y = 0; y < page.height; y += l.tileLength)
      for (int32_t x = 0; x < page.width; x += l.tileWidth) blocks.push_back(block(page, x, y, l.tileWidth, l.tileLength));
  } else {
    for (int32_t y = 0; y < page.height; y += l.stripRows)
      blocks.push_back(block(page, 0, y, page.width, std::min(l.stripRows, page.height - y)));
  }
  Bytes t = {'I', 'I', 42, 0, 0, 0, 0, 0};
  std::vector<uint32_t> offsets, counts;
  for (const Bytes& b : blocks) {
    offsets.push_back(static_cast<uint32_t>(t.size()));
    counts.push_back(static_cast<uint32_t>(b.size()));
    t.insert(t.end(), b.begin(), b.end());
  }
  const auto tableAt = static_cast<uint32_t>(t.size());
  for (uint32_t v : offsets) put32(t, v);
  for (uint32_t v : counts) put32(t, v);
  const auto n = static_cast<uint32_t>(blocks.size());
  const uint32_t ifd = static_cast<uint32_t>(t.size());
  t[4] = static_cast<uint8_t>(ifd), t[5] = static_cast<uint8_t>(ifd >> 8), t[6] = static_cast<uint8_t>(ifd >> 16);
  const bool tiled = l.tileWidth > 0;
  std::vector<std::array<uint32_t, 4>> entries = {
      {256, 4, 1, static_cast<uint32_t>(l.width)}, {257, 4, 1, static_cast<uint32_t>(l.height)},
      {258, 3, 1, 1}, {259, 3, 1, 1}, {262, 3, 1, 0}};
  if (tiled) {
    entries.push_back({322, 4, 1, static_cast<uint32_t>(l.tileWidth)});
    entries.push_back({323, 4, 1, static_cast<uint32_t>(l.tileLength)});
    entries.push_back({324, 4, n, tableAt});
    entries.push_back({325, 4, n, tableAt + 4 * n});
  } else {
    entries.push_back({273, 4, n, tableAt});
    entries.push_back({278, 4, 1, static_cast<uint32_t>(l.rowsPerStrip)});
    entries.push_back({279, 4, n, tableAt + 4 * n});
  }
  put16(t, static_cast<uint32_t>(entries.size()));
  for (const auto& e : entries) {
    put16(t, e[0]), put16(t, e[1]), put32(t, e[2]);
    put32(t, e[2] == 1 && e[1] == 3 ? (e[3] & 0xFFFF) : e[3]);
  }
  put32(t, 0);
  return t;
}

class TiffLayouts : public ::testing::TestWithParam<Layout> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    ASSERT_TRUE(toolExists("tifftopnm")) << "tifftopnm is missing: install libtiff-tools and netpbm";
  }
  ScratchDir dir_{"vantrel-tiff-layouts"};
};

TEST_P(TiffLayouts, ReadAsLibtiffReadsThem) {
  const Layout& l = GetParam();
  const Bitmap page = makePage(l.width, l.height, 0x5EED + l.width * 7 + l.tileLength);
  ASSERT_TRUE(writeBytes(dir_ / "in.tif", layoutTiff(page, l)));
  ASSERT_EQ(runShell("tifftopnm -quiet " + quoted(dir_ / "in.tif") + " > " + quoted(dir_ / "libtiff.pnm") +
                     " 2>/dev/null"),
            0);
  Bitmap byLibtiff;
  ASSERT_TRUE(readPnm(dir_ / "libtiff.pnm", &byLibtiff));
  ASSERT_EQ(difference(byLibtiff, page), "equal") << "libtiff reads the file as it was meant";
  const testread::PageRecord r = readBack(dir_ / "in.tif");
  ASSERT_EQ(r.open, 0);
  EXPECT_EQ(r.end, kRioEndOfPage);
  EXPECT_EQ(difference(r.bitmap(), byLibtiff), "equal");
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, TiffLayouts,
    ::testing::Values(Layout{"Tiles16x1", 100, 37, 16, 1, 0, 0}, Layout{"Tiles16x8", 200, 50, 16, 8, 0, 0},
                      Layout{"Tiles32x4", 70, 9, 32, 4, 0, 0}, Layout{"Tiles48x1", 300, 3, 48, 1, 0, 0},
                      // RowsPerStrip beyond the page over four strips of 16 rows: libtiff reads them as one.
                      Layout{"RowsPerStripBeyondThePage", 90, 64, 0, 0, 1000, 16},
                      Layout{"RowsPerStripBeyondThePageLastShort", 90, 61, 0, 0, 0x7FFFFFFF, 16}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantrel
