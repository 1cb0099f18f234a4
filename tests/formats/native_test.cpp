// The native run-length format and the native header: golden bytes, edge cases of the record layout,
// hostile files, and a seeded round trip, all through real files and streams in a scratch folder.
#include "formats/native.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "formats/registry.h"
#include "formats/open.h"
#include "rio/rcb.h"
#include "tests/support/file_fixture.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

using testfiles::Bytes;
using testfiles::Runs;
using testread::toRuns;

void putBe16(Bytes& v, uint32_t x) {
  v.push_back(static_cast<uint8_t>(x >> 8));
  v.push_back(static_cast<uint8_t>(x));
}
void putBe32(Bytes& v, uint32_t x) {
  putBe16(v, x >> 16);
  putBe16(v, x & 0xFFFF);
}
uint32_t getBe32(const Bytes& v, size_t at) {
  return uint32_t{v[at]} << 24 | uint32_t{v[at + 1]} << 16 | uint32_t{v[at + 2]} << 8 | v[at + 3];
}

// A native header built field by field, independent of the writer.
struct HeaderFields {
  uint8_t magic[4] = {'Z', 'E', 'B', ' '};
  uint8_t codingType = 0;
  uint8_t byte5 = 1;
  uint8_t byte6 = 3;
  uint8_t byte7 = 2;
  uint32_t headerLength = 128;
  uint32_t yTenths = 2000;  // offset 18
  uint32_t xTenths = 2000;  // offset 22
  uint32_t height = 1;
  uint32_t width = 100;
  uint8_t attribute = 126;
  uint32_t yExtent = 0;
  uint32_t xExtent = 0;

  // The fixed 90 bytes and, for lengths above 90, that many bytes in all (extra bytes count 0, 1, 2...).
  Bytes bytes() const {
    Bytes v(magic, magic + 4);
    v.insert(v.end(), {codingType, byte5, byte6, byte7, 0, 0});
    putBe32(v, headerLength);
    putBe32(v, 0);
    putBe32(v, yTenths);
    putBe32(v, xTenths);
    putBe32(v, height);
    putBe32(v, width);
    v.insert(v.end(), 6, 0);
    v.insert(v.end(), {0, attribute});
    putBe32(v, yExtent);
    putBe32(v, xExtent);
    v.resize(90, 0);
    // Extra bytes only for lengths a test file can hold; larger lengths stand alone.
    for (uint32_t i = 90; i < headerLength && i < (1u << 20); ++i) v.push_back(static_cast<uint8_t>(i - 90));
    return v;
  }
};

void putRecord(Bytes& v, uint32_t last, uint32_t length, bool endOfLine, bool endOfImage = false) {
  putBe16(v, (last & 0x7FFF) | (endOfImage ? 0x8000 : 0));
  putBe16(v, (length & 0x7FFF) | (endOfLine ? 0x8000 : 0));
}
// A run [s, e) as its record.
void putRun(Bytes& v, int32_t s, int32_t e, bool endOfLine = false, bool endOfImage = false) {
  putRecord(v, static_cast<uint32_t>(e - 1), static_cast<uint32_t>(e - s), endOfLine, endOfImage);
}
void putMarker(Bytes& v, int32_t width, bool endOfImage = false) {
  putRecord(v, static_cast<uint32_t>(width - 1), 0, true, endOfImage);
}

using ReadResult = testread::PageRecord;

class NativeTest : public testfiles::FileTest {
 protected:
  fs::path file(const std::string& name, const Bytes& bytes) { return save(dir_ / name, bytes); }
  static Bytes contents(const fs::path& p) { return load(p); }

  // Reads lines until there are none (the reader keeps one line buffer: there is nothing to swap).
  static ReadResult read(const fs::path& p, RasterFormatId format = 0, int32_t maxLines = 1 << 20) {
    return testread::readBack(p, format, {.maxLines = maxLines});
  }

  struct WriteOptions {
    double xDpi = 200;
    double yDpi = 200;
    int32_t attribute = 126;
  };
  using WriteResult = testfiles::DriverWrite;

  // Writes the lines through a write RCB, without swapping the line buffers, and returns the file's bytes.
  WriteResult write(const std::string& name, int32_t width, int32_t height, const std::vector<Runs>& lines,
                    WriteOptions opt) {
    return testfiles::writeWithDriver(
        dir_ / name, kFormatRunLength, width, height, lines,
        [&](RCB* rcb) {
          rcb->xDpi = opt.xDpi;
          rcb->yDpi = opt.yDpi;
          rcb->attribute = opt.attribute;
        },
        false);
  }
  WriteResult write(const std::string& name, int32_t width, int32_t height, const std::vector<Runs>& lines) {
    return write(name, width, height, lines, WriteOptions{});
  }
};

// --- Golden bytes --------------------------------------------------------------------------------------

TEST_F(NativeTest, HeaderAndRecordsAreTheContract) {
  WriteOptions opt;
  opt.xDpi = 300;
  opt.yDpi = 200;
  WriteResult w = write("golden.rnl", 100, 3, {{{0, 10}, {20, 30}}, {}, {{90, 100}}}, opt);
  ASSERT_EQ(w.open, 0);
  const Bytes header = {
      'Z',  'E',  'B',  ' ',  0x00, 0x01, 0x03, 0x02, 0x00, 0x00,  // magic, coding, fixed bytes, reserved
      0x00, 0x00, 0x00, 0x80,                                      // 10: header length 128
      0x00, 0x00, 0x00, 0x00,                                      // 14: reserved
      0x00, 0x00, 0x07, 0xD0,                                      // 18: yDpi x 10 = 2000
      0x00, 0x00, 0x0B, 0xB8,                                      // 22: xDpi x 10 = 3000
      0x00, 0x00, 0x00, 0x03,                                      // 26: height
      0x00, 0x00, 0x00, 0x64,                                      // 30: width
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,                    // 34..40 reserved
      0x7E,                                                        // 41: attribute byte
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // 42, 46: extents
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00,                          // 50 coding word, 52..55
  };
  ASSERT_EQ(w.bytes.size(), 128u + 5 * 4);
  EXPECT_EQ(Bytes(w.bytes.begin(), w.bytes.begin() + 56), header);
  EXPECT_EQ(Bytes(w.bytes.begin() + 56, w.bytes.begin() + 128), Bytes(72, 0));
  const Bytes records = {
      0x00, 0x09, 0x00, 0x0A,  // [0, 10): last pixel 9, length 10
      0x00, 0x1D, 0x00, 0x0A,  // [20, 30)
      0x00, 0x63, 0x80, 0x00,  // marker: last pixel 99, length 0, end of line
      0x00, 0x63, 0x80, 0x00,  // an all-white line is the marker alone
      0x80, 0x63, 0x80, 0x0A,  // [90, 100) touches the edge: end of line and end of image on the run
  };
  EXPECT_EQ(Bytes(w.bytes.begin() + 128, w.bytes.end()), records);
  EXPECT_EQ(w.warning, 0);
}

TEST_F(NativeTest, GroupCodingsSetTheirHeaderFields) {
  RCB rcb;
  rcb.width = 1728;
  rcb.height = 2200;
  uint8_t g3[kNativeWrittenHeaderSize];
  uint8_t g4[kNativeWrittenHeaderSize];
  nativeEncodeHeader(&rcb, kNativeGroup3, rcb.width, g3);
  nativeEncodeHeader(&rcb, kNativeGroup4, rcb.width, g4);
  EXPECT_EQ(g3[4], 1);
  EXPECT_EQ(g3[50] << 8 | g3[51], 1);
  EXPECT_EQ(g3[53], 1);
  EXPECT_EQ(g3[54], 1);
  EXPECT_EQ(g4[4], 2);
  EXPECT_EQ(g4[50] << 8 | g4[51], 0);
  EXPECT_EQ(g4[53], 0);
  EXPECT_EQ(g4[54], 0);
}

// --- Writer edge cases ---------------------------------------------------------------------------------

TEST_F(NativeTest, WhiteLinesAreOneMarkerEach) {
  WriteResult w = write("white.rnl", 2000, 4, {{}, {}, {}, {}});
  ASSERT_EQ(w.bytes.size(), 128u + 4 * 4);
  Bytes expected;
  for (int i = 0; i < 3; ++i) putMarker(expected, 2000);
  putMarker(expected, 2000, true);
  EXPECT_EQ(Bytes(w.bytes.begin() + 128, w.bytes.end()), expected);
}

TEST_F(NativeTest, UnequalResolutionsReadBackUnswapped) {
  WriteOptions opt;
  opt.xDpi = 300;
  opt.yDpi = 200;
  WriteResult w = write("dpi.rnl", 64, 1, {{{1, 2}}}, opt);
  EXPECT_EQ(getBe32(w.bytes, 18), 2000u);  // vertical first
  EXPECT_EQ(getBe32(w.bytes, 22), 3000u);
  ReadResult r = read(dir_ / "dpi.rnl");
  ASSERT_EQ(r.open, 0);
  EXPECT_DOUBLE_EQ(r.xDpi, 300);
  EXPECT_DOUBLE_EQ(r.yDpi, 200);
}

