// The batch translator's translation entry, driven as the dialog drives it: one read-write RCB for a
// plain copy, resampling with sizes rounded up, each problem reported in its own words, and no output
// left behind by a failed file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "formats/registry.h"
#include "rio/alloc.h"
#include "run/translate.h"
#include "tests/support/read_back.h"
#include "tests/support/file_fixture.h"
#include "tests/support/recording_reporter.h"
#include "tests/support/run_pages.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;
using testread::PageRecord;
using testread::readBack;
using testruns::framedPage;
using testruns::Page;
using testruns::Runs;
using testruns::writePage;

class BatchRun : public testfiles::FileTest {
 protected:

  std::string at(const char* name) const { return (dir_ / name).string(); }

  RunOutcome run(std::vector<std::string> args) {
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    reporter_ = {};
    return runTranslationEntry(kBatchDialect, static_cast<int>(argv.size()), argv.data(), reporter_);
  }

  testsupport::RecordingReporter reporter_;
};

// Every readable-and-writable pair copies the page through one RCB, byte for byte the pixels.
TEST_F(BatchRun, CopiesThroughOneRcbIntoEveryWritableFileFormat) {
  const Page page = framedPage(301, 57, 300);
  writePage(dir_ / "in.rnl", kFormatRunLength, page);
  for (const char* name : {"rnl", "g3", "g4", "cg4", "tif", "opt", "tiffu", "tiffg3", "tiled", "mmr"}) {
    SCOPED_TRACE(name);
    const std::string out = at("out.") + name;
    ASSERT_EQ(run({at("in.rnl"), out, "-rof", name}), RunOutcome::kComplete) << reporter_.all;
    EXPECT_EQ(reporter_.all, "");
    const PageRecord back = readBack(out);
    EXPECT_EQ(back.width, page.width);
    EXPECT_EQ(back.lines, page.lines);
    fs::remove(out);
  }
}

TEST_F(BatchRun, AnInputWithoutResolutionIsWrittenAt200Dpi) {
  writePage(dir_ / "in.rnl", kFormatRunLength, framedPage(64, 8, 0));
  ASSERT_EQ(run({at("in.rnl"), at("out.cg4"), "-rof", "cg4"}), RunOutcome::kComplete) << reporter_.all;
  const PageRecord back = readBack(at("out.cg4"));
  EXPECT_EQ(back.xDpi, 200);
  EXPECT_EQ(back.yDpi, 200);
  ASSERT_EQ(run({at("in.rnl"), at("out.tif"), "-rof", "tif", "-dpi", "150"}), RunOutcome::kComplete);
  EXPECT_EQ(readBack(at("out.tif")).xDpi, 150);
}

// The batch translator rounds a resampled side up: 1000 pixels at 300 dpi become 334 at 100 dpi where
// the console makes 333, and 667 at 200 dpi in both.
TEST_F(BatchRun, ResamplingRoundsTheSizesUp) {
  writePage(dir_ / "in.rnl", kFormatRunLength, framedPage(1000, 1000, 300));
  ASSERT_EQ(run({at("in.rnl"), at("a.rnl"), "-xdpi", "200", "-ydpi", "200"}), RunOutcome::kComplete)
      << reporter_.all;
  const PageRecord a = readBack(at("a.rnl"));
  EXPECT_EQ(a.width, 667);
  EXPECT_EQ(a.lines.size(), 667u);
  EXPECT_EQ(a.xDpi, 200);
  ASSERT_EQ(run({at("in.rnl"), at("b.rnl"), "-odpi", "100"}), RunOutcome::kComplete) << reporter_.all;
  const PageRecord b = readBack(at("b.rnl"));
  EXPECT_EQ(b.width, 334);
  EXPECT_EQ(b.lines.size(), 334u);
  // Black wins when lines merge: the frame's top and left edges survive. Run positions scale by the
  // truncated factor, so the column that rounding up added stays white.
  EXPECT_EQ(b.lines.front(), (Runs{{0, 333}}));
  EXPECT_EQ(b.lines[100].front(), std::make_pair(0, 1));
}

struct Refusal {
  const char* label;
  std::vector<std::string> args;  // "@" stands for the scratch folder
  std::vector<std::string> messages;
  const char* leftBehind;  // a file that must not exist afterwards
};

class BatchRefusal : public BatchRun, public ::testing::WithParamInterface<Refusal> {};

TEST_P(BatchRefusal, ReportsAndLeavesNoOutput) {
  writePage(dir_ / "in.rnl", kFormatRunLength, framedPage(64, 8, 200));
  std::ofstream(dir_ / "text.tif") << "II this is not really a TIFF file";
  std::ofstream(dir_ / "junk.bin") << "nothing a reader knows";
  // A B4 header of a version the reader does not know (offset 28 holds 2, not 1).
  std::string b4(128, '\0');
  b4[0] = static_cast<char>(128);
  b4[4] = b4[6] = 1;
  b4[29] = 2;
  std::ofstream(dir_ / "old.b4", std::ios::binary) << b4;
  std::vector<std::string> args;
  for (std::string a : GetParam().args) args.push_back(a[0] == '@' ? (dir_ / a.substr(1)).string() : a);
  EXPECT_NE(run(args), RunOutcome::kComplete);
  EXPECT_EQ(reporter_.errors, GetParam().messages);
  EXPECT_FALSE(fs::exists(dir_ / GetParam().leftBehind));
}

