// The batch run over real files with the user replaced by a script: output names, the same-file refusal,
// the overwrite question and its Yes to All, resolutions, failures recorded with their causes (and the
// stop at the first one), Cancel between lines, and printer jobs.
#include "gui/batch.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>

#include "rio/format_id.h"
#include "tests/gui/gui_support.h"

namespace vantrel::gui {
namespace {

using testing::FakeBatchUi;
using testing::framedPage;
using testing::ScratchFolder;
using testread::readBack;
using testruns::writePage;

const OutputFormatRow& row(const char* rofName) {
  for (const OutputFormatRow& r : outputFormatRows())
    if (std::string(r.rofName) == rofName) return r;
  throw std::invalid_argument(rofName);
}

std::string load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct NameCase {
  const char* input;
  bool useInputDir;
  const char* outputDir;
  const char* extension;
  const char* output;
};

class OutputName : public ::testing::TestWithParam<NameCase> {};

TEST_P(OutputName, IsTheBaseNameWithTheRowsExtension) {
  const NameCase& c = GetParam();
  EXPECT_EQ(outputPathFor(c.input, c.useInputDir, c.outputDir, c.extension), c.output);
}

INSTANTIATE_TEST_SUITE_P(
    Names, OutputName,
    ::testing::Values(NameCase{"/scans/part.001.tif", true, "/out/", "pcl", "/scans/part.001.pcl"},
                      NameCase{"/scans/part", false, "/out/", "tif", "/out/part.tif"},
                      NameCase{"/scans.d/part", true, "", "tif", "/scans.d/part.tif"},
                      NameCase{"/scans/part.tif", false, "/out/", "cg4", "/out/part.cg4"},
                      NameCase{"part.tif", true, "", "g4", "part.g4"}));

class Batch : public ::testing::Test {
 protected:
  BatchPlan plan(const char* rofName, std::vector<std::string> inputs) {
    BatchPlan p;
    p.inputs = std::move(inputs);
    p.row = row(rofName);
    p.useInputDir = false;
    p.outputDir = scratch_.slash();
    return p;
  }
  BatchSummary run(const BatchPlan& p, const PrintJobFactory& jobs = {}) {
    return runBatch(p, ui_, jobs, &ask_);
  }

  ScratchFolder scratch_;
  FakeBatchUi ui_;
  bool ask_ = true;
};

std::vector<std::string> causes(const BatchSummary& s) {
  std::vector<std::string> all;
  for (const FileOutcome& f : s.files)
    if (!f.cause.empty()) all.push_back(f.input + ": " + f.cause);
  return all;
}

// The same-file refusal names the file and fails that file; only Stop at the first error ends the run.
class SameFile : public Batch, public ::testing::WithParamInterface<bool> {};

TEST_P(SameFile, FailsThatFileNamingIt) {
  const bool stop = GetParam();
  writePage(scratch_.at("x.cg4"), kFormatCals, framedPage(64, 8, 200));
  writePage(scratch_.at("y.rnl"), kFormatRunLength, framedPage(64, 8, 200));
  const std::string before = load(scratch_.at("x.cg4"));
  BatchPlan p = plan("calsg4", {scratch_.at("x.cg4"), scratch_.at("y.rnl")});
  p.stopAtFirstError = stop;
  const BatchSummary s = run(p);
  EXPECT_EQ(s.stopped, stop);
  EXPECT_EQ(s.translated, stop ? 0 : 1);
  EXPECT_EQ(causes(s), std::vector<std::string>{
                           scratch_.at("x.cg4") +
                           ": Output file cannot be the same as input file:" + scratch_.at("x.cg4")});
  EXPECT_EQ(s.files[1].result, stop ? FileResult::kNotTranslated : FileResult::kTranslated);
  EXPECT_EQ(load(scratch_.at("x.cg4")), before);
  EXPECT_EQ(std::filesystem::exists(scratch_.at("y.cg4")), !stop);
}

INSTANTIATE_TEST_SUITE_P(StopAtFirstError, SameFile, ::testing::Bool());

// An output name that is the input under another name (a hard link in the output directory) is refused
// before the input is overwritten.
TEST_F(Batch, TheInputUnderAnotherNameIsRefused) {
  std::filesystem::create_directory(scratch_.at("in"));
  std::filesystem::create_directory(scratch_.at("out"));
  testruns::writePage(scratch_.at("in/x.g4"), kFormatNativeG4, framedPage(64, 8, 200));
  std::filesystem::create_hard_link(scratch_.at("in/x.g4"), scratch_.at("out/x.g4"));
  BatchPlan p = plan("zebg4", {scratch_.at("in/x.g4")});
  p.outputDir = scratch_.at("out/");
  ui_.answers = {OverwriteAnswer::kYes};
  const BatchSummary s = run(p);
  EXPECT_EQ(s.count(FileResult::kFailed), 1);
  EXPECT_EQ(causes(s), std::vector<std::string>{
                           scratch_.at("in/x.g4") +
                           ": Output file cannot be the same as input file:" + scratch_.at("in/x.g4")});
  EXPECT_TRUE(ui_.questions.empty());
  EXPECT_EQ(readBack(scratch_.at("in/x.g4")).lines, framedPage(64, 8, 200).lines);
}

// Names that differ in case are different files here: the run goes on.
TEST_F(Batch, ANameDifferingInCaseIsAnotherFile) {
  writePage(scratch_.at("x.CG4"), kFormatCals, framedPage(64, 8, 200));
  const BatchSummary s = run(plan("calsg4", {scratch_.at("x.CG4")}));
  EXPECT_FALSE(s.stopped);
  EXPECT_EQ(s.completed, 1) << ::testing::PrintToString(causes(s));
  EXPECT_EQ(readBack(scratch_.at("x.cg4")).lines, framedPage(64, 8, 200).lines);
}

TEST_F(Batch, YesToAllLastsAcrossRuns) {
  for (const char* name : {"a", "b"}) {
    writePage(scratch_.at(std::string(name) + ".rnl"), kFormatRunLength, framedPage(64, 8, 200));
    std::ofstream(scratch_.at(std::string(name) + ".g4")) << "old";
  }
  const BatchPlan p = plan("zebg4", {scratch_.at("a.rnl"), scratch_.at("b.rnl")});
  ui_.answers = {OverwriteAnswer::kYesToAll};
  EXPECT_EQ(run(p).completed, 2);
  EXPECT_EQ(ui_.questions, std::vector<std::string>{scratch_.at("a.g4")});
  EXPECT_FALSE(ask_);
  EXPECT_EQ(run(p).completed, 2);
  EXPECT_EQ(ui_.questions.size(), 1u) << "no question in a later run";
}

TEST_F(Batch, NoSkipsTheFileAndYesOverwritesIt) {
  for (const char* name : {"a", "b"}) {
    writePage(scratch_.at(std::string(name) + ".rnl"), kFormatRunLength, framedPage(64, 8, 200));
    std::ofstream(scratch_.at(std::string(name) + ".g4")) << "old";
  }
  ui_.answers = {OverwriteAnswer::kNo, OverwriteAnswer::kYes};
  const BatchSummary s = run(plan("zebg4", {scratch_.at("a.rnl"), scratch_.at("b.rnl")}));
  EXPECT_EQ(s.translated, 1);
  EXPECT_EQ(s.files[0].result, FileResult::kSkipped);
  EXPECT_EQ(load(scratch_.at("a.g4")), "old");
  EXPECT_EQ(readBack(scratch_.at("b.g4")).lines.size(), 8u);
  EXPECT_TRUE(ask_);
  EXPECT_EQ(ui_.progress.size(), 2u) << "a skipped file is shown too";
}

TEST_F(Batch, APageWithoutResolutionIsWrittenAt200Dpi) {
  writePage(scratch_.at("in.rnl"), kFormatRunLength, framedPage(64, 8, 0));
  EXPECT_EQ(run(plan("tiffg4", {scratch_.at("in.rnl")})).completed, 1);
  const testread::PageRecord back = readBack(scratch_.at("in.tif"));
  EXPECT_EQ(back.xDpi, 200);
  EXPECT_EQ(back.yDpi, 200);
}

TEST_F(Batch, ResamplingTo200DpiRoundsTheSizeUp) {
  writePage(scratch_.at("in.rnl"), kFormatRunLength, framedPage(1000, 1000, 300));
  std::filesystem::create_directory(scratch_.at("out"));
  BatchPlan p = plan("rnl", {scratch_.at("in.rnl")});
  p.outputDir = scratch_.at("out/");
  p.xResolution = "200";
  p.yResolution = "200";
  ASSERT_EQ(run(p).completed, 1);
  const testread::PageRecord back = readBack(scratch_.at("out/in.rnl"));
  EXPECT_EQ(back.width, 667);
  EXPECT_EQ(back.lines.size(), 667u);
}

TEST_F(Batch, AFailedFileIsReportedRemovedAndTheRunGoesOn) {
  std::ofstream(scratch_.at("junk.tif")) << "II not a TIFF";
  writePage(scratch_.at("good.rnl"), kFormatRunLength, framedPage(64, 8, 200));
  const BatchSummary s =
      run(plan("calsg4", {scratch_.at("junk.tif"), scratch_.at("missing.rnl"), scratch_.at("good.rnl")}));
  EXPECT_EQ(s.translated, 3);
  EXPECT_EQ(s.completed, 1);
  EXPECT_EQ(causes(s), (std::vector<std::string>{scratch_.at("junk.tif") + ": bad header data",
                                                 scratch_.at("missing.rnl") + ": Cannot open input file: No such file or directory"}));
  EXPECT_FALSE(std::filesystem::exists(scratch_.at("junk.cg4")));
  EXPECT_TRUE(std::filesystem::exists(scratch_.at("good.cg4")));
}

// A print job that keeps its bytes, or refuses them all.
class MemoryJob : public PrintJob {
 public:
  MemoryJob(std::string* bytes, bool refuse) : bytes_(bytes), refuse_(refuse) {}
  OutputSink sink() override { return {write, nullptr, this}; }