TEST_F(NativeTest, UnknownResolutionIsWrittenAs200) {
  WriteOptions opt;
  opt.xDpi = 0;
  opt.yDpi = 0;
  WriteResult w = write("zero.rnl", 64, 1, {{}}, opt);
  EXPECT_EQ(getBe32(w.bytes, 18), 2000u);
  EXPECT_EQ(getBe32(w.bytes, 22), 2000u);
  EXPECT_DOUBLE_EQ(w.xDpi, 200);
  EXPECT_DOUBLE_EQ(w.yDpi, 200);
}

TEST_F(NativeTest, ResolutionRoundsHalfAwayFromZero) {
  WriteOptions opt;
  opt.xDpi = 300.05;  // 3000.5 -> 3001
  opt.yDpi = 199.94;  // 1999.4 -> 1999
  WriteResult w = write("round.rnl", 64, 1, {{}}, opt);
  EXPECT_EQ(getBe32(w.bytes, 22), 3001u);
  EXPECT_EQ(getBe32(w.bytes, 18), 1999u);
}

TEST_F(NativeTest, FewerLinesThanHeightArePaddedWithWhite) {
  WriteResult w = write("short.rnl", 100, 5, {{{3, 7}}, {{10, 20}, {40, 100}}});
  Bytes expected;
  putRun(expected, 3, 7);
  putMarker(expected, 100);
  putRun(expected, 10, 20);
  putRun(expected, 40, 100, true);
  putMarker(expected, 100);
  putMarker(expected, 100);
  putMarker(expected, 100, true);
  EXPECT_EQ(Bytes(w.bytes.begin() + 128, w.bytes.end()), expected);
  ReadResult r = read(dir_ / "short.rnl");
  ASSERT_EQ(r.lines.size(), 5u);
  EXPECT_EQ(r.lines[0], (Runs{{3, 7}}));
  EXPECT_EQ(r.lines[1], (Runs{{10, 20}, {40, 100}}));
  for (int i = 2; i < 5; ++i) EXPECT_TRUE(r.lines[i].empty());
  EXPECT_EQ(r.end, kRioEndOfPage);
}

TEST_F(NativeTest, PageClosedWithoutLinesIsAWhitePage) {
  WriteResult w = write("none.rnl", 100, 3, {});
  ASSERT_EQ(w.bytes.size(), 128u + 3 * 4);
  ReadResult r = read(dir_ / "none.rnl");
  ASSERT_EQ(r.lines.size(), 3u);
  EXPECT_EQ(r.end, kRioEndOfPage);
}

TEST_F(NativeTest, LinesBeyondTheHeightAreDropped) {
  WriteResult w = write("long.rnl", 10, 2, {{{0, 1}}, {{2, 3}}, {{4, 5}}});
  EXPECT_EQ(w.warning, kRioBadRows);
  ReadResult r = read(dir_ / "long.rnl");
  ASSERT_EQ(r.lines.size(), 2u);
  EXPECT_EQ(r.lines[1], (Runs{{2, 3}}));
}

struct WriterCase {
  const char* name;
  Runs runs;
  Runs expected;  // as read back
  RioStatus warning;
};

class NativeWriterRunTest : public NativeTest, public ::testing::WithParamInterface<WriterCase> {};

TEST_P(NativeWriterRunTest, RunsPastTheWidth) {
  const WriterCase& c = GetParam();
  WriteResult w = write("runs.rnl", 100, 1, {c.runs});
  ASSERT_EQ(w.lineResults.size(), 1u);
  EXPECT_EQ(w.lineResults[0], 0) << "a run past the width is not an internal error";
  EXPECT_EQ(w.warning, c.warning);
  ReadResult r = read(dir_ / "runs.rnl");
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0], c.expected);
  EXPECT_EQ(r.lineWarning, 0) << "the writer's records need no repair";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NativeWriterRunTest,
    ::testing::Values(WriterCase{"ClippedToLastColumn", {{90, 150}}, {{90, 100}}, kRioBadColumns},
                      WriterCase{"FirstRunFromZero", {{0, 150}}, {{0, 100}}, kRioBadColumns},
                      WriterCase{"AfterOtherRuns", {{5, 8}, {50, 101}}, {{5, 8}, {50, 100}}, kRioBadColumns},
                      WriterCase{
                          "StartingPastTheWidthEndsTheLine", {{5, 8}, {120, 130}}, {{5, 8}}, kRioBadColumns},
                      WriterCase{"AfterARunAtTheEdge", {{90, 100}, {101, 120}}, {{90, 100}}, kRioBadColumns},
                      WriterCase{"OverlappingIsSkipped", {{50, 60}, {58, 200}}, {{50, 60}}, kRioBadData},
                      WriterCase{"NegativeStartPastWidthIsSkipped", {{-3, 150}}, {}, kRioBadData},
                      WriterCase{"EmptyRunIsSkipped", {{5, 5}, {7, 9}}, {{7, 9}}, kRioBadData}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(NativeTest, RunAfterTheLastColumnIsAnInternalError) {
  WriteResult w = write("bad.rnl", 100, 1, {{{90, 100}, {10, 20}}});
  ASSERT_EQ(w.lineResults.size(), 1u);
  EXPECT_EQ(w.lineResults[0], kRioInternal);
}

// The 15-bit pixel indexes cannot state a page wider than 32767 columns: it is refused, not cut.
TEST_F(NativeTest, WideWriteIsRefusedBeforeAnythingIsWritten) {
  WriteResult w = write("wide.rnl", 40000, 1, {{{32000, 39000}}});
  EXPECT_EQ(w.open, kRioBadColumns);
  EXPECT_TRUE(w.bytes.empty());
}

// --- Reader edge cases ---------------------------------------------------------------------------------

class NativeReadFormatTest : public NativeTest, public ::testing::WithParamInterface<RasterFormatId> {};

// Recognition (id 0) takes the first five bytes; naming the format reads them from the stream.
TEST_P(NativeReadFormatTest, ReadsHeaderFieldsAndLines) {
  HeaderFields h;
  h.height = 3;
  h.width = 50;
  h.yTenths = 4000;
  h.xTenths = 3000;
  h.attribute = 7;
  h.yExtent = 0x01020304;
  h.xExtent = 0xFFFFFFFE;
  Bytes v = h.bytes();
  putRun(v, 0, 1);
  putRun(v, 10, 20);
  putMarker(v, 50);
  putMarker(v, 50);
  putRun(v, 40, 50, true, true);
  ReadResult r = read(file("a.rnl", v), GetParam());
  ASSERT_EQ(r.open, 0);
  EXPECT_EQ(r.width, 50);
  EXPECT_EQ(r.height, 3);
  EXPECT_DOUBLE_EQ(r.xDpi, 300);
  EXPECT_DOUBLE_EQ(r.yDpi, 400);
  EXPECT_EQ(r.attribute, 7);
  EXPECT_EQ(r.yExtent, 0x01020304);
  EXPECT_EQ(r.xExtent, -2);
  EXPECT_EQ(r.makerTag, "ZEB ");
  EXPECT_EQ(r.extra.size(), 38u);
  ASSERT_EQ(r.lines.size(), 3u);
  EXPECT_EQ(r.lines[0], (Runs{{0, 1}, {10, 20}}));
  EXPECT_TRUE(r.lines[1].empty());
  EXPECT_EQ(r.lines[2], (Runs{{40, 50}}));
  EXPECT_EQ(r.end, kRioEndOfPage);
  EXPECT_EQ(r.lineWarning, 0);
  EXPECT_EQ(r.warning, 0);
}

INSTANTIATE_TEST_SUITE_P(Formats, NativeReadFormatTest, ::testing::Values(0, kFormatRunLength));

TEST_F(NativeTest, ReadingPastTheEndOfImageIsEndOfPage) {
  HeaderFields h;
  h.height = 5;
  h.width = 10;
  Bytes v = h.bytes();
  putMarker(v, 10);
  putMarker(v, 10, true);
  putMarker(v, 10);  // after the end of image: never read
  fs::path p = file("eoi.rnl", v);

  std::FILE* f = std::fopen(p.c_str(), "rb");
  RasterStream* in = streamOpen(f, "r");
  RioStatus st = 0;
  RCB* rcb = rioOpenRasterRead(in, 0, &st);
  ASSERT_NE(rcb, nullptr);
  ASSERT_NE(rioReadRasterSline(rcb), nullptr);
  ASSERT_NE(rioReadRasterSline(rcb), nullptr);
  EXPECT_EQ(kNativeRunLengthDriver.readSline(rcb), kRioEndOfPage);
  EXPECT_EQ(kNativeRunLengthDriver.readSline(rcb), kRioEndOfPage);
  // Two lines of five: the core reports the early end as too few rows.
  EXPECT_EQ(rioReadRasterSline(rcb), nullptr);
  EXPECT_EQ(rcb->status, kRioBadRows);
  (void)kNativeRunLengthDriver.close(rcb);
  EXPECT_EQ(rcb->warning, kRioBadRows);
  (void)rioCloseRaster(rcb);
  (void)streamClose(in);
  std::fclose(f);
}

TEST_F(NativeTest, NulAfterMagicIsReadWithAWarning) {
  HeaderFields h;
  h.magic[3] = 0;
  Bytes v = h.bytes();
  putRun(v, 5, 6, true, true);
  ReadResult r = read(file("nul.rnl", v));
  ASSERT_EQ(r.open, 0);
  EXPECT_EQ(r.makerTag, std::string("ZEB\0", 4));
  EXPECT_EQ(r.lineWarning, kRioBadHeader);
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0], (Runs{{5, 6}}));
}

TEST_F(NativeTest, HeaderLength200KeepsTheExtraBytes) {
  HeaderFields h;
  h.headerLength = 200;
  Bytes v = h.bytes();
  ASSERT_EQ(v.size(), 200u);
  putRun(v, 0, 100, true, true);
  ReadResult r = read(file("h200.rnl", v));
  ASSERT_EQ(r.open, 0);
  ASSERT_EQ(r.extra.size(), 110u);
  for (size_t i = 0; i < r.extra.size(); ++i) ASSERT_EQ(r.extra[i], i);
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0], (Runs{{0, 100}}));
}

class NativeShortHeaderTest : public NativeTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(NativeShortHeaderTest, DataStartAt90) {
  HeaderFields h;
  h.headerLength = GetParam();
  Bytes v = h.bytes();
  ASSERT_EQ(v.size(), 90u);
  putRun(v, 1, 3, true, true);
  ReadResult r = read(file("short.rnl", v));
  ASSERT_EQ(r.open, 0);
  EXPECT_TRUE(r.extra.empty());
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0], (Runs{{1, 3}}));
}

INSTANTIATE_TEST_SUITE_P(Lengths, NativeShortHeaderTest, ::testing::Values(0u, 1u, 89u, 90u));

// --- Hostile headers -----------------------------------------------------------------------------------

struct HeaderCase {
  const char* name;
  void (*mutate)(HeaderFields&);
  RioStatus openStatus;
};

