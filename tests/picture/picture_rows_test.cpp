// Picture rows, bitmap strings and their run lists, checked against per-pixel references that read the
// packed bytes directly (byte k of a word holds pixels 8k..8k+7, the first in the most significant bit).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "picture/tpicture.h"

namespace vantrel {
namespace {

using Runs = std::vector<int32_t>;  // pairs, without the terminator

// Resets the toolkit state of this thread and checks that the test gave back all accounted memory.
class Scope {
 public:
  Scope() {
    rioFailAllocationAfter(-1);
    rastClearLastError();
    rastSetErrorHook(nullptr);
  }
  ~Scope() {
    rioFailAllocationAfter(-1);
    rastSetErrorHook(nullptr);
    EXPECT_EQ(rioBytesInUse(), base_) << "accounted memory not given back";
  }

 private:
  int64_t base_ = rioBytesInUse();
};

Runs withEnd(Runs r) {
  r.push_back(-1);
  r.push_back(-1);
  return r;
}

Runs toRuns(const int32_t* runs) {
  Runs v;
  for (; !rioSlineEnd(runs); runs += 2) {
    v.push_back(runs[0]);
    v.push_back(runs[1]);
  }
  return v;
}

// The pixel of a packed word in memory, from its bytes.
bool memoryPixel(const uint32_t* words, int64_t column) {
  uint8_t bytes[4];
  std::memcpy(bytes, &words[column / 32], 4);
  return (bytes[(column % 32) / 8] >> (7 - column % 8)) & 1;
}

// The pixel of a picture from its directory and tile words, padding included.
bool rawPixel(const TPicture* p, int32_t row, int32_t column) {
  TileEntry e = tileRowEntries(p, row / 32)[column / 32];
  if (entryIsWhite(e)) return false;
  if (entryIsBlack(e)) return true;
  uint32_t word = tileWords(p, e)[row % 32];
  return memoryPixel(&word, column % 32);
}

Runs naiveRuns(const std::vector<bool>& px, int64_t first, int64_t last) {
  Runs v;
  first = std::max<int64_t>(first, 0);
  last = std::min<int64_t>(last, static_cast<int64_t>(px.size()) - 1);
  for (int64_t c = first; c <= last; ++c) {
    if (!px[static_cast<size_t>(c)]) continue;
    int64_t s = c;
    while (c <= last && px[static_cast<size_t>(c)]) ++c;
    v.push_back(static_cast<int32_t>(s));
    v.push_back(static_cast<int32_t>(c));
  }
  return v;
}

Runs extract(const TPicture* p, int32_t row, int32_t first, int32_t last) {
  std::vector<int32_t> buf(static_cast<size_t>(slineValues(std::max(last - first + 1, 1))) + 8, 77);
  int32_t n = ExtractRunsTPicture(p, row, buf.data(), first, last);
  Runs r = toRuns(buf.data());
  EXPECT_EQ(n * 2, static_cast<int32_t>(r.size()));
  // The output fits the room promised for the window.
  EXPECT_LE(r.size() + 2, static_cast<size_t>(slineValues(std::max(last - first + 1, 1))));
  return r;
}

// Random runs: gaps of 0 or more (so written runs touch), lengths mixing single pixels and long spans.
Runs randomRuns(std::mt19937& rng, int32_t width, int32_t from = 0) {
  Runs v;
  int32_t at = from + static_cast<int32_t>(rng() % 40);
  while (at < width + 20) {
    int32_t len =
        rng() % 4 == 0 ? 1 + static_cast<int32_t>(rng() % 120) : 1 + static_cast<int32_t>(rng() % 6);
    v.push_back(at);
    v.push_back(at + len);
    at += len + static_cast<int32_t>(rng() % 3 == 0 ? 0 : rng() % 50);
  }
  return v;
}

void paint(std::vector<bool>& px, const Runs& runs, bool black) {
  for (size_t i = 0; i < runs.size(); i += 2) {
    for (int64_t c = std::max(runs[i], 0); c < runs[i + 1] && c < static_cast<int64_t>(px.size()); ++c) {
      px[static_cast<size_t>(c)] = black;
    }
  }
}

// ---------------------------------------------------------------------------------------------------------

TEST(PictureByteRunsTable, EveryByteMatchesItsBits) {
  for (int value = 0; value < 256; ++value) {
    std::vector<bool> px(8);
    for (int b = 0; b < 8; ++b) px[static_cast<size_t>(b)] = (value >> (7 - b)) & 1;
    Runs expected = naiveRuns(px, 0, 7);
    const ByteRuns& t = kByteRuns[static_cast<size_t>(value)];
    Runs got;
    for (int i = 0; i < t.count; ++i) {
      got.push_back(t.start[i]);
      got.push_back(t.end[i]);
    }
    EXPECT_EQ(got, expected) << "byte " << value;
  }
}

struct MaskCase {
  int from;
  uint8_t bytes[4];  // the mask of pixels from..31 as it lies in memory
  uint32_t littleEndianValue;
};

class PictureMaskFrom : public ::testing::TestWithParam<MaskCase> {};

TEST_P(PictureMaskFrom, FollowsMemoryByteOrder) {
  uint32_t m = maskFrom(GetParam().from);
  uint8_t bytes[4];
  std::memcpy(bytes, &m, 4);
  EXPECT_EQ(0, std::memcmp(bytes, GetParam().bytes, 4));
  if constexpr (std::endian::native == std::endian::little) {
    EXPECT_EQ(m, GetParam().littleEndianValue);
  }
  EXPECT_EQ(maskBefore(GetParam().from), ~m);
}

INSTANTIATE_TEST_SUITE_P(Vectors, PictureMaskFrom,
                         ::testing::Values(MaskCase{0, {0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFF},
                                           MaskCase{1, {0x7F, 0xFF, 0xFF, 0xFF}, 0xFFFFFF7F},
                                           MaskCase{8, {0x00, 0xFF, 0xFF, 0xFF}, 0xFFFFFF00},
                                           MaskCase{25, {0x00, 0x00, 0x00, 0x7F}, 0x7F000000},
                                           MaskCase{31, {0x00, 0x00, 0x00, 0x01}, 0x01000000}));

// ---------------------------------------------------------------------------------------------------------
// Fixed row cases.

struct RowCase {
  const char* name;
  int32_t height, width;
  std::vector<Runs> writes;  // black runs written into row `row`, one list after another
  int32_t row, first, last;
  Runs expected;
};

void PrintTo(const RowCase& c, std::ostream* os) {
  *os << c.name;
}

class PictureRowVectors : public ::testing::TestWithParam<RowCase> {};

TEST_P(PictureRowVectors, ReadsBackJoined) {
  Scope scope;
  const RowCase& c = GetParam();
  TPicturePtr p(AllocTPicture(c.height, c.width));
  ASSERT_TRUE(p);
  for (const Runs& w : c.writes) ASSERT_TRUE(WriteRunsTPicture(p.get(), c.row, withEnd(w).data(), 1));
  EXPECT_EQ(extract(p.get(), c.row, c.first, c.last), c.expected);
  PackBlackTPicture(p.get());
  EXPECT_EQ(extract(p.get(), c.row, c.first, c.last), c.expected) << "after pack black";
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, PictureRowVectors,
    ::testing::Values(
        RowCase{"TileBoundary", 40, 100, {{30, 32}, {32, 34}}, 3, 0, 99, {30, 34}},
        RowCase{"ByteBoundary", 40, 100, {{7, 8}, {8, 9}}, 3, 0, 99, {7, 9}},
        RowCase{"WordOfOnes", 40, 100, {{0, 32}, {32, 33}}, 3, 0, 99, {0, 33}},
        RowCase{"ManyTiles", 40, 300, {{5, 40}, {40, 90}, {90, 250}}, 39, 0, 299, {5, 250}},
        RowCase{"OneApart", 40, 100, {{31, 32}, {33, 34}}, 3, 0, 99, {31, 32, 33, 34}},
        RowCase{"WindowInsideTiles", 40, 200, {{10, 150}}, 1, 37, 70, {37, 71}},
        RowCase{"OpenAtLast", 40, 200, {{10, 150}}, 1, 0, 99, {10, 100}},
        RowCase{"StartAtFirst", 40, 200, {{10, 150}, {160, 170}}, 1, 100, 199, {100, 150, 160, 170}},
        RowCase{"ClippedToWidth", 40, 100, {{90, 500}}, 1, 0, 400, {90, 100}},
        RowCase{"NegativeStart", 40, 100, {{-20, 3}}, 1, -5, 99, {0, 3}},
        RowCase{"RowOutside", 40, 100, {{0, 50}}, 40, 0, 99, {}},
        RowCase{"EmptyWindow", 40, 100, {{0, 50}}, 1, 60, 10, {}},
        RowCase{"OddWidth", 3, 33, {{0, 33}}, 2, 0, 32, {0, 33}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PictureRows, AllBlackTilesGiveOneRunToLastPlusOne) {
  Scope scope;
  TPicturePtr p(AllocTPicture(64, 160));
  std::fill(p->directory, p->directory + p->tileCount, kBlackEntry);
  EXPECT_EQ(extract(p.get(), 40, 0, 159), (Runs{0, 160}));
  EXPECT_EQ(extract(p.get(), 40, 3, 140), (Runs{3, 141}));
  EXPECT_EQ(extract(p.get(), 0, 31, 32), (Runs{31, 33}));
  EXPECT_EQ(TPictureTileCount(p.get()), 0);
}

TEST(PictureRows, BlackEntryJoinsTheRunOfItsNeighbourTile) {
  Scope scope;
  TPicturePtr p(AllocTPicture(32, 96));
  ASSERT_TRUE(WriteSpanTPicture(p.get(), 5, 64, 70, 1));
  p->directory[1] = kBlackEntry;
  ASSERT_TRUE(WriteSpanTPicture(p.get(), 5, 20, 32, 1));
  EXPECT_EQ(extract(p.get(), 5, 0, 95), (Runs{20, 70}));
  EXPECT_EQ(extract(p.get(), 6, 0, 95), (Runs{32, 64}));
}

TEST(PictureRows, TailIsWhatAppendTakes) {
  Scope scope;
  TPicturePtr p(AllocTPicture(32, 64));
  std::vector<int32_t> line(40, 0);
  int32_t* tail = nullptr;
  EXPECT_EQ(ExtractRunsTPicture(p.get(), 0, line.data(), 0, 63, &tail), 0);
  EXPECT_EQ(tail, line.data());  // the terminator: rioAppendSline starts the line there
  ASSERT_TRUE(WriteSpanTPicture(p.get(), 1, 10, 40, 1));
  EXPECT_EQ(ExtractRunsTPicture(p.get(), 1, line.data(), 0, 31, &tail), 1);
  EXPECT_EQ(tail, line.data() + 1);
  EXPECT_EQ(*tail, 32);
  // The second half of the row appended to the first joins the run across the window edge.
  std::vector<int32_t> rest(40);
  ASSERT_EQ(ExtractRunsTPicture(p.get(), 1, rest.data(), 32, 63), 1);
  rioShiftSline(rest.data(), -32);
  tail = rioAppendSline(tail, rest.data(), 32);
  EXPECT_EQ(toRuns(line.data()), (Runs{10, 40}));
}

TEST(PictureRows, BlackRunsMakeTilesOnlyWhereTheyFall) {
  Scope scope;
  TPicturePtr p(AllocTPicture(100, 200));
  ASSERT_TRUE(WriteSpanTPicture(p.get(), 70, 40, 50, 1));
  EXPECT_EQ(TPictureTileCount(p.get()), 1);
  for (int32_t i = 0; i < p->tileCount; ++i) {
    EXPECT_EQ(entryIsTile(p->directory[i]), i == 2 * p->tilesAcross + 1) << i;
  }
  // White into white and black into black make nothing.
  ASSERT_TRUE(WriteSpanTPicture(p.get(), 3, 0, 200, 0));
  p->directory[5] = kBlackEntry;
  ASSERT_TRUE(WriteSpanTPicture(p.get(), 3, 160, 192, 1));
  EXPECT_EQ(TPictureTileCount(p.get()), 1);
  // White into black makes a black tile with a hole.
  ASSERT_TRUE(WriteSpanTPicture(p.get(), 3, 170, 171, 0));
  EXPECT_EQ(TPictureTileCount(p.get()), 2);
  EXPECT_EQ(extract(p.get(), 3, 160, 191), (Runs{160, 170, 171, 192}));
  EXPECT_EQ(extract(p.get(), 4, 160, 191), (Runs{160, 192}));
}

TEST(PictureRows, WholeTileRunsMakeFullTilesThatPackBlackReclaims) {
  Scope scope;
  TPicturePtr p(AllocTPicture(33, 33));
  EXPECT_EQ(p->tilesAcross, 2);
  EXPECT_EQ(p->tileRows, 2);
  for (int32_t row = 0; row < 32; ++row) ASSERT_TRUE(WriteSpanTPicture(p.get(), row, 0, 32, 1));
  EXPECT_EQ(TPictureTileCount(p.get()), 1);
  EXPECT_TRUE(entryIsTile(p->directory[0]));
  for (int i = 0; i < 32; ++i) EXPECT_EQ(tileWords(p.get(), p->directory[0])[i], 0xFFFFFFFFu);
  PackBlackTPicture(p.get());
  EXPECT_EQ(p->directory[0], kBlackEntry);
  EXPECT_EQ(TPictureTileCount(p.get()), 0);
  // An edge tile whose area is all black keeps its white padding, so it is not packed.
  for (int32_t row = 0; row < 33; ++row) ASSERT_TRUE(WriteSpanTPicture(p.get(), row, 0, 33, 1));
  PackBlackTPicture(p.get());
  EXPECT_TRUE(entryIsTile(p->directory[1]));
  EXPECT_TRUE(entryIsTile(p->directory[3]));
  for (int32_t row = 0; row < 64; ++row) {
    for (int32_t col = 33; col < 64; ++col) ASSERT_FALSE(rawPixel(p.get(), row, col)) << row << "," << col;
  }
  EXPECT_EQ(extract(p.get(), 32, 0, 32), (Runs{0, 33}));
}

TEST(PictureRows, ColumnAndSpanWriters) {
  Scope scope;
  TPicturePtr p(AllocTPicture(100, 70));
  ASSERT_TRUE(WriteColumnTPicture(p.get(), 33, withEnd({2, 5, 60, 120}).data(), 1));
  for (int32_t row = 0; row < 100; ++row) {
    bool expect = (row >= 2 && row < 5) || row >= 60;
    EXPECT_EQ(extract(p.get(), row, 0, 69), expect ? (Runs{33, 34}) : Runs{}) << row;
  }
  ASSERT_TRUE(WriteColumnTPicture(p.get(), 33, withEnd({3, 4}).data(), 0));
  EXPECT_EQ(extract(p.get(), 3, 0, 69), Runs{});
  EXPECT_TRUE(WriteColumnTPicture(p.get(), 70, withEnd({0, 100}).data(), 1));  // beyond width: nothing
  EXPECT_EQ(extract(p.get(), 10, 0, 69), Runs{});
}

TEST(PictureRows, TileAllocationFailureReportsError1) {
  Scope scope;
  TPicturePtr p(AllocTPicture(32, 200));
  static std::vector<std::string> names;
  names.clear();
  rastSetErrorHook([](RastError code, const char* routine) {
    if (code == kRastOutOfMemory) names.push_back(routine);
  });
  rioFailAllocationAfter(0);
  EXPECT_FALSE(WriteSpanTPicture(p.get(), 0, 0, 10, 1));
  EXPECT_EQ(rastGetLastError(), kRastOutOfMemory);
  EXPECT_EQ(names, std::vector<std::string>{"AllocTPictureTile"});
  EXPECT_TRUE(WriteSpanTPicture(p.get(), 0, 0, 10, 1));
}

// ---------------------------------------------------------------------------------------------------------
// Random rows against a per-pixel model.

struct RandomCase {
  int32_t width;
  uint32_t seed;
};

class PictureRandomRows : public ::testing::TestWithParam<RandomCase> {};

TEST_P(PictureRandomRows, WriteThenReadEqualsTheModel) {
  Scope scope;
  const int32_t width = GetParam().width;
  const int32_t height = 45;
  std::mt19937 rng(GetParam().seed);
  TPicturePtr p(AllocTPicture(height, width));
  ASSERT_TRUE(p);
  std::vector<std::vector<bool>> model(height, std::vector<bool>(static_cast<size_t>(width)));
  for (int32_t row = 0; row < height; ++row) {
    if (row % 7 == 3) continue;  // some rows stay white
    Runs black = randomRuns(rng, width, -10);
    ASSERT_TRUE(WriteRunsTPicture(p.get(), row, withEnd(black).data(), 1));
    paint(model[static_cast<size_t>(row)], black, true);
    if (row % 3 == 0) {
      Runs white = randomRuns(rng, width);
      ASSERT_TRUE(WriteRunsTPicture(p.get(), row, withEnd(white).data(), 0));
      paint(model[static_cast<size_t>(row)], white, false);
    }
  }
  auto check = [&](const char* stage) {
    for (int32_t row = 0; row < height; ++row) {
      const auto& px = model[static_cast<size_t>(row)];
      for (int32_t col = 0; col < p->tilesAcross * 32; ++col) {
        bool expect = col < width && px[static_cast<size_t>(col)];
        ASSERT_EQ(rawPixel(p.get(), row, col), expect) << stage << " row " << row << " col " << col;
      }
      ASSERT_EQ(extract(p.get(), row, 0, width - 1), naiveRuns(px, 0, width - 1)) << stage << " row " << row;
      for (int k = 0; k < 8; ++k) {
        int32_t a = static_cast<int32_t>(rng() % static_cast<uint32_t>(width));
        int32_t b = static_cast<int32_t>(rng() % static_cast<uint32_t>(width));
        if (a > b) std::swap(a, b);
        ASSERT_EQ(extract(p.get(), row, a, b), naiveRuns(px, a, b))
            << stage << " row " << row << " " << a << ".." << b;
      }
    }
  };
  check("written");
  PackBlackTPicture(p.get());
  PackWhiteTPicture(p.get());
  check("packed");
  TPicturePtr copy(CopyTPicture(p.get()));
  ASSERT_TRUE(copy);
  p.swap(copy);
  copy.reset();
  check("copied");
}

INSTANTIATE_TEST_SUITE_P(Widths, PictureRandomRows,
                         ::testing::Values(RandomCase{1, 1}, RandomCase{7, 2}, RandomCase{31, 3},
                                           RandomCase{32, 4}, RandomCase{33, 5}, RandomCase{63, 6},
                                           RandomCase{65, 7}, RandomCase{100, 8}, RandomCase{257, 9},
                                           RandomCase{1001, 10}, RandomCase{2049, 11}));

// Full black and full white bands so that whole-word and black-entry paths are taken.
TEST(PictureRandomRowsDense, LongRunsAcrossBlackEntries) {
  Scope scope;
  std::mt19937 rng(99);
  const int32_t width = 700, height = 64;
  TPicturePtr p(AllocTPicture(height, width));
  std::vector<std::vector<bool>> model(height, std::vector<bool>(width));
  for (int32_t row = 0; row < height; ++row) {
    Runs band{64, 320};
    ASSERT_TRUE(WriteRunsTPicture(p.get(), row, withEnd(band).data(), 1));
    paint(model[static_cast<size_t>(row)], band, true);
  }
  PackBlackTPicture(p.get());
  EXPECT_EQ(p->directory[2], kBlackEntry);
  for (int32_t row = 0; row < height; ++row) {
    Runs more = randomRuns(rng, width);
    ASSERT_TRUE(WriteRunsTPicture(p.get(), row, withEnd(more).data(), row % 2));
    paint(model[static_cast<size_t>(row)], more, row % 2 == 1);
  }
  for (int32_t row = 0; row < height; ++row) {
    const auto& px = model[static_cast<size_t>(row)];
    ASSERT_EQ(extract(p.get(), row, 0, width - 1), naiveRuns(px, 0, width - 1)) << row;
    ASSERT_EQ(extract(p.get(), row, 70, 300), naiveRuns(px, 70, 300)) << row;
  }
}

// ---------------------------------------------------------------------------------------------------------
// Bitmap strings.

std::vector<uint32_t> randomWords(std::mt19937& rng, size_t n) {
  std::vector<uint32_t> w(n);
  for (auto& x : w) {
    switch (rng() % 4) {
      case 0:
        x = 0;
        break;
      case 1:
        x = 0xFFFFFFFFu;
        break;
      default:
        x = rng() & rng();
        break;  // sparse bits
    }
  }
  return w;
}

std::vector<bool> pixelsOf(const std::vector<uint32_t>& w) {
  std::vector<bool> px(w.size() * 32);
  for (size_t c = 0; c < px.size(); ++c) px[c] = memoryPixel(w.data(), static_cast<int64_t>(c));
  return px;
}

class PictureBitmapRuns : public ::testing::TestWithParam<uint32_t> {};

TEST_P(PictureBitmapRuns, AgreeWithPixelsBothWays) {
  Scope scope;
  std::mt19937 rng(GetParam());
  const int32_t words = 1 + static_cast<int32_t>(rng() % 40);
  std::vector<uint32_t> bits = randomWords(rng, static_cast<size_t>(words));
  std::vector<bool> px = pixelsOf(bits);
  std::vector<int32_t> buf(static_cast<size_t>(slineValues(words * 32)));
  for (int k = 0; k < 30; ++k) {
    int32_t a = static_cast<int32_t>(rng() % static_cast<uint32_t>(words * 32 + 10)) - 5;
    int32_t b = static_cast<int32_t>(rng() % static_cast<uint32_t>(words * 32 + 10)) - 5;
    if (a > b) std::swap(a, b);
    BitmapStringToRuns(bits.data(), words, buf.data(), a, b);
    ASSERT_EQ(toRuns(buf.data()), naiveRuns(px, a, b)) << a << ".." << b;
  }
  // Runs into a string: OR black, clear white, compared pixel by pixel.
  for (int colour = 1; colour >= 0; --colour) {
    Runs runs = randomRuns(rng, words * 32, -8);
    WriteRunsBitmapString(bits.data(), words, withEnd(runs).data(), colour);
    paint(px, runs, colour == 1);
    ASSERT_EQ(pixelsOf(bits), px) << "colour " << colour;
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, PictureBitmapRuns, ::testing::Values(1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u));

TEST(PictureBitmapStrings, AllocFillCopyOr) {
  Scope scope;
  uint32_t* a = AllocBitmapString(5);
  uint32_t* b = AllocBitmapString(5);
  ASSERT_TRUE(a && b);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(a[i], 0u);
  FillBitmapString(a, 5, 0x0F0F0F0Fu);
  b[2] = 0xF0000000u;
  OrBitmapString(b, a, 5);
  EXPECT_EQ(b[2], 0xFF0F0F0Fu);
  CopyBitmapString(a, b, 5);
  EXPECT_EQ(a[2], 0xFF0F0F0Fu);
  FreeBitmapString(a);
  FreeBitmapString(b);
  EXPECT_EQ(AllocBitmapString(-1), nullptr);
  EXPECT_EQ(rastGetLastError(), kRastBadSize);
  rioFailAllocationAfter(0);
  EXPECT_EQ(AllocBitmapString(3), nullptr);
  EXPECT_EQ(rastGetLastError(), kRastOutOfMemory);
}

TEST(PictureBitmapStrings, RowWordsInAndOut) {
  Scope scope;
  std::mt19937 rng(5);
  TPicturePtr p(AllocTPicture(40, 150));  // 5 tile columns, the last with 22 pixels of area
  std::vector<uint32_t> row = randomWords(rng, 5);
  row[1] = 0;
  ASSERT_TRUE(WriteBitmapStringTPicture(p.get(), 33, row.data(), 5, 0));
  EXPECT_FALSE(entryIsTile(tileRowEntries(p.get(), 1)[1])) << "a zero word makes no tile";
  std::vector<bool> px = pixelsOf(row);
  px.resize(150);
  EXPECT_EQ(extract(p.get(), 33, 0, 149), naiveRuns(px, 0, 149));
  for (int32_t col = 150; col < 160; ++col) EXPECT_FALSE(rawPixel(p.get(), 33, col)) << "padding stays white";

  std::vector<uint32_t> back(6, 0xDEADBEEF);
  std::vector<int32_t> offsets(7, 99);
  EXPECT_EQ(ReadBitmapStringTPicture(p.get(), 33, back.data(), 0, 149, offsets.data()), 5);
  std::vector<int32_t> expectOffsets;
  for (int j = 0; j < 5; ++j) {
    uint32_t w = j == 4 ? row[4] & maskBefore(22) : row[static_cast<size_t>(j)];
    EXPECT_EQ(back[static_cast<size_t>(j)], w) << j;
    if (w != 0) expectOffsets.push_back(4 * j);
  }
  expectOffsets.push_back(-1);
  offsets.resize(expectOffsets.size());
  EXPECT_EQ(offsets, expectOffsets);
  // A window inside words masks its edges; black entries read as ones.
  p->directory[0] = kBlackEntry;
  EXPECT_EQ(ReadBitmapStringTPicture(p.get(), 3, back.data(), 4, 40), 2);
  EXPECT_EQ(back[0], maskFrom(4));
  EXPECT_EQ(back[1], 0u);

  // A black entry takes a ones word without a tile; OR leaves it alone too.
  std::vector<uint32_t> ones(1, 0xFFFFFFFFu);
  ASSERT_TRUE(WriteBitmapStringTPicture(p.get(), 3, ones.data(), 1, 0));
  ASSERT_TRUE(OrBitmapStringTPicture(p.get(), 3, row.data(), 1, 0));
  EXPECT_EQ(p->directory[0], kBlackEntry);
  // OR into a row starting at a tile column.
  std::vector<uint32_t> one(1, maskSpan(0, 1));
  ASSERT_TRUE(OrBitmapStringTPicture(p.get(), 34, one.data(), 1, 3));
  EXPECT_EQ(extract(p.get(), 34, 0, 149), Runs({96, 97}));
}

class PictureShiftedRead : public ::testing::TestWithParam<int32_t> {};

TEST_P(PictureShiftedRead, MovesPixelsByTheShift) {
  Scope scope;
  const int32_t shift = GetParam();
  std::mt19937 rng(static_cast<uint32_t>(shift + 100));
  const int32_t width = 90;
  TPicturePtr p(AllocTPicture(32, width));
  Runs runs = randomRuns(rng, width);
  ASSERT_TRUE(WriteRunsTPicture(p.get(), 7, withEnd(runs).data(), 1));
  std::vector<bool> px(width);
  paint(px, runs, true);
  const int32_t words = 5;
  std::vector<uint32_t> out(words, 0x12345678);
  ReadShiftedBitmapStringTPicture(p.get(), 7, out.data(), words, shift);
  for (int32_t x = 0; x < words * 32; ++x) {
    int32_t src = x - shift;
    bool expect = src >= 0 && src < width && px[static_cast<size_t>(src)];
    ASSERT_EQ(memoryPixel(out.data(), x), expect) << "x " << x;
  }
}

INSTANTIATE_TEST_SUITE_P(Shifts, PictureShiftedRead,
                         ::testing::Values(0, 1, 7, 8, 31, 32, 33, 70, -1, -9, -31, -32, -45));

}  // namespace
}  // namespace vantrel
