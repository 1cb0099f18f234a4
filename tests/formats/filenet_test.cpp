// FileNet IMG: the written tiled layout taken apart on the test side (directory, image header, tile table,
// tiles of 64-row segments), a page cut short finished white with its table complete, segments whose code
// would be longer stored raw; files of every layout and segment coding built by hand read to their pixels;
// hostile files end in their status.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/registry.h"
#include "tests/support/file_fixture.h"
#include "tests/support/read_back.h"
#include "tests/support/tiled_layout.h"
#include "tests/support/tiled_pages.h"

namespace vantrel {
namespace {

using namespace testtiled;
using testfiles::FileTest;
using testfiles::writeWithDriver;
using testpbm::difference;
using testpbm::makePage;
using testread::readBackBytes;

class FileNetWriter : public FileTest {
 protected:
  FileNetFile writeAndParse(const Bitmap& page, int32_t height, double dpi, Bytes* bytes = nullptr) {
    const auto w = writeWithDriver(fresh(), kFormatFileNet, page.width, height, pageLines(page),
                                   [dpi](RCB* rcb) { rcb->xDpi = rcb->yDpi = dpi; });
    EXPECT_EQ(w.status, 0);
    FileNetFile f;
    std::string why;
    EXPECT_TRUE(parseFileNet(w.bytes, &f, &why)) << why;
    if (bytes) *bytes = w.bytes;
    return f;
  }
};

std::vector<int> segmentRows(const std::vector<Block>& tile) {
  std::vector<int> rows;
  for (const Block& s : tile) rows.push_back(s.rows);
  return rows;
}

TEST_F(FileNetWriter, TilesOfA2000By3000Page) {
  const Bitmap page = makePage(2000, 3000, 0xF11E);
  Bytes bytes;
  const FileNetFile f = writeAndParse(page, 3000, 300, &bytes);
  const Bytes start = {0x03, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0x07, 0xD0, 0, 0, 0x0B, 0xB8};
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 20), start);
  EXPECT_EQ(f.tags, (std::vector<uint32_t>{2, 1}));
  EXPECT_EQ(f.imageHeader, 1024u);
  EXPECT_EQ(f.dataLength, bytes.size() - 1024);
  EXPECT_EQ(f.dpi, 300u);
  EXPECT_EQ(f.tileWidth, 1024u);
  EXPECT_EQ(f.tileLength, 1024u);
  ASSERT_EQ(f.tiles.size(), 6u);  // 2 across, 3 down
  const std::vector<int> full(16, 64);
  std::vector<int> bottom(14, 64);
  bottom.push_back(56);  // 952 rows
  for (size_t t = 0; t < 6; ++t) {
    SCOPED_TRACE(t);
    EXPECT_EQ(segmentRows(f.tiles[t]), t < 4 ? full : bottom);
    for (const Block& s : f.tiles[t]) EXPECT_EQ(s.coding, 6);
    // The table holds each tile's offset from the image header and its length, the tiles one after another.
    const uint32_t begin = t == 0 ? 1024 + 40 + 8 * 6 : f.tileEnds[t - 1];
    EXPECT_EQ(f.table[t].first + 1024, begin);
    EXPECT_EQ(f.table[t].second, f.tileEnds[t] - begin);
  }
  EXPECT_EQ(f.tileEnds.back(), bytes.size());
  const auto back = readBackBytes(bytes);
  EXPECT_EQ(back.format, kFormatFileNetVariant);
  EXPECT_EQ(back.xDpi, 300);
  EXPECT_EQ(back.end, kRioEndOfPage);
  EXPECT_EQ(difference(back.bitmap(), page), "equal");
}

TEST_F(FileNetWriter, PageOf500RowsIsOneTileRow) {
  const FileNetFile f = writeAndParse(makePage(1500, 500, 5), 500, 200);
  EXPECT_EQ(f.tileLength, 500u);
  ASSERT_EQ(f.tiles.size(), 2u);
  const std::vector<int> rows = {64, 64, 64, 64, 64, 64, 64, 52};
  EXPECT_EQ(segmentRows(f.tiles[0]), rows);
  EXPECT_EQ(segmentRows(f.tiles[1]), rows);
}

