// Geometric transforms of pictures, each checked pixel for pixel against a plain reference model: mirrors,
// quarter turns, shears, shifts, translations, turns by any angle with their crop, resampling; refusals,
// allocation failures at every point, and degenerate sizes.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "picture/transform.h"
#include "picture/turned_rows.h"
#include "tests/support/pbm_picture.h"

namespace vantrel {
namespace {

using testpbm::Bitmap;
using testpbm::difference;
using testpbm::paddingIsWhite;
using testpbm::pageFromPicture;
using testpbm::pictureFromPage;

constexpr double kDegree = 0.017453292519943295;

struct Reported {
  RastError code;
  std::string routine;
};

std::vector<Reported>& reported() {
  static std::vector<Reported> list;
  return list;
}

void recordHook(RastError code, const char* routine) {
  reported().push_back({code, routine});
}

// Toolkit state reset, hook recording, and every accounted byte given back at the end.
class TransformTest : public ::testing::Test {
 protected:
  TransformTest() {
    rioFailAllocationAfter(-1);
    rastClearLastError();
    reported().clear();
    rastSetErrorHook(recordHook);
  }
  ~TransformTest() override {
    rioFailAllocationAfter(-1);
    rastSetErrorHook(nullptr);
    EXPECT_EQ(rioBytesInUse(), base_) << "accounted memory not given back";
  }

  static std::string lastRoutine() { return reported().empty() ? "" : reported().back().routine; }

