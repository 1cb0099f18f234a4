// Quarter turns against netpbm's pamflip: drawgen pages whose sizes are not multiples of 32, turned by
// rastRotateImage, equal pamflip's turns pixel for pixel; pamflip's turn read back and turned the other way
// by us gives the page again. pamflip must be installed (netpbm): a missing tool fails the test.
#include <gtest/gtest.h>

#include <string>

#include "picture/transform.h"
#include "tests/support/pbm_picture.h"

namespace vantrel {
namespace {

using namespace testpbm;

constexpr double kDegree = 0.017453292519943295;

struct FlipCase {
  const char* name;
  double degrees;  // counter-clockwise, as rastRotateImage takes it
  const char* option;
  int32_t width;
  int32_t height;
};

class PamflipInterop : public ::testing::TestWithParam<FlipCase> {};

TEST_P(PamflipInterop, QuarterTurnsMatchPixelForPixel) {
  const FlipCase& c = GetParam();
  ASSERT_TRUE(toolExists("pamflip")) << "pamflip (netpbm) is not installed";
  ScratchDir dir("pamflip_test");
  ASSERT_TRUE(dir.ok());
  const fs::path source = dir / "page.pbm", ours = dir / "ours.pbm", theirs = dir / "theirs.pbm";
  ASSERT_EQ(runShell(std::string(DRAWGEN_EXE) + " -w " + std::to_string(c.width) + " -h " +
                     std::to_string(c.height) + " -dpi 100 -seed 11 " + quoted(source) + " >/dev/null 2>&1"),
            0);
  Bitmap page;
  ASSERT_TRUE(readPnm(source, &page));
  ASSERT_EQ(page.width, c.width);
  ASSERT_GT(page.blackCount(), 0);

  TPicture* turned = rastRotateImage(pictureFromPage(page), c.degrees * kDegree, nullptr, 0);
  ASSERT_NE(turned, nullptr);
  const Bitmap ourPage = pageFromPicture(turned);
  FreeTPicture(turned);
  ASSERT_TRUE(writePbm(ours, ourPage));

  ASSERT_EQ(runShell(std::string("pamflip ") + c.option + " " + quoted(source) + " > " + quoted(theirs)), 0);
  Bitmap theirPage;
  ASSERT_TRUE(readPnm(theirs, &theirPage));
  EXPECT_EQ(difference(ourPage, theirPage), "equal");

  // Our written turn, turned back by pamflip, is the page; pamflip's turn, turned back by us, likewise.
  const fs::path back = dir / "back.pbm";
  const char* undo = c.degrees == 90 ? "-cw" : c.degrees == 270 ? "-ccw" : "-r180";
  ASSERT_EQ(runShell(std::string("pamflip ") + undo + " " + quoted(ours) + " > " + quoted(back)), 0);
  Bitmap backPage;
  ASSERT_TRUE(readPnm(back, &backPage));
  EXPECT_EQ(difference(backPage, page), "equal");

  TPicture* returned = rastRotateImage(pictureFromPage(theirPage), -c.degrees * kDegree, nullptr, 0);
  ASSERT_NE(returned, nullptr);
  EXPECT_EQ(difference(pageFromPicture(returned), page), "equal");
  FreeTPicture(returned);
}

INSTANTIATE_TEST_SUITE_P(Pages, PamflipInterop,
                         ::testing::Values(FlipCase{"Ccw1001x1403", 90, "-ccw", 1001, 1403},
                                           FlipCase{"Half1001x1403", 180, "-r180", 1001, 1403},
                                           FlipCase{"Cw1001x1403", 270, "-cw", 1001, 1403},
                                           FlipCase{"Ccw333x257", 90, "-ccw", 333, 257},
                                           FlipCase{"Cw257x333", 270, "-cw", 257, 333}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantrel
