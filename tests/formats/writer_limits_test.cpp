// Writers whose fields cannot state a page refuse it when the RCB is opened, before a byte is written,
// never cutting, clamping or wrapping it; one pixel less is taken. The page budget is raised here so that
// each writer's own limit is the one met. Also the page budget's setting and the device output budget.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "formats/open.h"
#include "rio/rcb.h"
#include "rio/stream.h"

namespace vantrel {
namespace {

struct LimitCase {
  const char* name;
  RasterFormatId format;
  int32_t width, height;
  RioStatus open;
};

class WriterLimits : public ::testing::TestWithParam<LimitCase> {};

TEST_P(WriterLimits, RefusedBeforeAnythingIsWritten) {
  const LimitCase& c = GetParam();
  RioSettings settings;
  settings.maxPageSide = "0x1000000";
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  RasterStream* out = streamOpen(f, "w", &settings);
  ASSERT_NE(out, nullptr);
  RioStatus status = 0;
  RCB* rcb = rioOpenRasterWrite(out, c.width, c.height, c.format, &status);
  EXPECT_EQ(status, c.open);
  EXPECT_EQ(rcb != nullptr, c.open == kRioOk);
  if (rcb) {
    rioSetError(rcb, kRioBadData);  // a failed run: the writer does not pad the page
    (void)rioCloseRaster(rcb);
  } else {
    EXPECT_EQ(streamTell(out), 0) << "nothing written";
  }
  (void)streamClose(out);
  std::fclose(f);
}

INSTANTIATE_TEST_SUITE_P(
    Writers, WriterLimits,
    ::testing::Values(LimitCase{"NativeRunLength", kFormatRunLength, 32768, 1, kRioBadColumns},
                      LimitCase{"NativeRunLengthAtItsLimit", kFormatRunLength, 32767, 1, kRioOk},
                      LimitCase{"RlcWide", kFormatRlc, 65535, 1, kRioBadColumns},
                      LimitCase{"RlcTall", kFormatRlc, 1, 65535, kRioBadRows},
                      LimitCase{"RlcAtItsLimit", kFormatRlc, 65534, 65534, kRioOk},
                      LimitCase{"GraphtecWide", kFormatGraphtec, 65535, 1, kRioBadColumns},
                      LimitCase{"GraphtecTall", kFormatGraphtec, 1, 65535, kRioBadRows},
                      LimitCase{"Jdl4000DotCount", kFormatJdl4000, 65529, 1, kRioBadColumns},
                      LimitCase{"Jdl4000AtItsLimit", kFormatJdl4000, 65528, 1, kRioOk},
                      LimitCase{"JdlRowBytes", kFormatJdl, 524281, 1, kRioBadColumns},
                      LimitCase{"CalCompGroups", kFormatCalComp, 65535 * 32 + 1, 1, kRioBadColumns},
                      LimitCase{"CalCompAtItsLimit", kFormatCalComp, 65535 * 32, 1, kRioOk},
                      // 1,766 bytes a row for the default plotter: 2^34 bytes are passed after 9,728,125 rows.
                      LimitCase{"VersatecOutputBudget", kFormatVersatec, 8, 9728126, kRioBadRows},
                      LimitCase{"VersatecWithinItsBudget", kFormatVersatec, 8, 9728125, kRioOk},
                      LimitCase{"TiffNoRows", kFormatTiffUncompressed, 8, 0, kRioBadRows},
                      LimitCase{"PastTheRaisedSides", kFormatNativeG4, 8, (1 << 24) + 1, kRioBadRows}),
    [](const auto& info) { return std::string(info.param.name); });

struct SideCase {
  const char* setting;  // nullptr: unset
  int64_t side;
};

class PageSideSetting : public ::testing::TestWithParam<SideCase> {};

TEST_P(PageSideSetting, RaisesTheDefaultOnly) {
  RioSettings settings;
  if (GetParam().setting) settings.maxPageSide = GetParam().setting;
  const int64_t side = rioMaxPageSide(GetParam().setting ? &settings : nullptr);
  EXPECT_EQ(side, GetParam().side);
  EXPECT_EQ(rioCheckPageBudget(1, side, &settings), kRioOk);
  EXPECT_EQ(rioCheckPageBudget(1, side + 1, &settings), kRioBadRows);
  EXPECT_EQ(rioCheckPageBudget(std::min<int64_t>(side, kMaxLineWidth) + 1, 1, &settings), kRioBadColumns);
}

INSTANTIATE_TEST_SUITE_P(Values, PageSideSetting,
                         ::testing::Values(SideCase{nullptr, 1 << 20}, SideCase{"", 1 << 20}, SideCase{"1000", 1 << 20},
                                           SideCase{"-5", 1 << 20}, SideCase{"2e6", 1 << 20},
                                           SideCase{"2000000", 2000000}, SideCase{"0x200000", 1 << 21},
                                           SideCase{"010000000", 1 << 21}, SideCase{"99999999999", INT32_MAX}));

}  // namespace
}  // namespace vantrel