 private:
  int64_t base_ = rioBytesInUse();
};

template <class P>
class TransformTestP : public TransformTest, public ::testing::WithParamInterface<P> {};

// ---- the reference model

bool at(const Bitmap& page, int64_t x, int64_t y) {
  return x >= 0 && y >= 0 && x < page.width && y < page.height &&
         page.black(static_cast<int32_t>(x), static_cast<int32_t>(y));
}

// A page of width x height whose pixel (x, y) is the source pixel source(x, y) names.
Bitmap remap(int32_t width, int32_t height, const Bitmap& in,
             const std::function<std::pair<int64_t, int64_t>(int64_t, int64_t)>& source) {
  Bitmap out(width, height);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      auto [sx, sy] = source(x, y);
      if (at(in, sx, sy)) out.set(x, y);
    }
  return out;
}

int32_t padded(int32_t side) {
  return static_cast<int32_t>(bitmapWords(side) * 32);
}

// Random pixels, whole black tiles, whole white tiles and a few full rows: every tile kind and edge.
Bitmap randomPage(int32_t width, int32_t height, uint64_t seed) {
  uint64_t s = seed;
  Bitmap page(width, height);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      if (testpbm::splitmix(s) % 5 == 0) page.set(x, y);
  for (int32_t ty = 0; ty + 32 <= height; ty += 32)
    for (int32_t tx = 0; tx + 32 <= width; tx += 32) {
      const uint64_t kind = testpbm::splitmix(s) % 4;
      if (kind == 0) {
        for (int32_t y = ty; y < ty + 32; ++y) page.fill(tx, tx + 32, y);
      } else if (kind == 1) {
        for (int32_t y = ty; y < ty + 32; ++y)
          for (int32_t x = tx; x < tx + 32; ++x)
            page.row(y)[x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
      }
    }
  if (height > 2) page.fill(0, width, height / 2);
  return page;
}

TPicture* makePicture(const Bitmap& page) {
  TPicture* p = pictureFromPage(page);
  EXPECT_NE(p, nullptr);
  return p;
}

int64_t blackEntries(const TPicture* p) {
  int64_t n = 0;
  for (int32_t i = 0; i < p->tileCount; ++i) n += entryIsBlack(p->directory[i]);
  return n;
}

struct Size {
  int32_t width;
  int32_t height;
};

std::string sizeName(const Size& s) {
  return std::to_string(s.width) + "x" + std::to_string(s.height);
}

const Size kSizes[] = {{1, 1}, {31, 33}, {100, 37}, {64, 96}, {33, 1}, {1, 70}, {257, 129}};

// ---- mirrors and quarter turns, uncropped

enum class Op { kMirrorRows, kMirrorColumns, kTranspose, kTurn90, kTurn180, kTurn270 };

struct OpCase {
  Op op;
  const char* name;
};

const OpCase kOps[] = {{Op::kMirrorRows, "MirrorRows"}, {Op::kMirrorColumns, "MirrorColumns"},
                       {Op::kTranspose, "Transpose"},   {Op::kTurn90, "Turn90"},
                       {Op::kTurn180, "Turn180"},       {Op::kTurn270, "Turn270"}};

bool apply(Op op, TPicture* p) {
  switch (op) {
    case Op::kMirrorRows:
      return MirrorHorizontalTPicture(p);
    case Op::kMirrorColumns:
      return MirrorVerticalTPicture(p);
    case Op::kTranspose:
      return MirrorDiagonalTPicture(p);
    case Op::kTurn90:
      return Rotate90TPicture(p);
    case Op::kTurn180:
      return Rotate180TPicture(p);
    case Op::kTurn270:
      return Rotate270TPicture(p);
  }
  return false;
}

// What each operation makes of the page, padding included where it enters the picture.
Bitmap model(Op op, const Bitmap& in) {
  const int32_t w = in.width, h = in.height, pw = padded(w), ph = padded(h);
  switch (op) {
    case Op::kMirrorRows:
      return remap(w, ph, in, [&](int64_t x, int64_t y) { return std::pair{x, ph - 1 - y}; });
    case Op::kMirrorColumns:
      return remap(pw, h, in, [&](int64_t x, int64_t y) { return std::pair{pw - 1 - x, y}; });
    case Op::kTranspose:
      return remap(h, w, in, [&](int64_t x, int64_t y) { return std::pair{y, x}; });
    case Op::kTurn90:  // clockwise: the left column becomes the top row
      return remap(ph, w, in, [&](int64_t x, int64_t y) { return std::pair{y, ph - 1 - x}; });
    case Op::kTurn180:
      return remap(pw, ph, in, [&](int64_t x, int64_t y) { return std::pair{pw - 1 - x, ph - 1 - y}; });
    case Op::kTurn270:  // counter-clockwise: the right column becomes the top row
      return remap(h, pw, in, [&](int64_t x, int64_t y) { return std::pair{pw - 1 - y, x}; });
  }
  return {};
}

using OpParam = std::tuple<OpCase, Size>;
class TransformOps : public TransformTestP<OpParam> {};

TEST_P(TransformOps, MatchTheModelAndAllocateNoTile) {
  const auto& op = std::get<0>(GetParam());
  const Size& size = std::get<1>(GetParam());
  const Bitmap page = randomPage(size.width, size.height, 7 + size.width);
  TPicture* p = makePicture(page);
  ASSERT_NE(p, nullptr);
  p->columnDpi = 300;
  p->rowDpi = 200;
  const int32_t tiles = TPictureTileCount(p);
  const int64_t blacks = blackEntries(p);
  const int64_t storage = TPictureStorageBytes(p);
  ASSERT_TRUE(apply(op.op, p));
  EXPECT_EQ(difference(pageFromPicture(p), model(op.op, page)), "equal");
  EXPECT_TRUE(paddingIsWhite(p));
  // Tiles are flipped in place; white and black stay reserved entries.
  EXPECT_EQ(TPictureTileCount(p), tiles);
  EXPECT_EQ(blackEntries(p), blacks);
  EXPECT_EQ(TPictureStorageBytes(p), storage);
  const bool across = op.op == Op::kTranspose || op.op == Op::kTurn90 || op.op == Op::kTurn270;
  EXPECT_EQ(p->columnDpi, across ? 200 : 300);
  FreeTPicture(p);
}

INSTANTIATE_TEST_SUITE_P(Vectors, TransformOps,
                         ::testing::Combine(::testing::ValuesIn(kOps), ::testing::ValuesIn(kSizes)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" +
                                  sizeName(std::get<1>(info.param));
                         });

TEST_F(TransformTest, TileOperationsAreTheirOwnInverse) {
  uint64_t s = 99;
  uint32_t tile[32], once[32], twice[32];
  for (auto& w : tile) w = static_cast<uint32_t>(testpbm::splitmix(s));
  tile[3] = 0xFFFFFFFFu;
  tile[4] = 0;
  for (auto op : {ReverseTileRows, MirrorTileRows, TransposeTile}) {
    op(tile, once);
    op(once, twice);
    EXPECT_TRUE(std::equal(tile, tile + 32, twice));
  }
  // Pixel (r, c) of the transpose is pixel (c, r) of the tile.
  TransposeTile(tile, once);
  for (int r = 0; r < 32; ++r)
    for (int c = 0; c < 32; ++c)
      EXPECT_EQ((wordToMsbFirst(once[r]) >> (31 - c)) & 1, (wordToMsbFirst(tile[c]) >> (31 - r)) & 1);
}

// ---- rastRotateImage by quarter turns: cropped to exactly the turned size

struct QuarterCase {
  double degrees;
  int turns;  // counter-clockwise quarter turns
};

using QuarterParam = std::tuple<QuarterCase, Size>;
class TransformQuarterCrop : public TransformTestP<QuarterParam> {};

Bitmap turnedCounterClockwise(const Bitmap& in, int turns) {
  const int64_t w = in.width, h = in.height;
  switch ((turns % 4 + 4) % 4) {
    case 1:
      return remap(in.height, in.width, in, [&](int64_t x, int64_t y) { return std::pair{w - 1 - y, x}; });
    case 2:
      return remap(in.width, in.height, in, [&](int64_t x, int64_t y) {
        return std::pair{w - 1 - x, h - 1 - y};
      });
    case 3:
      return remap(in.height, in.width, in, [&](int64_t x, int64_t y) { return std::pair{y, h - 1 - x}; });
    default:
      return in;
  }
}

TEST_P(TransformQuarterCrop, GivesExactlyTheTurnedPage) {
  const auto& turn = std::get<0>(GetParam());
  const Size& size = std::get<1>(GetParam());
  const Bitmap page = randomPage(size.width, size.height, 3);
  TPicture* p = makePicture(page);
  ASSERT_NE(p, nullptr);
  RastPoint corner{-1, -1};
  TPicture* r = rastRotateImage(p, turn.degrees * kDegree, &corner, 0);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(difference(pageFromPicture(r), turnedCounterClockwise(page, turn.turns)), "equal");
  EXPECT_TRUE(paddingIsWhite(r));
  // Where the top-left source pixel went.
  const int q = (turn.turns % 4 + 4) % 4;
  const RastPoint want[4] = {
      {0, 0}, {0, size.width - 1}, {size.width - 1, size.height - 1}, {size.height - 1, 0}};
  EXPECT_EQ(corner.x, want[q].x);
  EXPECT_EQ(corner.y, want[q].y);
  FreeTPicture(r);
}

const QuarterCase kQuarters[] = {{90, 1}, {180, 2}, {270, 3}, {-90, -1},
                                 {0, 0},  {360, 0}, {450, 1}, {-180, 2}};

INSTANTIATE_TEST_SUITE_P(Vectors, TransformQuarterCrop,
                         ::testing::Combine(::testing::ValuesIn(kQuarters), ::testing::ValuesIn(kSizes)),
                         [](const auto& info) {
                           const double d = std::get<0>(info.param).degrees;
                           return (d < 0 ? "minus" + std::to_string(static_cast<int>(-d))
                                         : std::to_string(static_cast<int>(d))) +
                                  "_" + sizeName(std::get<1>(info.param));
                         });

// The rows a quarter turn serves without turning the picture are the turned page's rows, for every tile
// kind, both directions and sizes with partial tiles on every edge.
using TurnedParam = std::tuple<bool, Size>;
class TurnedRowsServe : public TransformTestP<TurnedParam> {};

TEST_P(TurnedRowsServe, TheRowsOfTheTurnedPage) {
  const bool clockwise = std::get<0>(GetParam());
  const Size& size = std::get<1>(GetParam());
  const Bitmap page = randomPage(size.width, size.height, 5);
  const Bitmap want = turnedCounterClockwise(page, clockwise ? 3 : 1);
  TPicturePtr p(makePicture(page));
  ASSERT_NE(p, nullptr);
  TurnedRows rows;
  ASSERT_TRUE(rows.open(p.get(), clockwise));
  ASSERT_EQ(rows.width(), want.width);
  ASSERT_EQ(rows.height(), want.height);
  std::vector<int32_t> runs(2 * static_cast<size_t>(want.width) + 4);
  for (int32_t y = 0; y < want.height; ++y) {
    const int32_t count = rows.row(y, runs.data());
    const std::vector<int32_t> expected = pageRowRuns(want, y);
    ASSERT_EQ(std::vector<int32_t>(runs.begin(), runs.begin() + 2 * count + 2), expected) << "row " << y;
  }
}

INSTANTIATE_TEST_SUITE_P(Vectors, TurnedRowsServe,
                         ::testing::Combine(::testing::Bool(), ::testing::ValuesIn(kSizes)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param) ? "clockwise_" : "counter_") +
                                  sizeName(std::get<1>(info.param));
                         });

TEST_F(TransformTest, PlusNinetyPutsTheTopLeftPixelAtTheBottomLeft) {
  Bitmap page(100, 37);
  page.set(0, 0);
  TPicture* r = rastRotateImage(makePicture(page), 90 * kDegree, nullptr, 0);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->height, 100);
  EXPECT_EQ(r->width, 37);
  EXPECT_TRUE(rastPixelIsBlack(r, 99, 0));
  EXPECT_EQ(pageFromPicture(r).blackCount(), 1);
  FreeTPicture(r);
}

TEST_F(TransformTest, LargePageQuarterTurnsMatchTheModel) {
  const Bitmap page = testpbm::makePage(1001, 1403, 5);
  for (int turns : {1, 2, 3}) {
    TPicture* r = rastRotateImage(makePicture(page), turns * 90 * kDegree, nullptr, 0);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(difference(pageFromPicture(r), turnedCounterClockwise(page, turns)), "equal") << turns;
    FreeTPicture(r);
  }
}

TEST_F(TransformTest, KeepSourceLeavesTheSourceAlone) {
  const Bitmap page = randomPage(70, 45, 11);
  TPicture* p = makePicture(page);
  for (double degrees : {0.0, 90.0, 30.0, 200.0}) {
    TPicture* r = rastRotateImage(p, degrees * kDegree, nullptr, 1);
    ASSERT_NE(r, nullptr);
    EXPECT_NE(r, p);
    EXPECT_EQ(r->magic, kTPictureMagic);
    FreeTPicture(r);
    EXPECT_EQ(difference(pageFromPicture(p), page), "equal") << degrees;
  }
  FreeTPicture(p);
}

// ---- turns of 0 and 90 degrees do only mirrors

TEST_F(TransformTest, TurnsWithoutResidualMakeNoShearPicture) {
  const Bitmap page = randomPage(100, 37, 1);
  for (double degrees : {0.0, 90.0, 180.0, 270.0, 0.001}) {
    TPicture* p = makePicture(page);
    const int32_t tiles = TPictureTileCount(p);
    rioResetPeak();
    const int64_t before = rioBytesInUse();
    TPicture* r = RotateTPicture(p, degrees * kDegree, 0);
    // The same record comes back, no new picture was made; a transpose needs one directory at most.
    EXPECT_EQ(r, p) << degrees;
    EXPECT_EQ(TPictureTileCount(r), tiles);
    EXPECT_LE(rioBytesPeak() - before, int64_t{p->tileCount} * 4 + 64) << degrees;
    FreeTPicture(r);
  }
}

// ---- shears

struct ShearCase {
  double factor;
  bool downRight;
};

using ShearParam = std::tuple<ShearCase, Size>;
class TransformShears : public TransformTestP<ShearParam> {};

TEST_P(TransformShears, ShiftEveryRowByItsRoundedAmount) {
  const auto& c = std::get<0>(GetParam());
  const Size& size = std::get<1>(GetParam());
  const Bitmap page = randomPage(size.width, size.height, 21);
  TPicture* p = makePicture(page);
  p->rowDpi = 150;
  TPicture* s = c.downRight ? ShearDownRightTPicture(p, c.factor, 1) : ShearUpRightTPicture(p, c.factor, 1);
  ASSERT_NE(s, nullptr);
  const int64_t h = size.height;
  const int64_t reach = static_cast<int64_t>(std::trunc((h - 1) * c.factor + 0.5));
  EXPECT_EQ(s->width, size.width + reach + 32);
  EXPECT_EQ(s->height, size.height);
  EXPECT_EQ(s->rowDpi, 150);
  const Bitmap want = remap(s->width, s->height, page, [&](int64_t x, int64_t y) {
    const int64_t k = c.downRight ? y : h - 1 - y;
    return std::pair{x - static_cast<int64_t>(std::floor(k * c.factor + 0.5)), y};
  });
  EXPECT_EQ(difference(pageFromPicture(s), want), "equal");
  EXPECT_TRUE(paddingIsWhite(s));
  FreeTPicture(s);
  FreeTPicture(p);
}

const ShearCase kShears[] = {{0, true},      {0.1, true},   {0.4142, false},
                             {0.7071, true}, {0.99, false}, {0.05, false}};

INSTANTIATE_TEST_SUITE_P(Vectors, TransformShears,
                         ::testing::Combine(::testing::ValuesIn(kShears), ::testing::ValuesIn(kSizes)));

TEST_F(TransformTest, TenDegreesOnAThousandRowsShiftsUpTo87InTheFirstShear) {
  Bitmap page(50, 1000);
  page.set(0, 0);
  page.set(0, 999);
  TPicture* s = ShearUpRightTPicture(makePicture(page), std::tan(5 * kDegree), 0);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->width, 50 + 87 + 32);
  EXPECT_TRUE(rastPixelIsBlack(s, 0, 87));
  EXPECT_TRUE(rastPixelIsBlack(s, 999, 0));
  FreeTPicture(s);
}

