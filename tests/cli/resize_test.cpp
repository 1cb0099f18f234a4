// The console's geometry paths: the paper-size check with its refusals, and the resize path through the
// translation run (new resolutions, merged and repeated lines, writers with a reference line, the mmr
// output rounded to 32), unknown resolutions and sizes that cannot be represented.
#include "run/translate.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "rio/alloc.h"
#include "rio/rcb.h"
#include "rio/stream.h"
#include "tests/support/read_back.h"
#include "tests/support/recording_reporter.h"
#include "tests/support/run_pages.h"
#include "tests/support/scratch_dir.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

using testruns::Page;
using testruns::Runs;
using testruns::toRuns;
using testruns::writePage;

using Result = testread::PageRecord;
using testread::readBack;

// ---- paper size

struct PaperCase {
  const char* label;
  int32_t width;
  int32_t height;
  double xDpi;
  double yDpi;
  int32_t sizeCode;
  const char* refusal;  // nullptr: accepted
  double scale;         // job.scale afterwards
};

class PaperSize : public ::testing::TestWithParam<PaperCase> {};

TEST_P(PaperSize, AcceptsOrRefusesWithItsText) {
  const PaperCase& c = GetParam();
  RCB in;
  in.width = c.width;
  in.height = c.height;
  in.xDpi = c.xDpi;
  in.yDpi = c.yDpi;
  TranslateJob job;
  job.options.sizeCode = c.sizeCode;
  testsupport::RecordingReporter out;
  const bool accepted = checkPaperSize(&in, job, kConsoleDialect, out);
  if (c.refusal) {
    EXPECT_FALSE(accepted);
    EXPECT_EQ(out.all, std::string("vantrel: ") + c.refusal + "\n");
  } else {
    EXPECT_TRUE(accepted);
    EXPECT_EQ(out.all, "");
  }
  EXPECT_DOUBLE_EQ(job.scale, c.scale);
}

constexpr const char* kNotStandard = "Input file must be a standard size (A0-A4 or A0L - A4L)";
constexpr const char* kLongToStandard = "Cannot convert long size to standard";
constexpr const char* kStandardToLong = "Cannot convert standard size to long";

INSTANTIATE_TEST_SUITE_P(
    Sheets, PaperSize,
    ::testing::Values(
        PaperCase{"A0ToA4", 6622, 9362, 200, 200, 5, nullptr, 297.0 / 1189},
        PaperCase{"A0ToA0", 6622, 9362, 200, 200, 1, nullptr, 0},
        PaperCase{"NoSize", 10, 10, 200, 200, 0, nullptr, 0},
        PaperCase{"A0At400ToA4", 13244, 18724, 400, 400, 5, nullptr, 297.0 / 1189},
        PaperCase{"A4LandscapeToA3", 2339, 1654, 200, 200, 4, nullptr, 420.0 / 297},
        PaperCase{"A1LToA3L", 4724, 9362, 200, 200, 12, nullptr, 420.0 / 841},
        PaperCase{"A1LToA2", 4724, 9362, 200, 200, 3, kLongToStandard, 0},
        PaperCase{"A4LToA2L", 1654, 3307, 200, 200, 11, nullptr, 594.0 / 297},
        PaperCase{"A2ToA3L", 3307, 4677, 200, 200, 12, kStandardToLong, 0},
        PaperCase{"Square841", 6622, 6622, 200, 200, 5, kNotStandard, 0},
        PaperCase{"TooSmall", 100, 100, 200, 200, 5, kNotStandard, 0},
        // 6783 pixels are 861 mm, just within 20 mm of 841; 6784 are 862.
        PaperCase{"ToleranceInside", 6783, 9362, 200, 200, 5, nullptr, 297.0 / 1189},
        PaperCase{"ToleranceOutside", 6784, 9362, 200, 200, 5, kNotStandard, 0},
        // An axis of unknown resolution counts as 200 dpi, never a division by zero.
        PaperCase{"XDpiZero", 6622, 9362, 0, 200, 5, nullptr, 297.0 / 1189},
        PaperCase{"YDpiZero", 6622, 9362, 200, 0, 5, nullptr, 297.0 / 1189},
        PaperCase{"BothZero", 6622, 9362, 0, 0, 5, nullptr, 297.0 / 1189}),
    [](const auto& info) { return std::string(info.param.label); });

// ---- the resize path through the translation run

class ResizeRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.ok());
    dir_ = scratch_.path();
    baseline_ = rioBytesInUse();
  }
  void TearDown() override {
    EXPECT_EQ(rioBytesInUse(), baseline_) << "accounted memory leaked";
  }

  // Runs the translation of `input` into `out` with the job's options; the messages go to messages_.
  bool translate(const fs::path& input, const std::string& out, TranslateJob job) {
    job.options.inName = input.string();
    job.options.outName = (dir_ / out).string();
    job.inFile.reset(std::fopen(job.options.inName.c_str(), "rb"));
    job.outFile.reset(std::fopen(job.options.outName.c_str(), "wb"));
    EXPECT_TRUE(job.inFile && job.outFile);
    testsupport::RecordingReporter messages;
    bool ok = runTranslation(kConsoleDialect, job, messages);
    job.inFile.reset();
    ok = std::fclose(job.outFile.release()) == 0 && ok;
    messages_ = messages.all;
    return ok;
  }

  // Calls the resize path directly on an input RCB whose resolutions are set by hand.
  RioStatus resizeDirect(const fs::path& input, RasterFormatId inFormat, double xDpi, double yDpi,
                         TranslateJob& job, RasterFormatId outFormat, const std::string& out) {
    FilePtr inFile(std::fopen(input.c_str(), "rb"));
    FilePtr outFile(std::fopen((dir_ / out).c_str(), "wb"));
    StreamPtr inStream(streamOpen(inFile.get(), "r"));
    StreamPtr outStream(streamOpen(outFile.get(), "w"));
    RunInput in;
    RioStatus st = in.openReader(inStream.get(), inFormat);
    EXPECT_EQ(st, 0);
    if (st != 0) return st;
    in.rcb()->xDpi = xDpi;
    in.rcb()->yDpi = yDpi;
    job.options.outFormat = outFormat;
    st = resizeTranslate(in, job, outStream.get(), kConsoleDialect);
    inStream.reset();
    EXPECT_EQ(streamClose(outStream.release()), 1);
    return st;
  }

  testsupport::ScratchDir scratch_{"vantrel-resize"};
  fs::path dir_;
  std::string messages_;
  int64_t baseline_ = 0;
};

const std::string kComplete = "vantrel: Translation is complete.\n";

// Line i holds [2i, 2i + 2): at half the width it becomes [i, i + 1), so a merged output line is one run
// naming the input lines it holds.
Page ladder(int32_t lines, double dpi) {
  Page page{2 * lines + 8, dpi, dpi, {}};
  for (int32_t i = 0; i < lines; ++i) page.lines.push_back({{2 * i, 2 * i + 2}});
  return page;
}

// A page whose every line differs from every other and is never blank (width > lines + 36).
Page distinctLines(int32_t lines, int32_t width, double dpi) {
  Page page{width, dpi, dpi, {}};
  for (int32_t i = 0; i < lines; ++i)
    page.lines.push_back({{i % 17, i % 17 + 3 + i % 5}, {25 + i, 26 + i}, {width - 10, width - 1 - i % 3}});
  return page;
}

class ResizeFormats : public ResizeRun, public ::testing::WithParamInterface<RasterFormatId> {};

TEST_P(ResizeFormats, HalvingMergesLinesAndKeepsTheLastGroup) {
  writePage(dir_ / "in.rnl", kFormatRunLength, ladder(1000, 200));
  TranslateJob job;
  job.options.outFormat = GetParam();
  job.options.outXDpi = job.options.outYDpi = 100;
  ASSERT_TRUE(translate(dir_ / "in.rnl", "out", std::move(job))) << messages_;
  EXPECT_EQ(messages_, "");
  Result r = readBack(dir_ / "out");
  ASSERT_EQ(r.open, 0);
  EXPECT_EQ(r.width, 1004);
  ASSERT_EQ(r.lines.size(), 500u);
  // The first output line merges input lines 0-2 (1-3 counted from one), every later one two lines; input
  // line 999, the group the input ends in, is the 500th line.
  EXPECT_EQ(r.lines[0], (Runs{{0, 3}}));
  for (int32_t k = 1; k < 499; ++k) EXPECT_EQ(r.lines[k], (Runs{{2 * k + 1, 2 * k + 3}})) << k;
  EXPECT_EQ(r.lines[499], (Runs{{999, 1000}}));
}

