// Japan Digital Labs (both models) and Raster Graphics / Oce NKK streams: each stream is parsed back by a
// decoder written here from its layout, and every decoded row must equal the input; the bytes the layouts
// fix (headers, one row, the paper size, PackBits) are checked as they stand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/registry.h"
#include "tests/support/device_decoders.h"
#include "tests/support/device_page.h"
#include "tests/support/read_back.h"
#include "tests/support/pbm.h"
#include "tests/support/read_back.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;
using devicetest::packRow;
using devicetest::Runs;
using devicetest::Written;
using Bytes = std::vector<uint8_t>;
using devicetest::decodeJd4;
using devicetest::decodeJdl;
using devicetest::decodeNkk;
using devicetest::Jd4Header;
using Rows = devicetest::ByteRows;

// A drawing-like page as run lists.
std::vector<Runs> pageRuns(int32_t width, int32_t height, uint64_t seed) {
  const testpbm::Bitmap page = testpbm::makePage(width, height, seed);
  std::vector<Runs> rows(static_cast<size_t>(height));
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width;) {
      if (!page.black(x, y)) {
        ++x;
        continue;
      }
      const int32_t s = x;
      while (x < width && page.black(x, y)) ++x;
      rows[static_cast<size_t>(y)].emplace_back(s, x);
    }
  return rows;
}

class DevicePages : public devicetest::AccountedMemoryTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(DevicePages, EveryModelDecodesToTheSourceRows) {
  const int32_t width = GetParam();
  std::vector<Runs> rows = pageRuns(width, 40, 0x1D1 + width);
  if (width >= 8) rows.push_back({{-5, 3}, {width - 2, width + 50}});  // runs past both edges are clipped
  for (const RasterFormatId id : {kFormatJdl, kFormatJdl4000, kFormatNkk}) {
    SCOPED_TRACE(id);
    const Written w = devicetest::writePage(id, width, rows);
    ASSERT_EQ(w.open, kRioOk);
    EXPECT_EQ(w.status, kRioOk);
    EXPECT_EQ(w.streamOk, 1);
    Rows got;
    const size_t rowBytes = id == kFormatNkk ? width / 8 + 1 : (width + 7) / 8;
    if (id == kFormatJdl) {
      ASSERT_EQ(decodeJdl(w.bytes, width, &got), "");
    } else if (id == kFormatJdl4000) {
      Jd4Header h;
      ASSERT_EQ(decodeJd4(w.bytes, width, &h, &got), "");
      EXPECT_EQ(h.dots, 8 * rowBytes);
      EXPECT_EQ(h.height, rows.size());
    } else {
      uint32_t w32 = 0, h32 = 0;
      char flag = 0;
      ASSERT_EQ(decodeNkk(w.bytes, &w32, &h32, &flag, &got), "");
      EXPECT_EQ(w32, static_cast<uint32_t>(width));
      EXPECT_EQ(h32, rows.size());
      EXPECT_EQ(flag, '0');  // 200 dpi
    }
    ASSERT_EQ(got.size(), rows.size());
    for (size_t y = 0; y < rows.size(); ++y) ASSERT_EQ(got[y], packRow(rows[y], width, rowBytes)) << "row " << y;
  }
}

INSTANTIATE_TEST_SUITE_P(Widths, DevicePages, ::testing::Values(1, 7, 8, 9, 64, 1733, 2400));

// ---- bytes the layouts fix

class FixedBytes : public devicetest::AccountedMemoryTest {};

TEST_F(FixedBytes, JdlRowOfTwentyPixels) {
  const Written w = devicetest::writePage(kFormatJdl, 20, {{{0, 8}, {19, 20}}});
  const Bytes want = {0x1B, 0x0D, 0x50, 0x1B, 0x7A, 0x4D, 0x01,                          // header
                      0x1B, 0x67, 0x49, 0x01, 0x03, 0x00, 0xFF, 0x00, 0x10, 0x0D, 0x1B, 0x76,  // row
                      0x1B, 0x19, 0x52};
  EXPECT_EQ(w.bytes, want);
}

TEST_F(FixedBytes, Jdl4000PaperSizeHeightAndLongRows) {
  struct Case {
    int32_t width, height;
    double dpi;
    std::string paper;
  };
  for (const Case& c : {Case{1700, 2200, 200, "85,110:"}, Case{1000, 300, 200, "83,83:"},
                        Case{1700, 2200, 0, "85,110:"}}) {  // unknown resolution: 200
    SCOPED_TRACE(c.paper);
    const Written w = devicetest::writePage(kFormatJdl4000, c.width, {{}}, {.xDpi = c.dpi, .yDpi = c.dpi, .height = c.height});
    Jd4Header h;
    Rows rows;
    ASSERT_EQ(decodeJd4(w.bytes, c.width, &h, &rows), "");
    EXPECT_EQ(h.paper, c.paper);
    EXPECT_EQ(h.height, static_cast<uint32_t>(c.height));
  }
  // 300 rows high: 0x2C 0x01; a white row of 300 bytes: (255, 0) and (43, 0).
  const Written w = devicetest::writePage(kFormatJdl4000, 2400, {{}}, {.height = 300});
  const Bytes b = w.bytes;
  const Bytes rowsAt = {0x1B, '*', 'I', 0x2C, 0x01};
  EXPECT_NE(std::search(b.begin(), b.end(), rowsAt.begin(), rowsAt.end()), b.end());
  const Bytes tail = {0x1B, '*', 'Q', 255, 0, 43, 0, 0x1B, '*', 'Z'};
  ASSERT_GE(b.size(), tail.size());
  EXPECT_EQ(Bytes(b.end() - static_cast<long>(tail.size()), b.end()), tail);
}

// A 64-pixel row is 9 bytes (one beyond the pixels, always white): 11 11 11 11 22 33 00 00 00 codes as a
// repeat of four, a literal pair, and a repeat of the three white bytes.
TEST_F(FixedBytes, NkkPackBitsOfA64PixelRowAndTheResolutionFlag) {
  Runs runs;
  for (int32_t byte = 0; byte < 4; ++byte) runs.push_back({8 * byte + 3, 8 * byte + 4}), runs.push_back({8 * byte + 7, 8 * byte + 8});
  runs.push_back({34, 35}), runs.push_back({38, 39});  // 0x22
  runs.push_back({42, 44}), runs.push_back({46, 48});  // 0x33
  const Written w = devicetest::writePage(kFormatNkk, 64, {runs}, {.xDpi = 400, .yDpi = 400});
  ASSERT_EQ(w.bytes.size(), 76u + 7);
  EXPECT_EQ(std::string(w.bytes.begin(), w.bytes.begin() + 14), "PG;XR1;IN;ZN\x01\x01");
  EXPECT_EQ(Bytes(w.bytes.begin() + 76, w.bytes.end()), (Bytes{0xFD, 0x11, 0x01, 0x22, 0x33, 0xFE, 0x00}));
}

TEST_F(FixedBytes, NkkLongRunsAndLongLiteralsSplitAt128) {
  // 300 black bytes, then 200 bytes alternating 0x80 / 0x00 (no run of 3), then the spare white byte.
  Runs runs = {{0, 2400}};
  for (int32_t i = 0; i < 200; i += 2) runs.push_back({2400 + 8 * i, 2401 + 8 * i});
  const int32_t width = 2400 + 1600;
  const Written w = devicetest::writePage(kFormatNkk, width, {runs});
  uint32_t w32 = 0, h32 = 0;
  char flag = 0;
  Rows rows;
  ASSERT_EQ(decodeNkk(w.bytes, &w32, &h32, &flag, &rows), "");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], packRow(runs, width, width / 8 + 1));
  const Bytes coded(w.bytes.begin() + 76, w.bytes.end());
  // 128 + 128 + 44 repeats of 0xFF, then literal blocks of 128 and 73 (72 + the white byte).
  ASSERT_GE(coded.size(), 8u);
  EXPECT_EQ(Bytes(coded.begin(), coded.begin() + 6), (Bytes{0x81, 0xFF, 0x81, 0xFF, 0xD5, 0xFF}));
  EXPECT_EQ(coded[6], 127);
  EXPECT_EQ(coded[6 + 129], 72);
  EXPECT_EQ(coded.size(), 6u + 129 + 74);
}

TEST_F(FixedBytes, OutputOnlyModelsRefuseToRead) {
  for (const RasterFormatId id : {kFormatJdl, kFormatJdl4000, kFormatNkk}) {
    EXPECT_EQ(testread::readBackBytes(std::string(100, 'x'), id).open, kRioNotImplemented) << id;
  }
}

// The console reaches every model by its names; each run is a complete translation.
TEST_F(FixedBytes, ConsoleWritesEveryModelByName) {
  testpbm::ScratchDir dir("vantrel-jdl-console");
  const testpbm::Bitmap page = testpbm::makePage(300, 20, 5);
  ASSERT_EQ(testpbm::writeThroughLibrary(dir / "in.rnl", kFormatRunLength, page, 200), 0);
  for (const char* name : {"jdl", "jd4", "rle", "nkk"}) {
    const fs::path out = dir / (std::string("out.") + name);
    EXPECT_EQ(testpbm::runShell(std::string(VANTREL_EXE) + " " + testpbm::quoted(dir / "in.rnl") + " " +
                                testpbm::quoted(out) + " >/dev/null"),
              1)
        << name;
    const Bytes b = testpbm::readBytes(out);
    ASSERT_FALSE(b.empty()) << name;
    EXPECT_EQ(b[0], name[0] == 'j' ? 0x1B : 'P') << name;
  }
}

}  // namespace
}  // namespace vantrel
