#include "rio/sline.h"

#include <gtest/gtest.h>

#include <vector>

namespace vantrel {
namespace {

// A run list from pairs, with its terminator.
std::vector<int32_t> L(std::initializer_list<int32_t> pairs) {
  std::vector<int32_t> v(pairs);
  v.push_back(-1);
  v.push_back(-1);
  return v;
}

std::vector<int32_t> toVector(const int32_t* runs) {
  std::vector<int32_t> v;
  for (; runs[0] >= 0; runs += 2) {
    v.push_back(runs[0]);
    v.push_back(runs[1]);
  }
  v.push_back(-1);
  v.push_back(-1);
  return v;
}

struct ClipCase {
  std::vector<int32_t> in;
  int32_t width;
  std::vector<int32_t> out;
};

class ClipSline : public ::testing::TestWithParam<ClipCase> {};

TEST_P(ClipSline, CutsJoinsAndDrops) {
  std::vector<int32_t> runs = GetParam().in;
  rioClipSline(runs.data(), GetParam().width);
  EXPECT_EQ(toVector(runs.data()), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, ClipSline,
    ::testing::Values(ClipCase{L({}), 10, L({})},                                 //
                      ClipCase{L({2, 5, 7, 9}), 10, L({2, 5, 7, 9})},             // untouched
                      ClipCase{L({2, 5, 7, 12}), 10, L({2, 5, 7, 10})},           // end cut
                      ClipCase{L({2, 5, 10, 12}), 10, L({2, 5})},                 // starts at width: list ends
                      ClipCase{L({-3, 2, 4, 6}), 10, L({0, 2, 4, 6})},            // negative start raised
                      ClipCase{L({-5, -1, 4, 6}), 10, L({4, 6})},                 // nothing left of the run
                      ClipCase{L({2, 5, 5, 8}), 10, L({2, 8})},                   // touching runs join
                      ClipCase{L({2, 9, 4, 6}), 10, L({2, 9})},                   // join keeps the larger end
                      ClipCase{L({3, 3, 5, 6}), 10, L({5, 6})},                   // empty run dropped
                      ClipCase{L({6, 4, 5, 7}), 10, L({5, 7})},                   // end before start dropped
                      ClipCase{L({0, 3, 2, 4, 3, 12}), 10, L({0, 10})}));         // chain of overlaps

TEST(NormalizeSline, WidensEmptyRunsBeforeMerging) {
  std::vector<int32_t> out(16);
  auto a = L({3, 3});
  rioNormalizeSline(a.data(), out.data());
  EXPECT_EQ(toVector(out.data()), L({3, 4}));
  auto b = L({0, 5, 5, 8});
  rioNormalizeSline(b.data(), out.data());
  EXPECT_EQ(toVector(out.data()), L({0, 8}));
  // A collapsed run right after another is kept as black, joining it.
  auto c = L({0, 4, 4, 4, 9, 9});
  rioNormalizeSline(c.data(), out.data());
  EXPECT_EQ(toVector(out.data()), L({0, 5, 9, 10}));
  // In place works.
  auto d = L({1, 2, 2, 2, 6, 7, 7, 9});
  rioNormalizeSline(d.data(), d.data());
  EXPECT_EQ(toVector(d.data()), L({1, 3, 6, 9}));
}

// One routine, two rules: the same list clipped for a coder and widened for the resampler, in place.
TEST(NormalizeRuns, TheRuleDecidesEmptyRunsAndTheWidth) {
  const auto in = L({-2, 1, 3, 3, 5, 7, 6, 12, 14, 15});
  auto clipped = in, widened = in;
  EXPECT_EQ(rioNormalizeRuns(clipped.data(), clipped.data(), SlineRule::kClip, 10), 4);
  EXPECT_EQ(toVector(clipped.data()), L({0, 1, 5, 10}));
  EXPECT_EQ(rioNormalizeRuns(widened.data(), widened.data(), SlineRule::kWiden), 8);
  EXPECT_EQ(std::vector<int32_t>(widened.begin(), widened.begin() + 10), L({-2, 1, 3, 4, 5, 12, 14, 15}));
}

TEST(AppendSline, JoinsATileWhoseFirstRunStartsWhereTheLineEnds) {
  std::vector<int32_t> line(32, 0);
  line[0] = line[1] = -1;
  int32_t* tail = line.data();
  auto tile1 = L({0, 5, 28, 32});
  tail = rioAppendSline(tail, tile1.data(), 0);
  EXPECT_EQ(*tail, 32);
  auto tile2 = L({0, 3, 10, 12});
  tail = rioAppendSline(tail, tile2.data(), 32);
  EXPECT_EQ(toVector(line.data()), L({0, 5, 28, 35, 42, 44}));
  EXPECT_EQ(*tail, 44);
  auto empty = L({});
  EXPECT_EQ(rioAppendSline(tail, empty.data(), 64), tail);
  EXPECT_EQ(toVector(line.data()), L({0, 5, 28, 35, 42, 44}));
}

TEST(AppendSline, EmptyLineStaysEmptyWithNoRuns) {
  std::vector<int32_t> line = {-1, -1, 7, 7};
  auto empty = L({});
  int32_t* tail = rioAppendSline(line.data(), empty.data(), 5);
  EXPECT_EQ(tail, line.data());
  EXPECT_EQ(line[0], -1);
}

TEST(ScaleSlineFixed, WidePagesAtHighTargetsDoNotWrap) {
  // 13244 columns scaled from 50 to 10000 dpi: factor 200.0 in 1/32768 units.
  auto runs = L({0, 13244});
  rioScaleSlineFixed(runs.data(), 200u * 32768u);
  EXPECT_EQ(toVector(runs.data()), L({0, 13244 * 200}));
  auto half = L({3, 9});
  rioScaleSlineFixed(half.data(), 16384);
  EXPECT_EQ(toVector(half.data()), L({1, 4}));  // floors
}

struct ScaleCase {
  std::vector<int32_t> in;
  uint64_t factor;
  std::vector<int32_t> out;
};

class ScaleSlineFixedVectors : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(ScaleSlineFixedVectors, FloorsAndSaturates) {
  std::vector<int32_t> runs = GetParam().in;
  rioScaleSlineFixed(runs.data(), GetParam().factor);
  EXPECT_EQ(toVector(runs.data()), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, ScaleSlineFixedVectors,
    ::testing::Values(ScaleCase{L({0, 5, 7, 100}), 32768, L({0, 5, 7, 100})},          // 1.0
                      ScaleCase{L({0, 3, 5, 6}), 21845, L({0, 1, 3, 3})},              // two thirds, floored
                      ScaleCase{L({1, 2}), 98304, L({3, 6})},                          // 3.0
                      ScaleCase{L({6622, 6623}), 8185, L({1654, 1654})},               // A0 to A4 width
                      ScaleCase{L({0, 1, 2, 3}), uint64_t{1} << 50, L({0, INT32_MAX, INT32_MAX, INT32_MAX})},
                      ScaleCase{L({0, 1}), UINT64_MAX, L({0, INT32_MAX})},            // factor beyond int64
                      ScaleCase{L({2000000000, 2147483647}), 65536, L({INT32_MAX, INT32_MAX})},
                      ScaleCase{L({}), 12345, L({})}));

TEST(ScaleSlineFixed, MatchesThirtyTwoBitProductsWhereTheyDoNotOverflow) {
  for (uint32_t factor : {1u, 8185u, 16384u, 21845u, 32768u, 65536u, 6553600u}) {
    for (int32_t v : {0, 1, 7, 255, 4096, 13244, 32767, 65535}) {
      const uint64_t wide = static_cast<uint64_t>(v) * factor;
      if (wide > UINT32_MAX) continue;
      auto runs = L({v, v + 1});
      rioScaleSlineFixed(runs.data(), factor);
      EXPECT_EQ(runs[0], static_cast<int32_t>((static_cast<uint32_t>(v) * factor) >> 15)) << v << " " << factor;
    }
  }
}

struct NormalizeCase {
  std::vector<int32_t> in;
  std::vector<int32_t> out;
};

class NormalizeSlineVectors : public ::testing::TestWithParam<NormalizeCase> {};

TEST_P(NormalizeSlineVectors, KeepsEveryBlackPixel) {
  std::vector<int32_t> out(GetParam().in.size() + 2, 99);
  rioNormalizeSline(GetParam().in.data(), out.data());
  EXPECT_EQ(toVector(out.data()), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, NormalizeSlineVectors,
    ::testing::Values(NormalizeCase{L({}), L({})},
                      NormalizeCase{L({0, 0}), L({0, 1})},                      // collapsed at column 0
                      NormalizeCase{L({2, 2, 3, 3}), L({2, 4})},                // two collapsed runs touch
                      NormalizeCase{L({2, 2, 4, 4}), L({2, 3, 4, 5})},          // apart: both kept
                      NormalizeCase{L({1, 3, 3, 3}), L({1, 4})},                // collapsed after a run widens it
                      NormalizeCase{L({1, 5, 2, 2, 3, 4}), L({1, 5})},          // inside an earlier run
                      NormalizeCase{L({0, 10, 10, 10, 10, 12}), L({0, 12})}));  // a chain of touches

TEST(ScaleSlineClip, DropsCutsAndRounds) {
  std::vector<int32_t> out(16);
  auto runs = L({0, 2, 4, 6, 10, 20});
  rioScaleSlineClip(runs.data(), out.data(), 2.0, 5.0, 30);
  // (0,2): e = -1 dropped; (4,6): s=3, e=7; (10,20): s=15, e=35 >= 30 -> (15,30) and the list ends.
  EXPECT_EQ(toVector(out.data()), L({3, 7, 15, 30}));
}

TEST(CopySlineClipped, FitsANarrowerLineBuffer) {
  // The widest possible input for width 9 (runs of one pixel, one apart) copied into a line of width 5.
  auto src = L({0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
  std::vector<int32_t> dst(static_cast<size_t>(slineValues(5)), 99);
  rioCopySlineClipped(src.data(), dst.data(), 5);
  EXPECT_EQ(toVector(dst.data()), L({0, 1, 2, 3, 4, 5}));
  // Touching input runs are joined so they cannot overflow.
  auto touching = L({0, 1, 1, 2, 2, 3, 3, 4, 4, 5});
  std::vector<int32_t> small(static_cast<size_t>(slineValues(5)), 99);
  rioCopySlineClipped(touching.data(), small.data(), 5);
  EXPECT_EQ(toVector(small.data()), L({0, 5}));
}

TEST(AllocSline, HoldsTheMostRunsOfAnOddWidth) {
  for (int32_t w : {1, 2, 3, 7, 8, 33}) {
    int32_t* runs = alloc_sline(w);
    ASSERT_NE(runs, nullptr);
    int32_t n = (w + 1) / 2;  // every other pixel black
    for (int32_t i = 0; i < n; ++i) {
      runs[2 * i] = 2 * i;
      runs[2 * i + 1] = 2 * i + 1;
    }
    runs[2 * n] = runs[2 * n + 1] = -1;  // ASan catches a buffer one pair short
    EXPECT_EQ(rioSlineRuns(runs), n);
    free_sline(runs);
  }
  EXPECT_EQ(alloc_sline(-1), nullptr);
}

}  // namespace
}  // namespace vantrel
