// What the console says when a run fails or changes something: the lines scripts read on standard output
// stay as they are, and one detail line on standard error names the file (or the option) and the cause.
// Then "-" for standard input and output, and -size for outputs other than mmr.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/shell_folder.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;
using testshell::load;

const std::string kUsageStart = "\nVANTREL v5.0b107\n";
const std::string kIncomplete = "vantrel: Incomplete translation.\n";

std::string generating(const std::string& name) { return "Generating file: " + name + "\n"; }

class ConsoleFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dir_ = testshell::freshFolder("vantrel_messages_", name.substr(0, name.find('/')) + std::to_string(counter_++));
    ASSERT_EQ(run(std::string(DRAWGEN_EXE) + " -p a4 -dpi 200 -f rnl in.rnl 2>/dev/null"), 0);
    ASSERT_EQ(run(std::string(VANTREL_EXE) + " in.rnl in.tif >/dev/null 2>&1"), 1);
    ASSERT_EQ(run("/usr/bin/python3 -c \"from PIL import Image; Image.new('L', (20, 10), 128).save('grey.tif'); "
                  "Image.new('RGB', (20, 10)).save('rgb.tif')\""),
              0);
  }
  void TearDown() override { fs::remove_all(dir_); }
  int run(const std::string& command) { return testshell::runIn(dir_, command); }

  fs::path dir_;
  static inline int counter_ = 0;
};

struct FailureCase {
  const char* label;
  std::string command;  // after the program's name
  std::string out;      // standard output, exactly; a usage text when it starts with kUsageStart
  std::string err;      // standard error, exactly
};

class Failures : public ConsoleFolder, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(Failures, SayWhichFileAndWhy) {
  const FailureCase& c = GetParam();
  EXPECT_EQ(run(c.command + " >out.txt 2>err.txt"), 0);
  const std::string out = load(dir_ / "out.txt");
  // A usage text is compared up to its version line.
  const bool usage = c.out.size() >= kUsageStart.size() &&
                     c.out.compare(c.out.size() - kUsageStart.size(), kUsageStart.size(), kUsageStart) == 0;
  EXPECT_EQ(usage ? out.substr(0, c.out.size()) : out, c.out);
  EXPECT_EQ(load(dir_ / "err.txt"), c.err);
  for (const auto& entry : fs::directory_iterator(dir_)) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name.rfind("out.", 0) != 0 || name == "out.txt") << name << " left behind";
  }
}

const std::string kV = VANTREL_EXE;

