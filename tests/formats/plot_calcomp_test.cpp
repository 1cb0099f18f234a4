// CalComp raster writer: the stream is parsed back by the tests' decoder of its layout (preamble, set-up
// block, rows of count-and-group records, trailer; tests/support/device_decoders.h), and every decoded row
// must equal the input.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "formats/registry.h"
#include "rio/rcb.h"
#include "tests/support/device_decoders.h"
#include "tests/support/device_page.h"

namespace vantrel {
namespace {

using devicetest::CrfPlot;
using devicetest::CrfRecord;
using devicetest::decodeCrf;
using devicetest::refuseEverything;
using devicetest::Runs;
using devicetest::Written;

// The declared height is the number of rows unless given.
// The page budget raised ("ZEB_MAXPAGE"), so that the writer's own fields are what a page meets.
const RioSettings kRaisedBudget = [] {
  RioSettings s;
  s.maxPageSide = "0x7FFFFFFF";
  return s;
}();

Written writePage(int32_t width, double xDpi, double yDpi, const std::vector<Runs>& rows, int32_t height = -1,
                  StreamWriteFn sink = nullptr) {
  return devicetest::writePage(kFormatCalComp, width, rows,
                               {.xDpi = xDpi, .yDpi = yDpi, .height = height, .sink = sink, .settings = &kRaisedBudget});
}

// A row as the plotter must print it: W groups of 32 pixels, the runs inside [0, width) set.
std::vector<uint8_t> expectedRow(const Runs& runs, int32_t width, int32_t groups) {
  return devicetest::packRow(runs, std::min(width, groups * 32), static_cast<size_t>(groups) * 4);
}

class CalCompWriter : public devicetest::AccountedMemoryTest {};

struct GeometryCase {
  const char* name;
  int32_t width;
  std::vector<Runs> rows;
};
std::ostream& operator<<(std::ostream& os, const GeometryCase& c) {
  return os << c.name;
}

class CalCompGeometry : public CalCompWriter, public ::testing::WithParamInterface<GeometryCase> {};

TEST_P(CalCompGeometry, DecodedRowsEqualTheInput) {
  const GeometryCase& c = GetParam();
  Written w = writePage(c.width, 200, 200, c.rows);
  ASSERT_EQ(w.open, kRioOk);
  EXPECT_EQ(w.status, kRioOk);
  EXPECT_EQ(w.warning, kRioOk);
  EXPECT_EQ(w.streamOk, 1);
  CrfPlot plot;
  ASSERT_EQ(decodeCrf(w.bytes, &plot), "");
  const int32_t groups = (c.width + 31) / 32;
  EXPECT_EQ(plot.groups, groups);
  ASSERT_EQ(plot.rows.size(), c.rows.size());
  for (size_t i = 0; i < c.rows.size(); ++i)
    EXPECT_EQ(plot.rows[i], expectedRow(c.rows[i], c.width, groups)) << "row " << i;
}

std::vector<Runs> randomRows(uint32_t seed, int32_t width, int count) {
  std::mt19937 rng(seed);
  std::vector<Runs> rows(static_cast<size_t>(count));
  for (Runs& row : rows) {
    int32_t x = static_cast<int32_t>(rng() % 40);
    while (x < width) {
      const int32_t length = 1 + static_cast<int32_t>(rng() % (rng() % 4 == 0 ? 300 : 12));
      row.emplace_back(x, std::min(x + length, width));
      x += length + 1 + static_cast<int32_t>(rng() % 80);
    }
  }
  return rows;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CalCompGeometry,
    ::testing::Values(GeometryCase{"OnePixel", 1, {{{0, 1}}}}, GeometryCase{"WhiteRows", 2000, {{}, {}}},
                      GeometryCase{"WidthOfWholeGroups", 64, {{{0, 64}}, {{31, 33}}, {{63, 64}}}},
                      // Pixels past the width in the last group stay white.
                      GeometryCase{
                          "PartialLastGroup", 70, {{{0, 70}}, {{65, 70}}, {{3, 5}, {9, 10}, {17, 31}}}},
                      GeometryCase{"RunsBeyondTheWidthAreClipped", 40, {{{35, 90}}, {{50, 60}}, {{-3, 2}}}},
                      GeometryCase{"LongRepeats", 10000, {{{0, 10000}}, {{0, 4064}, {4100, 8200}}}},
                      GeometryCase{"RandomRuns", 3000, randomRows(7, 3000, 25)},
                      GeometryCase{"ZeroRows", 100, {}}),
    [](const auto& info) { return std::string(info.param.name); });

struct RecordCase {
  const char* name;
  int32_t width;
  Runs row;
  std::vector<int> counts;  // the counts of the row's records, in order
};
std::ostream& operator<<(std::ostream& os, const RecordCase& c) {
  return os << c.name;
}

class CalCompRecords : public CalCompWriter, public ::testing::WithParamInterface<RecordCase> {};

TEST_P(CalCompRecords, RowIsCutIntoTheseRecords) {
  const RecordCase& c = GetParam();
  Written w = writePage(c.width, 200, 200, {c.row});
  CrfPlot plot;
  ASSERT_EQ(decodeCrf(w.bytes, &plot), "");
  ASSERT_EQ(plot.records.size(), 1u);
  std::vector<int> counts;
  for (const CrfRecord& r : plot.records[0]) counts.push_back(r.count);
  EXPECT_EQ(counts, c.counts);
}

Runs everyOtherGroupBlack(int32_t width) {
  Runs row;
  for (int32_t x = 0; x < width; x += 64) row.emplace_back(x, std::min(x + 32, width));
  return row;
}

INSTANTIATE_TEST_SUITE_P(Vectors, CalCompRecords,
                         ::testing::Values(RecordCase{"White2000", 2000, {}, {63}},
                                           RecordCase{"White10000", 10000, {}, {127, 127, 59}},
                                           RecordCase{"Black4064", 4064, {{0, 4064}}, {127}},
                                           RecordCase{"Black4065", 4065, {{0, 4065}}, {127, 1}},
                                           RecordCase{"AllGroupsDiffer", 320, everyOtherGroupBlack(320),
                                                      std::vector<int>(10, 1)},
                                           // Trailing white groups are coded like any others.
                                           RecordCase{"TrailingWhite", 320, {{0, 32}}, {1, 9}}),
                         [](const auto& info) { return std::string(info.param.name); });

// The preamble and set-up block are the device's contract.
TEST_F(CalCompWriter, GoldenHeaderWhiteRowAndTrailer) {
  Written w = writePage(2000, 200, 200, {{}}, 3300);
  std::string text = "&&&&CALCOMP DEVICE CONTROL\nCCRF()\n^^^^END OF FILE\n";
  std::vector<uint8_t> expected(text.begin(), text.end());
  for (int v : {0x02, 0x00, 0x06, 0x08, 0x00, 0x0A, 0x01, 0x00, 0x08, 0x20, 0x00, 0x04, 0x00, 63, 0x00, 0x01,
                0x00, 17, 0x00})
    expected.push_back(static_cast<uint8_t>(v));
  for (int v : {63, 0, 0, 0, 0, 0x00, 0x02, 0x00, 0x03, 0x00, 0x00})
    expected.push_back(static_cast<uint8_t>(v));
  EXPECT_EQ(w.bytes, expected);
}

// A page closed before any line still gets its header and trailer.
TEST_F(CalCompWriter, NoLineStillWritesHeaderAndTrailer) {
  Written w = writePage(64, 200, 200, {}, 0);
  CrfPlot plot;
  ASSERT_EQ(decodeCrf(w.bytes, &plot), "");
  EXPECT_EQ(plot.groups, 2);
  EXPECT_EQ(plot.inches, 0);
  EXPECT_TRUE(plot.rows.empty());
  EXPECT_EQ(w.bytes.size(), 69u + 6);
}

struct LengthCase {
  int32_t height;
  double xDpi, yDpi;
  uint16_t inches;
};
std::ostream& operator<<(std::ostream& os, const LengthCase& c) {
  return os << c.height << " rows at " << c.xDpi << " x " << c.yDpi << " -> " << c.inches;
}

class CalCompLength : public CalCompWriter, public ::testing::WithParamInterface<LengthCase> {};

TEST_P(CalCompLength, LengthIsWholeInchesRoundedUp) {
  const LengthCase& c = GetParam();
  Written w = writePage(32, c.xDpi, c.yDpi, {{{0, 1}}}, c.height);
  CrfPlot plot;
  ASSERT_EQ(decodeCrf(w.bytes, &plot), "");
  EXPECT_EQ(plot.inches, c.inches);
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, CalCompLength,
    ::testing::Values(LengthCase{3300, 200, 200, 17}, LengthCase{3200, 200, 200, 16},
                      LengthCase{3201, 200, 200, 17}, LengthCase{1, 200, 200, 1}, LengthCase{0, 200, 200, 0},
                      LengthCase{3300, 200, 300, 11},
                      // An unknown vertical resolution takes the horizontal one, 200 when both are unknown.
                      LengthCase{3300, 300, 0, 11}, LengthCase{3300, 0, 0, 17}, LengthCase{3300, 0, 200, 17},
                      LengthCase{3300, 100, -1, 33},
                      // The 16-bit field saturates instead of wrapping.
                      LengthCase{65535, 1, 1, 65535}, LengthCase{65536, 1, 1, 65535},
                      LengthCase{268435456, 1, 1, 65535}, LengthCase{268435456, 0, 0, 65535}));

// W is a 16-bit field: a wider image is refused before anything is written, never cut.
TEST_F(CalCompWriter, GroupCountBeyondTheFieldIsRefused) {
  const int32_t width = 65535 * 32 + 1000;
  Written w = writePage(width, 200, 200, {{{10, 20}, {65535 * 32 - 5, width}}, {{65535 * 32, width}}});
  EXPECT_EQ(w.open, kRioBadColumns);
  EXPECT_TRUE(w.bytes.empty());
}

TEST_F(CalCompWriter, ZeroWidthWritesHeaderAndTrailerOnly) {
  Written w = writePage(0, 200, 200, {{}, {}});
  CrfPlot plot;
  ASSERT_EQ(decodeCrf(w.bytes, &plot), "");
  EXPECT_EQ(plot.groups, 0);
  EXPECT_EQ(w.bytes.size(), 69u + 6);
}

// A sink that takes nothing: the writers leave the loss to the stream, whose close reports it.
TEST_F(CalCompWriter, SinkAcceptingNothingStopsThePage) {
  Written w = writePage(3000, 200, 200, randomRows(3, 3000, 200), -1, refuseEverything);
  ASSERT_EQ(w.open, kRioOk);
  devicetest::expectStopsAtTheLoss(w.lineResults);
  EXPECT_EQ(w.streamOk, 0);
  EXPECT_TRUE(w.bytes.empty());
}

TEST_F(CalCompWriter, ReadingIsNotImplemented) {
  EXPECT_EQ(testread::readBackBytes("&&&&CALCOMP DEVICE CONTROL\n", kFormatCalComp).open, kRioNotImplemented);
  EXPECT_EQ(kCalCompDriver.spare2(nullptr), kRioNotImplemented);
}

// Every allocation the open makes may fail: the open then answers -3 and leaks nothing.
TEST_F(CalCompWriter, FailedAllocationsInOpen) {
  EXPECT_GE(devicetest::checkFailedOpenAllocations(kFormatCalComp, 100, 1, 10), 0) << "the open never succeeded";
}

}  // namespace
}  // namespace vantrel