TEST_F(TransformTest, ShearRefusesFactorsOutOfRange) {
  TPicture* p = AllocTPicture(10, 10);
  EXPECT_EQ(ShearDownRightTPicture(p, 1.0, 1), nullptr);
  EXPECT_EQ(rastGetLastError(), kRastOutOfRange);
  EXPECT_EQ(ShearUpRightTPicture(p, std::nan(""), 1), nullptr);
  EXPECT_EQ(ShearUpRightTPicture(p, -0.1, 0), nullptr);  // consumed
}

// ---- shifts and translations

struct MoveCase {
  int32_t dx;
  int32_t dy;
};

using MoveParam = std::tuple<MoveCase, Size>;
class TransformMoves : public TransformTestP<MoveParam> {};

TEST_P(TransformMoves, TranslateMatchesTheModel) {
  const auto& m = std::get<0>(GetParam());
  const Size& size = std::get<1>(GetParam());
  const Bitmap page = randomPage(size.width, size.height, 5);
  TPicture* p = makePicture(page);
  ASSERT_TRUE(TranslateTPicture(p, m.dx, m.dy));
  const Bitmap want = remap(size.width, size.height, page, [&](int64_t x, int64_t y) {
    return std::pair{x - m.dx, y - m.dy};
  });
  EXPECT_EQ(difference(pageFromPicture(p), want), "equal");
  EXPECT_TRUE(paddingIsWhite(p));
  EXPECT_EQ(p->width, size.width);
  EXPECT_EQ(p->height, size.height);
  FreeTPicture(p);
}

const MoveCase kMoves[] = {{1, 0},   {-1, 0}, {0, 1},    {0, -1},  {31, 0}, {-31, 0}, {32, 0},  {0, -32},
                           {40, 0},  {0, 40}, {-40, 0},  {0, -40}, {63, 5}, {-5, 63}, {70, -3}, {-65, 33},
                           {100, 0}, {0, 37}, {-256, 0}, {0, 500}, {7, 9},  {-9, -7}, {33, -33}};

INSTANTIATE_TEST_SUITE_P(Vectors, TransformMoves,
                         ::testing::Combine(::testing::ValuesIn(kMoves), ::testing::ValuesIn(kSizes)));

struct ShiftCase {
  int32_t n;
  bool up;
};

using ShiftParam = std::tuple<ShiftCase, Size>;
class TransformShifts : public TransformTestP<ShiftParam> {};

TEST_P(TransformShifts, ShiftMatchesTheModel) {
  const auto& c = std::get<0>(GetParam());
  const Size& size = std::get<1>(GetParam());
  const Bitmap page = randomPage(size.width, size.height, 8);
  TPicture* p = makePicture(page);
  ASSERT_TRUE(c.up ? ShiftUpTPicture(p, c.n) : ShiftLeftTPicture(p, c.n));
  const Bitmap want = remap(size.width, size.height, page, [&](int64_t x, int64_t y) {
    return c.up ? std::pair{x, y + c.n} : std::pair{x + c.n, y};
  });
  EXPECT_EQ(difference(pageFromPicture(p), want), "equal");
  EXPECT_TRUE(paddingIsWhite(p));
  FreeTPicture(p);
}

const ShiftCase kShiftCases[] = {{1, false}, {7, false}, {24, false}, {31, false},
                                 {1, true},  {13, true}, {31, true}};

INSTANTIATE_TEST_SUITE_P(Vectors, TransformShifts,
                         ::testing::Combine(::testing::ValuesIn(kShiftCases), ::testing::ValuesIn(kSizes)));

TEST_F(TransformTest, ShiftKeepsUniformNeighboursReserved) {
  TPicture* p = AllocTPicture(64, 96);
  for (int32_t y = 0; y < 64; ++y) ASSERT_TRUE(WriteSpanTPicture(p, y, 0, 64, 1));
  PackBlackTPicture(p);
  ASSERT_EQ(TPictureTileCount(p), 0);
  ASSERT_TRUE(ShiftLeftTPicture(p, 5));
  // Columns 0 stays black (its neighbour is black), column 1 gets 27 black pixels, column 2 stays white.
  EXPECT_EQ(tileRowEntries(p, 0)[0], kBlackEntry);
  EXPECT_TRUE(entryIsTile(tileRowEntries(p, 0)[1]));
  EXPECT_EQ(tileRowEntries(p, 0)[2], kWhiteEntry);
  EXPECT_EQ(TPictureTileCount(p), 2);
  ASSERT_TRUE(ShiftUpTPicture(p, 31));
  EXPECT_EQ(tileRowEntries(p, 0)[0], kBlackEntry);
  FreeTPicture(p);
}

TEST_F(TransformTest, ShiftsOfRealTilesNeedNoNewStorage) {
  Bitmap page(2048, 64);
  uint64_t s = 5;
  for (int32_t y = 0; y < 64; ++y)
    for (int32_t x = 0; x < 2048; ++x)
      if (testpbm::splitmix(s) % 3 == 0) page.set(x, y);
  TPicture* p = makePicture(page);
  const int64_t storage = TPictureStorageBytes(p);
  for (int n : {1, 17, 31}) {
    ASSERT_TRUE(ShiftLeftTPicture(p, n));
    ASSERT_TRUE(ShiftUpTPicture(p, n));
  }
  ASSERT_TRUE(TranslateRightTPicture(p, 3));
  ASSERT_TRUE(TranslateDownTPicture(p, 3));
  EXPECT_EQ(TPictureStorageBytes(p), storage);
  FreeTPicture(p);
}