INSTANTIATE_TEST_SUITE_P(
    Console, Failures,
    ::testing::Values(
        FailureCase{"UnknownOption", kV + " in.rnl out.cg4 -foo", kUsageStart,
                    "vantrel: -foo: no such option; the options are -rof -dpi -xdpi -ydpi -odpi -rot -size "
                    "-digest -page\n"},
        FailureCase{"Page", kV + " in.rnl out.cg4 -page 0", kUsageStart,
                    "vantrel: -page 0: the page must be a number from 1, or \"all\"\n"},
        FailureCase{"Rotation", kV + " in.rnl out.cg4 -rot 45", kUsageStart,
                    "vantrel: -rot 45: the rotation must be 0, 90, 180 or 270\n"},
        FailureCase{"Resolution", kV + " in.rnl out.cg4 -dpi 30", kUsageStart,
                    "vantrel: -dpi 30: the resolution must be a number from 50 to 10000\n"},
        FailureCase{"Size", kV + " in.rnl out.cg4 -size b4", kUsageStart,
                    "vantrel: -size b4: the size must be A0 to A4 or A0L to A4L\n"},
        FailureCase{"MissingValue", kV + " in.rnl out.cg4 -odpi", kUsageStart,
                    "vantrel: -odpi: the option needs a value\n"},
        FailureCase{"ThirdName", kV + " in.rnl out.cg4 extra.tif", kUsageStart,
                    "vantrel: extra.tif: a third name; give one input and one output (or a port)\n"},
        FailureCase{"SameName", kV + " in.rnl in.rnl",
                    "vantrel: Infile and outfile must have different names\n" + kUsageStart,
                    "vantrel: in.rnl: is the input; name another output\n"},
        FailureCase{"GreyTiff", kV + " grey.tif out.cg4",
                    generating("out.cg4") + "vantrel: bad header data\n" + kIncomplete,
                    "vantrel: grey.tif: bits per sample 8, samples per pixel 1, photometric 1 (min-is-black): not "
                    "a bilevel image; only 1 bit per sample and 1 sample per pixel are read\n"},
        FailureCase{"ColourTiff", kV + " rgb.tif out.cg4",
                    generating("out.cg4") + "vantrel: bad header data\n" + kIncomplete,
                    "vantrel: rgb.tif: bits per sample 8, samples per pixel 3, photometric 2 (RGB): not a bilevel "
                    "image; only 1 bit per sample and 1 sample per pixel are read\n"},
        FailureCase{"VersatecModel", "ZEB_VBF=nosuch " + kV + " in.rnl out.vbf",
                    generating("out.vbf") + "vantrel: internal error 5\n" + kIncomplete,
                    "vantrel: out.vbf: ZEB_VBF is \"nosuch\": it may be unset or one of V8510, V8624, V8624HR, "
                    "V8625, V8625HR, V8636, V8636HR, V8810A, V8810AHR, V8810B, V8810BHR, V8836, V8836HR, V8910C, "
                    "V8910, V8924C, V8924, V8924HRC, V8924HR, V8925C, V8925, V8925HRC, V8925HR, V8936C, V8936, "
                    "V8936HRC, V8936HR, V8944C, V8944, V8944HRC, V8944HR, V8770, V8770E\n"},
        FailureCase{"NoInput", kV + " nosuch.tif out.cg4", "vantrel: Cannot open input file.\n",
                    "vantrel: nosuch.tif: No such file or directory\n"},
        FailureCase{"NoFormat", kV + " in.rnl out.xyz", "vantrel: Invalid output format type.\n",
                    "vantrel: out.xyz: the extension names no output format: name one with -rof\n"},
        FailureCase{"UnknownFormat", kV + " in.rnl out.xyz -rof nosuch", "vantrel: Invalid output format type.\n",
                    "vantrel: -rof nosuch: no such format; the formats are rnl g3 zebg3 g4 zebg4 cg4 cal calsg4 "
                    "rlc rtl ps tif tiff tiffg4 jdl crf ccrf pcl opt vbf pcx rle nkk tiffu tiffg3 grphtec img "
                    "tiled jd4 hpg mmr pdf pbm\n"},
        FailureCase{"NotAFormat", "printf 'hello world' >text.dat; " + kV + " text.dat out.cg4",
                    generating("out.cg4") + "vantrel: unknown raster format type\n" + kIncomplete,
                    "vantrel: text.dat: its first bytes (68 65 6c 6c 6f) are those of no format read here\n"},
        FailureCase{"Truncated", "head -c 600 in.tif >cut.tif; " + kV + " cut.tif out.cg4",
                    generating("out.cg4") + "vantrel: unexpected input Stream EOF\n" + kIncomplete,
                    "vantrel: cut.tif: reading: unexpected input Stream EOF\n"},
        FailureCase{"StandardOutputWithoutFormat", kV + " in.rnl -", "",
                    "vantrel: Invalid output format type.\n"
                    "vantrel: -: standard output has no extension: name the format with -rof\n"}),
    [](const auto& info) { return std::string(info.param.label); });

// A writer that changes the resolution says so, and the run completes.
TEST_F(ConsoleFolder, ChangedResolutionIsNamed) {
  EXPECT_EQ(run(kV + " in.rnl out.mmr -dpi 300 >out.txt 2>err.txt"), 1);
  EXPECT_EQ(load(dir_ / "out.txt"), generating("out.mmr") + "vantrel: Translation is complete.\n");
  EXPECT_EQ(load(dir_ / "err.txt"),
            "vantrel: out.mmr: written as 400 dpi: MMR states 200 or 400 dpi only, and the page is 300 dpi "
            "(rescale it with -odpi)\n");
  ASSERT_EQ(run(kV + " in.rnl in.pbm >/dev/null 2>&1"), 1);
  EXPECT_EQ(run(kV + " in.pbm out.cg4 >/dev/null 2>err.txt"), 1);
  EXPECT_EQ(load(dir_ / "err.txt"), "vantrel: in.pbm: states no resolution: taken as 200 dpi (-dpi gives another)\n");
}

