// JEDMICS C4 and EDMICS B4: the written header and index field by field for both twins, C4's file-order
// index past 252 tiles, raw tiles of length 0, the document text carried into the same twin and zeroed in
// the other, B4's resolution at 121, pages the 16-bit fields cannot hold refused before a byte is written;
// files built by hand read to their pixels; hostile files end in their status, through the program too.
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
using testread::Runs;

bool isB4(RasterFormatId id) { return id == kFormatEdmicsB4; }

// The page's tiles in tile order: Group 4 by the library's coder, or raw where `raw` says so.
std::vector<Block> tilesOf(const Bitmap& page, bool (*raw)(int32_t tile) = nullptr) {
  std::vector<Block> tiles;
  const int32_t across = (page.width + 511) / 512, down = (page.height + 511) / 512;
  for (int32_t r = 0; r < down; ++r)
    for (int32_t c = 0; c < across; ++c) {
      const Bitmap region = crop(page, 512 * c, 512 * r, 512, std::min(512, page.height - 512 * r));
      if (raw && raw(r * across + c)) {
        Bytes data = rawRows(region, 64);
        data.resize(32768, 0);
        tiles.push_back(Block{1, region.height, data});
      } else {
        tiles.push_back(Block{6, region.height, faxRows(region, Fax::kGroup4)});
      }
    }
  return tiles;
}

Bytes text80(const std::string& s) {
  Bytes t(80, 0);
  std::copy(s.begin(), s.end(), t.begin());
  return t;
}

class TwinWriter : public FileTest, public ::testing::WithParamInterface<RasterFormatId> {};

TEST_P(TwinWriter, HeaderAndIndexOfA2000By1500Page) {
  const RasterFormatId id = GetParam();
  const Bitmap page = makePage(2000, 1500, 0xC4);
  const auto w = writeWithDriver(fresh(), id, 2000, 1500, pageLines(page),
                                 [](RCB* rcb) { rcb->xDpi = rcb->yDpi = 300.7; });
  ASSERT_EQ(w.status, 0);
  TwinFile f;
  std::string why;
  ASSERT_TRUE(parseTwin(w.bytes, isB4(id), &f, &why)) << why;
  EXPECT_EQ(f.indexAt, 128u);
  EXPECT_EQ(f.height, 1500u);
  EXPECT_EQ(f.width, 2000u);
  EXPECT_EQ(f.dataStart, 176u);  // 12 tiles: the index fills 128 to 175
  EXPECT_EQ(f.countByte, 12);
  EXPECT_EQ(f.mode, 4);
  EXPECT_EQ(le(f.header, 38, 2), isB4(id) ? 0u : 300u);
  EXPECT_EQ(be(f.header, 121, 2), isB4(id) ? 300u : 0u);
  EXPECT_EQ(be(f.header, 28, 2), 1u);
  EXPECT_EQ(f.text, Bytes(80, 0));
  ASSERT_EQ(f.index.size(), 12u);
  for (uint16_t t = 0; t < 12; ++t) {
    EXPECT_EQ(f.index[t].first, t);
    EXPECT_EQ(f.tiles[t].coding, 6);
    EXPECT_EQ(f.tiles[t].data.size() % 4, 0u);  // whole words
  }
  const auto back = readBackBytes(w.bytes, id);
  EXPECT_EQ(back.xDpi, 300);
  EXPECT_EQ(back.end, kRioEndOfPage);
  EXPECT_EQ(difference(back.bitmap(), page), "equal");
  // No magic: recognition does not take it.
  EXPECT_EQ(readBackBytes(w.bytes, 0).open, kRioUnknownFormat);
}

// A checkerboard codes longer than 32768 bytes in Group 4: the tile is stored as its raw rows, length 0
// (and bit 15 of the C4 entry), padded to 32768 bytes.
TEST_P(TwinWriter, TileCodingLongerThanRawIsStoredRaw) {
  const RasterFormatId id = GetParam();
  Bitmap page(600, 250);
  for (int32_t y = 0; y < page.height; ++y)
    for (int32_t x = y % 2; x < 512; x += 2) page.set(x, y);
  const auto w = writeWithDriver(fresh(), id, 600, 250, pageLines(page));
  TwinFile f;
  std::string why;
  ASSERT_TRUE(parseTwin(w.bytes, isB4(id), &f, &why)) << why;
  ASSERT_EQ(f.index.size(), 2u);
  EXPECT_EQ(f.index[0], (std::pair<uint16_t, uint16_t>(isB4(id) ? 0 : 0x8000, 0)));
  EXPECT_EQ(f.tiles[0].data.size(), 32768u);
  EXPECT_EQ(f.tiles[1].coding, 6);
  EXPECT_EQ(w.bytes.size(), 136 + 32768 + f.tiles[1].data.size());
  EXPECT_EQ(difference(readBackBytes(w.bytes, id).bitmap(), page), "equal");
}

TEST_P(TwinWriter, ResolutionWhenThePageHasNone) {
  const RasterFormatId id = GetParam();
  const auto w = writeWithDriver(fresh(), id, 64, 3, std::vector<Runs>(3));
  ASSERT_EQ(w.bytes.size(), 128u + 4 + 4);  // three white rows and the end-of-block code: one word
  // B4 gives the page 200 dots per inch; C4 writes 0.
  EXPECT_EQ(w.bytes[121], 0);
  EXPECT_EQ(w.bytes[122], isB4(id) ? 0xC8 : 0);
  EXPECT_EQ(w.bytes[38], 0);
  EXPECT_EQ(w.xDpi, isB4(id) ? 200 : 0);
}

// Rows that never arrive are written white, and every tile is in the index.
TEST_P(TwinWriter, PageCutShortIsFinishedWhite) {
  const RasterFormatId id = GetParam();
  const Bitmap page = makePage(1104, 1300, 8);
  const auto w = writeWithDriver(fresh(), id, 1104, 1300, pageLines(page, 600));
  EXPECT_EQ(w.status, 0);
  EXPECT_EQ(w.warning, kRioBadRows);
  Bitmap want = page;
  for (int32_t y = 600; y < 1300; ++y) std::fill(want.row(y), want.row(y) + want.rowBytes(), 0);
  const auto back = readBackBytes(w.bytes, id);
  EXPECT_EQ(back.end, kRioEndOfPage);
  EXPECT_EQ(difference(back.bitmap(), want), "equal");
}

struct Refusal {
  int32_t width;
  int32_t height;
  RasterFormatId id;
  RioStatus open;
};

class TwinRefusal : public FileTest, public ::testing::WithParamInterface<Refusal> {};

// Pages whose sizes the 16-bit fields cannot hold (or, in B4, whose tiles its numbers cannot name) are
// refused at the open: nothing is written.
TEST_P(TwinRefusal, NothingIsWritten) {
  const Refusal& r = GetParam();
  const auto w = writeWithDriver(fresh(), r.id, r.width, r.height, {});
  EXPECT_EQ(w.open, r.open);
  EXPECT_TRUE(w.bytes.empty());
}

INSTANTIATE_TEST_SUITE_P(Sizes, TwinRefusal,
                         ::testing::Values(Refusal{524281, 8, kFormatJedmicsC4, kRioBadColumns},
                                           Refusal{524281, 8, kFormatEdmicsB4, kRioBadColumns},
                                           Refusal{64, 65536, kFormatJedmicsC4, kRioBadRows},
                                           Refusal{64, 65536, kFormatEdmicsB4, kRioBadRows},
                                           // More tiles than B4's numbers can name is also beyond the
                                           // page budget, which refuses it first.
                                           Refusal{512 * 513, 65535, kFormatEdmicsB4, kRioBadRows},
                                           Refusal{0, 10, kFormatJedmicsC4, kRioBadColumns}));

INSTANTIATE_TEST_SUITE_P(Twins, TwinWriter, ::testing::Values(kFormatJedmicsC4, kFormatEdmicsB4),
                         [](const auto& info) { return std::string(isB4(info.param) ? "B4" : "C4"); });

