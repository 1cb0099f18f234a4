// PostScript writer: the prolog's bytes, the run commands of each row, the row limit and the handling of
// short writes. Rendering by an independent interpreter is checked in tests/interop/ghostscript_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "formats/registry.h"
#include "rio/rcb.h"
#include "tests/support/device_page.h"

namespace vantrel {
namespace {

constexpr RasterFormatId kPs = 9;
using devicetest::PageSetup;
using devicetest::refuseEverything;
using devicetest::Runs;
using devicetest::Written;

Written writePage(int32_t width, const std::vector<Runs>& rows, const PageSetup& setup = {}) {
  return devicetest::writePage(kPs, width, rows, setup);
}

std::string prolog(const std::string& sizes, const std::string& dpi, const std::string& extents,
                   const std::string& height) {
  return "%!PS-Adobe-2.0\n"
         "%%Creator: ZEB Gridwright\n"
         "%%EndComments\n"
         "%% " +
         sizes +
         " rows x cols\n"
         "%% " +
         dpi +
         " x y\n"
         "%% " +
         extents +
         " xe ye\n"
         "0.24 0.24 scale\n"
         "/y " +
         height +
         " def\n"
         "/n { stroke newpath /y y 1 sub def 0 y moveto } def\n"
         "/l { 0 rmoveto 0 rlineto } def\n"
         "75.000000 75.000000 translate\n"
         "newpath 0 y moveto\n";
}

const char kTrailer[] = "stroke showpage\n";

class PostScriptWriter : public devicetest::AccountedMemoryTest {};

// The prolog is the interpreter's contract; percent signs are written as they stand.
TEST_F(PostScriptWriter, GoldenPrologAndTrailerOfAPageWithoutLines) {
  Written w = writePage(3000, {}, {.height = 2000});
  EXPECT_EQ(w.status, kRioOk);
  EXPECT_EQ(w.text, prolog("2000 3000", "200 200", "0 0", "2000") + kTrailer);
}

TEST_F(PostScriptWriter, PrologNumbersAreTruncatedResolutionsAndTheExtents) {
  Written w = writePage(17, {{}}, {.xDpi = 200.9, .yDpi = 0, .xExtent = 12, .yExtent = -7});
  EXPECT_EQ(w.text, prolog("1 17", "200 0", "12 -7", "1") + "n\n" + kTrailer);
  Written big = writePage(5, {{}}, {.xDpi = 1e12, .yDpi = -3.5});
  EXPECT_EQ(big.text, prolog("1 5", "2147483647 -3", "0 0", "1") + "n\n" + kTrailer);
}

TEST_F(PostScriptWriter, WhiteImageIsPrologBareRowsAndTrailer) {
  Written w = writePage(40, {{}, {}, {}, {}, {}});
  EXPECT_EQ(w.text, prolog("5 40", "200 200", "0 0", "5") + "n\nn\nn\nn\nn\n" + kTrailer);
  EXPECT_EQ(w.warning, kRioOk);
}

struct RowCase {
  const char* name;
  int32_t width;
  Runs runs;
  const char* commands;  // the row as written
};
std::ostream& operator<<(std::ostream& os, const RowCase& c) {
  return os << c.name;
}

class PostScriptRows : public PostScriptWriter, public ::testing::WithParamInterface<RowCase> {};

TEST_P(PostScriptRows, RowIsWrittenAsTheseCommands) {
  const RowCase& c = GetParam();
  Written w = writePage(c.width, {c.runs});
  const std::string head = prolog("1 " + std::to_string(c.width), "200 200", "0 0", "1");
  ASSERT_EQ(w.text.substr(0, head.size()), head);
  EXPECT_EQ(w.text.substr(head.size()), std::string(c.commands) + kTrailer);
}

// Each run [s, e) is "length gap l " with the gap from where the previous segment ended (e - 1), so every
// run is drawn one unit left of its place and none further.
INSTANTIATE_TEST_SUITE_P(
    Vectors, PostScriptRows,
    ::testing::Values(RowCase{"TwoRuns", 20, {{0, 4}, {10, 12}}, "4 -1 l 2 6 l n\n"},
                      RowCase{"White", 20, {}, "n\n"}, RowCase{"FirstPixel", 20, {{0, 1}}, "1 -1 l n\n"},
                      RowCase{"LastPixel", 20, {{19, 20}}, "1 18 l n\n"},
                      RowCase{"OnePixelGaps", 20, {{1, 2}, {3, 4}, {5, 9}}, "1 0 l 1 1 l 4 1 l n\n"},
                      RowCase{"TouchingRuns", 20, {{0, 2}, {2, 4}}, "2 -1 l 2 0 l n\n"},
                      // Runs are clipped to the width.
                      RowCase{"RunPastTheWidth", 10, {{5, 50}}, "5 4 l n\n"},
                      RowCase{"RunBeyondTheWidth", 10, {{2, 3}, {12, 15}}, "1 1 l n\n"},
                      RowCase{"NegativeStart", 10, {{-3, 2}}, "2 -1 l n\n"},
                      RowCase{"WideImage", 1000000, {{999990, 1000000}}, "10 999989 l n\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// A row of thousands of runs is longer than any internal line buffer.
TEST_F(PostScriptWriter, RowWithManyRuns) {
  Runs runs;
  std::string expected;
  int64_t previous = 0;
  for (int32_t x = 3; x + 2 <= 40000; x += 5) {
    runs.emplace_back(x, x + 2);
    expected += "2 " + std::to_string(x - previous - 1) + " l ";
    previous = x + 1;
  }
  expected += "n\n";
  Written w = writePage(40000, {runs});
  const std::string head = prolog("1 40000", "200 200", "0 0", "1");
  ASSERT_EQ(w.text.substr(0, head.size()), head);
  const std::string body = w.text.substr(head.size());
  expected += kTrailer;
  // Compared without printing either text: both are hundreds of kilobytes.
  const auto diff = std::mismatch(body.begin(), body.end(), expected.begin(), expected.end());
  EXPECT_TRUE(diff.first == body.end() && diff.second == expected.end())
      << "the row differs from byte " << diff.first - body.begin() << " on";
}

// At most 4800 rows are drawn; the rest are dropped with a warning and the run still succeeds.
TEST_F(PostScriptWriter, RowsBeyond4800AreDroppedWithAWarning) {
  std::vector<Runs> rows(4803, Runs{{0, 1}});
  Written w = writePage(8, rows);
  EXPECT_EQ(w.status, kRioOk);
  EXPECT_EQ(w.warning, kRioBadRows);
  for (RioStatus r : w.lineResults) EXPECT_EQ(r, kRioOk);
  std::string body;
  for (int i = 0; i < 4800; ++i) body += "1 -1 l n\n";
  EXPECT_EQ(w.text, prolog("4803 8", "200 200", "0 0", "4803") + body + kTrailer);
}

TEST_F(PostScriptWriter, Exactly4800RowsGiveNoWarning) {
  std::vector<Runs> rows(4800, Runs{});
  Written w = writePage(8, rows);
  EXPECT_EQ(w.warning, kRioOk);
  EXPECT_EQ(w.status, kRioOk);
}

// A sink that takes nothing: once the buffer has to go out, the row reports -8 and the status keeps it.
TEST_F(PostScriptWriter, SinkAcceptingNothingFailsTheRowWithStreamIo) {
  Runs runs;
  for (int32_t x = 0; x < 4000; x += 4) runs.emplace_back(x, x + 2);
  std::vector<Runs> rows(20, runs);
  Written w = writePage(4000, rows, {.sink = refuseEverything});
  ASSERT_EQ(w.open, kRioOk);
  EXPECT_EQ(w.status, kRioStreamIo);
  size_t failed = 0;
  for (RioStatus r : w.lineResults) failed += r == kRioStreamIo;
  EXPECT_GT(failed, 0u);
  EXPECT_EQ(w.lineResults.front(), kRioOk) << "the first rows fit into the buffer";
  EXPECT_EQ(w.streamOk, 0);
  EXPECT_TRUE(w.text.empty());
}

TEST_F(PostScriptWriter, ReadingIsNotImplemented) {
  EXPECT_EQ(testread::readBackBytes("%!PS-Adobe-2.0\n", kPs).open, kRioNotImplemented);
  EXPECT_EQ(kPostScriptDriver.spare1(nullptr), kRioNotImplemented);
}

}  // namespace
}  // namespace vantrel