TEST_P(ResizeFormats, DoublingRepeatsEveryLineAndDoublesEveryRun) {
  const Page in = distinctLines(60, 300, 200);
  writePage(dir_ / "in.rnl", kFormatRunLength, in);
  TranslateJob job;
  job.options.outFormat = GetParam();
  job.options.outXDpi = job.options.outYDpi = 400;
  ASSERT_TRUE(translate(dir_ / "in.rnl", "out", std::move(job))) << messages_;
  Result r = readBack(dir_ / "out");
  ASSERT_EQ(r.open, 0);
  EXPECT_EQ(r.width, 600);
  ASSERT_EQ(r.lines.size(), 120u);
  for (size_t j = 0; j < 120; ++j) {
    Runs expect;
    for (auto [s, e] : in.lines[j / 2]) expect.emplace_back(2 * s, 2 * e);
    EXPECT_EQ(r.lines[j], expect) << "output line " << j;
  }
}

// One and a half lines per input line: every output line is an input line, in order, none skipped, none
// blank (a writer with a reference line must not get its reference line in between).
TEST_P(ResizeFormats, UnevenRepeatsAreTheLinesThemselves) {
  const Page in = distinctLines(41, 120, 200);
  writePage(dir_ / "in.rnl", kFormatRunLength, in);
  TranslateJob job;
  job.options.outFormat = GetParam();
  job.options.outYDpi = 300;
  ASSERT_TRUE(translate(dir_ / "in.rnl", "out", std::move(job))) << messages_;
  Result r = readBack(dir_ / "out");
  ASSERT_EQ(r.open, 0);
  EXPECT_EQ(r.width, 120);
  ASSERT_EQ(r.lines.size(), 62u);  // 41 * 1.5 = 61.5, rounded away from zero
  size_t at = 0;
  for (size_t j = 0; j < r.lines.size(); ++j) {
    if (r.lines[j] != in.lines[at] && at + 1 < in.lines.size()) ++at;
    ASSERT_EQ(r.lines[j], in.lines[at]) << "output line " << j << " after input line " << at;
  }
  EXPECT_GE(at, in.lines.size() - 2);
}

TEST_P(ResizeFormats, XDpiAloneKeepsTheHeight) {
  const Page in = distinctLines(25, 200, 200);
  writePage(dir_ / "in.rnl", kFormatRunLength, in);
  TranslateJob job;
  job.options.outFormat = GetParam();
  job.options.outXDpi = 400;
  ASSERT_TRUE(translate(dir_ / "in.rnl", "out", std::move(job))) << messages_;
  Result r = readBack(dir_ / "out");
  EXPECT_EQ(r.width, 400);
  ASSERT_EQ(r.lines.size(), 25u);
  for (size_t j = 0; j < 25; ++j) {
    Runs expect;
    for (auto [s, e] : in.lines[j]) expect.emplace_back(2 * s, 2 * e);
    EXPECT_EQ(r.lines[j], expect) << j;
  }
  if (GetParam() != kFormatCals) {  // CALS keeps its own density field
    EXPECT_EQ(r.xDpi, 400);
    EXPECT_EQ(r.yDpi, 200);
  }
}

INSTANTIATE_TEST_SUITE_P(Writers, ResizeFormats, ::testing::Values(kFormatRunLength, kFormatNativeG4, kFormatCals),
                         [](const auto& info) {
                           return std::string(info.param == kFormatRunLength ? "RunLength"
                                              : info.param == kFormatNativeG4  ? "Group4"
                                                                             : "Cals");
                         });

// A page whose only black is its bottom line: whatever the factor, the last output line holds it.
struct BottomCase {
  int32_t lines;
  double outDpi;  // from 200
  size_t outLines;
};

class ResizeBottom : public ResizeRun, public ::testing::WithParamInterface<BottomCase> {};

TEST_P(ResizeBottom, TheLastInputLineReachesTheLastOutputLine) {
  const BottomCase& c = GetParam();
  Page in{400, 200, 200, {}};
  in.lines.assign(static_cast<size_t>(c.lines), Runs{});
  in.lines.back() = Runs{{0, 400}};
  writePage(dir_ / "in.rnl", kFormatRunLength, in);
  TranslateJob job;
  job.options.outFormat = kFormatRunLength;
  job.options.outYDpi = c.outDpi;
  ASSERT_TRUE(translate(dir_ / "in.rnl", "out.rnl", std::move(job))) << messages_;
  const Result r = readBack(dir_ / "out.rnl");
  ASSERT_EQ(r.lines.size(), c.outLines);
  EXPECT_EQ(r.lines.back(), (Runs{{0, 400}}));
  for (size_t j = 0; j + 2 < r.lines.size(); ++j) EXPECT_EQ(r.lines[j], Runs{}) << j;
}

INSTANTIATE_TEST_SUITE_P(Factors, ResizeBottom,
                         ::testing::Values(BottomCase{1000, 100, 500}, BottomCase{1000, 127, 635},
                                           BottomCase{999, 66, 330}, BottomCase{7, 50, 2},
                                           BottomCase{3, 60, 1}, BottomCase{10, 248, 12},
                                           BottomCase{10, 200, 10}));

// -size applies to every output: a page of no sheet size is refused for a run-length output too.
TEST_F(ResizeRun, SizeAppliesToOutputsOtherThanMmr) {
  const Page in = distinctLines(10, 100, 200);  // far from any sheet size
  writePage(dir_ / "in.rnl", kFormatRunLength, in);
  TranslateJob job;
  job.options.outFormat = kFormatRunLength;
  job.options.sizeCode = 5;
  EXPECT_FALSE(translate(dir_ / "in.rnl", "out.rnl", std::move(job)));
  EXPECT_EQ(messages_, std::string("vantrel: ") + kNotStandard + "\n");
}

TEST_F(ResizeRun, MmrOutputOfANonStandardPageIsRefused) {
  writePage(dir_ / "in.rnl", kFormatRunLength, distinctLines(10, 100, 200));
  TranslateJob job;
  job.options.outFormat = kFormatMmr;
  job.options.sizeCode = 11;
  EXPECT_FALSE(translate(dir_ / "in.rnl", "out.mmr", std::move(job)));
  EXPECT_EQ(messages_, std::string("vantrel: ") + kNotStandard + "\n");
}

// A0 at 200 dpi to A4: 1654 x 2339 written into an RCB of 1664 x 2368, which the mmr writer pads.
TEST_F(ResizeRun, A0ToA4IntoMmrIsRoundedTo32) {
  Page in{6622, 200, 200, {}};
  in.lines.assign(9362, Runs{{0, 4}, {6618, 6622}});
  in.lines.front() = in.lines.back() = Runs{{0, 6622}};
  writePage(dir_ / "in.rnl", kFormatRunLength, in);
  TranslateJob job;
  job.options.outFormat = kFormatMmr;
  job.options.sizeCode = 5;
  ASSERT_TRUE(translate(dir_ / "in.rnl", "out.mmr", std::move(job))) << messages_;
  Result r = readBack(dir_ / "out.mmr");
  ASSERT_EQ(r.open, 0);
  EXPECT_EQ(r.width, 1664);
  EXPECT_EQ(r.height, 2368);
  ASSERT_EQ(r.lines.size(), 2368u);
  EXPECT_EQ(r.lines[0], (Runs{{0, 1654}}));
  EXPECT_EQ(r.lines[1000], (Runs{{0, 1}, {1653, 1654}}));
  for (size_t j = 2339; j < 2368; ++j) EXPECT_EQ(r.lines[j], Runs{}) << "padding line " << j;
}

TEST_F(ResizeRun, OneUnknownResolutionCountsAs200) {
  const Page in = distinctLines(8, 64, 0);
  writePage(dir_ / "in.dump", kFormatRunDump, in);
  TranslateJob job;
  job.options.outXDpi = 400;
  job.options.outYDpi = 200;
  // x: 0 -> 200, so 400 doubles; y: 100 -> 200 doubles too.
  ASSERT_EQ(resizeDirect(dir_ / "in.dump", kFormatRunDump, 0, 100, job, kFormatRunDump, "out.dump"), 0);
  Result r = readBack(dir_ / "out.dump", kFormatRunDump);
  EXPECT_EQ(r.width, 128);
  EXPECT_EQ(r.lines.size(), 16u);
}