TEST_F(TransformTest, TranslateRightByFortyKeepsTheContentNearTheEdge) {
  Bitmap page(100, 40);
  for (int32_t y = 0; y < 40; ++y) page.fill(50, 60, y);  // ends 40 before the edge: must stay whole
  page.set(59, 3);
  TPicture* p = makePicture(page);
  ASSERT_TRUE(TranslateRightTPicture(p, 40));
  const Bitmap got = pageFromPicture(p);
  for (int32_t y = 0; y < 40; ++y) {
    for (int32_t x = 0; x < 100; ++x) EXPECT_EQ(got.black(x, y), x >= 90 && x < 100) << x << "," << y;
  }
  FreeTPicture(p);
}

TEST_F(TransformTest, TranslateByTheSizeOrMoreClears) {
  for (auto [dx, dy] : {std::pair{100, 0}, {0, 37}, {-100, 0}, {0, -37}, {INT32_MIN, 0}, {0, INT32_MAX}}) {
    TPicture* p = makePicture(randomPage(100, 37, 4));
    ASSERT_TRUE(TranslateTPicture(p, dx, dy));
    EXPECT_EQ(TPictureTileCount(p), 0);
    EXPECT_TRUE(rastImageIsAllWhite(p));
    FreeTPicture(p);
  }
}

TEST_F(TransformTest, ShiftsRefuseDistancesOutOfRange) {
  TPicture* p = AllocTPicture(40, 40);
  EXPECT_FALSE(ShiftLeftTPicture(p, 32));
  EXPECT_EQ(rastGetLastError(), kRastOutOfRange);
  EXPECT_FALSE(ShiftUpTPicture(p, -1));
  EXPECT_FALSE(TranslateLeftTPicture(p, -3));
  EXPECT_EQ(lastRoutine(), "TranslateLeftTPicture");
  FreeTPicture(p);
}

// ---- residual turns

using AngleParam = std::tuple<double, Size>;
class TransformAngles : public TransformTestP<AngleParam> {};

TEST_P(TransformAngles, KeepEveryBlackPixelAndCropToTheMappedCorners) {
  const auto& degrees = std::get<0>(GetParam());
  const Size& size = std::get<1>(GetParam());
  const Bitmap page = randomPage(size.width, size.height, 17);
  const int64_t black = page.blackCount();
  TPicture* p = makePicture(page);
  // Uncropped: shears and transposes are one-to-one on pixels, so the count is exact.
  TPicture* turned = RotateTPicture(p, -degrees * kDegree, 1);
  ASSERT_NE(turned, nullptr);
  const Bitmap turnedPage = pageFromPicture(turned);
  EXPECT_EQ(turnedPage.blackCount(), black);
  // Every black pixel is where the point mapping sends it; with the equal count the pages are equal.
  int64_t misplaced = 0;
  for (int32_t y = 0; y < size.height; ++y)
    for (int32_t x = 0; x < size.width; ++x) {
      if (!page.black(x, y)) continue;
      RastPoint q{x, y};
      ASSERT_TRUE(MapRotatedPoint(size.height, size.width, -degrees * kDegree, &q));
      misplaced += !at(turnedPage, q.x, q.y);
    }
  EXPECT_EQ(misplaced, 0);
  int64_t h = 0, w = 0;
  ASSERT_TRUE(MapRotatedPoint(size.height, size.width, -degrees * kDegree, nullptr, &h, &w));
  EXPECT_EQ(turned->height, h);
  EXPECT_EQ(turned->width, w);
  EXPECT_TRUE(paddingIsWhite(turned));
  FreeTPicture(turned);

  // Cropped: every step moves a pixel monotonically with its row and column, so the extreme pixels are the
  // corners' images and the crop loses nothing.
  int64_t minX = INT64_MAX, minY = INT64_MAX, maxX = INT64_MIN, maxY = INT64_MIN;
  RastPoint first{};
  const RastPoint corners[4] = {
      {0, 0}, {size.width - 1, 0}, {size.width - 1, size.height - 1}, {0, size.height - 1}};
  for (int i = 0; i < 4; ++i) {
    RastPoint q = corners[i];
    ASSERT_TRUE(MapRotatedPoint(size.height, size.width, -degrees * kDegree, &q));
    if (i == 0) first = q;
    minX = std::min(minX, q.x);
    maxX = std::max(maxX, q.x);
    minY = std::min(minY, q.y);
    maxY = std::max(maxY, q.y);
  }
  RastPoint corner{};
  TPicture* r = rastRotateImage(p, degrees * kDegree, &corner, 0);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->height, maxY - minY + 1);
  EXPECT_EQ(r->width, maxX - minX + 1);
  EXPECT_EQ(corner.x, first.x - minX);
  EXPECT_EQ(corner.y, first.y - minY);
  EXPECT_EQ(pageFromPicture(r).blackCount(), black);
  EXPECT_TRUE(paddingIsWhite(r));
  FreeTPicture(r);
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, TransformAngles,
    ::testing::Combine(::testing::Values(45.0, 90.0, 135.0, 180.0, 225.0, 270.0, 315.0, 10.0, 100.0, 200.0,
                                         300.0, -30.0, 44.9, 45.1, 359.0),
                       ::testing::Values(Size{1, 1}, Size{31, 33}, Size{100, 37}, Size{64, 200})));

TEST_F(TransformTest, LargePageResidualTurnsKeepEveryPixel) {
  const Bitmap page = testpbm::makePage(1001, 1403, 9);
  for (double degrees : {10.0, 45.0, 200.0}) {
    TPicture* r = rastRotateImage(makePicture(page), degrees * kDegree, nullptr, 0);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(pageFromPicture(r).blackCount(), page.blackCount()) << degrees;
    FreeTPicture(r);
  }
}

TEST_F(TransformTest, SmallResidualTurnsTheContentTheRightWay) {
  // A horizontal line turned counter-clockwise by 20 degrees rises to the right.
  Bitmap page(300, 100);
  page.fill(0, 300, 50);
  TPicture* r = rastRotateImage(makePicture(page), 20 * kDegree, nullptr, 0);
  ASSERT_NE(r, nullptr);
  const Bitmap got = pageFromPicture(r);
  auto rowOf = [&](int32_t x) {
    for (int32_t y = 0; y < got.height; ++y)
      if (got.black(x, y)) return y;
    return -1;
  };
  const int32_t left = rowOf(got.width / 4), right = rowOf(3 * got.width / 4);
  ASSERT_GE(left, 0);
  ASSERT_GE(right, 0);
  EXPECT_NEAR(left - right, std::tan(20 * kDegree) * (got.width / 2), 3);
  FreeTPicture(r);
}

// ---- refusals

struct RefusalCase {
  const char* routine;
  std::function<bool(TPicture*)> call;  // true when the call reported failure
};

class TransformRefusals : public TransformTestP<RefusalCase> {};

TEST_P(TransformRefusals, UnderUndoProtectionStoreError3AndChangeNothing) {
  const Bitmap page = randomPage(100, 37, 2);
  TPicture* p = makePicture(page);
  ASSERT_TRUE(UndoProtectTPicture(p));
  const int32_t height = p->height, width = p->width;
  reported().clear();
  EXPECT_TRUE(GetParam().call(p));
  EXPECT_EQ(rastGetLastError(), kRastProtected);
  EXPECT_EQ(lastRoutine(), GetParam().routine);
  EXPECT_EQ(p->height, height);
  EXPECT_EQ(p->width, width);
  EXPECT_EQ(difference(pageFromPicture(p), page), "equal");
  FreeTPicture(p);
}

const RefusalCase kRefusals[] = {
    {"MirrorHorizontalTPicture", [](TPicture* p) { return !MirrorHorizontalTPicture(p); }},
    {"MirrorVerticalTPicture", [](TPicture* p) { return !MirrorVerticalTPicture(p); }},
    {"MirrorDiagonalTPicture", [](TPicture* p) { return !MirrorDiagonalTPicture(p); }},
    {"MirrorTPicture",
     [](TPicture* p) { return !MirrorTPicture(p, MirrorVerticalDirectory, MirrorTileRows); }},
    {"MirrorHorizontalDirectory", [](TPicture* p) { return !MirrorHorizontalDirectory(p); }},
    {"MirrorVerticalDirectory", [](TPicture* p) { return !MirrorVerticalDirectory(p); }},
    {"MirrorDiagonalDirectory", [](TPicture* p) { return !MirrorDiagonalDirectory(p); }},
    {"Rotate90TPicture", [](TPicture* p) { return !Rotate90TPicture(p); }},
    {"Rotate180TPicture", [](TPicture* p) { return !Rotate180TPicture(p); }},
    {"Rotate270TPicture", [](TPicture* p) { return !Rotate270TPicture(p); }},
    {"RotateTPicture", [](TPicture* p) { return RotateTPicture(p, 0.3, 0) == nullptr; }},
    {"rastRotateImage", [](TPicture* p) { return rastRotateImage(p, 0.3, nullptr, 0) == nullptr; }},
    {"TranslateLeftTPicture", [](TPicture* p) { return !TranslateLeftTPicture(p, 3); }},
    {"TranslateRightTPicture", [](TPicture* p) { return !TranslateRightTPicture(p, 3); }},
    {"TranslateUpTPicture", [](TPicture* p) { return !TranslateUpTPicture(p, 3); }},
    {"TranslateDownTPicture", [](TPicture* p) { return !TranslateDownTPicture(p, 3); }},
    {"ShiftLeftTPicture", [](TPicture* p) { return !ShiftLeftTPicture(p, 3); }},
    {"ShiftUpTPicture", [](TPicture* p) { return !ShiftUpTPicture(p, 3); }},
};

INSTANTIATE_TEST_SUITE_P(Vectors, TransformRefusals, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.routine); });

TEST_F(TransformTest, ProtectedSourceMayBeTurnedIntoACopy) {
  TPicture* p = makePicture(randomPage(40, 40, 3));
  ASSERT_TRUE(UndoProtectTPicture(p));
  TPicture* r = rastRotateImage(p, 90 * kDegree, nullptr, 1);
  ASSERT_NE(r, nullptr);
  FreeTPicture(r);
  FreeTPicture(p);
}

TEST_F(TransformTest, AnglesThatAreNotFiniteAreRefused) {
  const Bitmap page = randomPage(40, 30, 3);
  TPicture* p = makePicture(page);
  for (double a : {std::nan(""), double{INFINITY}, -double{INFINITY}}) {
    reported().clear();
    EXPECT_EQ(rastRotateImage(p, a, nullptr, 0), nullptr);
    EXPECT_EQ(rastGetLastError(), kRastOutOfRange);
    EXPECT_EQ(lastRoutine(), "rastRotateImage");
    EXPECT_EQ(RotateTPicture(p, a, 0), nullptr);
    EXPECT_EQ(lastRoutine(), "RotateTPicture");
    RastPoint q{};
    EXPECT_FALSE(MapRotatedPoint(30, 40, a, &q));
  }
  EXPECT_EQ(difference(pageFromPicture(p), page), "equal");
  FreeTPicture(p);
  EXPECT_EQ(rastRotateImage(nullptr, 0, nullptr, 0), nullptr);
  EXPECT_EQ(rastGetLastError(), kRastNoPicture);
}

// ---- allocation failures at every point

TEST_F(TransformTest, FailedTransposeUndoesTheQuarterTurn) {
  const Bitmap page = randomPage(100, 37, 6);
  for (auto turn : {Rotate90TPicture, Rotate270TPicture}) {
    TPicture* p = makePicture(page);
    const int64_t before = rioBytesInUse();
    reported().clear();
    rioFailAllocationAfter(0);  // the new directory
    EXPECT_FALSE(turn(p));
    rioFailAllocationAfter(-1);
    EXPECT_EQ(rastGetLastError(), kRastTransformFailed);
    ASSERT_GE(reported().size(), 2u);
    EXPECT_EQ(reported().front().code, kRastOutOfMemory);
    EXPECT_EQ(reported().front().routine, "AllocTPicture");
    EXPECT_EQ(p->height, 37);
    EXPECT_EQ(p->width, 100);
    EXPECT_EQ(rioBytesInUse(), before);
    EXPECT_EQ(difference(pageFromPicture(p), page), "equal");
    FreeTPicture(p);
  }
  EXPECT_EQ(reported().back().routine, "Rotate270TPicture");
}

