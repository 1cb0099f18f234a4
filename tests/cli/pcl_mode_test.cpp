// The PCL and RTL compression setting "ZEB_PCLMODE" through the built program: a value the writers do not
// take is refused before any file is made, on standard error, while other outputs ignore the setting; on
// the drawgen A0 page at 400 dpi the rows of modes 2 and 3, decoded by the tests' own decoder
// (tests/support/device_decoders.h), are the page's pixels, and delta row makes the page at most a tenth
// of its uncompressed size.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/device_decoders.h"
#include "tests/support/pbm.h"

namespace vantrel {
namespace {

using namespace testpbm;

class PclModeRun : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.ok()); }

  // Runs the program in the scratch folder with the setting; *out and *err get what it printed.
  int vantrel(const std::string& mode, const std::string& args, std::string* out = nullptr,
              std::string* err = nullptr) {
    const int status = runShell("cd " + quoted(dir_.path()) + " && ZEB_PCLMODE='" + mode + "' " +
                                quoted(VANTREL_EXE) + " " + args + " >out.txt 2>err.txt");
    const std::vector<uint8_t> o = readBytes(dir_ / "out.txt"), e = readBytes(dir_ / "err.txt");
    if (out) out->assign(o.begin(), o.end());
    if (err) err->assign(e.begin(), e.end());
    return status;
  }
  std::string text(const std::string& name) {
    const std::vector<uint8_t> b = readBytes(dir_ / name);
    return {b.begin(), b.end()};
  }

  ScratchDir dir_{"vantrel-pclmode"};
};

TEST_F(PclModeRun, UnknownModeIsRefusedBeforeAnyFileIsMade) {
  ASSERT_EQ(runShell(std::string(DRAWGEN_EXE) + " -w 300 -h 200 -f rnl " + quoted(dir_ / "in.rnl")), 0);
  for (const char* output : {"out.pcl", "out.rtl"}) {
    std::string out, err;
    EXPECT_EQ(vantrel("7", std::string("in.rnl ") + output, &out, &err), 0) << output;
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "vantrel: ZEB_PCLMODE is \"7\": it may be 0 (PCL uncompressed, RTL method 1), 2 (PackBits) "
                   "or 3 (delta row)\n");
    EXPECT_FALSE(std::filesystem::exists(dir_ / output)) << output;
  }
  EXPECT_EQ(vantrel("7", "in.rnl out.cg4"), 1) << "other outputs do not read the setting";
}

TEST_F(PclModeRun, A0PageDecodesToItsPixelsAndDeltaRowIsATenth) {
  ASSERT_EQ(runShell(std::string(DRAWGEN_EXE) + " " + quoted(dir_ / "a0.pbm")), 0);
  ASSERT_EQ(runShell(std::string(DRAWGEN_EXE) + " -f rnl " + quoted(dir_ / "a0.rnl")), 0);
  Bitmap page;
  ASSERT_TRUE(readPnm(dir_ / "a0.pbm", &page));
  ASSERT_EQ(vantrel("0", "a0.rnl m0.pcl"), 1);
  const auto uncompressed = std::filesystem::file_size(dir_ / "m0.pcl");
  for (const char* run : {"2 m2.pcl", "3 m3.pcl", "3 m3.rtl"}) {
    SCOPED_TRACE(run);
    const std::string mode(run, 1), output(run + 2);
    ASSERT_EQ(vantrel(mode, "a0.rnl " + output), 1);
    const devicetest::HpRasterDecoded d = devicetest::decodeHpRaster(text(output));
    ASSERT_EQ(d.error, "");
    EXPECT_EQ(d.compression, std::stoi(mode));
    ASSERT_EQ(d.rows.size(), static_cast<size_t>(page.height));
    int64_t differing = 0;
    for (int32_t y = 0; y < page.height; ++y)
      differing += !std::equal(d.rows[y].begin(), d.rows[y].end(), page.row(y));
    EXPECT_EQ(differing, 0) << "rows differ from the page";
    if (mode == "3") {
      EXPECT_LE(std::filesystem::file_size(dir_ / output) * 10, uncompressed);
    }
  }
}

}  // namespace
}  // namespace vantrel