// 300 tiles: C4 writes index mode 8 with zero tile numbers, and reads the entries in file order.
TEST_F(FileTest, C4Of300TilesIndexesInFileOrder) {
  const int32_t width = 512 * 14 + 100, height = 512 * 19 + 1;
  std::vector<Runs> lines;
  for (int32_t y = 0; y < height; ++y) {
    if (y % 1000 == 0)
      lines.push_back({{0, width}});
    else
      lines.push_back({{y % 4000, y % 4000 + 50}, {5000, 5002}, {width - 1, width}});
  }
  const auto w = writeWithDriver(fresh(), kFormatJedmicsC4, width, height, lines);
  ASSERT_EQ(w.status, 0);
  TwinFile f;
  std::string why;
  ASSERT_TRUE(parseTwin(w.bytes, false, &f, &why)) << why;
  EXPECT_EQ(f.countByte, 0);
  EXPECT_EQ(f.mode, 8);
  ASSERT_EQ(f.index.size(), 300u);
  for (const auto& e : f.index) EXPECT_EQ(e.first, 0);
  const auto back = readBackBytes(w.bytes, kFormatJedmicsC4);
  EXPECT_EQ(back.end, kRioEndOfPage);
  EXPECT_EQ(back.lines, lines);
}

// ---- files built by hand

struct ReadCase {
  const char* name;
  RasterFormatId id;
  Bytes (*build)(const Bitmap& page);
  int32_t width, height;
};

// Tile numbers 0..252 in a shuffled order are filed under their numbers.
Bytes shuffled(const Bitmap& page) {
  const std::vector<Block> tiles = tilesOf(page);
  std::vector<uint32_t> order;
  for (uint32_t t = 0; t < tiles.size(); ++t) order.push_back((t * 7 + 3) % tiles.size());
  return buildTwin(false, page.width, page.height, 200, {}, tiles, false, order);
}

bool everyOther(int32_t t) { return t % 2 == 0; }

class TwinReader : public ::testing::TestWithParam<ReadCase> {};

TEST_P(TwinReader, ReadsToThePixels) {
  const ReadCase& c = GetParam();
  const Bitmap page = makePage(c.width, c.height, c.width * 3 + c.height);
  const auto back = readBackBytes(c.build(page), c.id);
  ASSERT_EQ(back.open, 0);
  EXPECT_EQ(back.end, kRioEndOfPage);
  EXPECT_EQ(difference(back.bitmap(), page), "equal");
}

INSTANTIATE_TEST_SUITE_P(
    Files, TwinReader,
    ::testing::Values(
        ReadCase{"C4Numbered", kFormatJedmicsC4, [](const Bitmap& p) { return buildTwin(false, p.width, p.height, 0, {}, tilesOf(p)); },
                 1200, 700},
        ReadCase{"C4Shuffled", kFormatJedmicsC4, shuffled, 512 * 11, 512 * 23},  // 253 tiles, non-zero numbers
        ReadCase{"C4RawTiles", kFormatJedmicsC4,
                 [](const Bitmap& p) { return buildTwin(false, p.width, p.height, 0, {}, tilesOf(p, everyOther)); },
                 1032, 700},
        ReadCase{"B4RawTiles", kFormatEdmicsB4,
                 [](const Bitmap& p) { return buildTwin(true, p.width, p.height, 0, {}, tilesOf(p, everyOther)); },
                 1032, 700},
        ReadCase{"B4Shuffled", kFormatEdmicsB4,
                 [](const Bitmap& p) {
                   return buildTwin(true, p.width, p.height, 0, {}, tilesOf(p), false, {5, 0, 4, 1, 3, 2});
                 },
                 1496, 1000},
        // Width a multiple of 8 but not of 512; height not of 512.
        ReadCase{"C4Narrow", kFormatJedmicsC4, [](const Bitmap& p) { return buildTwin(false, p.width, p.height, 0, {}, tilesOf(p)); },
                 8, 515}),
    [](const auto& info) { return std::string(info.param.name); });

// A C4 entry of length 0 is a raw tile even without bit 15.
TEST(TwinReaderRaw, LengthZeroWithoutTheBit) {
  const Bitmap page = makePage(512, 300, 1);
  Bytes f = buildTwin(false, 512, 300, 0, {}, tilesOf(page, [](int32_t) { return true; }));
  f[129] = 0;  // bit 15 of the first entry
  EXPECT_EQ(difference(readBackBytes(f, kFormatJedmicsC4).bitmap(), page), "equal");
}

// Only a length of 0 means raw in B4: a Group 4 tile of 32768 bytes or more is Group 4.
TEST(TwinReaderRaw, B4Group4TileOfMoreThan32767Bytes) {
  Bitmap page(512, 250);
  for (int32_t y = 0; y < page.height; ++y)
    for (int32_t x = y % 2; x < 512; x += 2) page.set(x, y);
  const std::vector<Block> tiles = tilesOf(page);
  ASSERT_GE(tiles[0].data.size(), 32768u);
  ASSERT_LT(tiles[0].data.size(), 65536u);
  const auto back = readBackBytes(buildTwin(true, 512, 250, 0, {}, tiles), kFormatEdmicsB4);
  EXPECT_EQ(back.end, kRioEndOfPage);
  EXPECT_EQ(difference(back.bitmap(), page), "equal");
}

// The height at offset 4 is unsigned: 40000 rows read whole.
TEST_F(FileTest, HeightsOf32768RowsAndMore) {
  std::vector<Runs> lines;
  for (int32_t y = 0; y < 40000; ++y) lines.push_back({{y % 13, y % 13 + 3}});
  const auto w = writeWithDriver(fresh(), kFormatJedmicsC4, 16, 40000, lines);
  EXPECT_EQ(testtiled::le(w.bytes, 4, 2), 40000u);
  const auto back = readBackBytes(w.bytes, kFormatJedmicsC4);
  EXPECT_EQ(back.height, 40000);
  EXPECT_EQ(back.end, kRioEndOfPage);
  EXPECT_EQ(back.lines, lines);
}

// The document text: kept as "C4" or "B4", a zero byte and the 80 bytes; carried by the program into the
// same twin, written as zeros into the other.
TEST_F(FileTest, DocumentTextCarriedIntoTheSameTwinOnly) {
  const Bitmap page = makePage(704, 600, 2);
  const Bytes text = text80("DWG 4711-A sheet 2 of 3");
  for (RasterFormatId id : {kFormatJedmicsC4, kFormatEdmicsB4}) {
    const char* ext = isB4(id) ? "b4" : "c4";
    const char* other = isB4(id) ? "c4" : "b4";
    save(dir_ / (std::string("in.") + ext), buildTwin(isB4(id), 704, 600, 300, text, tilesOf(page)));
    const auto in = readBackBytes(load(dir_ / (std::string("in.") + ext)), id);
    Bytes tagged = {static_cast<uint8_t>(ext[0] == 'b' ? 'B' : 'C'), '4', 0};
    tagged.insert(tagged.end(), text.begin(), text.end());
    EXPECT_EQ(in.extra, tagged);
    const std::string cd = "cd '" + dir_.string() + "' && " + VANTREL_EXE + " in." + ext;
    ASSERT_EQ(testpbm::runShell(cd + " same." + ext + " > /dev/null"), 1);
    ASSERT_EQ(testpbm::runShell(cd + " other." + other + " > /dev/null"), 1);
    TwinFile same, crossed;
    std::string why;
    ASSERT_TRUE(parseTwin(load(dir_ / (std::string("same.") + ext)), isB4(id), &same, &why)) << why;
    ASSERT_TRUE(parseTwin(load(dir_ / (std::string("other.") + other)), !isB4(id), &crossed, &why)) << why;
    EXPECT_EQ(same.text, text);
    EXPECT_EQ(crossed.text, Bytes(80, 0));
    EXPECT_EQ(crossed.dpi, 300u);
    const auto back = readBackBytes(load(dir_ / (std::string("other.") + other)), isB4(id) ? kFormatJedmicsC4 : kFormatEdmicsB4);
    EXPECT_EQ(difference(back.bitmap(), page), "equal");
  }
}

// ---- hostile files

struct Hostile {
  const char* name;
  RasterFormatId id;
  Bytes (*build)();
  RioStatus open;
  RioStatus end;
};

// 1032 x 700: 3 x 2 tiles, every other one raw.
Bytes good(bool b4) {
  return buildTwin(b4, 1032, 700, 0, {}, tilesOf(makePage(1032, 700, 6), everyOther));
}
Bytes changed(bool b4, size_t at, uint32_t v, int n, bool bigEndian = false) {
  Bytes b = good(b4);
  bigEndian ? setBe(b, at, v, n) : setLe(b, at, v, n);
  return b;
}
Bytes cut(bool b4, size_t n) {
  Bytes b = good(b4);
  b.resize(std::min(b.size(), n));
  return b;
}