// A page wider than the plotter's line is plotted as the plotter would (each row cut), and the run says so.
TEST_F(ConsoleFolder, CutPlotterRowsAreNamed) {
  ASSERT_EQ(run(std::string(DRAWGEN_EXE) + " -w 3000 -h 20 -f rnl wide.rnl 2>/dev/null"), 0);
  EXPECT_EQ(run("ZEB_VBF=V8810A " + kV + " wide.rnl out.vbf >out.txt 2>err.txt"), 1);
  EXPECT_EQ(load(dir_ / "out.txt"), generating("out.vbf") + "vantrel: Translation is complete.\n");
  EXPECT_EQ(load(dir_ / "err.txt"),
            "vantrel: out.vbf: the page is 3000 pixels wide and the plotter's line 2112: each row is cut at the "
            "line (ZEB_VBF names the plotter model)\n");
  EXPECT_EQ(run("ZEB_VBF=V8810A " + kV + " in.rnl narrow.vbf >/dev/null 2>err.txt"), 1);
  EXPECT_EQ(load(dir_ / "err.txt"), "") << "a page within the line is not remarked on";
}

// A file from a pipe, the output into a pipe: the same bytes as the file path run, no message in the data.
TEST_F(ConsoleFolder, StandardInputAndOutput) {
  ASSERT_EQ(run(kV + " in.tif file.cg4 >/dev/null"), 1);
  EXPECT_EQ(run("set -o pipefail; cat in.tif | " + kV + " - - -rof cg4 2>pipe.err | cat >pipe.cg4"), 1);
  EXPECT_TRUE(load(dir_ / "pipe.cg4") == load(dir_ / "file.cg4"));
  EXPECT_EQ(load(dir_ / "pipe.err"), generating("-") + "vantrel: Translation is complete.\n");
  // An independent reader takes the piped file as the file path's.
  ASSERT_EQ(run(kV + " in.tif file.tif >/dev/null; gm convert file.tif file.pbm"), 0);
  EXPECT_EQ(run("set -o pipefail; cat in.tif | " + kV + " - - -rof tiff 2>/dev/null | gm convert - pipe.pbm"), 1);
  EXPECT_TRUE(load(dir_ / "pipe.pbm") == load(dir_ / "file.pbm"));
  // A TIFF from a pipe (its reader seeks: the input is spooled) reads as from its file.
  EXPECT_EQ(run("cat in.tif | " + kV + " - piped.rnl >/dev/null; [ $? -eq 1 ] && cmp -s piped.rnl in.rnl"), 0);
}

// -size rescales every output: an A4 page at 200 dpi becomes A3 at 200 dpi.
TEST_F(ConsoleFolder, SizeRescalesEveryOutput) {
  for (const char* format : {"pbm", "cg4", "tif"}) {
    SCOPED_TRACE(format);
    const std::string out = std::string("a3.") + format;
    ASSERT_EQ(run(kV + " in.rnl " + out + " -size a3 >/dev/null 2>&1"), 1);
    ASSERT_EQ(run(kV + " " + out + " a3_" + format + ".pbm >/dev/null 2>&1"), 1);
    EXPECT_EQ(run("pamfile a3_" + std::string(format) + ".pbm | grep -q 'PBM raw, 2339 by 3308'"), 0);
  }
  // The page keeps its resolution: the A3 sheet is 297 x 420 mm at 200 dpi.
  EXPECT_EQ(run("tiffinfo a3.tif 2>/dev/null | grep -q 'Resolution: 200, 200 pixels/inch'"), 0);
}

}  // namespace
}  // namespace vantrel
