// CALS Type 1 files against GDAL: pages (drawgen drawings and generated noise pages) translated to CALS
// by our program are read by gdal_translate pixel for pixel, with the density gdalinfo reports; CALS files
// GDAL writes (from a TIFF made by pnmtotiff, as GDAL does not take a raw PBM) are read by our reader and
// our program without a warning, and equal ours for the same page byte for byte. GDAL hands out a 1-bit
// CALS as palette indices; "-expand gray" applies GDAL's own colour table, so an inverted image would show
// as a pixel difference. A missing tool fails the tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/pbm.h"
#include "tests/support/read_back.h"

namespace vantrel {
namespace {

using namespace testpbm;
using testread::PageRecord;
using testread::readBack;

struct PageCase {
  int32_t width;
  int32_t height;
  int32_t dpi;
  bool drawgen;  // a drawgen page; else the generated test page with noise rows and edge pixels
};

std::string caseName(const PageCase& c) {
  return std::string(c.drawgen ? "drawgen_" : "noise_") + std::to_string(c.width) + "x" +
         std::to_string(c.height) + "_" + std::to_string(c.dpi) + "dpi";
}

void PrintTo(const PageCase& c, std::ostream* os) {
  *os << caseName(c);
}

class GdalCals : public ::testing::TestWithParam<PageCase> {
 protected:
  void SetUp() override {
    for (const char* tool : {"gdal_translate", "gdalinfo"})
      ASSERT_TRUE(toolExists(tool)) << tool << " is missing: install gdal-bin";
    ASSERT_TRUE(toolExists("pnmtotiff")) << "pnmtotiff is missing: install netpbm";
    ASSERT_TRUE(dir_.ok());
  }

  // The page of this case as PBM (the expected pixels) and as native run-length (our input).
  void drawPage(Bitmap* page) {
    const PageCase c = GetParam();
    if (!c.drawgen) {
      *page = makePage(c.width, c.height, 0xCA150000u + static_cast<uint64_t>(c.width));
      ASSERT_TRUE(writePbm(dir_ / "page.pbm", *page));
      ASSERT_EQ(writeThroughLibrary(dir_ / "page.rnl", 3, *page, c.dpi), kRioOk);
      return;
    }
    const std::string args = " -w " + std::to_string(c.width) + " -h " + std::to_string(c.height) + " -dpi " +
                             std::to_string(c.dpi) + " -seed 7 ";
    ASSERT_EQ(runShell(std::string(DRAWGEN_EXE) + args + quoted(dir_ / "page.pbm")), 0);
    ASSERT_EQ(runShell(std::string(DRAWGEN_EXE) + args + "-f rnl " + quoted(dir_ / "page.rnl")), 0);
    ASSERT_TRUE(readPnm(dir_ / "page.pbm", page));
    ASSERT_GT(page->blackCount(), 0);
    ASSERT_LT(page->blackCount(), int64_t{page->width} * page->height)
        << "a page of one colour proves little";
  }

  // Runs our program in the scratch folder; its output must say the translation is complete.
  void translate(const std::string& in, const std::string& out) {
    int exitStatus = -1;
    const std::string said =
        capture("cd " + quoted(dir_.path()) + " && " + quoted(VANTREL_EXE) + " " + in + " " + out + " 2>&1",
                &exitStatus);
    ASSERT_EQ(exitStatus, 1) << said;
    EXPECT_EQ(said, "Generating file: " + out + "\nvantrel: Translation is complete.\n");
  }

