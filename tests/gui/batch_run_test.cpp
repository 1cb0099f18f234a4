// A batch as a whole: bad files among good ones recorded with their causes while the run goes on (or
// ending it, with Stop at the first error), Cancel stopping the file it is in between lines and leaving
// no partial output, and the summary naming every file under its outcome.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "gui/batch.h"
#include "gui/format_table.h"
#include "gui/summary.h"
#include "rio/format_id.h"
#include "tests/gui/gui_support.h"

namespace vantrel::gui {
namespace {

using testing::a0Drawings;
using testing::FakeBatchUi;
using testing::filesIn;
using testing::framedPage;
using testing::ScratchFolder;
using testruns::writePage;

constexpr int kCalsRow = 0;

BatchPlan calsPlan(std::vector<std::string> inputs, const std::string& outputDir) {
  BatchPlan plan;
  plan.inputs = std::move(inputs);
  plan.row = outputFormatRows()[kCalsRow];
  plan.useInputDir = false;
  plan.outputDir = outputDir;
  return plan;
}

struct BadFilesCase {
  bool stopAtFirstError;
  int outputs;
  int failed;
  int notTranslated;
};

class BadFiles : public ::testing::TestWithParam<BadFilesCase> {};

// Ten inputs, of which the 3rd, 6th and 9th cannot be translated for three different reasons.
TEST_P(BadFiles, AreRecordedWithTheirCauses) {
  const BadFilesCase& c = GetParam();
  ScratchFolder scratch;
  std::filesystem::create_directory(scratch.at("out"));
  std::vector<std::string> inputs;
  const std::map<int, std::string> bad = {
      {2, "bad header data"},
      {5, "Cannot open input file: No such file or directory"},
      {8, "unknown raster format type: its first bytes (70 6c 61 69 6e) are those of no format read here"}};
  for (int i = 0; i < 10; ++i) {
    const std::string input = scratch.at("page" + std::to_string(i) + ".rnl");
    inputs.push_back(input);
    if (i == 2) std::ofstream(input) << "II not a TIFF";
    if (i == 8) std::ofstream(input) << "plain text, no raster";
    if (!bad.count(i)) writePage(input, kFormatRunLength, framedPage(64, 8, 200));
  }
  inputs[2] = scratch.at("page2.tif");
  std::filesystem::rename(scratch.at("page2.rnl"), inputs[2]);
  BatchPlan plan = calsPlan(inputs, scratch.at("out/"));
  plan.stopAtFirstError = c.stopAtFirstError;
  FakeBatchUi ui;
  bool ask = true;
  const BatchSummary s = runBatch(plan, ui, {}, &ask);

  EXPECT_EQ(filesIn(scratch.at("out")).size(), static_cast<size_t>(c.outputs));
  EXPECT_EQ(s.count(FileResult::kTranslated), c.outputs);
  EXPECT_EQ(s.count(FileResult::kFailed), c.failed);
  EXPECT_EQ(s.count(FileResult::kNotTranslated), c.notTranslated);
  EXPECT_EQ(s.stopped, c.stopAtFirstError);
  const std::string text = summaryText(s);
  int named = 0;
  for (const auto& [index, cause] : bad) {
    const std::string line = "  " + inputs[index] + ": " + cause + "\n";
    if (named < c.failed) {
      EXPECT_NE(text.find(line), std::string::npos) << text;
    }
    ++named;
  }
  EXPECT_EQ(text.rfind("Translated " + std::to_string(c.outputs) + ", failed " + std::to_string(c.failed), 0),
            0u)
      << text;
}

INSTANTIATE_TEST_SUITE_P(StopAtFirstError, BadFiles,
                         ::testing::Values(BadFilesCase{false, 7, 3, 0}, BadFilesCase{true, 2, 1, 7}));

// Cancel asked for while the 5th of 20 A0 pages begins: that file stops at its first line and leaves
// nothing behind, the 15 after it are not translated. Copied as it is (one RCB) and resampled.
class BatchCancel : public ::testing::TestWithParam<const char*> {};

TEST_P(BatchCancel, StopsWithinTheFileItIsIn) {
  ScratchFolder scratch;
  BatchPlan plan = calsPlan(a0Drawings(), scratch.slash());
  if (*GetParam()) plan.xResolution = plan.yResolution = GetParam();
  RunWatch watch;
  RunEnvironment environment;
  environment.watch = &watch;
  FakeBatchUi ui;
  ui.onProgress = [&](int index, int count) {
    EXPECT_EQ(count, 20);
    if (index == 5) watch.cancel.store(true);
  };
  bool ask = true;
  const BatchSummary s = runBatch(plan, ui, {}, &ask, environment);
  EXPECT_TRUE(s.cancelled);
  EXPECT_EQ(s.count(FileResult::kTranslated), 4);
  EXPECT_EQ(s.files[4].result, FileResult::kCancelled);
  EXPECT_EQ(s.count(FileResult::kNotTranslated), 15);
  EXPECT_EQ(ui.progress.size(), 5u);
  EXPECT_LT(watch.rows.load(), watch.height.load());
  EXPECT_EQ(filesIn(scratch.path()),
            (std::vector<std::string>{"a0-1.cg4", "a0-2.cg4", "a0-3.cg4", "a0-4.cg4"}));
  EXPECT_NE(summaryText(s).find("Cancelled (output removed):\n  " + a0Drawings()[4] + "\n"),
            std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Paths, BatchCancel, ::testing::Values("", "50"));

}  // namespace
}  // namespace vantrel::gui
