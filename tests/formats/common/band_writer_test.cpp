// The band writer of tiled formats: the cut-and-shift of a tile column's rows at tile edges and on pages
// whose width is no multiple of 8 or of the tile width, Group 4 blocks of whole tiles and of segments
// checked with libtiff, raw rows, and the calls it refuses.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "formats/common/band_writer.h"
#include "formats/common/byte_io.h"
#include "tests/support/file_fixture.h"
#include "tests/support/group4_tiff.h"
#include "tests/support/pbm.h"

namespace vantrel {
namespace {

using testfiles::Bytes;
using testpbm::Bitmap;
using testread::Runs;
using testread::runsOf;

// A page whose rows meet every tile edge: runs across it, ending on it, starting on it, at both page edges.
Bitmap edgePage(int32_t width, int32_t height, int32_t tileWidth, uint64_t seed) {
  Bitmap page = testpbm::makePage(width, height, seed);
  for (int32_t y = 0; y < height; ++y) {
    page.fill(0, 1, y);
    page.fill(width - 1, width, y);
    for (int32_t b = tileWidth; b < width; b += tileWidth) {
      if (y % 3 == 0) page.fill(b - 1, b + 1, y);
      if (y % 3 == 1) page.fill(b - 3, b, y);
      if (y % 3 == 2) page.fill(b, b + 2, y);
    }
  }
  return page;
}

RioStatus fill(BandWriter* w, const Bitmap& page) {
  std::vector<int32_t> line(slineValues(page.width) + 2);
  for (int32_t y = 0; y < page.height; ++y) {
    testfiles::putRuns(line.data(), runsOf(page, y, 0, page.width));
    if (RioStatus r = bandWriterAddRow(w, line.data())) return r;
  }
  return kRioOk;
}

struct CutCase {
  int32_t width;
  int32_t tileWidth;
  int64_t arena = kBandArenaValues;  // small bounds keep some rows, or all, in the band picture
};

class BandCut : public testfiles::FileTest, public ::testing::WithParamInterface<CutCase> {};

TEST_P(BandCut, EachTileColumnComesOutShiftedToZero) {
  const auto [width, tileWidth, arena] = GetParam();
  const int32_t rows = 9;
  const Bitmap page = edgePage(width, rows, tileWidth, static_cast<uint64_t>(width));
  BandWriter w;
  ASSERT_EQ(bandWriterInit(&w, width, tileWidth, rows + 2, arena), kRioOk);
  ASSERT_EQ(fill(&w, page), kRioOk);
  EXPECT_EQ(w.tilesAcross, (width + tileWidth - 1) / tileWidth);
  std::vector<int32_t> runs(slineValues(tileWidth));
  // Left to right as the drivers cut, then right to left.
  for (int32_t i = 0; i < 2 * w.tilesAcross; ++i) {
    const int32_t c = i < w.tilesAcross ? i : 2 * w.tilesAcross - 1 - i;
    const int32_t left = c * tileWidth;
    const int32_t own = bandWriterColumnWidth(w, c);
    EXPECT_EQ(own, std::min(tileWidth, width - left));
    for (const int32_t cutWidth : {tileWidth, own}) {
      for (int32_t y = 0; y < rows + 2; ++y) {
        bandWriterCutRow(w, c, y, cutWidth, runs.data());
        const Runs want = y < rows ? runsOf(page, y, left, cutWidth) : Runs{};
        ASSERT_EQ(testread::toRuns(runs.data()), want) << "column " << c << " row " << y << " width " << cutWidth;
      }
    }
  }
  bandWriterClear(&w);
  EXPECT_FALSE(bandWriterFull(w));
  bandWriterCutRow(w, 0, 0, tileWidth, runs.data());
  EXPECT_TRUE(testread::toRuns(runs.data()).empty());
}

INSTANTIATE_TEST_SUITE_P(Widths, BandCut,
                         ::testing::Values(CutCase{1001, 512}, CutCase{1030, 512}, CutCase{37, 16},
                                           CutCase{64, 32}, CutCase{1, 512}, CutCase{1024, 1024},
                                           CutCase{1030, 512, 0}, CutCase{1030, 512, 200},
                                           CutCase{37, 16, 30}));

class BandCoding : public testfiles::FileTest {
 protected:
  static constexpr int32_t kPageWidth = 1001, kTileWidth = 512;  // the last column 489 pixels wide

