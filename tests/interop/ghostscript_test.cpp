// Our PostScript against Ghostscript: drawgen pages (A4 at 200, 300 and 400 dpi, A0 at 200 and 400 dpi)
// translated by our program, and pages written through the library (random runs, boxes and lines, unequal
// resolutions, a page that ends early), rendered by gs at the image's resolution on the page size the
// program asks for: pixel for pixel the source. gs with no device reports no error, and the file holds no
// byte above 127 and no line longer than 255 characters. The tests fail when gs is missing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "formats/registry.h"
#include "tests/support/pbm.h"

namespace vantrel {
namespace {

using namespace testpbm;

class GhostscriptInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(toolExists("gs")) << "Ghostscript (gs) is missing: install ghostscript";
    ASSERT_TRUE(dir_.ok());
  }

  // The program's PostScript, interpreted without a device and rendered at xDpi by yDpi, must be
  // clean text that draws `want`.
  void expectRendering(const std::string& ps, const Bitmap& want, int xDpi, int yDpi) {
    const std::vector<uint8_t> bytes = readBytes(dir_ / ps);
    ASSERT_FALSE(bytes.empty());
    EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b < 128; })) << "not 7-bit";
    size_t longest = 0;
    for (auto at = bytes.begin(); at != bytes.end();) {
      const auto end = std::find(at, bytes.end(), '\n');
      longest = std::max(longest, static_cast<size_t>(end - at));
      at = end == bytes.end() ? end : end + 1;
    }
    EXPECT_LE(longest, 255u);
    int status = -1;
    const std::string gs = "gs -q -dSAFER -dBATCH -dNOPAUSE ";
    std::string said = capture(gs + "-dNODISPLAY " + quoted(dir_ / ps) + " 2>&1", &status);
    EXPECT_EQ(status, 0) << said;
    EXPECT_EQ(said, "");
    said = capture(gs + "-sDEVICE=pbmraw -r" + std::to_string(xDpi) + "x" + std::to_string(yDpi) +
                       " -sOutputFile=" + quoted(dir_ / "gs.pbm") + " " + quoted(dir_ / ps) + " 2>&1",
                   &status);
    ASSERT_EQ(status, 0) << said;
    EXPECT_EQ(said, "");
    Bitmap rendered;
    ASSERT_TRUE(readPnm(dir_ / "gs.pbm", &rendered));
    EXPECT_EQ(difference(rendered, want), "equal");
  }

  ScratchDir dir_{"vantrel-gs"};
};

struct DrawgenCase {
  const char* paper;
  int dpi;
};

void PrintTo(const DrawgenCase& c, std::ostream* os) {
  *os << c.paper << " at " << c.dpi << " dpi";
}

class GhostscriptDrawgen : public GhostscriptInterop, public ::testing::WithParamInterface<DrawgenCase> {};

TEST_P(GhostscriptDrawgen, RendersThePagePixelForPixel) {
  const DrawgenCase c = GetParam();
  const std::string args = std::string(" -p ") + c.paper + " -dpi " + std::to_string(c.dpi) + " -seed 4 ";
  ASSERT_EQ(runShell(std::string(DRAWGEN_EXE) + args + quoted(dir_ / "page.pbm")), 0);
  ASSERT_EQ(runShell(std::string(DRAWGEN_EXE) + args + "-f rnl " + quoted(dir_ / "page.rnl")), 0);
  int status = -1;
  const std::string said =
      capture("cd " + quoted(dir_.path()) + " && " + quoted(VANTREL_EXE) + " page.rnl page.ps 2>&1", &status);
  ASSERT_EQ(status, 1) << said;
  EXPECT_EQ(said, "Generating file: page.ps\nvantrel: Translation is complete.\n");
  Bitmap page;
  ASSERT_TRUE(readPnm(dir_ / "page.pbm", &page));
  ASSERT_NO_FATAL_FAILURE(expectRendering("page.ps", page, c.dpi, c.dpi));
}

INSTANTIATE_TEST_SUITE_P(Pages, GhostscriptDrawgen,
                         ::testing::Values(DrawgenCase{"a4", 200}, DrawgenCase{"a4", 300}, DrawgenCase{"a4", 400},
                                           DrawgenCase{"a0", 200}, DrawgenCase{"a0", 400}),
                         [](const ::testing::TestParamInfo<DrawgenCase>& i) {
                           return std::string(i.param.paper) + "_" + std::to_string(i.param.dpi) + "dpi";
                         });