INSTANTIATE_TEST_SUITE_P(
    Files, BatchRefusal,
    ::testing::Values(
        Refusal{"UnknownFormat", {"@junk.bin", "@out.cg4"}, {"unknown raster format type", "Incomplete translation"},
                "out.cg4"},
        Refusal{"BadTiff", {"@text.tif", "@out.cg4"}, {"bad header data", "Incomplete translation"}, "out.cg4"},
        Refusal{"VariantNotRead", {"@old.b4", "@out.rnl"}, {"read or write function not implemented",
                                                             "Incomplete translation"}, "out.rnl"},
        Refusal{"NoFormat", {"@in.rnl", "@out.xyz"}, {"Invalid output format type"}, "out.xyz"},
        Refusal{"NoInput", {"@missing.rnl", "@out.cg4"}, {"Cannot open input file"}, "out.cg4"},
        Refusal{"NoFolder", {"@in.rnl", "@no/out.cg4"}, {"Cannot open output file"}, "no"},
        Refusal{"SameName", {"@in.rnl", "@in.rnl"}, {"Infile and outfile must have different names"}, "x"},
        Refusal{"SameFileDotSpelling", {"@in.rnl", "@./in.rnl"}, {"Infile and outfile must have different names"},
                "x"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(BatchRun, TheSameFileUnderAnotherNameIsRefusedAndCaseMakesADifferentFile) {
  writePage(dir_ / "in.rnl", kFormatRunLength, framedPage(64, 8, 200));
  fs::create_hard_link(dir_ / "in.rnl", dir_ / "link.rnl");
  EXPECT_EQ(run({at("in.rnl"), at("link.rnl")}), RunOutcome::kRefused);
  EXPECT_EQ(reporter_.errors, std::vector<std::string>{"Infile and outfile must have different names"});
  EXPECT_EQ(readBack(at("link.rnl")).lines.size(), 8u) << "the input was overwritten";
  EXPECT_EQ(run({at("in.rnl"), at("IN.rnl")}), RunOutcome::kComplete) << reporter_.all;
}

// A sink in place of the output file: a printer job of the batch translator.
struct RecordingSink {
  std::string bytes;
  size_t acceptUpTo = SIZE_MAX;  // bytes the destination takes before it fails
  std::vector<bool> finishedWith;
  bool finishAnswer = true;

  static size_t write(const void* data, size_t size, size_t count, void* context) {
    auto* self = static_cast<RecordingSink*>(context);
    const size_t n = size * count;
    if (self->bytes.size() + n > self->acceptUpTo) return 0;
    self->bytes.append(static_cast<const char*>(data), n);
    return count;
  }
  static bool finish(void* context, bool succeeded) {
    auto* self = static_cast<RecordingSink*>(context);
    self->finishedWith.push_back(succeeded);
    return self->finishAnswer;
  }
  RunEnvironment environment() { return {nullptr, {}, {write, finish, this}}; }
};

class BatchSink : public BatchRun {
 protected:
  RunOutcome runInto(RecordingSink& sink, std::vector<std::string> args) {
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    reporter_ = {};
    return runTranslationEntry(kBatchDialect, static_cast<int>(argv.size()), argv.data(), reporter_,
                               sink.environment());
  }
};

TEST_F(BatchSink, TakesTheBytesTheFileWouldHoldAndCreatesNoFile) {
  writePage(dir_ / "in.rnl", kFormatRunLength, framedPage(2000, 300, 300));
  ASSERT_EQ(run({at("in.rnl"), at("file.rtl"), "-rof", "rtl"}), RunOutcome::kComplete) << reporter_.all;
  RecordingSink sink;
  ASSERT_EQ(runInto(sink, {at("in.rnl"), "plotter", "-rof", "rtl"}), RunOutcome::kComplete) << reporter_.all;
  std::ifstream file(at("file.rtl"), std::ios::binary);
  EXPECT_EQ(sink.bytes, std::string(std::istreambuf_iterator<char>(file), {}));
  EXPECT_EQ(sink.finishedWith, std::vector<bool>{true});
  EXPECT_FALSE(fs::exists(fs::current_path() / "plotter"));
}

struct SinkFailure {
  const char* label;
  size_t acceptUpTo;
  bool finishAnswer;
};

class BatchSinkFailure : public BatchSink, public ::testing::WithParamInterface<SinkFailure> {};

// A destination that refuses the job at once, loses bytes mid-page, or fails the job at its end.
TEST_P(BatchSinkFailure, IsUnableToCompleteWritingAndWithdrawsTheJob) {
  writePage(dir_ / "in.rnl", kFormatRunLength, framedPage(2000, 3000, 300));  // more than two buffers
  RecordingSink sink;
  sink.acceptUpTo = GetParam().acceptUpTo;
  sink.finishAnswer = GetParam().finishAnswer;
  EXPECT_EQ(runInto(sink, {at("in.rnl"), "plotter", "-rof", "hpg"}), RunOutcome::kFailed);
  EXPECT_EQ(reporter_.errors,
            (std::vector<std::string>{"unable to complete writing file", "Incomplete translation"}));
  ASSERT_EQ(sink.finishedWith.size(), 1u);
  EXPECT_EQ(sink.finishedWith[0], GetParam().acceptUpTo == SIZE_MAX) << "succeeded so far";
  EXPECT_EQ(sink.bytes.empty(), GetParam().acceptUpTo == 0);
}

INSTANTIATE_TEST_SUITE_P(Destinations, BatchSinkFailure,
                         ::testing::Values(SinkFailure{"RefusesTheJob", 0, false},
                                           SinkFailure{"LosesBytesMidPage", 20000, false},
                                           SinkFailure{"FailsAtTheEnd", SIZE_MAX, false}),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace vantrel