TEST_F(ResizeRun, WidePageAtHighTargetIsComputedInSixtyFourBits) {
  // 5000 columns at 50 dpi to 10000 dpi: 1000000 columns; 32-bit products would wrap.
  Page in{5000, 50, 50, {{{0, 5000}}, {{100, 101}, {4000, 4001}}}};
  writePage(dir_ / "in.dump", kFormatRunDump, in);
  TranslateJob job;
  job.options.outXDpi = 10000;
  ASSERT_EQ(resizeDirect(dir_ / "in.dump", kFormatRunDump, 50, 50, job, kFormatRunDump, "out.dump"), 0);
  Result r = readBack(dir_ / "out.dump", kFormatRunDump);
  EXPECT_EQ(r.width, 1000000);
  ASSERT_EQ(r.lines.size(), 2u);
  EXPECT_EQ(r.lines[0], (Runs{{0, 1000000}}));
  EXPECT_EQ(r.lines[1], (Runs{{20000, 20200}, {800000, 800200}}));
}

struct RefusedCase {
  const char* label;
  int32_t width;
  int32_t lines;
  double inDpi;
  double outXDpi;
  double outYDpi;
  RioStatus status;
};

class ResizeRefused : public ResizeRun, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(ResizeRefused, SizesThatCannotBeRepresented) {
  const RefusedCase& c = GetParam();
  Page in{c.width, 0, 0, {}};
  in.lines.assign(static_cast<size_t>(c.lines), Runs{{0, 1}});
  writePage(dir_ / "in.dump", kFormatRunDump, in);
  TranslateJob job;
  job.options.outXDpi = c.outXDpi;
  job.options.outYDpi = c.outYDpi;
  EXPECT_EQ(resizeDirect(dir_ / "in.dump", kFormatRunDump, c.inDpi, c.inDpi, job, kFormatRunDump, "out.dump"), c.status);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ResizeRefused,
    ::testing::Values(RefusedCase{"WidthBeyondALine", 13244, 1, 1, 10000, 0, kRioBadColumns},
                      RefusedCase{"WidthBelowOne", 1, 1, 10000, 50, 0, kRioBadColumns},
                      RefusedCase{"HeightBelowOne", 500, 1, 10000, 0, 50, kRioBadRows},
                      RefusedCase{"HeightBeyondInt32", 8, 3, 0.00001, 0, 10000, kRioBadRows},
                      // 6e7 x 200 pixels: beyond the page budget, which is judged before the width.
                      RefusedCase{"PageBeyondTheBudget", 300000, 1, 50, 10000, 10000, kRioBadRows}),
    [](const auto& info) { return std::string(info.param.label); });

// The built program: -odpi 400 into CALS gives every line twice, and reports success.
TEST_F(ResizeRun, ConsoleProgramDoublesIntoCals) {
  const Page in = distinctLines(30, 90, 200);
  writePage(dir_ / "in.rnl", kFormatRunLength, in);
  const std::string command = "cd '" + dir_.string() + "' && '" VANTREL_EXE "' in.rnl out.cg4 -odpi 400 > log.txt 2>&1";
  const int rc = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(rc));
  EXPECT_EQ(WEXITSTATUS(rc), 1);
  std::ifstream log(dir_ / "log.txt");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(log), {}), "Generating file: out.cg4\n" + kComplete);
  Result r = readBack(dir_ / "out.cg4");
  ASSERT_EQ(r.lines.size(), 60u);
  for (size_t j = 0; j < 60; ++j) {
    Runs expect;
    for (auto [s, e] : in.lines[j / 2]) expect.emplace_back(2 * s, 2 * e);
    EXPECT_EQ(r.lines[j], expect) << j;
  }
}

TEST_F(ResizeRun, PictureLinesAreServedAsInputLines) {
  writePage(dir_ / "in.rnl", kFormatRunLength, Page{40, 200, 300, {{}, {{2, 5}, {30, 40}}, {{0, 1}}}});
  FilePtr file(std::fopen((dir_ / "in.rnl").c_str(), "rb"));
  RunInput in;
  RasterFormatId formatRead = 0;
  ASSERT_EQ(in.openTurned(file.get(), 0, 180, 0, nullptr, &formatRead), 0);
  EXPECT_EQ(formatRead, kFormatRunLength);
  // Turned by a half turn: the rows in reverse order, each mirrored; the resolutions stay per axis.
  EXPECT_EQ(in.rcb()->xDpi, 200);
  EXPECT_EQ(in.rcb()->yDpi, 300);
  std::vector<Runs> got;
  while (in.next()) got.push_back(toRuns(in.rcb()->curSline));
  EXPECT_EQ(got, (std::vector<Runs>{{{39, 40}}, {{0, 10}, {35, 38}}, {}}));
  EXPECT_TRUE(in.endedWell());
  in.closeReader();
}

}  // namespace
}  // namespace vantrel
