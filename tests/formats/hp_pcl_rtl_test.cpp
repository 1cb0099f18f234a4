// HP PCL (id 14) and HP RTL (ids 8 and 19) writers. The tests' decoder of the stream layout (escape
// sequences, uncompressed and method-1 rows, tests/support/device_decoders.h) turns the output back into a
// bitmap, which must equal the input clipped to the width; golden bytes pin the headers, trailers and row
// encodings.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "formats/registry.h"
#include "rio/rcb.h"
#include "tests/support/device_decoders.h"
#include "tests/support/device_page.h"

namespace vantrel {
namespace {

using devicetest::decodeHpRaster;
using devicetest::HpRasterDecoded;
using devicetest::PageSetup;
using devicetest::Runs;
using devicetest::Sink;
using devicetest::writePage;
using devicetest::Written;

// Pages here are 300 dpi unless given; the declared height is the number of rows unless given.
PageSetup page(double xDpi = 300, double yDpi = 300, int32_t height = -1) {
  return {.xDpi = xDpi, .yDpi = yDpi, .height = height};
}

std::vector<uint8_t> expectedRow(int32_t width, const Runs& row) {
  return devicetest::packRow(row, width, static_cast<size_t>((static_cast<int64_t>(width) + 7) / 8));
}

std::string bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

class HpRasterTest : public devicetest::AccountedMemoryTest {};

// ---- golden headers and trailers ----

const char kPclTrailer[] = "\033*rB\033E";
const char kRtlTrailer[] = "\033*rC\033%0BPG;\033E";
const char kPlainRtlTrailer[] = "\033E";
const char kRtlRasterStart[] = "\033v0a0b0c1I\033*b1M\033*r1A";  // colour index, method, start raster

// The header of a 20 x 3 PCL page at the given resolution.
std::string pclHeader(const char* resolution) {
  return std::string("\033E\033&l0E\033*p60Y\033*t") + resolution + "R\033*b0M\033*r3T\033*r20S\033*r0A";
}

std::string rtlHeader(const char* plotSize, const char* width, const char* resolution) {
  return std::string("\033E\033%0BBP5,1;PS") + plotSize + ";PUPA0,0;\033%1A\033&a1N\033*r" + width + "S\033*t" +
         resolution + "R" + kRtlRasterStart;
}

struct FrameCase {
  const char* name;
  RasterFormatId id;
  int32_t width;
  int32_t height;
  double xDpi;
  double yDpi;
  std::string header;
  std::string trailer;
};

const FrameCase kFrames[] = {
    {"PclBasic", kFormatPcl, 20, 3, 300, 300, pclHeader("300"), kPclTrailer},
    {"PclTruncatesVertical", kFormatPcl, 20, 3, 299.6, 299.6, pclHeader("299"), kPclTrailer},
    {"PclTakesVertical", kFormatPcl, 20, 3, 100, 400, pclHeader("400"), kPclTrailer},
    {"PclUnknownVerticalTakesHorizontal", kFormatPcl, 20, 3, 300, 0, pclHeader("300"), kPclTrailer},
    {"PclBothUnknown", kFormatPcl, 20, 3, 0, 0, pclHeader("200"), kPclTrailer},
    {"RtlSquareTakesWideBranch", kFormatRtl, 101, 101, 100, 100, rtlHeader("1017,1016", "101", "100"), kRtlTrailer},
    {"RtlTall", kFormatRtl, 101, 201, 100, 100, rtlHeader("2032,1016", "101", "100"), kRtlTrailer},
    {"RtlWide", kFormatRtl, 201, 101, 100, 100, rtlHeader("2033,2032", "201", "100"), kRtlTrailer},
    {"RtlTieAtUnequalResolutionsIsWide", kFormatRtl, 201, 101, 200, 100, rtlHeader("1017,1016", "201", "200"),
     kRtlTrailer},
    // The real quotients say taller although both truncated sizes are 33.
    {"RtlRealQuotientsDecide", kFormatRtl, 100, 101, 3000, 3000, rtlHeader("33,33", "100", "3000"), kRtlTrailer},
    {"RtlRoundsHorizontal", kFormatRtl, 101, 201, 299.6, 299.6, rtlHeader("678,339", "101", "300"), kRtlTrailer},
    {"RtlUnknownHorizontalTakesVertical", kFormatRtl, 301, 601, 0, 300, rtlHeader("2032,1016", "301", "300"),
     kRtlTrailer},
    {"RtlBothUnknown", kFormatRtl, 201, 101, 0, 0, rtlHeader("1017,1016", "201", "200"), kRtlTrailer},
    {"PlainRtl", kFormatRtlPlain, 20, 3, 299.6, 100, "\033E\033*r20S\033*t300R\033*b1M", kPlainRtlTrailer},
    {"PlainRtlUnknownHorizontal", kFormatRtlPlain, 20, 3, 0, 150, "\033E\033*r20S\033*t150R\033*b1M", kPlainRtlTrailer},
};

class HpRasterFrameTest : public HpRasterTest, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(HpRasterFrameTest, OneWhiteRowBetweenHeaderAndTrailer) {
  const FrameCase& c = GetParam();
  Written w = writePage(c.id, c.width, {Runs{}}, page(c.xDpi, c.yDpi, c.height));
  ASSERT_EQ(w.open, 0);
  EXPECT_EQ(w.lineResults, std::vector<RioStatus>{0});
  EXPECT_EQ(w.status, 0);
  EXPECT_EQ(w.streamOk, 1);
  std::string row = c.id == kFormatPcl ? "\033*b3W" + std::string(3, '\0') : "\033*b0W";
  EXPECT_EQ(w.text, c.header + row + c.trailer);
}

// A writer that received no line still writes a whole stream: header, then trailer.
TEST_P(HpRasterFrameTest, ZeroRowsWriteHeaderAndTrailer) {
  const FrameCase& c = GetParam();
  Written w = writePage(c.id, c.width, {}, page(c.xDpi, c.yDpi, c.height));
  ASSERT_EQ(w.open, 0);
  EXPECT_EQ(w.streamOk, 1);
  EXPECT_EQ(w.text, c.header + c.trailer);
  EXPECT_TRUE(decodeHpRaster(w.text).error.empty());
}

INSTANTIATE_TEST_SUITE_P(Frames, HpRasterFrameTest, ::testing::ValuesIn(kFrames),
                         [](const ::testing::TestParamInfo<FrameCase>& i) {
                           return std::string(i.param.name);
                         });

TEST_F(HpRasterTest, FramedRtlHpglTextIsPlotSizeAndPageAdvance) {
  HpRasterDecoded d = decodeHpRaster(writePage(kFormatRtl, 101, {Runs{{0, 5}}}, page(100, 100, 201)).text);
  ASSERT_EQ(d.error, "");
  EXPECT_EQ(d.hpgl, "BP5,1;PS2032,1016;PUPA0,0;PG;");
  EXPECT_EQ(d.commands.front(), "E");
  EXPECT_EQ(d.commands.back(), "E");
}

TEST_F(HpRasterTest, ZeroRowImageAtZeroHeightIsWellFormed) {
  for (RasterFormatId id : {kFormatPcl, kFormatRtl, kFormatRtlPlain}) {
    HpRasterDecoded d = decodeHpRaster(writePage(id, 101, {}, page(100, 100, 0)).text);
    EXPECT_EQ(d.error, "") << id;
    EXPECT_TRUE(d.rows.empty()) << id;
    if (id == kFormatRtl) {
      EXPECT_EQ(d.hpgl, "BP5,1;PS1017,1016;PUPA0,0;PG;");  // no negative size
    }
    if (id == kFormatPcl) {
      EXPECT_EQ(d.height, 0);
    }
  }
}

// ---- row encodings ----

struct RowCase {
  const char* name;
  int32_t width;
  Runs runs;
  std::string method1;  // the row's method-1 bytes in RTL
};

const RowCase kRows[] = {
    {"OnePixel", 1, {{0, 1}}, bytes({0x00, 0x80})},
    {"Black2040", 2040, {{0, 2040}}, bytes({0xFE, 0xFF})},
    {"Black2048", 2048, {{0, 2048}}, bytes({0xFE, 0xFF, 0x00, 0xFF})},
    {"FourToTwelve", 20, {{4, 12}}, bytes({0x00, 0x0F, 0x00, 0xF0})},
    {"White", 20, {}, ""},
    {"WholeByteAfterWhiteBytes", 32, {{16, 24}}, bytes({0x01, 0x00, 0x00, 0xFF})},
    {"PartialByteThenLongBlack", 4000, {{3, 2100}}, bytes({0x00, 0x1F, 0xFE, 0xFF, 0x05, 0xFF, 0x00, 0xF0})},
    {"TwoRunsInOneByte", 16, {{1, 2}, {5, 7}}, bytes({0x00, 0x46})},
    {"ByteAlignedRunsAndGap", 64, {{0, 8}, {40, 48}}, bytes({0x00, 0xFF, 0x03, 0x00, 0x00, 0xFF})},
    {"PartialByteThenWhiteGap", 64, {{0, 3}, {40, 41}}, bytes({0x00, 0xE0, 0x03, 0x00, 0x00, 0x80})},
    {"LongWhiteGap", 4800, {{2400, 2401}}, bytes({0xFE, 0x00, 0x2C, 0x00, 0x00, 0x80})},
    {"TouchingRuns", 16, {{0, 4}, {4, 8}}, bytes({0x00, 0xFF})},
    {"RunPastTheWidth", 10, {{8, 50}}, bytes({0x00, 0x00, 0x00, 0xC0})},
    {"RunFromLeftOfZero", 10, {{-5, 3}}, bytes({0x00, 0xE0})},
    {"RunsBeyondTheWidthDropped", 10, {{2, 3}, {10, 12}, {14, 15}}, bytes({0x00, 0x20})},
};

class HpRasterRowTest : public HpRasterTest, public ::testing::WithParamInterface<RowCase> {};

TEST_P(HpRasterRowTest, Method1BytesAndDecodedBitmap) {
  const RowCase& c = GetParam();
  for (RasterFormatId id : {kFormatRtl, kFormatRtlPlain}) {
    HpRasterDecoded d = decodeHpRaster(writePage(id, c.width, {c.runs}, page()).text);
    ASSERT_EQ(d.error, "") << id;
    ASSERT_EQ(d.payloads.size(), 1u);
    EXPECT_EQ(d.payloads[0], c.method1) << id;
    EXPECT_EQ(d.rows[0], expectedRow(c.width, c.runs)) << id;
  }
}

TEST_P(HpRasterRowTest, PclRowIsTheBitmapInPixelOrder) {
  const RowCase& c = GetParam();
  HpRasterDecoded d = decodeHpRaster(writePage(kFormatPcl, c.width, {c.runs}, page()).text);
  ASSERT_EQ(d.error, "");
  ASSERT_EQ(d.payloads.size(), 1u);
  std::vector<uint8_t> want = expectedRow(c.width, c.runs);
  EXPECT_EQ(d.payloads[0], std::string(want.begin(), want.end()));
}

INSTANTIATE_TEST_SUITE_P(Rows, HpRasterRowTest, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<RowCase>& i) {
                           return std::string(i.param.name);
                         });

TEST_F(HpRasterTest, OnePixelRowsByteForByte) {
  EXPECT_NE(writePage(kFormatPcl, 1, {{{0, 1}}}, page()).text.find("\033*b1W\x80\033*rB"), std::string::npos);
  EXPECT_NE(writePage(kFormatRtlPlain, 1, {{{0, 1}}}, page()).text.find(bytes({0x1B, '*', 'b', '2', 'W', 0x00, 0x80})),
            std::string::npos);
}

// ---- round trips through the decoder ----

std::vector<Runs> randomRows(std::mt19937& rng, int32_t width, int32_t height) {
  std::vector<Runs> rows;
  const int32_t capacity = (width + 1) / 2;  // runs a line buffer of this width holds
  for (int32_t y = 0; y < height; ++y) {
    Runs row;
    int32_t x = static_cast<int32_t>(rng() % 3) - 1;  // sometimes a run from left of 0
    int kind = static_cast<int>(rng() % 4);
    while (static_cast<int32_t>(row.size()) < capacity && kind != 0) {
      int32_t gap = static_cast<int32_t>(rng() % (kind == 1 ? 3 : 40));
      int32_t len = 1 + static_cast<int32_t>(rng() % (kind == 3 ? 3000 : 20));
      int32_t s = x + (row.empty() ? 0 : 1 + gap);
      if (row.empty() && s < 0 && rng() % 2) s = 0;
      if (s > width + 30) break;
      row.push_back({s, s + len});  // may end, or start, past the width
      x = s + len;
    }
    rows.push_back(row);
  }
  return rows;
}

class HpRasterRoundTripTest : public HpRasterTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(HpRasterRoundTripTest, DecodedBitmapEqualsInput) {
  const int32_t width = GetParam();
  std::mt19937 rng(static_cast<uint32_t>(width) * 7919u + 1);
  const std::vector<Runs> rows = randomRows(rng, width, 40);
  for (RasterFormatId id : {kFormatPcl, kFormatRtl, kFormatRtlPlain}) {
    Written w = writePage(id, width, rows, page());
    ASSERT_EQ(w.status, 0);
    HpRasterDecoded d = decodeHpRaster(w.text);
    ASSERT_EQ(d.error, "") << id;
    EXPECT_EQ(d.width, width);
    EXPECT_EQ(d.compression, id == kFormatPcl ? 0 : 1);
    ASSERT_EQ(d.rows.size(), rows.size()) << id;
    for (size_t y = 0; y < rows.size(); ++y) {
      ASSERT_EQ(d.rows[y], expectedRow(width, rows[y])) << "format " << id << " row " << y;
      const size_t rowBytes = static_cast<size_t>((width + 7) / 8);
      if (id == kFormatPcl) {
        EXPECT_EQ(d.payloads[y].size(), rowBytes);
      } else {
        EXPECT_LE(d.payloads[y].size(), 2 * rowBytes);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Widths, HpRasterRoundTripTest,
                         ::testing::Values(1, 2, 7, 8, 9, 31, 64, 1000, 2041, 9001));

// ---- failures ----

TEST_F(HpRasterTest, ReadingIsNotImplemented) {
  for (RasterFormatId id : {kFormatPcl, kFormatRtl, kFormatRtlPlain}) {
    EXPECT_EQ(testread::readBackBytes("\033E\033*r1S", id).open, kRioNotImplemented) << id;
  }
}

TEST_F(HpRasterTest, OutOfMemoryAtOpenReleasesEverything) {
  for (RasterFormatId id : {kFormatPcl, kFormatRtl, kFormatRtlPlain}) {
    for (int64_t n = 0; n < 3; ++n) {  // the RCB, the driver state, its row buffer
      devicetest::OpenAttempt a = devicetest::openWithFailingAllocation(id, 100, 10, n);
      EXPECT_FALSE(a.opened) << id << " " << n;
      EXPECT_EQ(a.status, kRioOutOfMemory) << id << " " << n;
      EXPECT_EQ(a.leaked, 0) << id << " " << n;
    }
  }
}

TEST_F(HpRasterTest, NoAllocationPerRow) {
  for (RasterFormatId id : {kFormatPcl, kFormatRtl, kFormatRtlPlain}) {
    int64_t growth = -1;
    ASSERT_NO_FATAL_FAILURE(devicetest::measureRowAllocations(id, 5000, 200, {{3, 100}, {200, 4000}}, &growth));
    EXPECT_EQ(growth, 0) << id;
  }
}

// Rows of many short runs, more than one stream buffer in all, for a sink that accepts nothing.
std::vector<Runs> busyRows() {
  Runs row;
  for (int32_t x = 0; x + 3 <= 8000; x += 8) row.push_back({x, x + 3});
  return std::vector<Runs>(40, row);
}

Written writeRefused(RasterFormatId id, Sink* sink) {
  PageSetup setup = page();
  setup.sink = Sink::write;
  setup.sinkContext = sink;
  return writePage(id, 8000, busyRows(), setup);
}

TEST_F(HpRasterTest, SinkAcceptingNothingStopsThePage) {
  for (RasterFormatId id : {kFormatPcl, kFormatRtl, kFormatRtlPlain}) {
    Sink sink(-1);
    Written w = writeRefused(id, &sink);
    ASSERT_EQ(w.open, 0);
    EXPECT_EQ(w.status, kRioStreamIo) << id;
    devicetest::expectStopsAtTheLoss(w.lineResults);
    EXPECT_EQ(w.streamOk, 0);
    EXPECT_EQ(sink.got, "");
  }
}

// Finds `command` in the 20 pixels wide stream as written to a file (its last occurrence when `last`), then
// writes again into a sink that refuses its first call, with filler put in the stream before the RCB opens
// so that the command's first byte fills the buffer. *accepted gets what the sink took after the failure.
void writeFailingAt(RasterFormatId id, const std::vector<Runs>& rows, const std::string& command, bool last,
                    Written* w, std::string* accepted) {
  const std::string full = writePage(id, 20, rows, page()).text;
  const size_t at = last ? full.rfind(command) : full.find(command);
  ASSERT_NE(at, std::string::npos) << command;
  Sink sink(1);
  PageSetup setup = page();
  setup.sink = Sink::write;
  setup.sinkContext = &sink;
  setup.prefill = kStreamBufferSize - static_cast<int32_t>(at) - 1;
  *w = writePage(id, 20, rows, setup);
  const auto prefill = static_cast<size_t>(setup.prefill);
  if (prefill > 0 && sink.got.compare(0, prefill, std::string(prefill, 'x')) == 0) sink.got.erase(0, prefill);
  *accepted = sink.got;
}

// A sink failure placed inside one header command: nothing after it reaches the sink, and the first row
// reports the loss, whether or not the writer checks that command.
struct HeaderFailureCase {
  const char* name;
  RasterFormatId id;
  const char* failingCommand;  // the sink refuses the buffer that this command completes
};

const HeaderFailureCase kHeaderFailures[] = {
    {"RtlReset", kFormatRtl, "\033E"},
    {"RtlPlotSize", kFormatRtl, "PS"},
    {"RtlWidth", kFormatRtl, "\033*r20S"},
    {"RtlResolution", kFormatRtl, "\033*t300R"},
    {"RtlColourIndex", kFormatRtl, "\033v0a0b0c1I"},
    {"RtlStartRaster", kFormatRtl, "\033*r1A"},
    {"PlainRtlReset", kFormatRtlPlain, "\033E"},
    {"PlainRtlResolution", kFormatRtlPlain, "\033*t300R"},
    {"PclResolution", kFormatPcl, "\033*t300R"},
    {"PclFixedCommand", kFormatPcl, "\033&l0E"},
};

class HpRasterHeaderFailureTest : public HpRasterTest,
                                  public ::testing::WithParamInterface<HeaderFailureCase> {};

TEST_P(HpRasterHeaderFailureTest, NothingFollowsTheFailure) {
  const HeaderFailureCase& c = GetParam();
  // The failing command's first byte fills the buffer; the rest of it is dropped.
  Written w;
  std::string accepted;
  ASSERT_NO_FATAL_FAILURE(writeFailingAt(c.id, {Runs{{4, 12}}}, c.failingCommand, false, &w, &accepted));
  ASSERT_EQ(w.open, 0);
  EXPECT_EQ(w.lineResults, std::vector<RioStatus>{kRioStreamIo});
  EXPECT_EQ(w.status, kRioStreamIo);
  EXPECT_EQ(w.streamOk, 0);
  EXPECT_EQ(accepted, "");
}

INSTANTIATE_TEST_SUITE_P(Failures, HpRasterHeaderFailureTest, ::testing::ValuesIn(kHeaderFailures),
                         [](const ::testing::TestParamInfo<HeaderFailureCase>& i) {
                           return std::string(i.param.name);
                         });

TEST_F(HpRasterTest, ShortRowPrefixEndsThePage) {
  for (RasterFormatId id : {kFormatRtlPlain, kFormatPcl}) {
    Written w;
    std::string accepted;
    const char* prefix = id == kFormatPcl ? "\033*b3W" : "\033*b4W";
    ASSERT_NO_FATAL_FAILURE(writeFailingAt(id, {Runs{}, Runs{{4, 12}}}, prefix, id == kFormatPcl, &w, &accepted));
    EXPECT_EQ(w.lineResults, (std::vector<RioStatus>{0, kRioStreamIo})) << id;
    EXPECT_EQ(w.status, kRioStreamIo);
    EXPECT_EQ(accepted, "") << "neither the row bytes nor the trailer";
  }
}

TEST_F(HpRasterTest, RtlTrailerStopsAtFirstShortWrite) {
  Sink sink(1);
  devicetest::TrailerFailure r;
  // "\e*rC" fills the buffer: the rest of the trailer is not sent.
  ASSERT_NO_FATAL_FAILURE(devicetest::failTrailer(kFormatRtl, 20, {}, &sink, &r));
  EXPECT_EQ(r.finish, kRioStreamIo);
  EXPECT_EQ(r.status, kRioStreamIo);
  EXPECT_EQ(r.tellAfter, 0);  // the refused buffer is gone and nothing came after the failed command
  EXPECT_EQ(r.streamOk, 0);
}

// ---- compression modes chosen by the setting ----

PageSetup withMode(const RioSettings* settings) {
  PageSetup setup = page();
  setup.settings = settings;
  return setup;
}

struct ModeCase {
  RasterFormatId id;
  const char* mode;
};

class HpRasterModeTest : public HpRasterTest, public ::testing::WithParamInterface<ModeCase> {};

// Random rows, each now and then repeated or followed by a white row, decoded by the tests' own decoder:
// every row as the input clipped to the width, the method command once, with the mode's number.
TEST_P(HpRasterModeTest, DecodedRowsEqualTheInput) {
  const ModeCase& c = GetParam();
  RioSettings settings;
  settings.pclMode = c.mode;
  for (int32_t width : {1, 9, 64, 2041, 9001}) {
    std::mt19937 rng(static_cast<uint32_t>(width) * 31u + 7u);
    std::vector<Runs> rows;
    for (const Runs& row : randomRows(rng, width, 30)) {
      rows.push_back(row);
      if (rng() % 3 == 0) rows.push_back(rng() % 2 ? row : Runs{});
    }
    Written w = writePage(c.id, width, rows, withMode(&settings));
    ASSERT_EQ(w.status, 0);
    HpRasterDecoded d = decodeHpRaster(w.text);
    ASSERT_EQ(d.error, "") << width;
    EXPECT_EQ(d.compression, std::stoi(c.mode));
    EXPECT_EQ(d.compressionCommands, 1);
    ASSERT_EQ(d.rows.size(), rows.size());
    for (size_t y = 0; y < rows.size(); ++y) {
      ASSERT_EQ(d.rows[y], expectedRow(width, rows[y])) << "width " << width << " row " << y;
      EXPECT_LE(d.payloads[y].size(), 2 * d.rows[y].size() + 1);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, HpRasterModeTest,
                         ::testing::Values(ModeCase{kFormatPcl, "2"}, ModeCase{kFormatPcl, "3"}, ModeCase{kFormatRtl, "2"},
                                           ModeCase{kFormatRtl, "3"}, ModeCase{kFormatRtlPlain, "2"},
                                           ModeCase{kFormatRtlPlain, "3"}),
                         [](const ::testing::TestParamInfo<ModeCase>& i) {
                           return "Id" + std::to_string(i.param.id) + "Mode" + i.param.mode;
                         });

// The rules the decoder reads most easily past: repeat and literal lengths, the offset continued in
// further bytes, a row equal to its seed, a row going back to white.
struct ModeRowCase {
  const char* name;
  const char* mode;
  int32_t width;
  std::vector<Runs> rows;
  std::string last;  // the last row's payload
};

const ModeRowCase kModeRows[] = {
    {"PackBitsRepeatsOf128", "2", 2048, {{{0, 2048}}}, bytes({0x81, 0xFF, 0x81, 0xFF})},
    {"PackBitsLiteral", "2", 20, {{{4, 12}}}, bytes({0x01, 0x0F, 0xF0})},
    {"PackBitsWhiteThenByte", "2", 32, {{{16, 24}}}, bytes({0xFF, 0x00, 0x00, 0xFF})},
    {"PackBitsWhite", "2", 32, {{}}, ""},
    {"DeltaOffsetOver31", "3", 2400, {{}, {{2320, 2328}}}, bytes({0x1F, 0xFF, 0x04, 0xFF})},
    {"DeltaOffset31", "3", 400, {{{248, 256}}}, bytes({0x1F, 0x00, 0xFF})},
    {"DeltaNineBytes", "3", 100, {{{0, 72}}}, bytes({0xE0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0xFF})},
    {"DeltaSameRow", "3", 100, {{{3, 50}}, {{3, 50}}}, ""},
    {"DeltaBackToWhite", "3", 100, {{{8, 16}, {24, 26}}, {}}, bytes({0x01, 0x00, 0x01, 0x00})},
};

class HpRasterModeRowTest : public HpRasterTest, public ::testing::WithParamInterface<ModeRowCase> {};

TEST_P(HpRasterModeRowTest, LastRowBytes) {
  const ModeRowCase& c = GetParam();
  RioSettings settings;
  settings.pclMode = c.mode;
  for (RasterFormatId id : {kFormatPcl, kFormatRtlPlain}) {
    HpRasterDecoded d = decodeHpRaster(writePage(id, c.width, c.rows, withMode(&settings)).text);
    ASSERT_EQ(d.error, "") << id;
    ASSERT_EQ(d.payloads.size(), c.rows.size());
    EXPECT_EQ(d.payloads.back(), c.last) << id;
    EXPECT_EQ(d.rows.back(), expectedRow(c.width, c.rows.back())) << id;
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, HpRasterModeRowTest, ::testing::ValuesIn(kModeRows),
                         [](const ::testing::TestParamInfo<ModeRowCase>& i) {
                           return std::string(i.param.name);
                         });

// Mode 0 is each stream's own coding, byte for byte as without the setting; any value but 0, 2 and 3 is
// refused when the writer opens, before a byte is written.
TEST_F(HpRasterTest, ModeZeroChangesNothingAndUnknownModesAreRefused) {
  const std::vector<Runs> rows = {{{3, 90}}, {}, {{0, 5}}};
  for (RasterFormatId id : {kFormatPcl, kFormatRtl, kFormatRtlPlain}) {
    RioSettings zero;
    zero.pclMode = "0";
    EXPECT_EQ(writePage(id, 100, rows, withMode(&zero)).text, writePage(id, 100, rows, page()).text) << id;
    for (const char* value : {"1", "4", "02", " 2", "3 ", "x", "-3"}) {
      RioSettings bad;
      bad.pclMode = value;
      Written w = writePage(id, 100, rows, withMode(&bad));
      EXPECT_EQ(w.open, kRioBadParameter) << id << " '" << value << "'";
      EXPECT_EQ(w.text, "") << id << " '" << value << "'";
    }
  }
}

}  // namespace
}  // namespace vantrel
