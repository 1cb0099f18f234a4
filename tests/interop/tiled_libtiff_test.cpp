// FileNet IMG, JEDMICS C4 and EDMICS B4 against libtiff. No other implementation of these formats exists
// as a package, so the files are taken apart and put together by the test side's own code written from the
// layouts (tests/support/tiled_layout.h), and libtiff checks the coded data: every Group 4 segment or tile
// the library wrote, wrapped column by column in a TIFF of Group 4 strips, decodes in libtiff
// (tiffcp, tifftopnm) to the page; and files assembled from the strips libtiff coded (tiffcp -c g4, and
// -c g3 for FileNet's Group 3 segments) read through the library's readers to the page. The tools must be
// installed (libtiff-tools, netpbm): a missing tool fails the test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/pbm.h"
#include "tests/support/read_back.h"
#include "tests/support/tiled_layout.h"
#include "tests/support/tiled_pages.h"

namespace vantrel {
namespace {

using namespace testpbm;
using namespace testtiled;
using testread::readBack;
using testread::readBackBytes;

class TiledTools : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    for (const char* tool : {"tiffcp", "tifftopnm", "pnmtotiff"})
      ASSERT_TRUE(toolExists(tool)) << tool << " is missing: install libtiff-tools and netpbm";
  }

  // libtiff's decoding of Group 4 strips of one tile column.
  Bitmap decodedByLibtiff(uint32_t width, uint32_t height, uint32_t rowsPerStrip, const std::vector<Bytes>& strips) {
    EXPECT_TRUE(writeBytes(dir_ / "column.tif", group4StripsTiff(width, height, rowsPerStrip, strips)));
    const std::string errors =
        capture("tiffcp -c none " + quoted(dir_ / "column.tif") + " " + quoted(dir_ / "plain.tif") + " 2>&1 && " +
                "tifftopnm -quiet " + quoted(dir_ / "plain.tif") + " > " + quoted(dir_ / "column.pnm") + " 2>&1");
    EXPECT_EQ(errors, "");
    Bitmap back;
    EXPECT_TRUE(readPnm(dir_ / "column.pnm", &back));
    return back;
  }

  // libtiff's strips of rowsPerStrip rows of a region, coded by tiffcp with `compression` (g4 or g3).
  std::vector<Bytes> codedByLibtiff(const Bitmap& region, uint32_t rowsPerStrip, const char* compression) {
    EXPECT_TRUE(writePbm(dir_ / "region.pbm", region));
    EXPECT_EQ(runShell("pnmtotiff -miniswhite " + quoted(dir_ / "region.pbm") + " > " + quoted(dir_ / "base.tif") +
                       " 2>/dev/null && tiffcp -c " + compression + " -r " + std::to_string(rowsPerStrip) + " " +
                       quoted(dir_ / "base.tif") + " " + quoted(dir_ / "coded.tif")),
              0);
    uint32_t width = 0, height = 0;
    std::vector<Bytes> strips;
    EXPECT_TRUE(tiffStrips(readBytes(dir_ / "coded.tif"), &width, &height, &strips));
    return strips;
  }

  ScratchDir dir_{"vantrel-tiled-tools"};
};

// ---- our Group 4 in libtiff

struct Page {
  const char* name;
  int32_t width;
  int32_t height;
};

class OursInLibtiff : public TiledTools, public ::testing::WithParamInterface<Page> {};

TEST_P(OursInLibtiff, FileNetSegmentsDecodeToThePage) {
  const Page& p = GetParam();
  const Bitmap page = makePage(p.width, p.height, 0x1A6 + p.width);
  ASSERT_EQ(writeThroughLibrary(dir_ / "ours.img", kFormatFileNet, page, 200), 0);
  FileNetFile f;
  std::string why;
  ASSERT_TRUE(parseFileNet(readBytes(dir_ / "ours.img"), &f, &why)) << why;
  const uint32_t across = (f.width + f.tileWidth - 1) / f.tileWidth;
  for (uint32_t c = 0; c < across; ++c) {
    SCOPED_TRACE(c);
    std::vector<Bytes> strips;
    for (size_t t = c; t < f.tiles.size(); t += across)
      for (const Block& s : f.tiles[t]) {
        EXPECT_EQ(s.coding, 6);
        strips.push_back(s.data);
      }
    const uint32_t width = std::min(f.tileWidth, f.width - c * f.tileWidth);
    const Bitmap back = decodedByLibtiff(width, f.height, 64, strips);
    EXPECT_EQ(difference(back, crop(page, static_cast<int32_t>(c * f.tileWidth), 0, static_cast<int32_t>(width), p.height)),
              "equal");
  }
}