class NativeBadHeaderTest : public NativeTest, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(NativeBadHeaderTest, IsRefused) {
  HeaderFields h;
  GetParam().mutate(h);
  Bytes v = h.bytes();
  putMarker(v, 100, true);
  ReadResult r = read(file("bad.rnl", v), kFormatRunLength);
  EXPECT_EQ(r.open, GetParam().openStatus);
  EXPECT_TRUE(r.lines.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NativeBadHeaderTest,
    ::testing::Values(
        HeaderCase{"Group3Coding", [](HeaderFields& h) { h.codingType = 1; }, kRioBadHeader},
        HeaderCase{"UnknownCoding", [](HeaderFields& h) { h.codingType = 9; }, kRioBadHeader},
        HeaderCase{"Byte5", [](HeaderFields& h) { h.byte5 = 0; }, kRioBadHeader},
        HeaderCase{"Byte7", [](HeaderFields& h) { h.byte7 = 3; }, kRioBadHeader},
        HeaderCase{"WidthZero", [](HeaderFields& h) { h.width = 0; }, kRioBadColumns},
        HeaderCase{"WidthNegative", [](HeaderFields& h) { h.width = 0xFFFFFFFF; }, kRioBadColumns},
        HeaderCase{"WidthAboveInt32", [](HeaderFields& h) { h.width = 0x80000000; }, kRioBadColumns},
        HeaderCase{"WidthHuge", [](HeaderFields& h) { h.width = 0x7FFFFFFF; }, kRioBadColumns},
        HeaderCase{"HeightNegative", [](HeaderFields& h) { h.height = 0xFFFFFFFF; }, kRioBadRows},
        HeaderCase{"HeightAboveInt32", [](HeaderFields& h) { h.height = 0x80000001; }, kRioBadRows},
        HeaderCase{"LengthAboveInt32", [](HeaderFields& h) { h.headerLength = 0x80000000; }, kRioBadHeader}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(NativeTest, Byte6IsIgnoredByTheRunLengthReader) {
  HeaderFields h;
  h.byte6 = 77;
  Bytes v = h.bytes();
  putMarker(v, 100, true);
  ReadResult r = read(file("b6.rnl", v));
  EXPECT_EQ(r.open, 0);
  EXPECT_EQ(r.lineWarning, 0);
}

TEST_F(NativeTest, HugeHeaderLengthInASmallFileIsAShortRead) {
  HeaderFields h;
  h.headerLength = 0x7FFFFFFF;
  Bytes v = h.bytes();
  v.resize(1000);
  rioResetPeak();
  const int64_t before = rioBytesInUse();
  ReadResult r = read(file("huge.rnl", v));
  EXPECT_EQ(r.open, kRioStreamIo);
  EXPECT_LT(rioBytesPeak() - before, 1 << 20) << "the extra bytes grow only as data arrive";
}

TEST_F(NativeTest, ExtraHeaderLargerThanOneChunkIsReadWhole) {
  HeaderFields h;
  h.headerLength = 90 + 300000;
  Bytes v = h.bytes();
  putMarker(v, 100, true);
  ReadResult r = read(file("big.rnl", v));
  ASSERT_EQ(r.open, 0);
  ASSERT_EQ(r.extra.size(), 300000u);
  EXPECT_EQ(r.extra[299999], static_cast<uint8_t>(299999));
  EXPECT_EQ(r.lines.size(), 1u);
}

TEST_F(NativeTest, NegativeResolutionIsUnknownWithAWarning) {
  HeaderFields h;
  h.xTenths = 0xFFFFFF00;
  Bytes v = h.bytes();
  putMarker(v, 100, true);
  ReadResult r = read(file("negdpi.rnl", v));
  ASSERT_EQ(r.open, 0);
  EXPECT_EQ(r.xDpi, 0);
  EXPECT_DOUBLE_EQ(r.yDpi, 200);
  EXPECT_EQ(r.lineWarning, kRioBadHeader);
}

TEST_F(NativeTest, OutOfMemoryAtEveryAllocationOfAnOpen) {
  HeaderFields h;
  h.headerLength = 200;
  Bytes v = h.bytes();
  putMarker(v, 100, true);
  fs::path p = file("oom.rnl", v);
  bool opened = false;
  for (int64_t n = 0; n < 20 && !opened; ++n) {
    std::FILE* f = std::fopen(p.c_str(), "rb");
    RasterStream* in = streamOpen(f, "r");
    ASSERT_NE(in, nullptr);
    rioFailAllocationAfter(n);
    RioStatus st = 0;
    RCB* rcb = rioOpenRasterRead(in, 0, &st);
    rioFailAllocationAfter(-1);
    if (rcb) {
      opened = true;
      EXPECT_EQ(rcb->extraHeaderLength, 110);
      (void)rioCloseRaster(rcb);
    } else {
      EXPECT_EQ(st, kRioOutOfMemory) << "allocation " << n;
    }
    (void)streamClose(in);
    std::fclose(f);
  }
  EXPECT_TRUE(opened);
}

// --- Hostile records -----------------------------------------------------------------------------------

// A small valid file: header, then three lines, eight records in all.
Bytes smallValidFile() {
  HeaderFields h;
  h.height = 3;
  h.width = 40;
  Bytes v = h.bytes();
  putRun(v, 2, 5);
  putRun(v, 8, 9);
  putMarker(v, 40);
  putMarker(v, 40);
  putRun(v, 0, 10);
  putRun(v, 20, 30);
  putRun(v, 35, 40, true, true);
  return v;
}
constexpr int kSmallValidSize = 128 + 7 * 4;

class NativeTruncatedTest : public NativeTest, public ::testing::WithParamInterface<int> {};

TEST_P(NativeTruncatedTest, EndsWithAShortRead) {
  Bytes v = smallValidFile();
  ASSERT_EQ(static_cast<int>(v.size()), kSmallValidSize);
  const int cut = GetParam();
  v.resize(static_cast<size_t>(cut));
  // Complete lines before the cut: line 1 ends at record 3, line 2 at record 4.
  const int records = cut < 128 ? 0 : (cut - 128) / 4;
  const size_t complete = records >= 4 ? 2 : records >= 3 ? 1 : 0;
  for (RasterFormatId format : {kFormatNone, kFormatRunLength}) {
    ReadResult r = read(file("cut.rnl", v), format);
    if (cut < 128) {
      EXPECT_EQ(r.open, kRioStreamIo) << "format " << format;
      continue;
    }
    ASSERT_EQ(r.open, 0);
    EXPECT_EQ(r.lines.size(), complete);
    EXPECT_EQ(r.end, kRioStreamIo);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryOffset, NativeTruncatedTest, ::testing::Range(0, kSmallValidSize));

struct Record {
  int32_t last;
  int32_t length;
};

struct RecordCase {
  const char* name;
  std::vector<Record> records;  // one line of width 100; the end-of-line flag goes on a final marker
  Runs expected;
  RioStatus warning;
};

class NativeRecordTest : public NativeTest, public ::testing::WithParamInterface<RecordCase> {};

TEST_P(NativeRecordTest, LineIsRepaired) {
  HeaderFields h;
  Bytes v = h.bytes();
  for (const Record& rec : GetParam().records)
    putRecord(v, static_cast<uint32_t>(rec.last), static_cast<uint32_t>(rec.length), false);
  putMarker(v, 100, true);
  ReadResult r = read(file("rec.rnl", v));
  ASSERT_EQ(r.open, 0);
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0], GetParam().expected);
  EXPECT_EQ(r.lineWarning, GetParam().warning);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NativeRecordTest,
    ::testing::Values(
        RecordCase{"Ordered", {{9, 10}, {29, 10}}, {{0, 10}, {20, 30}}, 0},
        RecordCase{"Overlapping", {{9, 10}, {14, 10}}, {{0, 15}}, kRioBadData},
        RecordCase{"Touching", {{9, 10}, {19, 10}}, {{0, 20}}, kRioBadData},
        RecordCase{"Contained", {{49, 50}, {20, 5}}, {{0, 50}}, kRioBadData},
        // An earlier run after a later one joins it and keeps the later start.
        RecordCase{"OutOfOrder", {{29, 10}, {4, 5}}, {{20, 30}}, kRioBadData},
        RecordCase{"ZeroLengthAddsNothing", {{9, 10}, {50, 0}, {29, 10}}, {{0, 10}, {20, 30}}, 0},
        RecordCase{"StartBelowZero", {{5, 10}}, {{0, 6}}, kRioBadColumns},
        RecordCase{"EndPastWidth", {{120, 30}}, {{91, 100}}, kRioBadColumns},
        RecordCase{"StartPastWidthEndsTheLine", {{5, 1}, {130, 10}, {40, 2}}, {{5, 6}}, kRioBadColumns},
        RecordCase{"MaximalFields", {{32767, 32767}}, {{1, 100}}, kRioBadColumns}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(NativeTest, ShortReadInARepairedLineAlsoWarns) {
  HeaderFields h;
  Bytes v = h.bytes();
  putRun(v, 0, 10);
  putRun(v, 5, 15);
  ReadResult r = read(file("repair-cut.rnl", v));
  ASSERT_EQ(r.open, 0);
  EXPECT_TRUE(r.lines.empty());
  EXPECT_EQ(r.end, kRioStreamIo);
  EXPECT_EQ(r.lineWarning, kRioBadData);
}

// The runs clipping the raw list to the width gives (the repair a whole line gets).
Runs clippedOracle(const std::vector<Record>& records, int32_t width) {
  std::vector<int32_t> raw;
  for (const Record& r : records) {
    if (r.length == 0) continue;
    raw.push_back(r.last - r.length + 1);
    raw.push_back(r.last + 1);
  }
  raw.push_back(kSlineEnd);
  raw.push_back(kSlineEnd);
  rioClipSline(raw.data(), width);
  return toRuns(raw.data());
}

// Thousands of records in one line, in any order and size, never overrun the line buffer and give what
// clipping the raw list would.
TEST_F(NativeTest, ThousandsOfRandomRecordsInOneLine) {
  std::mt19937 rng(12345);
  for (int32_t width : {1, 2, 3, 17, 64, 1000}) {
    for (int round = 0; round < 5; ++round) {
      std::vector<Record> records;
      const int count = 3000 + round * 1000;
      for (int i = 0; i < count; ++i) {
        const auto last =
            static_cast<int32_t>(rng() % (round == 0 ? 32768 : static_cast<unsigned>(width + 4)));
        const auto length = static_cast<int32_t>(rng() % (round == 1 ? 32768 : 4));
        records.push_back({last, length});
      }
      HeaderFields h;
      h.width = static_cast<uint32_t>(width);
      Bytes v = h.bytes();
      for (const Record& rec : records)
        putRecord(v, static_cast<uint32_t>(rec.last), static_cast<uint32_t>(rec.length), false);
      putMarker(v, width, true);
      ReadResult r = read(file("many.rnl", v));
      ASSERT_EQ(r.open, 0);
      ASSERT_EQ(r.lines.size(), 1u);
      EXPECT_EQ(r.lines[0], clippedOracle(records, width)) << "width " << width << " round " << round;
      EXPECT_LE(r.lines[0].size(), static_cast<size_t>((width + 1) / 2));
    }
  }
}

TEST_F(NativeTest, AlternatingPixelsFillTheLine) {
  const int32_t width = 32767;
  HeaderFields h;
  h.width = width;
  Bytes v = h.bytes();
  Runs expected;
  for (int32_t x = 0; x < width; x += 2) {
    putRun(v, x, x + 1, x + 1 == width, x + 1 == width);
    expected.emplace_back(x, x + 1);
  }
  ReadResult r = read(file("alt.rnl", v));
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0], expected);
  EXPECT_EQ(r.lineWarning, 0);
}

// --- Round trips ---------------------------------------------------------------------------------------

std::vector<Runs> randomPage(std::mt19937& rng, int32_t width, int32_t height) {
  std::vector<Runs> page(static_cast<size_t>(height));
  for (Runs& line : page) {
    int32_t x = static_cast<int32_t>(rng() % 8);
    while (true) {
      const int32_t s = x + static_cast<int32_t>(rng() % 40);
      const int32_t e = s + 1 + static_cast<int32_t>(rng() % 30);
      if (s >= width) break;
      line.emplace_back(s, std::min(e, width));
      if (e >= width) break;
      x = e + 1;
    }
  }
  return page;
}

TEST_F(NativeTest, SeededPageRoundTrips) {
  std::mt19937 rng(20240611);
  for (auto [width, height] :
       {std::pair{1, 3}, std::pair{97, 50}, std::pair{2000, 300}, std::pair{32767, 20}}) {
    std::vector<Runs> page = randomPage(rng, width, height);
    WriteOptions opt;
    opt.xDpi = 406.4;
    opt.yDpi = 203.2;
    opt.attribute = 3;
    WriteResult w = write("page.rnl", width, height, page, opt);
    ASSERT_EQ(w.status, 0);
    ASSERT_EQ(w.warning, 0);
    ReadResult r = read(dir_ / "page.rnl");
    ASSERT_EQ(r.open, 0);
    EXPECT_EQ(r.width, width);
    EXPECT_EQ(r.height, height);
    EXPECT_DOUBLE_EQ(r.xDpi, 406.4);
    EXPECT_DOUBLE_EQ(r.yDpi, 203.2);
    EXPECT_EQ(r.attribute, 3);
    EXPECT_EQ(r.lines, page) << "width " << width;
    EXPECT_EQ(r.end, kRioEndOfPage);
    EXPECT_EQ(r.lineWarning, 0);
  }
}

// One RCB reading and writing: the line read is the line written, and close runs once.
TEST_F(NativeTest, ReadWriteRcbCopiesThePage) {
  std::mt19937 rng(7);
  std::vector<Runs> page = randomPage(rng, 500, 40);
  write("src.rnl", 500, 40, page);
  fs::path src = dir_ / "src.rnl";
  fs::path dst = dir_ / "dst.rnl";
  std::FILE* fi = std::fopen(src.c_str(), "rb");
  std::FILE* fo = std::fopen(dst.c_str(), "wb");
  RasterStream* in = streamOpen(fi, "r");
  RasterStream* out = streamOpen(fo, "w");
  RioStatus st = 0;
  RCB* rcb = rioOpenRasterReadWrite(in, 0, out, kFormatRunLength, &st);
  ASSERT_NE(rcb, nullptr) << st;
  int lines = 0;
  while (rioReadRasterSline(rcb)) {
    ASSERT_EQ(rioWriteRasterSline(rcb), 0);
    ++lines;
  }
  EXPECT_EQ(lines, 40);
  EXPECT_EQ(rcb->status, kRioEndOfPage);
  EXPECT_EQ(rioCloseRaster(rcb), 0);
  EXPECT_EQ(streamClose(out), 1);
  (void)streamClose(in);
  std::fclose(fo);
  std::fclose(fi);
  EXPECT_EQ(contents(dst), contents(src));
}

}  // namespace
}  // namespace vantrel
