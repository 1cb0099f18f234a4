// The PDF writer's refusals: a page it cannot state as a PDF/A page (no pixels, or a shape whose sides
// cannot both be brought within 3 to 14,400 units by any /UserUnit) is refused with the side's status before
// anything is written; lines beyond the height are refused.
#include <gtest/gtest.h>

#include <cstdio>

#include "formats/registry.h"
#include "rio/rcb.h"
#include "rio/stream.h"

namespace vantrel {
namespace {

struct RefusalCase {
  const char* name;
  int32_t width, height;
  double dpi;
  RioStatus open;       // rioOpenRasterWrite's status
  RioStatus firstLine;  // the first line's, when the open succeeded
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class PdfWriterRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(PdfWriterRefusal, RefusesBeforeWritingAnything) {
  const RefusalCase& c = GetParam();
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  RasterStream* out = streamOpen(file, "w");
  RioStatus st = 0;
  RCB* rcb = rioOpenRasterWrite(out, c.width, c.height, kFormatPdf, &st);
  EXPECT_EQ(st, c.open);
  if (rcb) {
    rcb->xDpi = rcb->yDpi = c.dpi;
    rcb->curSline[0] = rcb->curSline[1] = kSlineEnd;
    EXPECT_EQ(rioWriteRasterSline(rcb), c.firstLine);
    for (int32_t row = 1; row < c.height && c.firstLine == kRioOk; ++row) ASSERT_EQ(rioWriteRasterSline(rcb), 0);
    if (c.firstLine == kRioOk) {
      EXPECT_EQ(rioWriteRasterSline(rcb), kRioBadRows) << "a line beyond the height";
    }
    EXPECT_NE(rioCloseRaster(rcb), kRioOk);
  }
  EXPECT_EQ(streamClose(out), 1);
  if (c.firstLine != kRioOk || !rcb) {
    EXPECT_EQ(std::ftell(file), 0) << "bytes written for a refused page";
  }
  std::fclose(file);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, PdfWriterRefusal,
    ::testing::Values(RefusalCase{"NoColumns", 0, 10, 200, kRioBadColumns, 0},
                      RefusalCase{"NoRows", 10, 0, 200, kRioBadRows, 0},
                      RefusalCase{"FarTooLong", 1, 50000, 200, kRioOk, kRioBadRows},
                      RefusalCase{"FarTooWide", 50000, 1, 200, kRioOk, kRioBadColumns},
                      RefusalCase{"OneExtraLine", 64, 3, 200, kRioOk, kRioOk}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantrel
