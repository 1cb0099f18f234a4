// Header fields a translation carries, checked with libtiff's tiffset and tiffinfo: a TIFF's
// DocumentName, ImageDescription, PageName and Orientation reach a TIFF output; an Orientation goes into a
// CALS rorient and comes back from it.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/shell_folder.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

class TiffTags : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testshell::freshFolder("vantrel_tifftags_", "run");
    ASSERT_EQ(run("command -v tiffset && command -v tiffinfo"), 0) << "libtiff-tools missing: run scripts/setup.sh";
    ASSERT_EQ(run(std::string(DRAWGEN_EXE) + " -w 300 -h 200 -dpi 200 -f tif in.tif 2>/dev/null"), 0);
  }
  void TearDown() override { fs::remove_all(dir_); }
  int run(const std::string& command) { return testshell::runIn(dir_, command + " >/dev/null 2>&1"); }
  std::string info(const std::string& file) {
    (void)testshell::runIn(dir_, "tiffinfo " + file + " >info.txt 2>/dev/null");
    return testshell::load(dir_ / "info.txt");
  }
  fs::path dir_;
};

TEST_F(TiffTags, TiffToTiffCarriesNamesDescriptionAndOrientation) {
  ASSERT_EQ(run("tiffset -s 269 'sheet 7' in.tif && tiffset -s 270 'pump housing' in.tif && "
                "tiffset -s 285 'page two' in.tif && tiffset -s 274 6 in.tif"),
            0);
  for (const char* format : {"tiffg4", "tiffu", "tiffg3", "tiled"}) {
    SCOPED_TRACE(format);
    ASSERT_EQ(run(std::string(VANTREL_EXE) + " in.tif out.tif -rof " + format + "; test $? -eq 1"), 0);
    const std::string tags = info("out.tif");
    EXPECT_NE(tags.find("DocumentName: sheet 7"), std::string::npos) << tags;
    EXPECT_NE(tags.find("ImageDescription: pump housing"), std::string::npos) << tags;
    EXPECT_NE(tags.find("PageName: page two"), std::string::npos) << tags;
    EXPECT_NE(tags.find("Orientation: row 0 rhs, col 0 top"), std::string::npos) << tags;
  }
}

TEST_F(TiffTags, OrientationThroughCalsRorient) {
  // Each TIFF orientation becomes its CALS pair and comes back unchanged; the usual one is not stated.
  const struct {
    int orientation;
    const char* rorient;
  } cases[] = {{2, "180,090"}, {3, "180,270"}, {4, "000,090"}, {5, "270,090"},
               {6, "270,270"}, {7, "090,090"}, {8, "090,270"}, {1, "000,270"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.orientation);
    ASSERT_EQ(run("tiffset -s 274 " + std::to_string(c.orientation) + " in.tif"), 0);
    ASSERT_EQ(run(std::string(VANTREL_EXE) + " in.tif out.cg4; test $? -eq 1"), 0);
    EXPECT_NE(testshell::load(dir_ / "out.cg4").find(std::string("rorient: ") + c.rorient), std::string::npos);
    ASSERT_EQ(run(std::string(VANTREL_EXE) + " out.cg4 back.tif; test $? -eq 1"), 0);
    const std::string tags = info("back.tif");
    EXPECT_EQ(tags.find("Orientation:") != std::string::npos, c.orientation != 1) << tags;
  }
  ASSERT_EQ(run("tiffset -s 274 7 in.tif; " + std::string(VANTREL_EXE) + " in.tif out.cg4; " +
                std::string(VANTREL_EXE) + " out.cg4 back.tif; test $? -eq 1"),
            0);
  EXPECT_NE(info("back.tif").find("Orientation: row 0 rhs, col 0 bottom"), std::string::npos);
}

}  // namespace
}  // namespace vantrel
