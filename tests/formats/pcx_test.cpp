// PCX: the bytes the writer gives a row (the run-length rules, rows padded to an even count), the header
// conventions the reader takes (version 0 against the window of every other version), colour and short
// headers refused, runs carried across rows, the writer's size limits and row count.
#include <gtest/gtest.h>

#include <ostream>

#include "tests/support/file_fixture.h"
#include "tests/support/read_back.h"

namespace vantrel {
namespace {

using testfiles::Bytes;
using testfiles::FileTest;
using testfiles::Runs;

constexpr int kHeader = 128;

class Pcx : public FileTest {};

struct RowCase {
  const char* name;
  int32_t width;
  Runs runs;
  Bytes coded;
};
std::ostream& operator<<(std::ostream& os, const RowCase& c) { return os << c.name; }

class PcxRow : public Pcx, public ::testing::WithParamInterface<RowCase> {};

// The header is the standard one and the row is coded exactly.
TEST_P(PcxRow, IsCodedByTheRunLengthRules) {
  const RowCase& c = GetParam();
  auto w = testfiles::writeWithDriver(fresh(), kFormatPcx, c.width, 1, {c.runs},
                                      [](RCB* rcb) { rcb->xDpi = rcb->yDpi = 299.7; });
  ASSERT_EQ(w.open, kRioOk);
  ASSERT_EQ(w.bytes.size(), kHeader + c.coded.size());
  const Bytes head(w.bytes.begin(), w.bytes.begin() + 18);
  const int32_t rowBytes = ((c.width + 7) / 8 + 1) / 2 * 2;
  const auto lo = [](int v) { return static_cast<uint8_t>(v); };
  const auto hi = [](int v) { return static_cast<uint8_t>(v >> 8); };
  EXPECT_EQ(head, (Bytes{0x0A, 5, 1, 1, 0, 0, 0, 0, lo(c.width - 1), hi(c.width - 1), 0, 0, 43, 1, 43, 1,
                         0, 0}));
  EXPECT_EQ(Bytes(w.bytes.begin() + 16, w.bytes.begin() + 22), (Bytes{0, 0, 0, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(w.bytes[65], 1);  // planes
  EXPECT_EQ(w.bytes[66] | w.bytes[67] << 8, rowBytes);
  EXPECT_EQ(Bytes(w.bytes.begin() + kHeader, w.bytes.end()), c.coded);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PcxRow,
    ::testing::Values(RowCase{"White16", 16, {}, {0xC2, 0xFF}}, RowCase{"Black16", 16, {{0, 16}}, {0xC2, 0x00}},
                      // 9 pixels take two bytes; the pad byte is white and, alone, needs its count byte.
                      RowCase{"NinePixels", 9, {{0, 1}}, {0x7F, 0xC1, 0xFF}},
                      RowCase{"LoneByteThatReadsAsACount", 16, {{7, 8}}, {0xC1, 0xFE, 0xC1, 0xFF}},
                      RowCase{"TwoHundredBytes", 1600, {}, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xCB, 0xFF}},
                      RowCase{"RunsBeyondTheWidthCut", 10, {{8, 40}, {50, 60}}, {0xC1, 0xFF, 0x3F}}),
    [](const auto& info) { return std::string(info.param.name); });

// A hand-made header: version, window, bytes per line, bits per pixel, planes.
Bytes header(int version, int xMin, int yMin, int xMax, int yMax, int rowBytes, int bits = 1, int planes = 1) {
  Bytes h(kHeader, 0);
  auto put16 = [&](int at, int v) {
    h[at] = static_cast<uint8_t>(v);
    h[at + 1] = static_cast<uint8_t>(v >> 8);
  };
  h[0] = 0x0A;
  h[1] = static_cast<uint8_t>(version);
  h[2] = 1;
  h[3] = static_cast<uint8_t>(bits);
  put16(4, xMin);
  put16(6, yMin);
  put16(8, xMax);
  put16(10, yMax);
  put16(12, 300);
  put16(14, 150);
  h[65] = static_cast<uint8_t>(planes);
  put16(66, rowBytes);
  return h;
}

struct HeaderCase {
  const char* name;
  Bytes file;
  RioStatus open;
  int32_t width = 0;
  int32_t height = 0;
  std::vector<Runs> lines = {};
  RioStatus end = kRioEndOfPage;
};
std::ostream& operator<<(std::ostream& os, const HeaderCase& c) { return os << c.name; }

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class PcxHeader : public Pcx, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(PcxHeader, GivesTheSizeAndRowsOrTheStatus) {
  const HeaderCase& c = GetParam();
  auto r = testread::readBackBytes(c.file);
  ASSERT_EQ(r.open, c.open);
  if (c.open != kRioOk) return;
  EXPECT_EQ(r.width, c.width);
  EXPECT_EQ(r.height, c.height);
  EXPECT_EQ(r.xDpi, 300);
  EXPECT_EQ(r.yDpi, 150);
  EXPECT_EQ(r.lines, c.lines);
  EXPECT_EQ(r.end, c.end);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, PcxHeader,
    ::testing::Values(
        // Version 0: the window maxima are the size; rows of 16 / 8 + 1 = 3 bytes.
        HeaderCase{"VersionZero", header(0, 0, 0, 16, 2, 0) + Bytes{0xC3, 0xFF, 0x0F, 0xC2, 0xFF}, kRioOk, 16,
                   2, {{}, {{0, 4}}}},
        // Other versions: Xmax - Xmin + 1 by Ymax - Ymin + 1, rows of the header's (even) byte count.
        HeaderCase{"WindowFromOne", header(5, 1, 1, 9, 2, 2) + Bytes{0x00, 0x7F, 0x7F, 0xC1, 0xFF}, kRioOk, 9, 2,
                   {{{0, 9}}, {{0, 1}}}},
        // A count byte passing the row end carries into the next row, and past the last row is dropped.
        HeaderCase{"RunCarriedIntoTheNextRow", header(5, 0, 0, 15, 1, 2) + Bytes{0xC3, 0x00, 0xC3, 0xF0}, kRioOk,
                   16, 2, {{{0, 16}}, {{0, 8}, {12, 16}}}},
        HeaderCase{"RowsShorterThanTheWidth", header(5, 0, 0, 16, 0, 2), kRioBadHeader},
        HeaderCase{"FourPlanes", header(5, 0, 0, 7, 0, 2, 1, 4), kRioBadHeader},
        HeaderCase{"EightBits", header(5, 0, 0, 7, 0, 8, 8), kRioBadHeader},
        HeaderCase{"NegativeWindow", header(5, 9, 0, 8, 0, 2), kRioBadColumns},
        HeaderCase{"HeaderCutShort", Bytes(70, 0x0A), kRioUnexpectedEof},
        HeaderCase{"DataCutShort", header(5, 0, 0, 15, 2, 2) + Bytes{0xC2, 0xFF, 0xC1}, kRioOk, 16, 3, {{}},
                   kRioUnexpectedEof},
        // A page of one colour may carry a palette saying 0 is white.
        HeaderCase{"PaletteZeroWhite",
                   [] {
                     Bytes h = header(5, 0, 0, 7, 0, 2) + Bytes{0xC2, 0x00};
                     std::fill(h.begin() + 16, h.begin() + 19, 0xFF);
                     return h;
                   }(),
                   kRioOk, 8, 1, {{}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct LimitCase {
  int32_t width, height;
  RioStatus open;
};
class PcxLimit : public Pcx, public ::testing::WithParamInterface<LimitCase> {};

// The 16-bit window holds 1..65536 pixels each way: the writer refuses anything else before writing.
TEST_P(PcxLimit, WriterRefusesWhatTheWindowCannotHold) {
  auto w = testfiles::writeWithDriver(fresh(), kFormatPcx, GetParam().width, GetParam().height, {});
  EXPECT_EQ(w.open, GetParam().open);
  if (w.open != kRioOk) {
    EXPECT_TRUE(w.bytes.empty());
  }
}
INSTANTIATE_TEST_SUITE_P(Limits, PcxLimit,
                         ::testing::Values(LimitCase{65536, 1, kRioOk}, LimitCase{65537, 1, kRioBadColumns},
                                           LimitCase{0, 1, kRioBadColumns}, LimitCase{8, 65537, kRioBadRows},
                                           LimitCase{8, 0, kRioBadRows}));

// Rows beyond the height are dropped with a warning; a page closed early is completed in white.
TEST_F(Pcx, WritesExactlyTheHeaderRows) {
  auto more = testfiles::writeWithDriver(fresh(), kFormatPcx, 16, 2, {{{0, 16}}, {{0, 16}}, {{0, 16}}});
  EXPECT_EQ(more.warning, kRioBadRows);
  EXPECT_EQ(Bytes(more.bytes.begin() + kHeader, more.bytes.end()), (Bytes{0xC2, 0x00, 0xC2, 0x00}));
  auto fewer = testfiles::writeWithDriver(fresh(), kFormatPcx, 16, 3, {{{0, 16}}});
  EXPECT_EQ(fewer.warning, kRioOk);
  EXPECT_EQ(Bytes(fewer.bytes.begin() + kHeader, fewer.bytes.end()), (Bytes{0xC2, 0x00, 0xC2, 0xFF, 0xC2, 0xFF}));
}

}  // namespace
}  // namespace vantrel