// Runs of random lengths and gaps, some white rows, runs touching both edges.
Bitmap randomPage(uint32_t seed, int32_t width, int32_t height) {
  std::mt19937 rng(seed);
  Bitmap page(width, height);
  for (int32_t y = 0; y < height; ++y) {
    if (rng() % 7 == 0) continue;
    int32_t x = static_cast<int32_t>(rng() % 30) - 3;
    while (x < width) {
      const int32_t length = 1 + static_cast<int32_t>(rng() % (rng() % 5 == 0 ? 200 : 10));
      page.fill(x, x + length, y);
      x += length + 1 + static_cast<int32_t>(rng() % 60);
    }
  }
  return page;
}

// A frame, a grid of thin vertical and horizontal lines, a filled box and single pixels in the corners.
Bitmap boxesAndLines(int32_t width, int32_t height) {
  Bitmap page(width, height);
  for (int32_t y = 0; y < height; ++y) {
    if (y == 0 || y == height - 1 || y % 50 == 25) {
      page.fill(0, width, y);
      continue;
    }
    page.set(0, y);
    page.set(width - 1, y);
    for (int32_t x = 40; x < width - 40; x += 40) page.fill(x, x + 1 + (x / 40) % 3, y);
    if (y >= 100 && y < 140) page.fill(200, 260, y);
  }
  return page;
}

TEST_F(GhostscriptInterop, SeededRandomRuns) {
  const Bitmap page = randomPage(20240611, 1500, 300);
  ASSERT_EQ(writeThroughLibrary(dir_ / "page.ps", kFormatPostScript, page, 300), kRioOk);
  ASSERT_NO_FATAL_FAILURE(expectRendering("page.ps", page, 300, 300));
}

TEST_F(GhostscriptInterop, BoxesAndLines) {
  const Bitmap page = boxesAndLines(900, 400);
  ASSERT_EQ(writeThroughLibrary(dir_ / "page.ps", kFormatPostScript, page, 0), kRioOk);  // unknown: 200 dpi
  ASSERT_NO_FATAL_FAILURE(expectRendering("page.ps", page, 200, 200));
}

// Each axis at its own resolution.
TEST_F(GhostscriptInterop, UnequalResolutions) {
  const Bitmap page = makePage(1001, 777, 0x5EED);
  ASSERT_EQ(writeThroughLibrary(dir_ / "page.ps", kFormatPostScript, page, 200, 400), kRioOk);
  ASSERT_NO_FATAL_FAILURE(expectRendering("page.ps", page, 200, 400));
}

// A page whose writer receives fewer rows than it declared: the rest of the page is white.
TEST_F(GhostscriptInterop, PageEndingEarlyIsWhiteBelow) {
  const Bitmap page = boxesAndLines(300, 200);
  FilePtr file(std::fopen((dir_ / "page.ps").c_str(), "wb"));
  ASSERT_TRUE(file);
  RasterStream* stream = streamOpen(file.get(), "w");
  RioStatus status = 0;
  RCB* rcb = rioOpenRasterWrite(stream, page.width, page.height, kFormatPostScript, &status);
  ASSERT_NE(rcb, nullptr) << status;
  for (int32_t y = 0; y < 150; ++y) {
    int32_t* p = rcb->curSline;
    for (int32_t x = 0; x < page.width; ++x) {
      if (!page.black(x, y) || (x > 0 && page.black(x - 1, y))) continue;
      *p++ = x;
      int32_t e = x;
      while (e < page.width && page.black(e, y)) ++e;
      *p++ = e;
    }
    p[0] = p[1] = kSlineEnd;
    ASSERT_EQ(rioWriteRasterSline(rcb), kRioOk);
  }
  EXPECT_EQ(rioCloseRaster(rcb), kRioOk);
  ASSERT_EQ(streamClose(stream), 1);
  file.reset();
  Bitmap want = page;
  std::fill(want.row(150), want.bits.data() + want.bits.size(), 0);
  ASSERT_NO_FATAL_FAILURE(expectRendering("page.ps", want, 200, 200));
}

}  // namespace
}  // namespace vantrel
