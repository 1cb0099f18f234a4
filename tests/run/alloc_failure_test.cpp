// Allocation failures through whole translations: every reader into a fax writer and a device writer, and
// the -rot and -odpi paths. Failing each accounted allocation in turn ends the run as out of memory (or, for
// a block that was only to shrink, lets it complete), gives back every accounted byte and leaves no output
// file; with no failure left to inject the run completes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "rio/alloc.h"
#include "run/dialect.h"
#include "run/translate.h"
#include "tests/support/recording_reporter.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

struct FailureRun {
  const char* input;  // drawgen's format name, also the input's extension
  const char* output;
  std::vector<std::string> options;
};

std::string label(const FailureRun& r) {
  std::string s = std::string(r.input) + "_to_" + r.output;
  for (const std::string& o : r.options) s += o[0] == '-' ? "_" + o.substr(1) : o;
  return s;
}

class AllocationFailure : public ::testing::TestWithParam<FailureRun> {
 protected:
  void SetUp() override {
    dir_ =
        fs::temp_directory_path() / ("vantrel_alloc_" + std::to_string(::getpid()) + "_" + label(GetParam()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    rioFailAllocationAfter(-1);
    fs::remove_all(dir_);
  }
  fs::path dir_;
};

TEST_P(AllocationFailure, EachFailureIsOutOfMemoryAndLeavesNothing) {
  const FailureRun& c = GetParam();
  const std::string in = (dir_ / (std::string("in.") + c.input)).string();
  const std::string out = (dir_ / (std::string("out.") + c.output)).string();
  ASSERT_EQ(
      std::system((std::string(DRAWGEN_EXE) + " -w 230 -h 97 -dpi 200 -f " + c.input + " " + in).c_str()), 0);
  std::vector<std::string> args = {in, out};
  args.insert(args.end(), c.options.begin(), c.options.end());
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());

  const int64_t baseline = rioBytesInUse();
  int failures = 0;
  for (int64_t n = 0;; ++n) {
    testsupport::RecordingReporter reporter;
    rioFailAllocationAfter(n);
    const RunOutcome outcome =
        runTranslationEntry(kConsoleDialect, static_cast<int>(argv.size()), argv.data(), reporter);
    const bool injected = !rioAllocationFailurePending();
    rioFailAllocationAfter(-1);
    ASSERT_EQ(rioBytesInUse(), baseline) << "allocation " << n;
    if (!injected) {
      EXPECT_EQ(outcome, RunOutcome::kComplete) << reporter.all;
      break;
    }
    if (outcome == RunOutcome::kComplete) {
      // A failure the run can do without (a block that was to shrink keeps its size): a complete page.
      fs::remove(out);
      continue;
    }
    ++failures;
    EXPECT_EQ(outcome, RunOutcome::kFailed) << "allocation " << n;
    EXPECT_NE(reporter.all.find("ut of memory"), std::string::npos)
        << "allocation " << n << ": " << reporter.all;
    EXPECT_FALSE(fs::exists(out)) << "allocation " << n;
    ASSERT_LT(n, 10000) << "the run never completes";
  }
  EXPECT_GT(failures, 3);
}

std::vector<FailureRun> runs() {
  std::vector<FailureRun> r;
  for (const char* input :
       {"rnl", "g3", "g4", "cg4", "tif", "tiffg3", "tiffu", "tiled", "opt", "pcx", "mmr", "cit", "rlc"})
    for (const char* output : {"cg4", "pcl"}) r.push_back({input, output, {}});
  r.push_back({"tif", "rnl", {"-rot", "90"}});
  r.push_back({"cg4", "tiled", {"-rot", "270"}});
  r.push_back({"tif", "cg4", {"-odpi", "100"}});
  r.push_back({"rnl", "mmr", {"-odpi", "300"}});
  return r;
}

INSTANTIATE_TEST_SUITE_P(Translations, AllocationFailure, ::testing::ValuesIn(runs()),
                         [](const auto& info) { return label(info.param); });

}  // namespace
}  // namespace vantrel
