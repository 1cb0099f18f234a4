// The main dialog's rules without widgets: enable rules, number and directory edits, the input list,
// the format row's print box, the run's phases and the plan it hands to the batch run.
#include "gui/presenter.h"

#include <gtest/gtest.h>

#include "tests/gui/gui_support.h"

namespace vantrel::gui {
namespace {

using testing::ScratchFolder;

constexpr int kHpPcl = 14;
constexpr int kG4Tiff = 8;

struct BoxCase {
  bool useOrigDpi, useOrigRes, useInputDir, print;
  bool dpiEnabled, resolutionsEnabled, outputDirEnabled, useInputDirEnabled;
};

class ControlRules : public ::testing::TestWithParam<BoxCase> {};

TEST_P(ControlRules, FollowTheBoxes) {
  const BoxCase& c = GetParam();
  Presenter p({});
  p.setUseOrigDpi(c.useOrigDpi);
  p.setUseOrigRes(c.useOrigRes);
  p.setUseInputDir(c.useInputDir);
  ASSERT_TRUE(p.selectFormat(kHpPcl));
  p.printerChosen("plotter");
  p.setPrintToDevice(c.print);
  const ControlStates s = p.controls();
  EXPECT_EQ(s.dpiEnabled, c.dpiEnabled);
  EXPECT_EQ(s.resolutionsEnabled, c.resolutionsEnabled);
  EXPECT_EQ(s.outputDirEnabled, c.outputDirEnabled);
  EXPECT_EQ(s.useInputDirEnabled, c.useInputDirEnabled);
}

INSTANTIATE_TEST_SUITE_P(Boxes, ControlRules,
                         ::testing::Values(BoxCase{true, true, true, false, false, false, false, true},
                                           BoxCase{false, true, true, false, true, false, false, true},
                                           BoxCase{true, false, false, false, false, true, true, true},
                                           // Printing disables the directory and its box, whatever they say.
                                           BoxCase{true, true, false, true, false, false, false, false},
                                           BoxCase{false, false, true, true, true, true, false, false}));

struct NumberCase {
  const char* typed;
  const char* left;  // the edit's text afterwards
  bool outOfRange;
  int stored;
};

class NumberEdit : public ::testing::TestWithParam<NumberCase> {};

TEST_P(NumberEdit, KeepsTheRangeAndCutsTheText) {
  Presenter p({});
  const NumberCheck check = p.leaveNumber(NumberField::kXResolution, GetParam().typed);
  EXPECT_EQ(check.text, GetParam().left);
  EXPECT_EQ(check.outOfRange, GetParam().outOfRange);
  EXPECT_EQ(p.settings().xResolution, GetParam().stored);
  EXPECT_EQ(p.numberText(NumberField::kXResolution), GetParam().left);
}

INSTANTIATE_TEST_SUITE_P(
    Values, NumberEdit,
    ::testing::Values(NumberCase{"20000", "2000", true, 2000}, NumberCase{"30", "30", true, 30},
                      NumberCase{"50", "50", false, 50}, NumberCase{"10000", "10000", false, 10000},
                      NumberCase{"10001", "1000", true, 1000}, NumberCase{"", "", true, 0},
                      NumberCase{"99999999999", "9999", true, 9999}));

TEST(Presenter, NumberEditsTakeDigitsAndBackspaceOnly) {
  for (char32_t c : {U'0', U'5', U'9', U'\b'}) EXPECT_TRUE(Presenter::acceptsCharacter(c)) << int(c);
  for (char32_t c : {U'a', U'-', U'.', U' ', U'+', U'\u0663'})
    EXPECT_FALSE(Presenter::acceptsCharacter(c)) << int(c);
}

TEST(Presenter, ADirectoryIsStoredWithItsSeparatorOnlyWhenAFileCanBeMadeInIt) {
  ScratchFolder scratch;
  Presenter p({});
  const std::string typed = scratch.path().string();
  DirectoryCheck check = p.leaveDirectory(typed);
  EXPECT_EQ(check.problem, DirectoryProblem::kNone);
  EXPECT_EQ(check.directory, typed + "/");
  EXPECT_EQ(p.settings().outputDir, typed + "/");
  EXPECT_TRUE(std::filesystem::is_empty(scratch.path())) << "the test file stays behind";

  check = p.leaveDirectory(scratch.at("missing"));
  EXPECT_EQ(check.problem, DirectoryProblem::kInvalidPath);
  // /sys refuses new files even to root.
  EXPECT_EQ(p.leaveDirectory("/sys").problem, DirectoryProblem::kAccessDenied);
  EXPECT_EQ(p.settings().outputDir, typed + "/") << "a failed check keeps the old directory";
}

TEST(Presenter, AFileIsADuplicateOnlyUnderTheSamePath) {
  Presenter p({});
  EXPECT_EQ(p.addFiles({"/a/x.tiff", "/a/x.tif", "/a/X.tif"}), 3);
  EXPECT_EQ(p.addFiles({"/a/x.tif", "/a/x.ti", "/a/x.tif"}), 1);
  EXPECT_EQ(p.files(), (std::vector<std::string>{"/a/x.tiff", "/a/x.tif", "/a/X.tif", "/a/x.ti"}));
  EXPECT_TRUE(p.controls().translateEnabled);
}

TEST(Presenter, RemovesTheSelectedRowsAndDisablesWhatNoLongerApplies) {
  Presenter p({});
  p.addFiles({"/a", "/b", "/c", "/d"});
  p.selectionChanged(2);
  EXPECT_TRUE(p.controls().removeEnabled);
  p.removeFiles({3, 1});
  EXPECT_EQ(p.files(), (std::vector<std::string>{"/a", "/c"}));
  EXPECT_FALSE(p.controls().removeEnabled);
  p.removeFiles({0, 1});
  EXPECT_FALSE(p.controls().translateEnabled);
}

TEST(Presenter, ADeviceRowAsksForAPrinterAndAFileRowHidesThePrintBox) {
  Presenter p({});
  EXPECT_TRUE(p.selectFormat(kHpPcl));
  EXPECT_FALSE(p.controls().printBoxVisible) << "shown only once a printer is chosen";
  p.printerChosen("plotter");
  ControlStates s = p.controls();
  EXPECT_TRUE(s.printBoxVisible);
  EXPECT_FALSE(s.printBoxChecked);
  EXPECT_EQ(s.printBoxCaption, "Print to plotter");
  p.setPrintToDevice(true);
  EXPECT_TRUE(p.controls().printBoxChecked);
  EXPECT_FALSE(p.selectFormat(kG4Tiff));
  s = p.controls();
  EXPECT_FALSE(s.printBoxVisible);
  EXPECT_FALSE(s.printBoxChecked);
  EXPECT_TRUE(s.useInputDirEnabled);
  EXPECT_EQ(p.settings().outputFormat, kG4Tiff);
}

TEST(Presenter, ARunGoesFromIdleToDoneAndRestartEmptiesTheList) {
  Presenter p({});
  p.addFiles({"/a"});
  p.selectionChanged(1);
  (void)p.startRun();
  ControlStates s = p.controls();
  EXPECT_FALSE(s.translateVisible);
  EXPECT_FALSE(s.addEnabled);
  EXPECT_FALSE(s.removeEnabled);
  EXPECT_FALSE(s.restartVisible);
  EXPECT_FALSE(s.quitEnabled);
  p.runFinished();
  s = p.controls();
  EXPECT_TRUE(s.restartVisible);
  EXPECT_FALSE(s.translateVisible);
  EXPECT_FALSE(s.addEnabled) << "Add Files waits for Restart";
  EXPECT_TRUE(s.quitEnabled);
  p.restart();
  s = p.controls();
  EXPECT_TRUE(p.files().empty());
  EXPECT_TRUE(s.addEnabled);
  EXPECT_TRUE(s.translateVisible);
  EXPECT_FALSE(s.translateEnabled);
  EXPECT_FALSE(s.restartVisible);
}

struct PlanCase {
  bool useOrigDpi, useOrigRes;
  std::vector<std::string> args;
};

class RunPlan : public ::testing::TestWithParam<PlanCase> {};

TEST_P(RunPlan, GivesTheArgumentVector) {
  DialogSettings settings;
  settings.outputFormat = kHpPcl;
  settings.useOrigDpi = GetParam().useOrigDpi;
  settings.useOrigRes = GetParam().useOrigRes;
  Presenter p(settings);
  p.addFiles({"/s/part.001.tif"});
  (void)p.leaveNumber(NumberField::kDpi, "300");
  (void)p.leaveNumber(NumberField::kYResolution, "400");
  const BatchPlan plan = p.startRun();
  const std::vector<std::string> args = argumentVector(plan.inputs[0], "/s/part.001.pcl", plan);
  EXPECT_EQ(args, GetParam().args);
  EXPECT_LE(args.size(), 11u);
}

INSTANTIATE_TEST_SUITE_P(
    Options, RunPlan,
    ::testing::Values(
        PlanCase{true, true, {"Vantrel", "/s/part.001.tif", "/s/part.001.pcl", "-rof", "pcl"}},
        PlanCase{
            false, true, {"Vantrel", "/s/part.001.tif", "/s/part.001.pcl", "-rof", "pcl", "-dpi", "300"}},
        PlanCase{
            true,
            false,
            {"Vantrel", "/s/part.001.tif", "/s/part.001.pcl", "-rof", "pcl", "-xdpi", "200", "-ydpi", "400"}},
        PlanCase{false,
                 false,
                 {"Vantrel", "/s/part.001.tif", "/s/part.001.pcl", "-rof", "pcl", "-dpi", "300", "-xdpi",
                  "200", "-ydpi", "400"}}));

TEST(Presenter, AStoredRowOutsideTheListSelectsTheFirst) {
  DialogSettings settings;
  settings.outputFormat = formatRowCount();
  EXPECT_EQ(Presenter(settings).formatRow(), 0);
}

}  // namespace
}  // namespace vantrel::gui