// Rows that never arrive are written white: the last band, every tile row below it, the whole table.
TEST_F(FileNetWriter, PageCutShortIsFinishedWhite) {
  const Bitmap page = makePage(2000, 3000, 77);
  const auto w = writeWithDriver(fresh(), kFormatFileNet, 2000, 3000, pageLines(page, 1500));
  EXPECT_EQ(w.status, 0);
  EXPECT_EQ(w.warning, kRioBadRows);
  FileNetFile f;
  std::string why;
  ASSERT_TRUE(parseFileNet(w.bytes, &f, &why)) << why;
  ASSERT_EQ(f.table.size(), 6u);
  for (size_t t = 0; t < 6; ++t) EXPECT_GT(f.table[t].second, 8u) << t;
  Bitmap want = page;
  for (int32_t y = 1500; y < 3000; ++y) std::fill(want.row(y), want.row(y) + want.rowBytes(), 0);
  const auto back = readBackBytes(w.bytes);
  EXPECT_EQ(back.end, kRioEndOfPage);
  EXPECT_EQ(difference(back.bitmap(), want), "equal");
}

// A checkerboard codes longer in Group 4 than raw: its segments are stored raw (coding 1, rows of the full
// tile width), so no 16-bit length is ever cut. The 76-pixel partial column codes shorter than its raw rows
// and stays Group 4.
TEST_F(FileNetWriter, SegmentsCodingLongerThanRawAreStoredRaw) {
  Bitmap page(1100, 130);
  for (int32_t y = 0; y < page.height; ++y)
    for (int32_t x = y % 2; x < page.width; x += 2) page.set(x, y);
  Bytes bytes;
  const FileNetFile f = writeAndParse(page, 130, 200, &bytes);
  ASSERT_EQ(f.tiles.size(), 2u);
  for (const auto& tile : f.tiles) EXPECT_EQ(segmentRows(tile), (std::vector<int>{64, 64, 2}));
  for (const Block& s : f.tiles[0]) {
    EXPECT_EQ(s.coding, 1);
    EXPECT_EQ(s.data.size(), static_cast<size_t>(s.rows) * 128);
  }
  for (const Block& s : f.tiles[1]) EXPECT_EQ(s.coding, 6);
  EXPECT_EQ(difference(readBackBytes(bytes).bitmap(), page), "equal");
}

// ---- files built by hand

struct Built {
  Bytes bytes;
  Bitmap page;
  double dpi = 0;
  RioStatus warning = 0;
};

Built singleTile(uint8_t flags, double dpi, RioStatus warning = 0) {
  Built b{{}, makePage(45, 20, flags), dpi, warning};
  b.bytes = buildFileNetSingle(45, 20, flags, {Block{1, 20, rawRows(b.page, 6)}});
  return b;
}

// Segments of every coding in one tile: raw, white without data, Group 3 with and without end-of-line
// codes, Group 4, raw in the other raw codings.
Built everyCoding() {
  Built b{{}, makePage(300, 70, 3), 0, 0};
  for (int32_t y = 10; y < 20; ++y) std::fill(b.page.row(y), b.page.row(y) + b.page.rowBytes(), 0);
  auto part = [&](int32_t y, int32_t rows) { return crop(b.page, 0, y, 300, rows); };
  const std::vector<Block> segments = {
      {1, 10, rawRows(part(0, 10), 38)},        {0, 10, {}},
      {2, 10, faxRows(part(20, 10), Fax::kGroup3)}, {5, 10, faxRows(part(30, 10), Fax::kGroup3NoEol)},
      {6, 10, faxRows(part(40, 10), Fax::kGroup4)}, {3, 10, rawRows(part(50, 10), 38)},
      {4, 10, rawRows(part(60, 10), 38)},
  };
  b.bytes = buildFileNetSingle(300, 70, 0x30, segments);
  b.dpi = 400;
  return b;
}

// A 40 x 20 page in tiles of 16 x 10: the partial column (8 pixels) first for placement codes 1 and 3,
// last for the others; its raw rows 2 bytes long (the tile width) or 1 (its own).
Built placed(uint32_t placement, int32_t partialRowBytes) {
  Built b{{}, makePage(40, 20, placement + 11), 0, 0};
  const bool first = placement == 1 || placement == 3;
  const std::vector<int32_t> lefts = first ? std::vector<int32_t>{0, 8, 24} : std::vector<int32_t>{0, 16, 32};
  const std::vector<int32_t> widths = first ? std::vector<int32_t>{8, 16, 16} : std::vector<int32_t>{16, 16, 8};
  std::vector<std::vector<Block>> tiles;
  for (int32_t row = 0; row < 2; ++row)
    for (int32_t c = 0; c < 3; ++c) {
      const int32_t rowBytes = widths[c] == 8 ? partialRowBytes : 2;
      tiles.push_back({Block{1, 10, rawRows(crop(b.page, lefts[c], 10 * row, widths[c], 10), rowBytes)}});
    }
  b.bytes = buildFileNet(FileNetLayout{40, 20, 16, 10, 150, placement}, tiles);
  b.dpi = 150;
  return b;
}