TEST_P(OursInLibtiff, C4AndB4TilesDecodeToThePage) {
  const Page& p = GetParam();
  const Bitmap page = makePage(p.width, p.height, 0xC4B4 + p.height);
  for (RasterFormatId id : {kFormatJedmicsC4, kFormatEdmicsB4}) {
    SCOPED_TRACE(id);
    ASSERT_EQ(writeThroughLibrary(dir_ / "ours.c4", id, page, 200), 0);
    TwinFile f;
    std::string why;
    ASSERT_TRUE(parseTwin(readBytes(dir_ / "ours.c4"), id == kFormatEdmicsB4, &f, &why)) << why;
    const uint32_t across = (f.width + 511) / 512;
    for (uint32_t c = 0; c < across; ++c) {
      SCOPED_TRACE(c);
      std::vector<Bytes> strips;
      for (size_t t = c; t < f.tiles.size(); t += across) {
        EXPECT_EQ(f.tiles[t].coding, 6);
        strips.push_back(f.tiles[t].data);
      }
      // Columns past the page in the right-hand tiles are coded white.
      const Bitmap back = decodedByLibtiff(512, f.height, 512, strips);
      EXPECT_EQ(difference(back, crop(page, static_cast<int32_t>(512 * c), 0, 512, p.height)), "equal");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Pages, OursInLibtiff,
                         ::testing::Values(Page{"Tiles2000x3000", 2000, 3000}, Page{"Rows500", 1733, 500},
                                           Page{"Odd1029x1031", 1029, 1031}, Page{"Narrow7", 7, 600}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- libtiff's Group 4 through our readers

struct FileNetCase {
  const char* name;
  int32_t width;
  int32_t height;
  int32_t tileWidth;
  int32_t tileLength;
  int32_t rowsPerSegment;  // divides the tile length
  uint32_t placement;
  const char* compression;
  bool singleTile;
};

class LibtiffInFileNet : public TiledTools, public ::testing::WithParamInterface<FileNetCase> {};

TEST_P(LibtiffInFileNet, ReadsToThePage) {
  const FileNetCase& c = GetParam();
  const Bitmap page = makePage(c.width, c.height, 0x11B + c.tileWidth);
  const int32_t across = (c.width + c.tileWidth - 1) / c.tileWidth;
  const int32_t down = (c.height + c.tileLength - 1) / c.tileLength;
  const int32_t partial = c.width % c.tileWidth;
  const bool first = partial != 0 && (c.placement == 1 || c.placement == 3);
  const int coding = std::string(c.compression) == "g4" ? 6 : 2;
  std::vector<std::vector<Block>> tiles(static_cast<size_t>(across * down));
  for (int32_t col = 0, left = 0; col < across; ++col) {
    const int32_t width = partial != 0 && (first ? col == 0 : col == across - 1) ? partial : c.tileWidth;
    const std::vector<Bytes> strips = codedByLibtiff(crop(page, left, 0, width, c.height), c.rowsPerSegment, c.compression);
    ASSERT_EQ(strips.size(), static_cast<size_t>((c.height + c.rowsPerSegment - 1) / c.rowsPerSegment));
    for (size_t s = 0; s < strips.size(); ++s) {
      const int32_t y = static_cast<int32_t>(s) * c.rowsPerSegment;
      tiles[static_cast<size_t>(y / c.tileLength * across + col)].push_back(
          Block{coding, std::min(c.rowsPerSegment, c.height - y), strips[s]});
    }
    left += width;
  }
  const Bytes file = c.singleTile ? buildFileNetSingle(static_cast<uint16_t>(c.width), static_cast<uint16_t>(c.height),
                                                       0x20, tiles[0])
                                  : buildFileNet(FileNetLayout{static_cast<uint32_t>(c.width),
                                                               static_cast<uint32_t>(c.height),
                                                               static_cast<uint32_t>(c.tileWidth),
                                                               static_cast<uint32_t>(c.tileLength), 300, c.placement},
                                                 tiles);
  const auto back = readBackBytes(file);
  ASSERT_EQ(back.open, 0);
  EXPECT_EQ(back.xDpi, 300);
  EXPECT_EQ(back.end, kRioEndOfPage);
  EXPECT_EQ(difference(back.bitmap(), page), "equal");
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, LibtiffInFileNet,
    ::testing::Values(FileNetCase{"Tiled", 2000, 3000, 1024, 1024, 64, 0, "g4", false},
                      FileNetCase{"PartialFirst", 1733, 1100, 1024, 1024, 64, 1, "g4", false},
                      FileNetCase{"SmallTiles", 1000, 333, 256, 100, 50, 3, "g4", false},
                      FileNetCase{"Group3", 1100, 300, 512, 128, 64, 0, "g3", false},
                      FileNetCase{"Group3Fill", 700, 130, 700, 130, 13, 0, "g3:fill", false},
                      FileNetCase{"SingleTile", 901, 300, 901, 300, 64, 0, "g4", true}),
    [](const auto& info) { return std::string(info.param.name); });

struct TwinCase {
  const char* name;
  RasterFormatId id;
  int32_t width;
  int32_t height;
};

class LibtiffInTwin : public TiledTools, public ::testing::WithParamInterface<TwinCase> {};

TEST_P(LibtiffInTwin, ReadsToThePage) {
  const TwinCase& c = GetParam();
  const Bitmap page = makePage(c.width, c.height, 0x7C4 + c.width);
  const int32_t across = (c.width + 511) / 512, down = (c.height + 511) / 512;
  std::vector<Block> tiles(static_cast<size_t>(across * down));
  for (int32_t col = 0; col < across; ++col) {
    const std::vector<Bytes> strips = codedByLibtiff(crop(page, 512 * col, 0, 512, c.height), 512, "g4");
    ASSERT_EQ(strips.size(), static_cast<size_t>(down));
    for (int32_t r = 0; r < down; ++r)
      tiles[static_cast<size_t>(r * across + col)] = Block{6, std::min(512, c.height - 512 * r), strips[r]};
  }
  const auto back = readBackBytes(buildTwin(c.id == kFormatEdmicsB4, c.width, c.height, 400, {}, tiles), c.id);
  ASSERT_EQ(back.open, 0);
  EXPECT_EQ(back.xDpi, 400);
  EXPECT_EQ(back.end, kRioEndOfPage);
  EXPECT_EQ(difference(back.bitmap(), page), "equal");
}

INSTANTIATE_TEST_SUITE_P(Pages, LibtiffInTwin,
                         ::testing::Values(TwinCase{"C4", kFormatJedmicsC4, 2000, 1500}, TwinCase{"B4", kFormatEdmicsB4, 2000, 1500},
                                           TwinCase{"C4Odd", kFormatJedmicsC4, 1032, 517}, TwinCase{"B4OneTile", kFormatEdmicsB4, 504, 200}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- through the program

TEST_F(TiledTools, ProgramTranslatesTiffIntoEachAndBack) {
  const Bitmap page = makePage(1736, 1211, 0x1D);
  ASSERT_TRUE(writePbm(dir_ / "in.pbm", page));
  ASSERT_EQ(runShell("pnmtotiff -miniswhite " + quoted(dir_ / "in.pbm") + " > " + quoted(dir_ / "base.tif") +
                     " 2>/dev/null && tiffcp -c g4 " + quoted(dir_ / "base.tif") + " " + quoted(dir_ / "in.tif")),
            0);
  const std::string cd = "cd " + quoted(dir_.path()) + " && " + VANTREL_EXE;
  for (const char* middle : {"mid.img", "mid.c4", "mid.b4"}) {
    SCOPED_TRACE(middle);
    EXPECT_EQ(runShell(cd + " in.tif " + middle + " > /dev/null"), 1);
    EXPECT_EQ(runShell(cd + " " + middle + " out.tif > /dev/null"), 1);
    const std::string errors = capture("tiffcp -c none " + quoted(dir_ / "out.tif") + " " + quoted(dir_ / "plain.tif") +
                                       " 2>&1 && tifftopnm -quiet " + quoted(dir_ / "plain.tif") + " > " +
                                       quoted(dir_ / "out.pnm") + " 2>&1");
    EXPECT_EQ(errors, "");
    Bitmap back;
    ASSERT_TRUE(readPnm(dir_ / "out.pnm", &back));
    EXPECT_EQ(difference(back, page), "equal");
  }
}

}  // namespace
}  // namespace vantrel