 private:
  static size_t write(const void* data, size_t size, size_t count, void* context) {
    auto* self = static_cast<MemoryJob*>(context);
    if (self->refuse_) return 0;
    self->bytes_->append(static_cast<const char*>(data), size * count);
    return count;
  }
  std::string* bytes_;
  bool refuse_;
};

TEST_F(Batch, PrintsEachFileAsOneJobAndSkipsACancelledChoice) {
  for (const char* name : {"a", "b", "c"})
    writePage(scratch_.at(std::string(name) + ".rnl"), kFormatRunLength, framedPage(640, 80, 300));
  BatchPlan p = plan("rtl", {scratch_.at("a.rnl"), scratch_.at("b.rnl"), scratch_.at("c.rnl")});
  p.printToDevice = true;
  ui_.printers = {"plotter", std::nullopt, "gone"};
  std::map<std::string, std::string> jobs;  // title -> bytes
  std::vector<std::string> printers;
  const BatchSummary s = run(p, [&](const std::string& printer, const std::string& title) {
    printers.push_back(printer);
    return std::make_unique<MemoryJob>(&jobs[title], printer == "gone");
  });
  EXPECT_EQ(s.translated, 2);
  EXPECT_EQ(s.completed, 1);
  EXPECT_EQ(printers, (std::vector<std::string>{"plotter", "gone"}));
  EXPECT_EQ(ui_.progress, (std::vector<std::string>{scratch_.at("a.rnl") + " -> plotter",
                                                    scratch_.at("c.rnl") + " -> gone"}));
  EXPECT_EQ(causes(s),
            (std::vector<std::string>{scratch_.at("b.rnl") + ": no printer chosen",
                                      scratch_.at("c.rnl") + ": unable to complete writing file"}));
  // The job holds what a file of the same run holds.
  ASSERT_EQ(run(plan("rtl", {scratch_.at("a.rnl")})).completed, 1);
  EXPECT_EQ(jobs["a.rnl"], load(scratch_.at("a.rtl")));
  EXPECT_TRUE(ui_.questions.empty());
}

}  // namespace
}  // namespace vantrel::gui