  ScratchDir dir_{"vantrel-gdal"};
};

TEST_P(GdalCals, GdalReadsOurCals) {
  const PageCase c = GetParam();
  Bitmap source;
  ASSERT_NO_FATAL_FAILURE(drawPage(&source));
  ASSERT_NO_FATAL_FAILURE(translate("page.rnl", "ours.cal"));

  int exitStatus = -1;
  const std::string info = capture("gdalinfo " + quoted(dir_ / "ours.cal") + " 2>&1", &exitStatus);
  ASSERT_EQ(exitStatus, 0) << info;
  EXPECT_NE(info.find("Driver: CALS/"), std::string::npos) << info;
  EXPECT_NE(info.find("Size is " + std::to_string(c.width) + ", " + std::to_string(c.height)),
            std::string::npos)
      << info;
  EXPECT_NE(info.find("TIFFTAG_XRESOLUTION=" + std::to_string(c.dpi) + "\n"), std::string::npos) << info;
  EXPECT_NE(info.find("TIFFTAG_YRESOLUTION=" + std::to_string(c.dpi) + "\n"), std::string::npos) << info;
  EXPECT_NE(info.find("TIFFTAG_RESOLUTIONUNIT=2"), std::string::npos) << info;
  // GDAL's colour table for the sample values: 0 is white, 1 black, as the Group 4 data mean them.
  EXPECT_NE(info.find("0: 255,255,255,255\n    1: 0,0,0,255"), std::string::npos) << info;

  ASSERT_EQ(runShell("gdal_translate -q -expand gray -of PNM " + quoted(dir_ / "ours.cal") + " " +
                     quoted(dir_ / "gdal.pgm") + " 2>/dev/null"),
            0);
  Bitmap back;
  ASSERT_TRUE(readPnm(dir_ / "gdal.pgm", &back));
  EXPECT_EQ(difference(back, source), "equal");
}

// Both photometric conventions of the TIFF GDAL starts from: GDAL turns either into a white-is-zero CALS.
TEST_P(GdalCals, WeReadGdalCals) {
  const PageCase c = GetParam();
  Bitmap source;
  ASSERT_NO_FATAL_FAILURE(drawPage(&source));
  for (const char* photometric : {"-miniswhite", "-minisblack"}) {
    SCOPED_TRACE(photometric);
    const std::string dpi = std::to_string(c.dpi);
    ASSERT_EQ(
        runShell(std::string("pnmtotiff ") + photometric + " -xresolution " + dpi + " -yresolution " + dpi +
                 " " + quoted(dir_ / "page.pbm") + " > " + quoted(dir_ / "page.tif") + " 2>/dev/null"),
        0);
    ASSERT_EQ(runShell("gdal_translate -q -of CALS " + quoted(dir_ / "page.tif") + " " +
                       quoted(dir_ / "gdal.cal") + " 2>/dev/null"),
              0);

    const PageRecord read = readBack(dir_ / "gdal.cal");
    ASSERT_EQ(read.open, kRioOk);
    EXPECT_EQ(read.format, 6);
    EXPECT_EQ(read.end, kRioEndOfPage);
    // The one warning a sound file may bring: a line length that is not a whole number of bytes.
    EXPECT_EQ(read.lineWarning, c.width % 8 ? kRioBadColumns : kRioOk)
        << "GDAL's header records read with a warning";
    EXPECT_EQ(read.xDpi, c.dpi);
    EXPECT_EQ(read.yDpi, c.dpi);
    EXPECT_EQ(read.rorient[0], 0);
    EXPECT_EQ(read.rorient[1], 270);
    EXPECT_EQ(read.srcdocid, "NONE");
    EXPECT_EQ(difference(read.bitmap(), source), "equal");

    // The program's path: CALS in, native run-length out, read back.
    ASSERT_NO_FATAL_FAILURE(translate("gdal.cal", "back.rnl"));
    const PageRecord back = readBack(dir_ / "back.rnl");
    ASSERT_EQ(back.open, kRioOk);
    EXPECT_EQ(back.lineWarning, kRioOk);
    EXPECT_EQ(back.xDpi, c.dpi);
    EXPECT_EQ(difference(back.bitmap(), source), "equal");

    // Both writers take the same records and the same Group 4 coding: our file is GDAL's byte for byte,
    // plus the zero bits that fill our last 32-bit word.
    ASSERT_NO_FATAL_FAILURE(translate("page.rnl", "ours.cal"));
    const std::vector<uint8_t> ours = readBytes(dir_ / "ours.cal"), gdal = readBytes(dir_ / "gdal.cal");
    ASSERT_GE(gdal.size(), 2048u);
    ASSERT_EQ(ours.size(), (gdal.size() + 3) / 4 * 4);
    EXPECT_EQ(std::string(ours.begin(), ours.begin() + 2048), std::string(gdal.begin(), gdal.begin() + 2048));
    EXPECT_TRUE(std::equal(gdal.begin(), gdal.end(), ours.begin())) << "the Group 4 data differ";
    EXPECT_TRUE(std::all_of(ours.begin() + static_cast<std::ptrdiff_t>(gdal.size()), ours.end(),
                            [](uint8_t b) { return b == 0; }));
  }
}

// Widths not a multiple of 8, an A4-ish page, and two pages of noise rows, edge pixels and long runs.
INSTANTIATE_TEST_SUITE_P(Pages, GdalCals,
                         ::testing::Values(PageCase{1001, 1403, 300, true}, PageCase{77, 45, 200, true},
                                           PageCase{640, 97, 400, true}, PageCase{33, 5, 240, false},
                                           PageCase{2601, 90, 600, false}),
                         [](const ::testing::TestParamInfo<PageCase>& info) { return caseName(info.param); });

}  // namespace
}  // namespace vantrel
