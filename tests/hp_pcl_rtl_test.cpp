// HP PCL (id 14) and HP RTL (ids 8 and 19) writers. A decoder written here from the stream layout (escape
// sequences, uncompressed and method-1 rows) turns the output back into a bitmap, which must equal the
// input clipped to the width; golden bytes pin the headers, trailers and row encodings.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "formats/registry.h"
#include "rio/rcb.h"

namespace vantrel {
namespace {

constexpr RasterFormatId kRtl = 8;
constexpr RasterFormatId kPcl = 14;
constexpr RasterFormatId kPlainRtl = 19;

struct Run {
  int32_t s;
  int32_t e;
};
using Row = std::vector<Run>;

struct Picture {
  int32_t width = 0;
  int32_t height = 0;
  double xDpi = 300;
  double yDpi = 300;
  std::vector<Row> rows;  // written in order; may be fewer or more than height
};

// A write sink that refuses its first `refuse` calls (all calls when negative) and keeps what it accepts.
struct Sink {
  explicit Sink(int refuseCalls) : refuse(refuseCalls) {}
  int refuse;
  int calls = 0;
  std::string got;
  static size_t write(const void* data, size_t size, size_t count, void* ctx) {
    auto* sink = static_cast<Sink*>(ctx);
    ++sink->calls;
    if (sink->refuse < 0 || sink->calls <= sink->refuse) return 0;
    sink->got.append(static_cast<const char*>(data), size * count);
    return count;
  }
};

struct Written {
  std::string bytes;  // the file, or what the sink accepted
  RioStatus openStatus = 0;
  std::vector<RioStatus> rowResults;
  RioStatus statusBeforeClose = 0;
  RioStatus closeResult = 0;
  int32_t streamOk = 0;
};

void fillLine(Sline line, const Row& row) {
  size_t i = 0;
  for (const Run& r : row) {
    line[2 * i] = r.s;
    line[2 * i + 1] = r.e;
    ++i;
  }
  line[2 * i] = line[2 * i + 1] = kSlineEnd;
}

std::string readAll(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string out;
  char buffer[65536];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
  return out;
}

// Writes the picture in format `id`. With a sink, output goes there; `prefill` bytes of filler are put in
// the stream before the RCB opens, to place a sink failure at a chosen byte.
Written writePicture(RasterFormatId id, const Picture& p, Sink* sink = nullptr, int32_t prefill = 0) {
  Written w;
  std::FILE* f = std::tmpfile();
  EXPECT_NE(f, nullptr);
  if (!f) return w;
  RasterStream* s = streamOpen(f, "w");
  EXPECT_NE(s, nullptr);
  if (sink) {
    EXPECT_EQ(streamSetWriteCallback(s, Sink::write, sink), 1);
  }
  if (prefill > 0) {
    std::string filler(static_cast<size_t>(prefill), 'x');
    EXPECT_EQ(streamWrite(s, filler.data(), prefill), prefill);
  }
  RCB* rcb = rioOpenRasterWrite(s, p.width, p.height, id, &w.openStatus);
  if (rcb) {
    rcb->xDpi = p.xDpi;
    rcb->yDpi = p.yDpi;
    for (const Row& row : p.rows) {
      fillLine(rcb->curSline, row);
      w.rowResults.push_back(rioWriteRasterSline(rcb));
    }
    w.statusBeforeClose = rcb->status;
    w.closeResult = rioCloseRaster(rcb);
  }
  w.streamOk = streamClose(s);
  w.bytes = sink ? sink->got : readAll(f);
  std::fclose(f);
  if (sink && prefill > 0 && w.bytes.compare(0, static_cast<size_t>(prefill), std::string(prefill, 'x')) == 0)
    w.bytes.erase(0, static_cast<size_t>(prefill));
  return w;
}

// ---- the test-side decoder ----

struct Decoded {
  std::vector<std::string> commands;  // escape commands without the escape: "E", "*r20S", "%0B", ...
  std::string hpgl;                   // HP-GL/2 text met between "%0B" and the next escape
  int64_t width = -1;
  int64_t height = -1;
  int64_t compression = 0;
  std::vector<std::string> payloads;       // the data bytes of each "*b#W"
  std::vector<std::vector<uint8_t>> rows;  // each row's pixels, ceil(width / 8) bytes
  std::string error;
};

bool isValueChar(char c) {
  return std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '+' || c == '.';
}

void decodeRow(Decoded& d, const std::string& payload) {
  if (d.width < 0) {
    d.error = "row before the width";
    return;
  }
  size_t rowBytes = static_cast<size_t>((d.width + 7) / 8);
  std::vector<uint8_t> row;
  if (d.compression == 0) {
    row.assign(payload.begin(), payload.end());
  } else if (d.compression == 1) {
    if (payload.size() % 2) d.error = "odd method-1 row";
    for (size_t k = 0; k + 1 < payload.size(); k += 2)
      row.insert(row.end(), static_cast<uint8_t>(payload[k]) + 1u, static_cast<uint8_t>(payload[k + 1]));
  } else {
    d.error = "unknown compression";
  }
  if (row.size() > rowBytes) d.error = "row longer than the width";
  row.resize(rowBytes, 0);
  d.rows.push_back(row);
}

Decoded decode(const std::string& in) {
  Decoded d;
  bool inHpgl = false;
  size_t i = 0;
  while (i < in.size() && d.error.empty()) {
    if (in[i] != '\033') {
      if (!inHpgl) {
        d.error = "stray byte at " + std::to_string(i);
        break;
      }
      d.hpgl += in[i++];
      continue;
    }
    if (i + 1 >= in.size()) {
      d.error = "escape at the end";
      break;
    }
    char c = in[i + 1];
    size_t j = i + 2;
    if (c == '%') {  // language switch: a value and its terminator
      std::string value;
      while (j < in.size() && isValueChar(in[j])) value += in[j++];
      if (j >= in.size()) {
        d.error = "truncated language switch";
        break;
      }
      char term = in[j++];
      d.commands.push_back(std::string("%") + value + term);
      inHpgl = term == 'B';
      i = j;
      continue;
    }
    inHpgl = false;
    if (c >= 0x21 && c <= 0x2F) {  // parameterised: group character, then value/parameter pairs
      if (j >= in.size()) {
        d.error = "truncated command";
        break;
      }
      char group = in[j++];
      while (true) {
        std::string value;
        while (j < in.size() && isValueChar(in[j])) value += in[j++];
        if (j >= in.size()) {
          d.error = "truncated parameter";
          break;
        }
        char p = in[j++];
        char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(p)));
        d.commands.push_back(std::string(1, c) + group + value + upper);
        int64_t v = value.empty() ? 0 : std::stoll(value);
        if (c == '*' && group == 'r' && upper == 'S') d.width = v;
        if (c == '*' && group == 'r' && upper == 'T') d.height = v;
        if (c == '*' && group == 'b' && upper == 'M') d.compression = v;
        if (c == '*' && group == 'b' && upper == 'W') {
          if (v < 0 || j + static_cast<size_t>(v) > in.size()) {
            d.error = "row data beyond the end";
            break;
          }
          std::string payload = in.substr(j, static_cast<size_t>(v));
          j += static_cast<size_t>(v);
          d.payloads.push_back(payload);
          decodeRow(d, payload);
        }
        if (p >= 'A' && p <= 'Z') break;
        if (p < 'a' || p > 'z') {
          d.error = "bad parameter character";
          break;
        }
      }
      i = j;
      continue;
    }
    if (c == 'v') {  // the colour index command as the framed stream writes it: value/parameter pairs
      std::string text = "v";
      while (j < in.size() && !(in[j] >= 'A' && in[j] <= 'Z')) text += in[j++];
      if (j < in.size()) text += in[j++];
      d.commands.push_back(text);
      i = j;
      continue;
    }
    d.commands.push_back(std::string(1, c));  // two-character command
    i = j;
  }
  return d;
}