// Tiles whose Group 4 segments each restart from a white reference line; the directory's sizes differ from
// the image header's, which win.
Built group4Tiles(uint32_t listedWidth) {
  Built b{{}, makePage(700, 90, 21), 100, listedWidth ? kRioBadHeader : 0};
  std::vector<std::vector<Block>> tiles;
  for (int32_t row = 0; row < 2; ++row)
    for (int32_t c = 0; c < 2; ++c) {
      const int32_t width = c == 0 ? 512 : 188;
      const int32_t rows = row == 0 ? 64 : 26;
      std::vector<Block> tile;
      for (int32_t y = 0; y < rows; y += 7) {
        const int32_t n = std::min(7, rows - y);
        tile.push_back(Block{6, n, faxRows(crop(b.page, 512 * c, 64 * row + y, width, n), Fax::kGroup4)});
      }
      tiles.push_back(tile);
    }
  FileNetLayout layout{700, 90, 512, 64, 100, 0};
  layout.listedWidth = listedWidth;
  b.bytes = buildFileNet(layout, tiles);
  return b;
}

struct ReadCase {
  const char* name;
  Built (*build)();
};

class FileNetReader : public ::testing::TestWithParam<ReadCase> {};

TEST_P(FileNetReader, ReadsToThePixels) {
  const Built b = GetParam().build();
  for (RasterFormatId id : {kFormatNone, kFormatFileNet, kFormatFileNetVariant}) {
    SCOPED_TRACE(id);
    const auto back = readBackBytes(b.bytes, id);
    ASSERT_EQ(back.open, 0);
    EXPECT_EQ(back.xDpi, b.dpi);
    EXPECT_EQ(back.yDpi, b.dpi);
    EXPECT_EQ(back.end, kRioEndOfPage);
    EXPECT_EQ(back.warning, b.warning);
    EXPECT_EQ(difference(back.bitmap(), b.page), "equal");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, FileNetReader,
    ::testing::Values(ReadCase{"SingleTileIndex0", [] { return singleTile(0x00, 200); }},
                      ReadCase{"SingleTileIndex1", [] { return singleTile(0x13, 200); }},
                      ReadCase{"SingleTile300", [] { return singleTile(0x20, 300); }},
                      ReadCase{"SingleTile400", [] { return singleTile(0x31, 400); }},
                      ReadCase{"SingleTile100", [] { return singleTile(0x40, 100); }},
                      ReadCase{"SingleTileIndex5", [] { return singleTile(0x50, 0, kRioBadHeader); }},
                      ReadCase{"EveryCoding", everyCoding},
                      ReadCase{"PartialLast", [] { return placed(0, 1); }},
                      ReadCase{"PartialLastCode2", [] { return placed(2, 2); }},
                      ReadCase{"PartialFirstCode1", [] { return placed(1, 2); }},
                      ReadCase{"PartialFirstCode3OwnWidth", [] { return placed(3, 1); }},
                      ReadCase{"Group4Tiles", [] { return group4Tiles(0); }},
                      ReadCase{"HeaderSizesWin", [] { return group4Tiles(999); }}),
    [](const auto& info) { return std::string(info.param.name); });

// Raw rows that do not divide the segment's length evenly are the column's own width.
TEST(FileNetReaderRaw, UnevenLengthMeansTheColumnsOwnWidth) {
  Built b = placed(1, 1);
  // Three bytes more in the first tile's raw segment: 13 does not divide by 10 rows.
  FileNetFile f;
  std::string why;
  ASSERT_TRUE(parseFileNet(b.bytes, &f, &why)) << why;
  std::vector<std::vector<Block>> tiles = f.tiles;
  tiles[0][0].data.resize(13, 0);
  const Bytes bytes = buildFileNet(FileNetLayout{40, 20, 16, 10, 150, 1}, tiles);
  EXPECT_EQ(difference(readBackBytes(bytes).bitmap(), b.page), "equal");
}

// ---- hostile files

struct Hostile {
  const char* name;
  Bytes (*build)();
  RioStatus open;  // the open's status; 0: the open succeeds and reading ends in `end`
  RioStatus end;
};

// A small good file to spoil: 40 x 20 in tiles of 16 x 10, each one raw segment.
Bytes good() {
  return placed(0, 1).bytes;
}
Bytes withByte(size_t at, uint8_t v) {
  Bytes b = good();
  b[at] = v;
  return b;
}
Bytes withWord(size_t at, uint32_t v) {
  Bytes b = good();
  setBe(b, at, v, 4);
  return b;
}
// The good file's first tile (at table offset) with its segments replaced.
Bytes withFirstTile(const std::vector<Block>& segments, uint32_t tileLength = 10) {
  Built b = placed(0, 1);
  FileNetFile f;
  std::string why;
  (void)parseFileNet(b.bytes, &f, &why);
  f.tiles[0] = segments;
  return buildFileNet(FileNetLayout{40, 20, 16, tileLength, 150, 0}, f.tiles);
}
constexpr size_t kB = 64;  // the image header of the built files

class FileNetHostile : public ::testing::TestWithParam<Hostile> {};

TEST_P(FileNetHostile, EndsInItsStatus) {
  const Hostile& h = GetParam();
  const auto back = readBackBytes(h.build(), kFormatFileNetVariant);
  EXPECT_EQ(back.open, h.open);
  if (h.open == 0) {
    EXPECT_EQ(back.end, h.end);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, FileNetHostile,
    ::testing::Values(
        Hostile{"Empty", [] { return Bytes{}; }, kRioStreamIo, 0},
        Hostile{"HeaderCut",
                [] {
                  Bytes b = good();
                  b.resize(6);
                  return b;
                },
                kRioStreamIo, 0},
        Hostile{"FirstByte", [] { return withByte(0, 0x04); }, kRioBadHeader, 0},
        Hostile{"DirectoryBeyondTheFile", [] { return withWord(4, 0x10000000); }, kRioBadHeader, 0},
        Hostile{"NoImageEntry", [] { return withWord(20, 7); }, kRioBadHeader, 0},
        Hostile{"ImageHeaderBeyondTheFile", [] { return withWord(24, 0x7FFFFFF0); }, kRioBadHeader, 0},
        Hostile{"ImageMagic", [] { return withWord(kB, 0x12345679); }, kRioBadHeader, 0},
        Hostile{"ZeroWidth", [] { return withWord(kB + 24, 0); }, kRioBadColumns, 0},
        Hostile{"HugeWidth", [] { return withWord(kB + 24, 0xFFFFFFFF); }, kRioBadColumns, 0},
        Hostile{"HugeHeight", [] { return withWord(kB + 28, 0x80000000); }, kRioBadRows, 0},
        Hostile{"ZeroTileWidth", [] { return withWord(kB + 32, 0); }, kRioBadHeader, 0},
        Hostile{"ZeroTileLength", [] { return withWord(kB + 36, 0); }, kRioBadHeader, 0},
        Hostile{"TableBeyondTheFile", [] { return withWord(kB + 28, 0x7FFFFFFF); }, kRioBadHeader, 0},
        Hostile{"OneTileColumnAPixel", [] { return withWord(kB + 32, 1); }, kRioBadHeader, 0},
        Hostile{"TileBeyondTheFile", [] { return withWord(kB + 40, 0x7FFFFF00); }, kRioBadHeader, 0},
        Hostile{"TileMagic", [] { return withByte(kB + 40 + 48, 'X'); }, kRioBadHeader, 0},
        Hostile{"SegmentCountBeyondTheFile", [] { return withWord(kB + 40 + 48 + 4, 0x40000000); }, kRioBadHeader, 0},
        Hostile{"CodingSeven", [] { return withFirstTile({Block{7, 10, Bytes(20, 0)}}); }, 0, kRioNotImplemented},
        Hostile{"FewerRowsThanTheTile", [] { return withFirstTile({Block{0, 9, {}}}); }, 0, kRioUnexpectedEof},
        Hostile{"SegmentOfNoRows", [] { return withFirstTile({Block{0, 0, {}}, Block{0, 10, {}}}); }, 0,
                kRioBadHeader},
        Hostile{"RawRowsCutShort", [] { return withFirstTile({Block{1, 10, Bytes(9, 0)}}); }, 0, kRioUnexpectedEof},
        Hostile{"Group4OverrunsItsSegment",
                [] {
                  Bytes g4 = faxRows(makePage(16, 10, 4), Fax::kGroup4);
                  g4.resize(g4.size() / 2);
                  return withFirstTile({Block{6, 10, g4}, Block{0, 10, Bytes(64, 0)}});
                },
                0, kRioUnexpectedEof}),
    [](const auto& info) { return std::string(info.param.name); });

// Any cut or any changed byte of a good file ends in a status, not a crash (the sanitizer build says so).
TEST(FileNetHostileBytes, EveryCutAndEveryByteChanged) {
  const Bytes g = group4Tiles(0).bytes;
  for (size_t n = 0; n < g.size(); n += 7) (void)readBackBytes(Bytes(g.begin(), g.begin() + n), kFormatFileNet);
  for (size_t at = 0; at < std::min<size_t>(g.size(), 400); ++at)
    for (uint8_t v : {0x00, 0x01, 0x7F, 0xFF}) {
      Bytes b = g;
      b[at] = v;
      const auto back = readBackBytes(b, kFormatFileNet);
      if (back.open == 0) {
        EXPECT_LE(back.lines.size(), 90u);
      }
    }
}

}  // namespace
}  // namespace vantrel
