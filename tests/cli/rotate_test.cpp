// The console's -rot path through the built program: every input format turned by 90, 180 and 270
// degrees must equal netpbm's pamflip of the same page, pixel for pixel; the resolutions follow the turn;
// an input that cannot be read whole is never turned.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "formats/registry.h"
#include "tests/support/pbm.h"
#include "tests/support/read_back.h"

namespace vantrel {
namespace {

using namespace testpbm;
using testread::PageRecord;
using testread::readBack;

struct InputFormat {
  const char* extension;
  RasterFormatId id;
};

// Every format that is written and read back (a tiled TIFF is read as any TIFF).
constexpr InputFormat kInputs[] = {{"rnl", 3},   {"g3", 4},     {"g4", 5},     {"cal", 6},
                                   {"tif", 10},  {"opt", 15},   {"tiffu", 22}, {"tiffg3", 23},
                                   {"tiled", 27}, {"mmr", 34}};

struct Turn {
  int degrees;
  const char* pamflip;  // -rot turns counter-clockwise
};
constexpr Turn kTurns[] = {{90, "-ccw"}, {180, "-r180"}, {270, "-cw"}};

// Runs the program in `dir`; its messages in *out.
int runVantrel(const fs::path& dir, const std::string& args, std::string* out) {
  int status = -1;
  // The message lines alone: the detail lines on standard error differ where the turned page is imported.
  *out = capture("cd " + quoted(dir) + " && " + quoted(VANTREL_EXE) + " " + args + " 2>/dev/null", &status);
  return status;
}

class RotateProgram : public ::testing::TestWithParam<InputFormat> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    ASSERT_TRUE(toolExists("pamflip")) << "netpbm's pamflip is needed (scripts/setup.sh installs it)";
  }
  ScratchDir dir_{"vantrel-rotate"};
};

TEST_P(RotateProgram, QuarterTurnsEqualPamflip) {
  const InputFormat& in = GetParam();
  ASSERT_TRUE(rioFormatInfo(in.id).writes) << in.extension;  // read back through recognition
  // Sizes that are not multiples of 32, so that the tile padding must be cropped away again.
  const Bitmap page = makePage(1001, 403, 7);
  const std::string input = std::string("in.") + in.extension;
  ASSERT_EQ(writeThroughLibrary(dir_ / input, in.id, page, 200), 0);
  ASSERT_TRUE(writePbm(dir_ / "src.pbm", page));
  for (const Turn& t : kTurns) {
    SCOPED_TRACE(t.degrees);
    ASSERT_EQ(runShell("pamflip " + std::string(t.pamflip) + " " + quoted(dir_ / "src.pbm") + " > " +
                       quoted(dir_ / "want.pbm")),
              0);
    Bitmap want;
    ASSERT_TRUE(readPnm(dir_ / "want.pbm", &want));
    std::string out;
    EXPECT_EQ(runVantrel(dir_.path(), input + " out.rnl -rot " + std::to_string(t.degrees), &out), 1) << out;
    EXPECT_EQ(out, "Generating file: out.rnl\nvantrel: Translation is complete.\n");
    const PageRecord got = readBack(dir_ / "out.rnl");
    ASSERT_EQ(got.open, 0);
    EXPECT_EQ(difference(got.bitmap(), want), "equal");
    fs::remove(dir_ / "out.rnl");
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, RotateProgram, ::testing::ValuesIn(kInputs),
                         [](const auto& info) { return std::string(info.param.extension); });

struct DpiCase {
  const char* name;
  int degrees;
  const char* extra;  // more options
  double xDpi, yDpi;  // of the output
};

class RotateResolution : public ::testing::TestWithParam<DpiCase> {
 protected:
  ScratchDir dir_{"vantrel-rotate-dpi"};
};

TEST_P(RotateResolution, FollowTheTurn) {
  const DpiCase& c = GetParam();
  ASSERT_TRUE(dir_.ok());
  // Different resolutions across and down.
  ASSERT_EQ(writeThroughLibrary(dir_ / "in.rnl", 3, makePage(120, 70, 3), 300, 200), 0);
  std::string out;
  EXPECT_EQ(runVantrel(dir_.path(), "in.rnl out.rnl -rot " + std::to_string(c.degrees) + c.extra, &out), 1)
      << out;
  const PageRecord got = readBack(dir_ / "out.rnl");
  ASSERT_EQ(got.open, 0);
  EXPECT_DOUBLE_EQ(got.xDpi, c.xDpi);
  EXPECT_DOUBLE_EQ(got.yDpi, c.yDpi);
  const bool quarter = c.degrees % 180 != 0;
  EXPECT_EQ(got.width, quarter ? 70 : 120);
  EXPECT_EQ(static_cast<int32_t>(got.lines.size()), quarter ? 120 : 70);
}

INSTANTIATE_TEST_SUITE_P(Cases, RotateResolution,
                         ::testing::Values(DpiCase{"Turn90", 90, "", 200, 300},
                                           DpiCase{"Turn180", 180, "", 300, 200},
                                           DpiCase{"Turn270", 270, "", 200, 300},
                                           DpiCase{"DpiSetsBoth", 90, " -dpi 150", 150, 150}),
                         [](const auto& info) { return std::string(info.param.name); });

struct BrokenInput {
  const char* name;
  const char* file;
  size_t keep;  // bytes of a good page kept; 0: a text file
};

class RotateRefuses : public ::testing::TestWithParam<BrokenInput> {
 protected:
  ScratchDir dir_{"vantrel-rotate-bad"};
};

// A page that cannot be read whole is never turned: the one message the plain translation gives for the
// same file, and no output left.
TEST_P(RotateRefuses, BrokenInputs) {
  const BrokenInput& c = GetParam();
  ASSERT_TRUE(dir_.ok());
  std::vector<uint8_t> bytes;
  if (c.keep == 0) {
    const std::string text = "no raster in here\n";
    bytes.assign(text.begin(), text.end());
  } else {
    const fs::path whole = dir_ / "whole";
    const std::string ext = fs::path(c.file).extension().string().substr(1);
    ASSERT_EQ(writeThroughLibrary(whole, rioFormatFromName(ext.c_str()), makePage(300, 200, 5), 200), 0);
    bytes = readBytes(whole);
    ASSERT_GT(bytes.size(), c.keep);
    bytes.resize(c.keep);
  }
  ASSERT_TRUE(writeBytes(dir_ / c.file, bytes));
  std::string plain;
  EXPECT_EQ(runVantrel(dir_.path(), std::string(c.file) + " out.rnl", &plain), 0);
  ASSERT_EQ(plain.rfind("Generating file: out.rnl\nvantrel: ", 0), 0u) << plain;
  std::string out;
  EXPECT_EQ(runVantrel(dir_.path(), std::string(c.file) + " out.rnl -rot 90", &out), 0);
  EXPECT_EQ(out, plain);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 3) << out;
  const std::string incomplete = "vantrel: Incomplete translation.\n";
  ASSERT_GE(out.size(), incomplete.size());
  EXPECT_EQ(out.substr(out.size() - incomplete.size()), incomplete);
  EXPECT_FALSE(fs::exists(dir_ / "out.rnl"));
}

INSTANTIATE_TEST_SUITE_P(Cases, RotateRefuses,
                         ::testing::Values(BrokenInput{"CalsHeaderCut", "in.cal", 100},
                                           BrokenInput{"CalsDataCut", "in.cal", 2200},
                                           BrokenInput{"RunLengthCut", "in.rnl", 2000},
                                           BrokenInput{"Group4Cut", "in.g4", 300},
                                           BrokenInput{"NotARaster", "in.rnl", 0}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantrel
