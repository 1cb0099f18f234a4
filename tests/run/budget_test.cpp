// Budgets of a run: pages beyond 2^33 pixels or 2^20 rows or columns (ZEB_MAXPAGE raising those) on either
// side of the run, device output beyond 2^34 bytes, turned pages beyond the widest line, and pictures beyond their memory budget are refused before a byte is written, with the status that
// names the cause, little memory spent and no output left behind.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "rio/alloc.h"
#include "run/dialect.h"
#include "run/translate.h"
#include "tests/support/file_fixture.h"
#include "tests/support/recording_reporter.h"
#include "tests/support/run_pages.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;
using testruns::Page;

void putBe32(testfiles::Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// A native run-length page whose header then claims another size and resolution (0: as written).
struct Recipe {
  const char* name;
  uint32_t width, height;  // claimed
  uint32_t dpiTenths;
  std::vector<std::string> options;
  int64_t pictureBudget;
  const char* message;  // the status line of the failed run
  const char* maxPage = nullptr;  // the "ZEB_MAXPAGE" setting; nullptr: unset
  const char* outName = "out.pcl";
};

// One dot per 32 x 32 tile: every tile of the page is a real tile.
Page dottedPage(int32_t side) {
  Page page{side, 200, 200, {}};
  for (int32_t y = 0; y < side; ++y) {
    testruns::Runs line;
    if (y % 32 == 5)
      for (int32_t x = 3; x < side; x += 32) line.push_back({x, x + 1});
    page.lines.push_back(line);
  }
  return page;
}

class RunBudget : public testfiles::FileTest, public ::testing::WithParamInterface<Recipe> {};

TEST_P(RunBudget, RefusedBeforeAnythingIsWritten) {
  const Recipe& c = GetParam();
  const fs::path in = dir_ / "in.rnl";
  testruns::writePage(in, kFormatRunLength, dottedPage(1024));
  testfiles::Bytes bytes = testfiles::loadBytes(in);
  if (c.width != 0) putBe32(bytes, 30, c.width);
  if (c.height != 0) putBe32(bytes, 26, c.height);
  if (c.dpiTenths != 0) putBe32(bytes, 18, c.dpiTenths), putBe32(bytes, 22, c.dpiTenths);
  ASSERT_TRUE(testfiles::saveBytes(in, bytes));

  const std::string out = (dir_ / c.outName).string();
  std::vector<std::string> args = {in.string(), out};
  args.insert(args.end(), c.options.begin(), c.options.end());
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  testsupport::RecordingReporter reporter;
  RunEnvironment environment;
  environment.pictureBudget = c.pictureBudget;
  RioSettings settings;
  if (c.maxPage) settings.maxPageSide = c.maxPage;
  environment.settings = &settings;
  rioResetPeak();
  const int64_t before = rioBytesInUse();
  EXPECT_EQ(
      runTranslationEntry(kConsoleDialect, static_cast<int>(argv.size()), argv.data(), reporter, environment),
      RunOutcome::kFailed);
  EXPECT_EQ(reporter.all,
            "Generating file: " + out + "\nvantrel: " + c.message + "\nvantrel: Incomplete translation.\n");
  EXPECT_FALSE(fs::exists(out));
  EXPECT_LT(rioBytesPeak() - before, int64_t{1} << 20) << "refused before it spent memory";
}

INSTANTIATE_TEST_SUITE_P(
    Recipes, RunBudget,
    ::testing::Values(
        // A million by a million pixels claimed by a tiny file.
        Recipe{"HugeInputPage", 1000000, 1000000, 0, {}, 0, "too many or too few rows"},
        Recipe{"HugeInputPageTurned", 1000000, 1000000, 0, {"-rot", "90"}, 0, "too many or too few rows"},
        // 0.1 dpi claimed: -odpi 400 would be a 4000-fold enlargement.
        Recipe{"EnlargedBeyondTheBudget", 0, 0, 1, {"-odpi", "400"}, 0, "too many or too few rows"},
        // 32 x 2^25 fits the page budget, but turned it is far wider than a line.
        Recipe{"TurnedWiderThanALine", 32, 1u << 25, 0, {"-rot", "90"}, 0, "too many or too few columns", "0x2000000"},
        // Rows and columns one past 2^20, or past what ZEB_MAXPAGE raises it to.
        Recipe{"RowsPastTheSides", 32, (1u << 20) + 1, 0, {}, 0, "too many or too few rows"},
        Recipe{"ColumnsPastTheSides", (1u << 20) + 1, 32, 0, {}, 0, "too many or too few columns"},
        Recipe{"RowsPastTheRaisedSides", 32, (1u << 21) + 1, 0, {}, 0, "too many or too few rows", "2097152"},
        Recipe{"ShrinkingSettingIgnored", 32, (1u << 20) + 1, 0, {}, 0, "too many or too few rows", "1000"},
        Recipe{"ColumnsPastTheSidesAfterOdpi", 1024, 0, 90, {"-xdpi", "10000", "-ydpi", "50"}, 0,
               "too many or too few columns"},
        // Every row a whole Versatec line (1,766 bytes with its head): 2^24 rows pass 2^34 bytes.
        Recipe{"PlotterOutputPastItsBudget", 8, 1u << 24, 0, {}, 0, "too many or too few rows", "0x1000000",
               "out.vbf"},
        // The directory alone (and its second copy for the turn) passes a small budget.
        Recipe{"DirectoryBeyondTheBudget", 8192, 8192, 0, {"-rot", "90"}, 64 << 10, "out of memory"},
        // Every tile real: the tiles pass the budget while the page is imported.
        Recipe{"MixedTilesBeyondTheBudget", 0, 0, 0, {"-rot", "270"}, 64 << 10, "out of memory"}),
    [](const auto& info) { return std::string(info.param.name); });

class TurnBudget : public testfiles::FileTest {};

// The same dotted page within the default budget is turned.
TEST_F(TurnBudget, DottedPageTurnsWithinTheDefaultBudget) {
  const fs::path in = dir_ / "in.rnl";
  testruns::writePage(in, kFormatRunLength, dottedPage(1024));
  const std::string inName = in.string(), outName = (dir_ / "out.rnl").string();
  const char* argv[] = {inName.c_str(), outName.c_str(), "-rot", "90"};
  testsupport::RecordingReporter reporter;
  EXPECT_EQ(runTranslationEntry(kConsoleDialect, 4, argv, reporter), RunOutcome::kComplete) << reporter.all;
}

}  // namespace
}  // namespace vantrel
