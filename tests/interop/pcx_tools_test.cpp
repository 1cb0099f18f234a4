// PCX against independent implementations: our files open in netpbm (pcxtoppm), GraphicsMagick and Pillow
// with our size and pixels; their files (ppmtopcx, gm convert, Pillow) read to their pixels here; the real
// files in the shared collection read as Pillow reads them, the colour ones refused as bad header data. The
// tools must be installed (scripts/setup.sh): a missing one fails the test.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "tests/support/pbm.h"
#include "tests/support/read_back.h"

namespace vantrel {
namespace {

using namespace testpbm;

const std::string kPython = "/usr/bin/python3";  // Debian's, where python3-pil installs Pillow

// Pillow converts the file to raw PBM; "" when it succeeded.
std::string pillow(const std::string& script, const fs::path& from, const fs::path& to) {
  const int rc = runShell(kPython + " -c \"import sys; from PIL import Image; " + script + "\" " + quoted(from) +
                          " " + quoted(to) + " 2>/dev/null");
  return rc == 0 ? "" : "Pillow failed on " + from.string();
}
const std::string kPillowToPbm = "Image.open(sys.argv[1]).convert('1').save(sys.argv[2])";
const std::string kPillowToPcx = "Image.open(sys.argv[1]).save(sys.argv[2], 'PCX')";

void requireTools() {
  for (const char* tool : {"pcxtoppm", "ppmtopcx", "ppmtopgm", "gm"})
    ASSERT_TRUE(toolExists(tool)) << tool << " is missing: run scripts/setup.sh";
  ASSERT_EQ(runShell(kPython + " -c 'import PIL' 2>/dev/null"), 0) << "Pillow is missing: run scripts/setup.sh";
}

struct PageCase {
  int32_t width, height;
  uint64_t seed;  // 0: a white page
};
std::ostream& operator<<(std::ostream& os, const PageCase& c) {
  return os << c.width << "x" << c.height << (c.seed ? "" : " white");
}

Bitmap pageOf(const PageCase& c) {
  return c.seed ? makePage(c.width, c.height, c.seed) : Bitmap(c.width, c.height);
}

class PcxTools : public ::testing::TestWithParam<PageCase> {
 protected:
  void SetUp() override {
    requireTools();
    ASSERT_TRUE(dir_.ok());
  }
  ScratchDir dir_{"vantrel-pcx"};
};

TEST_P(PcxTools, OurFilesOpenInEveryTool) {
  const Bitmap page = pageOf(GetParam());
  const fs::path ours = dir_ / "ours.pcx";
  ASSERT_EQ(writeThroughLibrary(ours, kFormatPcx, page, 300), 0);
  const struct {
    const char* tool;
    std::string command;  // empty: Pillow
  } readers[] = {
      {"pcxtoppm", "pcxtoppm " + quoted(ours) + " 2>/dev/null | ppmtopgm > " + quoted(dir_ / "n.pgm")},
      {"gm", "gm convert " + quoted(ours) + " " + quoted(dir_ / "g.pbm")},
      {"Pillow", ""},
  };
  const fs::path outputs[] = {dir_ / "n.pgm", dir_ / "g.pbm", dir_ / "p.pbm"};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(readers[i].tool);
    if (readers[i].command.empty())
      ASSERT_EQ(pillow(kPillowToPbm, ours, outputs[i]), "");
    else
      ASSERT_EQ(runShell(readers[i].command), 0);
    Bitmap got;
    ASSERT_TRUE(readPnm(outputs[i], &got));
    EXPECT_EQ(difference(got, page), "equal");
  }
}

TEST_P(PcxTools, TheirFilesReadToTheirPixels) {
  const Bitmap page = pageOf(GetParam());
  const fs::path pbm = dir_ / "page.pbm";
  ASSERT_TRUE(writePbm(pbm, page));
  ASSERT_EQ(runShell("ppmtopcx " + quoted(pbm) + " > " + quoted(dir_ / "n.pcx") + " 2>/dev/null"), 0);
  ASSERT_EQ(runShell("gm convert " + quoted(pbm) + " " + quoted(dir_ / "g.pcx")), 0);
  ASSERT_EQ(pillow(kPillowToPcx, pbm, dir_ / "p.pcx"), "");
  for (const char* name : {"n.pcx", "g.pcx", "p.pcx"}) {
    SCOPED_TRACE(name);
    const testread::PageRecord r = testread::readBack(dir_ / name);
    ASSERT_EQ(r.open, kRioOk);
    EXPECT_EQ(r.format, kFormatPcx);
    EXPECT_EQ(r.end, kRioEndOfPage);
    EXPECT_EQ(difference(r.bitmap(), page), "equal");
  }
}

INSTANTIATE_TEST_SUITE_P(Pages, PcxTools,
                         ::testing::Values(PageCase{1, 5, 3}, PageCase{7, 9, 4}, PageCase{16, 16, 5},
                                           PageCase{17, 30, 6}, PageCase{333, 101, 7}, PageCase{1001, 64, 8},
                                           PageCase{24, 3, 0}));

struct RealFile {
  const char* name;
  bool colour;
};
std::ostream& operator<<(std::ostream& os, const RealFile& f) { return os << f.name; }

class PcxRealFiles : public ::testing::TestWithParam<RealFile> {};

TEST_P(PcxRealFiles, ReadAsPillowReadsThemOrRefusedAsColour) {
  requireTools();
  const fs::path file = fs::path(VANTREL_SOURCE_DIR) / "tests/data/realworld" / GetParam().name;
  ASSERT_TRUE(fs::exists(file)) << file << " is missing from the test data";
  const testread::PageRecord r = testread::readBack(file);
  if (GetParam().colour) {
    EXPECT_EQ(r.open, kRioBadHeader);
    return;
  }
  ASSERT_EQ(r.open, kRioOk);
  EXPECT_EQ(r.end, kRioEndOfPage);
  ScratchDir dir("vantrel-pcx-real");
  ASSERT_EQ(pillow(kPillowToPbm, file, dir / "p.pbm"), "");
  Bitmap want;
  ASSERT_TRUE(readPnm(dir / "p.pbm", &want));
  EXPECT_EQ(difference(r.bitmap(), want), "equal");
}

INSTANTIATE_TEST_SUITE_P(
    Files, PcxRealFiles,
    ::testing::Values(RealFile{"pcx1_10.pcx", false}, RealFile{"pcx1_cga.pcx", false},
                      RealFile{"pcx1_darkstar.pcx", false}, RealFile{"pcx1_nopal.pcx", false},
                      RealFile{"pcx1_pil184.pcx", false}, RealFile{"pcx1_raw10.pcx", false},
                      RealFile{"pcx1x2_10.pcx", true}, RealFile{"pcx1x3_animals.pcx", true},
                      RealFile{"pcx1x4_rose.pcx", true}, RealFile{"pcx1x4_tiny.pcx", true},
                      RealFile{"pcx2_cga.pcx", true}, RealFile{"pcx8_01r.pcx", true}, RealFile{"pcx8_10.pcx", true},
                      RealFile{"pcx_ossfuzz.pcx", true}),
    [](const auto& info) {
      std::string n = info.param.name;
      return n.substr(0, n.find('.'));
    });

}  // namespace
}  // namespace vantrel