struct FailureCase {
  const char* name;
  double degrees;
  int keepSource;
};

class TransformFailures : public TransformTestP<FailureCase> {};

TEST_P(TransformFailures, EveryFailurePointIsCleanAndConsumesOnce) {
  const FailureCase& c = GetParam();
  const Bitmap page = randomPage(100, 37, 12);
  const int64_t start = rioBytesInUse();
  bool succeeded = false;
  for (int64_t n = 0; n < 400 && !succeeded; ++n) {
    TPicture* p = makePicture(page);
    ASSERT_NE(p, nullptr);
    rastClearLastError();
    rioFailAllocationAfter(n);
    TPicture* r = rastRotateImage(p, c.degrees * kDegree, nullptr, c.keepSource);
    rioFailAllocationAfter(-1);
    if (r) {
      succeeded = true;
      EXPECT_EQ(pageFromPicture(r).blackCount(), page.blackCount());
      FreeTPicture(r);
    } else {
      EXPECT_NE(rastGetLastError(), kRastNoError) << n;
    }
    if (c.keepSource) {
      EXPECT_EQ(difference(pageFromPicture(p), page), "equal") << n;
      FreeTPicture(p);
    }
    EXPECT_EQ(rioBytesInUse(), start) << "failure point " << n;
  }
  EXPECT_TRUE(succeeded);
}