std::vector<uint8_t> expectedRow(int32_t width, const Row& row) {
  std::vector<uint8_t> out(static_cast<size_t>((static_cast<int64_t>(width) + 7) / 8), 0);
  for (const Run& r : row)
    for (int64_t x = std::max(r.s, 0); x < std::min(r.e, width); ++x)
      out[static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
  return out;
}

std::string bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

class HpRasterTest : public ::testing::Test {
 protected:
  void SetUp() override { baseline_ = rioBytesInUse(); }
  void TearDown() override {
    rioFailAllocationAfter(-1);
    EXPECT_EQ(rioBytesInUse(), baseline_) << "accounted memory leaked";
  }
  int64_t baseline_ = 0;
};

// ---- golden headers and trailers ----

struct FrameCase {
  const char* name;
  RasterFormatId id;
  int32_t width;
  int32_t height;
  double xDpi;
  double yDpi;
  const char* header;
  const char* trailer;
};

const FrameCase kFrames[] = {
    {"PclBasic", kPcl, 20, 3, 300, 300, "\033E\033&l0E\033*p60Y\033*t300R\033*b0M\033*r3T\033*r20S\033*r0A",
     "\033*rB\033E"},
    {"PclTruncatesVertical", kPcl, 20, 3, 299.6, 299.6,
     "\033E\033&l0E\033*p60Y\033*t299R\033*b0M\033*r3T\033*r20S\033*r0A", "\033*rB\033E"},
    {"PclTakesVertical", kPcl, 20, 3, 100, 400,
     "\033E\033&l0E\033*p60Y\033*t400R\033*b0M\033*r3T\033*r20S\033*r0A", "\033*rB\033E"},
    {"PclUnknownVerticalTakesHorizontal", kPcl, 20, 3, 300, 0,
     "\033E\033&l0E\033*p60Y\033*t300R\033*b0M\033*r3T\033*r20S\033*r0A", "\033*rB\033E"},
    {"PclBothUnknown", kPcl, 20, 3, 0, 0, "\033E\033&l0E\033*p60Y\033*t200R\033*b0M\033*r3T\033*r20S\033*r0A",
     "\033*rB\033E"},
    {"RtlSquareTakesWideBranch", kRtl, 101, 101, 100, 100,
     "\033E\033%0BBP5,1;PS1017,1016;PUPA0,0;\033%1A\033&a1N\033*r101S\033*t100R\033v0a0b0c1I\033*b1M\033*r1A",
     "\033*rC\033%0BPG;\033E"},
    {"RtlTall", kRtl, 101, 201, 100, 100,
     "\033E\033%0BBP5,1;PS2032,1016;PUPA0,0;\033%1A\033&a1N\033*r101S\033*t100R\033v0a0b0c1I\033*b1M\033*r1A",
     "\033*rC\033%0BPG;\033E"},
    {"RtlWide", kRtl, 201, 101, 100, 100,
     "\033E\033%0BBP5,1;PS2033,2032;PUPA0,0;\033%1A\033&a1N\033*r201S\033*t100R\033v0a0b0c1I\033*b1M\033*r1A",
     "\033*rC\033%0BPG;\033E"},
    {"RtlTieAtUnequalResolutionsIsWide", kRtl, 201, 101, 200, 100,
     "\033E\033%0BBP5,1;PS1017,1016;PUPA0,0;\033%1A\033&a1N\033*r201S\033*t200R\033v0a0b0c1I\033*b1M\033*r1A",
     "\033*rC\033%0BPG;\033E"},
    // The real quotients say taller although both truncated sizes are 33.
    {"RtlRealQuotientsDecide", kRtl, 100, 101, 3000, 3000,
     "\033E\033%0BBP5,1;PS33,33;PUPA0,0;\033%1A\033&a1N\033*r100S\033*t3000R\033v0a0b0c1I\033*b1M\033*r1A",
     "\033*rC\033%0BPG;\033E"},
    {"RtlRoundsHorizontal", kRtl, 101, 201, 299.6, 299.6,
     "\033E\033%0BBP5,1;PS678,339;PUPA0,0;\033%1A\033&a1N\033*r101S\033*t300R\033v0a0b0c1I\033*b1M\033*r1A",
     "\033*rC\033%0BPG;\033E"},
    {"RtlUnknownHorizontalTakesVertical", kRtl, 301, 601, 0, 300,
     "\033E\033%0BBP5,1;PS2032,1016;PUPA0,0;\033%1A\033&a1N\033*r301S\033*t300R\033v0a0b0c1I\033*b1M\033*r1A",
     "\033*rC\033%0BPG;\033E"},
    {"RtlBothUnknown", kRtl, 201, 101, 0, 0,
     "\033E\033%0BBP5,1;PS1017,1016;PUPA0,0;\033%1A\033&a1N\033*r201S\033*t200R\033v0a0b0c1I\033*b1M\033*r1A",
     "\033*rC\033%0BPG;\033E"},
    {"PlainRtl", kPlainRtl, 20, 3, 299.6, 100, "\033E\033*r20S\033*t300R\033*b1M", "\033E"},
    {"PlainRtlUnknownHorizontal", kPlainRtl, 20, 3, 0, 150, "\033E\033*r20S\033*t150R\033*b1M", "\033E"},
};

class HpRasterFrameTest : public HpRasterTest, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(HpRasterFrameTest, OneWhiteRowBetweenHeaderAndTrailer) {
  const FrameCase& c = GetParam();
  Picture p{c.width, c.height, c.xDpi, c.yDpi, {Row{}}};
  Written w = writePicture(c.id, p);
  ASSERT_EQ(w.openStatus, 0);
  EXPECT_EQ(w.rowResults, std::vector<RioStatus>{0});
  EXPECT_EQ(w.statusBeforeClose, 0);
  EXPECT_EQ(w.streamOk, 1);
  std::string row = c.id == kPcl ? "\033*b3W" + std::string(3, '\0') : "\033*b0W";
  EXPECT_EQ(w.bytes, c.header + row + c.trailer);
}

// A writer that received no line still writes a whole stream: header, then trailer.
TEST_P(HpRasterFrameTest, ZeroRowsWriteHeaderAndTrailer) {
  const FrameCase& c = GetParam();
  Picture p{c.width, c.height, c.xDpi, c.yDpi, {}};
  Written w = writePicture(c.id, p);
  ASSERT_EQ(w.openStatus, 0);
  EXPECT_EQ(w.streamOk, 1);
  EXPECT_EQ(w.bytes, std::string(c.header) + c.trailer);
  EXPECT_TRUE(decode(w.bytes).error.empty());
}

INSTANTIATE_TEST_SUITE_P(Frames, HpRasterFrameTest, ::testing::ValuesIn(kFrames),
                         [](const ::testing::TestParamInfo<FrameCase>& i) {
                           return std::string(i.param.name);
                         });

TEST_F(HpRasterTest, FramedRtlHpglTextIsPlotSizeAndPageAdvance) {
  Picture p{101, 201, 100, 100, {Row{{0, 5}}}};
  Decoded d = decode(writePicture(kRtl, p).bytes);
  ASSERT_EQ(d.error, "");
  EXPECT_EQ(d.hpgl, "BP5,1;PS2032,1016;PUPA0,0;PG;");
  EXPECT_EQ(d.commands.front(), "E");
  EXPECT_EQ(d.commands.back(), "E");
}

TEST_F(HpRasterTest, ZeroRowImageAtZeroHeightIsWellFormed) {
  for (RasterFormatId id : {kPcl, kRtl, kPlainRtl}) {
    Written w = writePicture(id, Picture{101, 0, 100, 100, {}});
    Decoded d = decode(w.bytes);
    EXPECT_EQ(d.error, "") << id;
    EXPECT_TRUE(d.rows.empty()) << id;
    if (id == kRtl) {
      EXPECT_EQ(d.hpgl, "BP5,1;PS1017,1016;PUPA0,0;PG;");  // no negative size
    }
    if (id == kPcl) {
      EXPECT_EQ(d.height, 0);
    }
  }
}

// ---- row encodings ----

struct RowCase {
  const char* name;
  int32_t width;
  Row runs;
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
  for (RasterFormatId id : {kRtl, kPlainRtl}) {
    Written w = writePicture(id, Picture{c.width, 1, 300, 300, {c.runs}});
    Decoded d = decode(w.bytes);
    ASSERT_EQ(d.error, "") << id;
    ASSERT_EQ(d.payloads.size(), 1u);
    EXPECT_EQ(d.payloads[0], c.method1) << id;
    EXPECT_EQ(d.rows[0], expectedRow(c.width, c.runs)) << id;
  }
}

TEST_P(HpRasterRowTest, PclRowIsTheBitmapInPixelOrder) {
  const RowCase& c = GetParam();
  Written w = writePicture(kPcl, Picture{c.width, 1, 300, 300, {c.runs}});
  Decoded d = decode(w.bytes);
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
  EXPECT_NE(writePicture(kPcl, Picture{1, 1, 300, 300, {{{0, 1}}}}).bytes.find("\033*b1W\x80\033*rB"),
            std::string::npos);
  EXPECT_NE(writePicture(kPlainRtl, Picture{1, 1, 300, 300, {{{0, 1}}}})
                .bytes.find(bytes({0x1B, '*', 'b', '2', 'W', 0x00, 0x80})),
            std::string::npos);
}

// ---- round trips through the decoder ----

Picture randomPicture(std::mt19937& rng, int32_t width, int32_t height) {
  Picture p{width, height, 300, 300, {}};
  const int32_t capacity = (width + 1) / 2;  // runs a line buffer of this width holds
  for (int32_t y = 0; y < height; ++y) {
    Row row;
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
    p.rows.push_back(row);
  }
  return p;
}

class HpRasterRoundTripTest : public HpRasterTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(HpRasterRoundTripTest, DecodedBitmapEqualsInput) {
  const int32_t width = GetParam();
  std::mt19937 rng(static_cast<uint32_t>(width) * 7919u + 1);
  Picture p = randomPicture(rng, width, 40);
  for (RasterFormatId id : {kPcl, kRtl, kPlainRtl}) {
    Written w = writePicture(id, p);
    ASSERT_EQ(w.statusBeforeClose, 0);
    Decoded d = decode(w.bytes);
    ASSERT_EQ(d.error, "") << id;
    EXPECT_EQ(d.width, width);
    EXPECT_EQ(d.compression, id == kPcl ? 0 : 1);
    ASSERT_EQ(d.rows.size(), p.rows.size()) << id;
    for (size_t y = 0; y < p.rows.size(); ++y) {
      ASSERT_EQ(d.rows[y], expectedRow(width, p.rows[y])) << "format " << id << " row " << y;
      const size_t rowBytes = static_cast<size_t>((width + 7) / 8);
      if (id == kPcl) {
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
  for (RasterFormatId id : {kPcl, kRtl, kPlainRtl}) {
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    std::fputs("\033E\033*r1S", f);
    std::rewind(f);
    StreamPtr in(streamOpen(f, "r"));
    RioStatus st = 0;
    RcbPtr rcb(rioOpenRasterRead(in.get(), id, &st));
    EXPECT_EQ(rcb, nullptr);
    EXPECT_EQ(st, kRioNotImplemented) << id;
    in.reset();
    std::fclose(f);
  }
}

TEST_F(HpRasterTest, OutOfMemoryAtOpenReleasesEverything) {
  for (RasterFormatId id : {kPcl, kRtl, kPlainRtl}) {
    for (int64_t n = 0; n < 3; ++n) {  // the RCB, the driver state, its row buffer
      std::FILE* f = std::tmpfile();
      ASSERT_NE(f, nullptr);
      StreamPtr out(streamOpen(f, "w"));
      int64_t before = rioBytesInUse();
      rioFailAllocationAfter(n);
      RioStatus st = 0;
      RcbPtr rcb(rioOpenRasterWrite(out.get(), 100, 10, id, &st));
      rioFailAllocationAfter(-1);
      EXPECT_EQ(rcb, nullptr) << id << " " << n;
      EXPECT_EQ(st, kRioOutOfMemory) << id << " " << n;
      EXPECT_EQ(rioBytesInUse(), before);
      out.reset();
      std::fclose(f);
    }
  }
}

TEST_F(HpRasterTest, NoAllocationPerRow) {
  for (RasterFormatId id : {kPcl, kRtl, kPlainRtl}) {
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    StreamPtr out(streamOpen(f, "w"));
    RioStatus st = 0;
    RcbPtr rcb(rioOpenRasterWrite(out.get(), 5000, 200, id, &st));
    ASSERT_EQ(st, 0);
    fillLine(rcb->curSline, Row{{3, 100}, {200, 4000}});
    ASSERT_EQ(rioWriteRasterSline(rcb.get()), 0);  // the header
    rioResetPeak();
    int64_t inUse = rioBytesInUse();
    for (int i = 0; i < 199; ++i) ASSERT_EQ(rioWriteRasterSline(rcb.get()), 0);
    EXPECT_EQ(rioBytesPeak(), inUse) << id;
    rcb.reset();
    out.reset();
    std::fclose(f);
  }
}

// Rows of many short runs, more than one stream buffer in all, into a sink that accepts nothing.
Picture busyPicture() {
  Picture p{8000, 40, 300, 300, {}};
  Row row;
  for (int32_t x = 0; x + 3 <= 8000; x += 8) row.push_back({x, x + 3});
  p.rows.assign(40, row);
  return p;
}

TEST_F(HpRasterTest, PclSinkAcceptingNothingRecordsStreamErrorAndGoesOn) {
  Sink sink(-1);
  Written w = writePicture(kPcl, busyPicture(), &sink);
  ASSERT_EQ(w.openStatus, 0);
  EXPECT_EQ(w.rowResults, std::vector<RioStatus>(40, 0));  // rows report success
  // Only the parameterised commands are checked: whether -8 is kept depends on where the buffer filled.
  EXPECT_TRUE(w.statusBeforeClose == 0 || w.statusBeforeClose == kRioStreamIo);
  EXPECT_EQ(w.streamOk, 0);
  EXPECT_EQ(w.bytes, "");
}

TEST_F(HpRasterTest, RtlSinkAcceptingNothingFailsRows) {
  for (RasterFormatId id : {kRtl, kPlainRtl}) {
    Sink sink(-1);
    Written w = writePicture(id, busyPicture(), &sink);
    ASSERT_EQ(w.openStatus, 0);
    EXPECT_EQ(w.statusBeforeClose, kRioStreamIo) << id;
    int failed = 0;
    for (RioStatus r : w.rowResults) {
      EXPECT_TRUE(r == 0 || r == kRioStreamIo);
      failed += r == kRioStreamIo;
    }
    EXPECT_GT(failed, 0) << id;
    EXPECT_EQ(w.streamOk, 0);
  }
}

// A sink failure placed inside one header command: what follows the failure reaches the sink.
struct HeaderFailureCase {
  const char* name;
  RasterFormatId id;
  const char* failingCommand;  // the sink refuses the buffer that this command completes
  const char* after;           // what the sink receives afterwards
  RioStatus rowResult;
  RioStatus status;  // kept in the RCB
};

const char* const kRtlTrailer = "\033*rC\033%0BPG;\033E";

const HeaderFailureCase kHeaderFailures[] = {
    {"RtlReset", kRtl, "\033E", "\033v0a0b0c1I\033*b1M\033*r1A", kRioStreamIo, kRioStreamIo},
    {"RtlPlotSize", kRtl, "PS", "\033v0a0b0c1I\033*b1M\033*r1A", kRioStreamIo, kRioStreamIo},
    {"RtlWidth", kRtl, "\033*r20S", "\033v0a0b0c1I\033*b1M\033*r1A", kRioStreamIo, kRioStreamIo},
    {"RtlResolution", kRtl, "\033*t300R", "\033v0a0b0c1I\033*b1M\033*r1A", kRioStreamIo, kRioStreamIo},
    {"RtlColourIndex", kRtl, "\033v0a0b0c1I", "\033*b1M\033*r1A", kRioStreamIo, kRioStreamIo},
    {"RtlStartRaster", kRtl, "\033*r1A", "", kRioStreamIo, kRioStreamIo},
    {"PlainRtlReset", kPlainRtl, "\033E", "\033*b1M", kRioStreamIo, kRioStreamIo},
    {"PlainRtlResolution", kPlainRtl, "\033*t300R", "\033*b1M", kRioStreamIo, kRioStreamIo},
    {"PclResolution", kPcl, "\033*t300R", "\033*b0M\033*r1T\033*r20S\033*r0A", 0, kRioStreamIo},
    {"PclFixedCommand", kPcl, "\033&l0E", "\033*p60Y\033*t300R\033*b0M\033*r1T\033*r20S\033*r0A", 0, 0},
};

class HpRasterHeaderFailureTest : public HpRasterTest,
                                  public ::testing::WithParamInterface<HeaderFailureCase> {};

TEST_P(HpRasterHeaderFailureTest, LaterCommandsFollowTheRules) {
  const HeaderFailureCase& c = GetParam();
  Picture p{20, 1, 300, 300, {Row{{4, 12}}}};
  std::string full = writePicture(c.id, p).bytes;
  size_t at = full.find(c.failingCommand);
  ASSERT_NE(at, std::string::npos);
  // The failing command's first byte fills the buffer; the rest of it is dropped.
  Sink sink(1);
  Written w = writePicture(c.id, p, &sink, kStreamBufferSize - static_cast<int32_t>(at) - 1);
  ASSERT_EQ(w.openStatus, 0);
  EXPECT_EQ(w.rowResults, std::vector<RioStatus>{c.rowResult});
  EXPECT_EQ(w.statusBeforeClose, c.status);
  EXPECT_EQ(w.streamOk, 0);
  std::string rest;
  if (c.id == kPcl) rest = "\033*b3W" + bytes({0x0F, 0xF0, 0x00}) + "\033*rB\033E";
  if (c.id == kRtl) rest = kRtlTrailer;  // the row is not written after a failed header
  if (c.id == kPlainRtl) rest = "\033E";
  EXPECT_EQ(w.bytes, std::string(c.after) + rest);
}

INSTANTIATE_TEST_SUITE_P(Failures, HpRasterHeaderFailureTest, ::testing::ValuesIn(kHeaderFailures),
                         [](const ::testing::TestParamInfo<HeaderFailureCase>& i) {
                           return std::string(i.param.name);
                         });

TEST_F(HpRasterTest, RtlShortRowPrefixStillSendsRowBytes) {
  Picture p{20, 2, 300, 300, {Row{}, Row{{4, 12}}}};
  std::string full = writePicture(kPlainRtl, p).bytes;
  size_t at = full.find("\033*b4W");
  ASSERT_NE(at, std::string::npos);
  Sink sink(1);
  Written w = writePicture(kPlainRtl, p, &sink, kStreamBufferSize - static_cast<int32_t>(at) - 1);
  EXPECT_EQ(w.rowResults, (std::vector<RioStatus>{0, kRioStreamIo}));
  EXPECT_EQ(w.statusBeforeClose, kRioStreamIo);
  EXPECT_EQ(w.bytes, bytes({0x00, 0x0F, 0x00, 0xF0}) + "\033E");
}

TEST_F(HpRasterTest, PclShortRowPrefixIsRecordedAndTheRowGoesOn) {
  Picture p{20, 2, 300, 300, {Row{}, Row{{4, 12}}}};
  std::string full = writePicture(kPcl, p).bytes;
  size_t at = full.rfind("\033*b3W");
  ASSERT_NE(at, std::string::npos);
  Sink sink(1);
  Written w = writePicture(kPcl, p, &sink, kStreamBufferSize - static_cast<int32_t>(at) - 1);
  EXPECT_EQ(w.rowResults, (std::vector<RioStatus>{0, 0}));
  EXPECT_EQ(w.statusBeforeClose, kRioStreamIo);
  EXPECT_EQ(w.bytes, bytes({0x0F, 0xF0, 0x00}) + "\033*rB\033E");
}

TEST_F(HpRasterTest, RtlTrailerStopsAtFirstShortWrite) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  RasterStream* s = streamOpen(f, "w");
  Sink sink(1);
  ASSERT_EQ(streamSetWriteCallback(s, Sink::write, &sink), 1);
  RioStatus st = 0;
  RCB* rcb = rioOpenRasterWrite(s, 20, 1, kRtl, &st);
  ASSERT_NE(rcb, nullptr);
  fillLine(rcb->curSline, Row{});
  ASSERT_EQ(rioWriteRasterSline(rcb), 0);
  // "\e*rC" fills the buffer: the rest of the trailer is not sent.
  int32_t used = static_cast<int32_t>(streamTell(s));
  std::string filler(static_cast<size_t>(kStreamBufferSize - used - 1), 'x');
  ASSERT_EQ(streamWrite(s, filler.data(), static_cast<int32_t>(filler.size())),
            static_cast<int32_t>(filler.size()));
  EXPECT_EQ(rioFormatDriver(kRtl)->finishWrite(rcb), kRioStreamIo);
  EXPECT_EQ(rcb->status, kRioStreamIo);
  EXPECT_EQ(streamTell(s), 0);  // the refused buffer is gone and nothing came after the failed command
  (void)rioCloseRaster(rcb);
  EXPECT_EQ(streamClose(s), 0);
  std::fclose(f);
}

}  // namespace
}  // namespace vantrel
