// Image Systems and Graphtec run-length. Every stream the writer makes is parsed by a decoder written here
// from the layout (big-endian words, columns counted from the right edge, pairs from right to left, runs
// separated by white), and the reader is fed rows made by a writer of this file, legal and illegal.
#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <string>

#include "tests/support/file_fixture.h"
#include "tests/support/read_back.h"

namespace vantrel {
namespace {

using testfiles::Bytes;
using testfiles::FileTest;
using testfiles::Runs;

struct Decoded {
  int32_t width = 0, height = 0;
  std::vector<Runs> rows;
};

// Parses a whole stream; an explanation when it breaks the layout.
std::string decode(const Bytes& b, bool graphtec, Decoded* d) {
  size_t at = 0;
  auto word = [&]() { return at + 2 <= b.size() ? (at += 2, b[at - 2] << 8 | b[at - 1]) : -1; };
  if (graphtec) {
    if (b.size() < 20 || std::string(b.begin(), b.begin() + 8) != "GRAPHTEC" || b[8] != 0 || b[9] != 0x10)
      return "bad Graphtec header";
    at = 10;
    const int h = word(), w = word();
    if (word() != 0 || word() != h || word() != w) return "Graphtec header words disagree";
    at = 16;  // the second H and W are the ones a plain header holds
  }
  d->height = word();
  d->width = word();
  if (d->width < 0) return "short header";
  for (int32_t y = 0; y < d->height; ++y) {
    const int k = word();
    if (k < 0) return "row " + std::to_string(y) + " missing";
    Runs runs;
    int right = d->width + 1;  // coordinate of the first pixel of the run to the right
    for (int i = 0; i < k; ++i) {
      const int a = word(), first = word();
      if (first < 0) return "row ends inside a pair";
      if (a < 1 || a > first || first > d->width) return "pair out of 1..W";
      if (a <= right + 1 && i > 0) return "runs touch or overlap";
      right = first;
      runs.emplace_back(d->width - first, d->width - a + 1);
    }
    d->rows.emplace_back(runs.rbegin(), runs.rend());
  }
  return at == b.size() ? "" : "bytes after the last row";
}

// Runs clipped to the width and joined where they touch: what a row of the page holds.
Runs onPage(const Runs& runs, int32_t width) {
  Runs out;
  for (auto [s, e] : runs) {
    s = std::max(s, 0);
    e = std::min(e, width);
    if (s >= e) continue;
    if (!out.empty() && s <= out.back().second)
      out.back().second = std::max(out.back().second, e);
    else
      out.emplace_back(s, e);
  }
  return out;
}

std::vector<Runs> randomRows(uint32_t seed, int32_t width, int count) {
  std::mt19937 rng(seed);
  std::vector<Runs> rows(static_cast<size_t>(count));
  const size_t room = static_cast<size_t>(width + 1) / 2;  // runs a line buffer of the width holds
  for (Runs& row : rows)
    for (int32_t x = static_cast<int32_t>(rng() % 4); x < width + 8 && row.size() < room;) {
      const int32_t len = 1 + static_cast<int32_t>(rng() % 9);
      row.emplace_back(x, x + len);  // sometimes past the width, sometimes touching the next run
      x += len + static_cast<int32_t>(rng() % 5);
    }
  rows.push_back({{0, width}});
  rows.push_back({});
  return rows;
}

class Rlc : public FileTest {};

struct WriteCase {
  RasterFormatId id;
  int32_t width;
};
class RlcWrite : public Rlc, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(RlcWrite, EveryRowDecodesToThePageRow) {
  const auto [id, width] = GetParam();
  const std::vector<Runs> rows = randomRows(static_cast<uint32_t>(width), width, 40);
  auto w = testfiles::writeWithDriver(fresh(), id, width, static_cast<int32_t>(rows.size()), rows);
  ASSERT_EQ(w.open, kRioOk);
  EXPECT_EQ(w.status, kRioOk);
  EXPECT_EQ(w.warning, kRioOk);
  Decoded d;
  ASSERT_EQ(decode(w.bytes, id == kFormatGraphtec, &d), "");
  EXPECT_EQ(d.width, width);
  ASSERT_EQ(d.rows.size(), rows.size());
  for (size_t y = 0; y < rows.size(); ++y) EXPECT_EQ(d.rows[y], onPage(rows[y], width)) << "row " << y;
}

INSTANTIATE_TEST_SUITE_P(Ids, RlcWrite,
                         ::testing::Values(WriteCase{kFormatRlc, 1}, WriteCase{kFormatRlc, 97},
                                           WriteCase{kFormatRlcFamily, 640}, WriteCase{kFormatGraphtec, 33},
                                           WriteCase{kFormatRlc, 65534}));

TEST_F(Rlc, WritesTheFourByOneExampleAndItsGraphtecHeader) {
  auto w = testfiles::writeWithDriver(fresh(), kFormatRlc, 4, 1, {{{1, 3}}});
  EXPECT_EQ(w.bytes, (Bytes{0, 1, 0, 4, 0, 1, 0, 2, 0, 3}));
  auto g = testfiles::writeWithDriver(fresh(), kFormatGraphtec, 4, 1, {{{1, 3}}});
  EXPECT_EQ(g.bytes, (Bytes{'G', 'R', 'A', 'P', 'H', 'T', 'E', 'C', 0, 0x10, 0, 1, 0, 4, 0, 0, 0, 1, 0, 4, 0, 1, 0,
                            2, 0, 3}));
}

// A page wider than the fields is refused before anything is written; rows beyond H are dropped with a
// warning, missing ones padded with empty rows.
TEST_F(Rlc, WriterKeepsToTheHeader) {
  auto wide = testfiles::writeWithDriver(fresh(), kFormatRlc, 70000, 1, {{{65530, 69000}, {69500, 69600}}});
  EXPECT_EQ(wide.open, kRioBadColumns);
  EXPECT_TRUE(wide.bytes.empty());
  Decoded d;

  const std::vector<Runs> thirteen(13, Runs{{2, 5}});
  auto more = testfiles::writeWithDriver(fresh(), kFormatRlc, 8, 12, thirteen);
  EXPECT_EQ(more.warning, kRioBadRows);
  d = {};
  ASSERT_EQ(decode(more.bytes, false, &d), "");
  EXPECT_EQ(d.rows.size(), 12u);

  auto fewer = testfiles::writeWithDriver(fresh(), kFormatRlc, 8, 12, std::vector<Runs>(10, Runs{{2, 5}}));
  EXPECT_EQ(fewer.warning, kRioOk);
  EXPECT_EQ(Bytes(fewer.bytes.end() - 4, fewer.bytes.end()), (Bytes{0, 0, 0, 0}));
  d = {};
  ASSERT_EQ(decode(fewer.bytes, false, &d), "");
}

// A file of rows given as (A, B) pairs, right to left, with the header's H and W.
Bytes rlcFile(int h, int w, const std::vector<std::vector<std::pair<int, int>>>& rows) {
  Bytes b;
  auto put = [&](int v) { b.insert(b.end(), {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)}); };
  put(h);
  put(w);
  for (const auto& row : rows) {
    put(static_cast<int>(row.size()));
    for (auto [a, first] : row) put(a), put(first);
  }
  return b;
}

struct ReadCase {
  const char* name;
  Bytes file;
  RioStatus open;
  std::vector<Runs> lines = {};
  RioStatus status = kRioEndOfPage;
  RioStatus warning = kRioOk;
};
std::ostream& operator<<(std::ostream& os, const ReadCase& c) { return os << c.name; }

class RlcRead : public Rlc, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(RlcRead, GivesTheRowsAndTheStatus) {
  const ReadCase& c = GetParam();
  auto r = testread::readBackBytes(c.file, kFormatRlc);
  ASSERT_EQ(r.open, c.open);
  if (c.open != kRioOk) return;
  EXPECT_EQ(r.lines, c.lines);
  EXPECT_EQ(r.end, c.status);
  EXPECT_EQ(r.lineWarning, c.warning);
}

// 300 pairs in a row of a 10-pixel page: more than its line holds.
std::vector<std::pair<int, int>> tooManyPairs() {
  return std::vector<std::pair<int, int>>(300, {2, 3});
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RlcRead,
    ::testing::Values(
        ReadCase{"Legal", rlcFile(2, 10, {{{1, 2}, {5, 10}}, {}}), kRioOk, {{{0, 6}, {8, 10}}, {}}},
        ReadCase{"TouchingRunsJoined", rlcFile(1, 8, {{{1, 3}, {4, 8}}}), kRioOk, {{{0, 8}}}, kRioEndOfPage,
                 kRioBadData},
        ReadCase{"OverlapsJoined", rlcFile(1, 8, {{{1, 5}, {3, 8}}}), kRioOk, {{{0, 8}}}, kRioEndOfPage,
                 kRioBadData},
        ReadCase{"BeyondWClampedAtZero", rlcFile(1, 8, {{{2, 12}}}), kRioOk, {{{0, 7}}}, kRioEndOfPage,
                 kRioBadData},
        ReadCase{"ZeroCutAtTheRightEdge", rlcFile(1, 8, {{{0, 2}}}), kRioOk, {{{6, 8}}}, kRioEndOfPage,
                 kRioBadData},
        ReadCase{"DescendingPairsSorted", rlcFile(1, 8, {{{6, 7}, {1, 2}}}), kRioOk, {{{1, 3}, {6, 8}}},
                 kRioEndOfPage, kRioBadData},
        ReadCase{"SurplusPairsSkipped", rlcFile(2, 10, {tooManyPairs(), {{1, 1}}}), kRioOk, {{{7, 9}}, {{9, 10}}},
                 kRioEndOfPage, kRioBadData},
        ReadCase{"CutInsideARow", Bytes{0, 2, 0, 8, 0, 0, 0, 1, 0, 1}, kRioOk, {{}}, kRioStreamIo},
        ReadCase{"ShortHeader", Bytes{0, 2, 0}, kRioStreamIo},
        ReadCase{"TooHigh", rlcFile(65535, 8, {}), kRioBadRows},
        ReadCase{"TooWide", rlcFile(1, 65535, {}), kRioBadColumns}),
    [](const auto& info) { return std::string(info.param.name); });

// Id 7 warns at close when the page ended before its H rows; id 18 does not. Id 24 is not read.
TEST_F(Rlc, OnlyIdSevenCountsTheRowsAtClose) {
  const auto file = save(rlcFile(3, 8, {{}}));
  EXPECT_EQ(testread::readBack(file, kFormatRlc).warning, kRioBadRows);
  EXPECT_EQ(testread::readBack(file, kFormatRlcFamily).warning, kRioOk);
  EXPECT_EQ(testread::readBack(file, kFormatGraphtec).open, kRioNotImplemented);
}

}  // namespace
}  // namespace vantrel