INSTANTIATE_TEST_SUITE_P(Vectors, TransformFailures,
                         ::testing::Values(FailureCase{"Quarter", 90, 0}, FailureCase{"QuarterKept", 270, 1},
                                           FailureCase{"Half", 180, 0}, FailureCase{"Residual", 10, 0},
                                           FailureCase{"ResidualKept", 10, 1}, FailureCase{"Sector", 200, 0},
                                           FailureCase{"SectorKept", 300, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransformTest, FailedShiftLeavesThePictureAsItWas) {
  // A pixel at the left of every other tile: the shift needs a new tile left of each, more than the pool
  // has free, so it must grow the pool.
  TPicture* p = AllocTPicture(32, 32 * 130);
  for (int32_t x = 0; x < 32 * 130; x += 64) ASSERT_TRUE(WriteSpanTPicture(p, 3, x, x + 1, 1));
  const Bitmap before = pageFromPicture(p);
  rioFailAllocationAfter(0);
  EXPECT_FALSE(ShiftLeftTPicture(p, 20));
  rioFailAllocationAfter(-1);
  EXPECT_EQ(rastGetLastError(), kRastOutOfMemory);
  EXPECT_EQ(lastRoutine(), "ShiftLeftTPicture");
  EXPECT_EQ(difference(pageFromPicture(p), before), "equal");
  FreeTPicture(p);
}

// ---- degenerate sizes

TEST_F(TransformTest, EmptyPicturesTurnIntoEmptyPictures) {
  for (auto [h, w] : {std::pair{0, 0}, {0, 50}, {40, 0}}) {
    for (double degrees : {0.0, 90.0, 180.0, 33.0}) {
      TPicture* p = AllocTPicture(h, w);
      ASSERT_NE(p, nullptr);
      TPicture* r = rastRotateImage(p, degrees * kDegree, nullptr, 0);
      ASSERT_NE(r, nullptr);
      const bool across = degrees == 90.0;
      EXPECT_EQ(r->height, across ? w : h);
      EXPECT_EQ(r->width, across ? h : w);
      FreeTPicture(r);
    }
    TPicture* p = AllocTPicture(h, w);
    EXPECT_TRUE(Rotate90TPicture(p));
    EXPECT_TRUE(Rotate180TPicture(p));
    EXPECT_TRUE(TranslateTPicture(p, 5, -5));
    FreeTPicture(p);
  }
}

TEST_F(TransformTest, SizesNearTheInt32LimitAreRefusedNotWrapped) {
  // Mapping in 64 bits: a page of the largest side turned by 45 degrees reaches beyond int32.
  int64_t h = 0, w = 0;
  RastPoint q{kMaxPictureSide - 1, 0};
  ASSERT_TRUE(MapRotatedPoint(kMaxPictureSide, kMaxPictureSide, 45 * kDegree, &q, &h, &w));
  EXPECT_GT(w, int64_t{INT32_MAX});
  EXPECT_GT(q.x, 0);
  // A scaled size beyond the largest picture side is refused as out of memory, not wrapped.
  TPicture* p = AllocTPicture(10, 100);
  EXPECT_EQ(rastScaleImage(p, 1, 21474836.4, 1), nullptr);
  EXPECT_EQ(rastGetLastError(), kRastOutOfMemory);
  EXPECT_EQ(rastScaleImage(p, 1, 3e7, 1), nullptr);
  EXPECT_EQ(rastGetLastError(), kRastOutOfRange);
  FreeTPicture(p);
}

// ---- scaling

// The resampling written out pixel by pixel.
Bitmap scaleModel(const Bitmap& in, double a, double b) {
  const int32_t rows = static_cast<int32_t>(std::trunc(in.height / (1 / a) + 1));
  const int32_t columns = static_cast<int32_t>(std::trunc(in.width / (1 / b) + 1));
  // Each source row's columns first.
  auto scaledRow = [&](int32_t y, std::vector<uint8_t>& out) {
    if (b == 1) {
      for (int32_t x = 0; x < in.width; ++x) out[x] |= in.black(x, y);
    } else if (b > 1) {
      const int64_t factor = static_cast<int64_t>(std::trunc(b * 32768));
      for (int32_t x = 0; x < in.width; ++x) {
        if (!in.black(x, y) || (x > 0 && in.black(x - 1, y))) continue;
        int32_t e = x;
        while (e < in.width && in.black(e, y)) ++e;
        const int64_t s0 = std::min<int64_t>(x * factor >> 15, columns),
                      e0 = std::min<int64_t>(e * factor >> 15, columns);
        for (int64_t i = s0; i < e0; ++i) out[i] = 1;
      }
    } else {
      const double f = (std::trunc((in.width - 1) * b) + 1) / in.width;
      const float g = static_cast<float>(8 * f);
      for (int32_t k = 0; k * 8 < in.width; ++k) {
        const float l = static_cast<float>(k) * g, o = l + g;
        int n = static_cast<int>(std::trunc(o)) - static_cast<int>(std::trunc(l));
        if (n <= 0) n = 1;
        const int64_t start = std::max<int64_t>(static_cast<int64_t>(std::trunc(o)) - n, 0);
        for (int p = 0; p < 8 && 8 * k + p < in.width; ++p) {
          if (!in.black(8 * k + p, y)) continue;
          const int64_t x = start + (p + 1) * n / 8 + ((p + 1) * n % 8 != 0) - 1;
          if (x < columns) out[x] = 1;
        }
      }
    }
  };
  Bitmap out(columns, rows);
  auto put = [&](int32_t k, const std::vector<uint8_t>& bits) {
    for (int32_t x = 0; x < columns; ++x)
      if (bits[x]) out.set(x, k);
  };
  const double step = 1 / a;
  int32_t k = 0;
  if (step > 1) {
    for (double s = 0; s < in.height && k < rows; s += step, ++k) {
      std::vector<uint8_t> bits(columns, 0);
      const int32_t r1 = static_cast<int32_t>(std::min<double>(std::trunc(s + step), in.height - 1));
      for (int32_t r = static_cast<int32_t>(std::trunc(s)); r <= r1; ++r) scaledRow(r, bits);
      put(k, bits);
    }
  } else {
    double acc = 0;
    for (int32_t r = 0; r < in.height && k < rows; ++r) {
      std::vector<uint8_t> bits(columns, 0);
      scaledRow(r, bits);
      do {
        put(k++, bits);
        acc += step;
      } while (acc < 1 && k < rows);
      acc -= 1;
    }
  }
  return out;
}

struct ScaleCase {
  double rowFactor;
  double columnFactor;
};

using ScaleParam = std::tuple<ScaleCase, Size>;
class TransformScale : public TransformTestP<ScaleParam> {};

TEST_P(TransformScale, MatchesTheModelAndKeepsBlackWhenReducing) {
  const auto& c = std::get<0>(GetParam());
  const Size& size = std::get<1>(GetParam());
  const Bitmap page = randomPage(size.width, size.height, 31);
  TPicture* p = makePicture(page);
  p->rowDpi = 300;
  TPicture* s = rastScaleImage(p, c.rowFactor, c.columnFactor, 1);
  if (size.width * c.columnFactor < 1 || size.height * c.rowFactor < 1) {
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(rastGetLastError(), kRastOutOfRange);
    FreeTPicture(p);
    return;
  }
  ASSERT_NE(s, nullptr);
  const Bitmap want = scaleModel(page, c.rowFactor, c.columnFactor);
  EXPECT_EQ(difference(pageFromPicture(s), want), "equal");
  EXPECT_EQ(s->rowDpi, 300);
  EXPECT_TRUE(paddingIsWhite(s));
  if (c.rowFactor <= 1 && c.columnFactor <= 1) {
    // Every black source pixel leaves black somewhere in its output row.
    const Bitmap got = pageFromPicture(s);
    EXPECT_GT(got.blackCount(), 0);
  }
  FreeTPicture(s);
  // Without keep-source the source goes on success.
  TPicture* t = rastScaleImage(p, c.rowFactor, c.columnFactor, 0);
  ASSERT_NE(t, nullptr);
  FreeTPicture(t);
}

const ScaleCase kScales[] = {{0.5, 0.5}, {1, 1},       {2, 2}, {1.0 / 3, 1.0 / 3}, {2, 0.5},
                             {0.5, 2},   {1, 1.0 / 3}, {3, 1}, {0.1, 0.1}};

INSTANTIATE_TEST_SUITE_P(Vectors, TransformScale,
                         ::testing::Combine(::testing::ValuesIn(kScales), ::testing::ValuesIn(kSizes)));

TEST_F(TransformTest, ScaleChecksItsRange) {
  TPicture* p = AllocTPicture(10, 10);
  for (auto [a, b] :
       {std::pair{0.05, 1.0}, {1.0, 0.05}, {std::nan(""), 1.0}, {1.0, double{INFINITY}}, {-1.0, 1.0}}) {
    reported().clear();
    EXPECT_EQ(rastScaleImage(p, a, b, 1), nullptr);
    EXPECT_EQ(rastGetLastError(), kRastOutOfRange);
    EXPECT_EQ(lastRoutine(), "rastScaleImage");
  }
  FreeTPicture(p);
  EXPECT_EQ(rastScaleImage(nullptr, 1, 1, 0), nullptr);
  EXPECT_EQ(rastGetLastError(), kRastNoPicture);
}

TEST_F(TransformTest, FailedScaleFreesItsPictureAndKeepsTheSource) {
  const Bitmap page = randomPage(100, 37, 6);
  bool succeeded = false;
  for (int64_t n = 0; n < 100 && !succeeded; ++n) {
    TPicture* p = makePicture(page);
    const int64_t before = rioBytesInUse();
    rioFailAllocationAfter(n);
    TPicture* s = rastScaleImage(p, 2, 2, 0);
    rioFailAllocationAfter(-1);
    if (s) {
      succeeded = true;
      FreeTPicture(s);
      continue;
    }
    EXPECT_EQ(rastGetLastError(), kRastTransformFailed);
    EXPECT_EQ(rioBytesInUse(), before);
    EXPECT_EQ(difference(pageFromPicture(p), page), "equal");
    FreeTPicture(p);
  }
  EXPECT_TRUE(succeeded);
}

}  // namespace
}  // namespace vantrel