class TwinHostile : public ::testing::TestWithParam<Hostile> {};

TEST_P(TwinHostile, EndsInItsStatus) {
  const Hostile& h = GetParam();
  const auto back = readBackBytes(h.build(), h.id);
  EXPECT_EQ(back.open, h.open);
  if (h.open == 0) {
    EXPECT_EQ(back.end, h.end);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, TwinHostile,
    ::testing::Values(
        Hostile{"Empty", kFormatJedmicsC4, [] { return Bytes{}; }, kRioStreamIo, 0},
        Hostile{"HeaderCut", kFormatEdmicsB4, [] { return cut(true, 127); }, kRioStreamIo, 0},
        Hostile{"ZeroWidth", kFormatJedmicsC4, [] { return changed(false, 6, 0, 2); }, kRioBadColumns, 0},
        Hostile{"B4Version", kFormatEdmicsB4, [] { return changed(true, 28, 2, 2, true); }, kRioNotImplemented, 0},
        Hostile{"IndexBeyondTheFile", kFormatEdmicsB4, [] { return changed(true, 0, 0x7FFFFFF0, 4); }, kRioBadHeader, 0},
        Hostile{"DataBeyondTheFile", kFormatEdmicsB4, [] { return changed(true, 8, 0x7FFFFFF0, 4, true); }, kRioBadHeader, 0},
        Hostile{"SizesBeyondTheIndex", kFormatJedmicsC4,
                [] {
                  Bytes b = changed(false, 4, 65535, 2);
                  setLe(b, 6, 65535, 2);
                  return b;
                },
                kRioBadHeader, 0},
        Hostile{"TileNumberOutOfRange", kFormatJedmicsC4, [] { return changed(false, 128 + 4, 6, 2); }, kRioBadHeader, 0},
        Hostile{"TileNumberTwice", kFormatEdmicsB4, [] { return changed(true, 128 + 4, 0, 2); }, kRioBadHeader, 0},
        Hostile{"RawTileCut", kFormatJedmicsC4, [] { return cut(false, 152 + 1000); }, 0, kRioUnexpectedEof},
        Hostile{"Group4OverrunsItsTile", kFormatEdmicsB4, [] { return changed(true, 128 + 6, 16, 2); }, 0, kRioUnexpectedEof}),
    [](const auto& info) { return std::string(info.param.name); });

// Any cut or any changed byte of a good file ends in a status, not a crash (the sanitizer build says so).
TEST(TwinHostileBytes, EveryCutAndEveryByteChanged) {
  for (bool b4 : {false, true}) {
    const Bytes g = buildTwin(b4, 700, 520, 0, {}, tilesOf(makePage(700, 520, 9)));
    for (size_t n = 0; n < g.size(); n += 5) (void)readBackBytes(Bytes(g.begin(), g.begin() + n), b4 ? kFormatEdmicsB4 : kFormatJedmicsC4);
    for (size_t at = 0; at < std::min<size_t>(g.size(), 300); ++at)
      for (uint8_t v : {0x00, 0x01, 0x80, 0xFF}) {
        Bytes b = g;
        b[at] = v;
        (void)readBackBytes(b, b4 ? kFormatEdmicsB4 : kFormatJedmicsC4);
      }
  }
}

// A file the program cannot read leaves no output behind.
TEST_F(FileTest, ProgramLeavesNoOutputOfABadFile) {
  save(dir_ / "bad.c4", changed(false, 128 + 4, 6, 2));
  save(dir_ / "bad.img", Bytes{0x03, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});
  save(dir_ / "cut.b4", cut(true, 152 + 1000));
  const std::string cd = "cd '" + dir_.string() + "' && " + VANTREL_EXE;
  for (const char* in : {"bad.c4", "bad.img", "cut.b4"}) {
    SCOPED_TRACE(in);
    EXPECT_EQ(testpbm::runShell(cd + " " + in + " out.tif > /dev/null"), 0);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out.tif"));
  }
}

}  // namespace
}  // namespace vantrel