  // A band of `rows` rows of an edge page, filled.
  static Bitmap filledBand(BandWriter* w, int32_t rows, uint64_t seed) {
    const Bitmap page = edgePage(kPageWidth, rows, kTileWidth, seed);
    EXPECT_EQ(bandWriterInit(w, kPageWidth, kTileWidth, rows), kRioOk);
    EXPECT_EQ(fill(w, page), kRioOk);
    return page;
  }
  // The Group 4 block as libtiff decodes it, wrapped in a one-strip TIFF.
  Bitmap libtiffPixels(int32_t width, int32_t rows, const Bytes& block) {
    EXPECT_TRUE(testpbm::toolExists("tiffcp") && testpbm::toolExists("tifftopnm"))
        << "libtiff-tools and netpbm are missing";
    save(dir_ / "g4.tif", testg4::group4Tiff(static_cast<uint32_t>(width), static_cast<uint32_t>(rows), block));
    const std::string command = "tiffcp -c none " + testpbm::quoted(dir_ / "g4.tif") + " " +
                                testpbm::quoted(dir_ / "plain.tif") + " && tifftopnm -quiet " +
                                testpbm::quoted(dir_ / "plain.tif") + " > " + testpbm::quoted(dir_ / "out.pbm") +
                                " 2>/dev/null";
    EXPECT_EQ(testpbm::runShell(command), 0);
    Bitmap back;
    EXPECT_TRUE(testpbm::readPbm(dir_ / "out.pbm", &back));
    return back;
  }
  static Bitmap cut(const Bitmap& page, int32_t left, int32_t first, int32_t rows, int32_t width) {
    Bitmap out(width, rows);
    for (int32_t y = 0; y < rows; ++y)
      for (auto [s, e] : runsOf(page, first + y, left, width)) out.fill(s, e, y);
    return out;
  }
};

// A tile padded to the tile width and a segment of the last, narrower column at its own width, coded into
// the output and into the buffer alike, whole words each, and decoded by libtiff to the band's pixels.
TEST_F(BandCoding, Group4BlocksDecodeWithLibtiffToTheirRows) {
  const int32_t height = 150;
  BandWriter w;
  const Bitmap page = filledBand(&w, height, 11);
  EXPECT_TRUE(bandWriterFull(w));

  const TileRows blocks[] = {{0, 0, height, kTileWidth}, {1, 64, 64, bandWriterColumnWidth(w, 1)}, {1, 149, 1, 512}};
  for (const TileRows& rows : blocks) {
    TileCode code;
    ASSERT_EQ(bandWriterCodeG4Buffered(&w, rows, &code), kRioOk);
    const Bytes buffered(code.data, code.data + code.bytes);
    EXPECT_EQ(buffered.size() % 4, 0u);

    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    RasterStream* s = streamOpen(f, "w");
    ASSERT_EQ(writeAll(s, "pad", 3), kRioOk);  // the block's count starts where the output stands
    int64_t bytes = 0;
    ASSERT_EQ(bandWriterCodeG4(&w, rows, s, &bytes), kRioOk);
    ASSERT_EQ(streamClose(s), 1);
    Bytes direct(static_cast<size_t>(bytes));
    std::fseek(f, 3, SEEK_SET);
    ASSERT_EQ(std::fread(direct.data(), 1, direct.size(), f), direct.size());
    std::fclose(f);
    EXPECT_EQ(direct, buffered);

    const Bitmap want = cut(page, rows.column * kTileWidth, rows.firstRow, rows.rows, rows.width);
    EXPECT_EQ(testpbm::difference(libtiffPixels(rows.width, rows.rows, buffered), want), "equal")
        << "column " << rows.column << " rows " << rows.firstRow << "+" << rows.rows;
  }
}

TEST_F(BandCoding, RawRowsArePackedMostSignificantBitFirstWithZeroPadding) {
  BandWriter w;
  const Bitmap page = filledBand(&w, 5, 3);
  const int32_t own = bandWriterColumnWidth(w, 1);  // 489 pixels: 62 bytes, stored in 64
  TileCode code;
  ASSERT_EQ(bandWriterRawRows(&w, {1, 1, 3, own}, 64, &code), kRioOk);
  ASSERT_EQ(code.bytes, 3 * 64);
  const Bitmap want = cut(page, kTileWidth, 1, 3, own);
  for (int32_t y = 0; y < 3; ++y) {
    const Bytes row(code.data + 64 * y, code.data + 64 * y + 64);
    EXPECT_EQ(Bytes(row.begin(), row.begin() + want.rowBytes()),
              Bytes(want.row(y), want.row(y) + want.rowBytes())) << y;
    EXPECT_EQ(Bytes(row.begin() + want.rowBytes(), row.end()), Bytes(64 - want.rowBytes(), 0)) << y;
  }
  EXPECT_EQ(bandWriterRawRows(&w, {1, 0, 1, own}, 61, &code), kRioBadParameter) << "489 pixels need 62 bytes";
}

TEST_F(BandCoding, RefusesWhatTheBandCannotHold) {
  BandWriter w;
  EXPECT_EQ(bandWriterInit(&w, 0, 512, 16), kRioBadParameter);
  ASSERT_EQ(bandWriterInit(&w, 600, 512, 2), kRioOk);
  const int32_t white[4] = {0, 0, kSlineEnd, kSlineEnd};
  ASSERT_EQ(bandWriterAddRow(&w, white + 2), kRioOk);
  ASSERT_EQ(bandWriterAddRow(&w, white + 2), kRioOk);
  EXPECT_EQ(bandWriterAddRow(&w, white + 2), kRioInternal) << "the band is full";
  TileCode code;
  EXPECT_EQ(bandWriterCodeG4Buffered(&w, {0, 0, 2, 513}, &code), kRioBadParameter);
  EXPECT_EQ(bandWriterCodeG4Buffered(&w, {0, 1, 2, 512}, &code), kRioBadParameter);
  EXPECT_EQ(bandWriterCodeG4Buffered(&w, {2, 0, 1, 512}, &code), kRioBadParameter);
  ASSERT_EQ(bandWriterCodeG4Buffered(&w, {1, 0, 2, 512}, &code), kRioOk);
  EXPECT_EQ(code.bytes, 4) << "two white rows (a code of one bit each) and the end-of-block code: one word";
}

}  // namespace
}  // namespace vantrel
