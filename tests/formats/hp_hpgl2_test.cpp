// HP-GL/2 writer (id 29). The tests' decoder of the polyline-encoded command (in tests/support/
// device_decoders.h) turns our strokes back into runs, which must equal the input clipped to the width;
// golden bytes pin the header, the number coding and the trailer; hp2xx, an independent HP-GL/2
// interpreter, must read the same strokes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "formats/registry.h"
#include "rio/rcb.h"
#include "tests/support/device_decoders.h"
#include "tests/support/device_page.h"
#include "tests/support/scratch_dir.h"

namespace vantrel {
namespace {

const std::string kTrailer = ";PUSP0PG;";
const std::string kOrigin = "__";
using devicetest::decodeHpgl2;
using devicetest::Hpgl2Decoded;
using devicetest::Runs;
using devicetest::Sink;
using devicetest::Stroke;
using devicetest::Written;

struct Picture {
  int32_t width = 0;
  int32_t height = 0;
  double xDpi = 200;
  double yDpi = 200;
  std::vector<std::pair<int32_t, Runs>> rows;  // (row index, runs) in row order; rows not listed are white
  int32_t rowsWritten = -1;                    // rows to write; -1: up to the last listed row
};

Written writePicture(const Picture& p, Sink* sink = nullptr) {
  const int32_t count = p.rowsWritten >= 0 ? p.rowsWritten : (p.rows.empty() ? 0 : p.rows.back().first + 1);
  std::vector<Runs> rows(static_cast<size_t>(count));
  for (const auto& [y, runs] : p.rows)
    if (y < count) rows[static_cast<size_t>(y)] = runs;
  devicetest::PageSetup setup{.xDpi = p.xDpi, .yDpi = p.yDpi, .height = p.height};
  if (sink) {
    setup.sink = Sink::write;
    setup.sinkContext = sink;
  }
  return devicetest::writePage(kFormatHpgl2, p.width, rows, setup);
}

std::vector<Stroke> expectedStrokes(const Picture& p) {
  std::vector<Stroke> out;
  for (const auto& [y, row] : p.rows) {
    int32_t reached = 0;
    for (auto [runStart, runEnd] : row) {
      int32_t s = std::max(runStart, reached);
      int32_t e = std::min(runEnd, p.width);
      if (s >= p.width) break;
      if (e <= s) continue;
      out.push_back({y, s, e});
      reached = e;
    }
  }
  return out;
}

class Hpgl2Test : public devicetest::AccountedMemoryTest {};

// ---- header ----

struct HeaderCase {
  const char* name;
  int32_t width;
  int32_t height;
  double xDpi;
  double yDpi;
  std::string header;  // before the "__" origin
};

// The header up to the origin: plot size (also the input window), scaling and pen width.
std::string header(const char* plotSize, const char* scaling, const char* penWidth) {
  return std::string("\033%-1BBPINPS") + plotSize + "NP2IP0,0," + plotSize + ";SC0," + scaling + ";PW" + penWidth +
         "SP1PE7<=";
}

const HeaderCase kHeaders[] = {
    {"Tall", 100, 200, 200, 200, header("1010,502", "200,0,100", "0.13")},
    {"SquareIsTall", 101, 101, 100, 100, header("1016,1016", "101,0,101", "0.26")},
    {"Wide", 201, 101, 100, 100, header("2032,2032", "201,0,201", "0.26")},
    // Real quotients say wider, the truncated extents are both 33: not strictly wider.
    {"TruncatedTieIsTall", 101, 100, 3000, 3000, header("33,33", "100,0,101", "0.01")},
    // Wide at unequal resolutions: the row scale is width x yres / xres, one row stays 1016 / yres units.
    {"WideUnequalResolutions", 1000, 100, 400, 200, header("2537,2537", "500,0,1000", "0.13")},
    {"WideUnequalResolutionsOtherWay", 1000, 100, 200, 400, header("5074,5074", "2000,0,1000", "0.07")},
    {"UnknownXTakesY", 100, 200, 0, 300, header("673,335", "200,0,100", "0.09")},
    {"UnknownYTakesX", 100, 200, 200, 0, header("1010,502", "200,0,100", "0.13")},
    {"BothUnknown", 100, 200, 0, 0, header("1010,502", "200,0,100", "0.13")},
    {"ZeroHeight", 100, 0, 200, 200, header("502,502", "100,0,100", "0.13")},
};

class Hpgl2HeaderTest : public Hpgl2Test, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(Hpgl2HeaderTest, WhiteImageIsHeaderOriginAndTrailer) {
  const HeaderCase& c = GetParam();
  Picture p{c.width, c.height, c.xDpi, c.yDpi, {}, 3};
  Written w = writePicture(p);
  ASSERT_EQ(w.open, 0);
  EXPECT_EQ(w.lineResults, std::vector<RioStatus>(3, 0));
  EXPECT_EQ(w.streamOk, 1);
  EXPECT_EQ(w.text, c.header + kOrigin + kTrailer);
}

// With no line written the finish writes the header itself.
TEST_P(Hpgl2HeaderTest, ZeroRowsStillWholeStream) {
  const HeaderCase& c = GetParam();
  Written w = writePicture(Picture{c.width, c.height, c.xDpi, c.yDpi, {}, 0});
  EXPECT_EQ(w.streamOk, 1);
  EXPECT_EQ(w.text, c.header + kOrigin + kTrailer);
}

INSTANTIATE_TEST_SUITE_P(Headers, Hpgl2HeaderTest, ::testing::ValuesIn(kHeaders),
                         [](const ::testing::TestParamInfo<HeaderCase>& i) {
                           return std::string(i.param.name);
                         });

// The pen width uses a decimal point under a process locale whose decimal separator is a comma. The
// locale is made here: only its numeric category, compiled into a scratch folder.
TEST_F(Hpgl2Test, PenWidthIgnoresTheProcessLocale) {
  const testsupport::ScratchDir scratch("hpgl2-locale");
  ASSERT_TRUE(scratch.ok());
  const std::filesystem::path& dir = scratch.path();
  std::ofstream(dir / "comma.src") << "LC_NUMERIC\ndecimal_point \"<U002C>\"\nthousands_sep \"\"\n"
                                      "grouping -1\nEND LC_NUMERIC\n";
  std::string command = "localedef -c -i " + (dir / "comma.src").string() + " -f ANSI_X3.4-1968 " +
                        (dir / "comma").string() + " >/dev/null 2>&1";
  (void)std::system(command.c_str());  // warns about the categories left out
  const char* oldPath = std::getenv("LOCPATH");
  const std::string saved = oldPath ? oldPath : "";
  setenv("LOCPATH", dir.c_str(), 1);
  const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
  const bool switched = std::setlocale(LC_NUMERIC, "comma") != nullptr;
  char probe[16] = {};
  std::string bytes;
  if (switched) {
    std::snprintf(probe, sizeof probe, "%1.2f", 0.5);
    bytes = writePicture(Picture{100, 200, 200, 200, {}, 1}).text;
  }
  std::setlocale(LC_NUMERIC, previous.c_str());
  if (oldPath) {
    setenv("LOCPATH", saved.c_str(), 1);
  } else {
    unsetenv("LOCPATH");
  }
  ASSERT_TRUE(switched) << "the comma locale could not be made (localedef)";
  ASSERT_STREQ(probe, "0,50");  // the locale is really in force
  EXPECT_NE(bytes.find("PW0.13SP1"), std::string::npos);
}

// ---- rows and the number coding ----

struct BodyCase {
  const char* name;
  int32_t width;
  int32_t height;
  std::vector<std::pair<int32_t, Runs>> rows;
  std::string body;  // between the origin "__" and the trailer
};

const BodyCase kBodies[] = {
    {"White", 10, 3, {}, ""},
    {"OnePixelRowZero", 10, 1, {{0, {{0, 1}}}}, "\x3C\x5F\x5F\x5F\x61"},
    {"Length16", 20, 1, {{0, {{0, 16}}}}, "<___\x3F\x60"},
    {"NegativeColumnStep", 10, 2, {{0, {{0, 10}}}, {1, {{7, 8}}}}, "<___s<a\x66_a"},
    {"RowStepAccumulatesOverWhiteRows", 10, 6, {{0, {{2, 4}}}, {5, {{2, 4}}}}, "<_c_c<id_c"},
    {"TwoRunsOneRow", 10, 1, {{0, {{1, 3}, {5, 6}}}}, "<_a_c<_c_a"},
    {"LargeLength", 100000, 1, {{0, {{0, 100000}}}}, "<___?IBe"},
    {"LargeNegativeColumnStep", 150001, 2, {{0, {{150000, 150001}}}, {1, {{0, 1}}}}, "<_?^Ch_a<aB^Ch_a"},
    {"LargeRowStep", 4, 70001, {{0, {{0, 1}}}, {70000, {{0, 1}}}}, "<___a<?VGcb_a"},
    {"RunPastTheWidthClipped", 10, 1, {{0, {{8, 50}}}}, "<_o_c"},
    {"RunFromLeftOfZeroClipped", 10, 1, {{0, {{-5, 3}}}}, "<___e"},
    {"RunsBeyondTheWidthDropped", 10, 1, {{0, {{2, 3}, {10, 12}, {14, 15}}}}, "<_c_a"},
};

class Hpgl2BodyTest : public Hpgl2Test, public ::testing::WithParamInterface<BodyCase> {};

TEST_P(Hpgl2BodyTest, ItemsByteForByte) {
  const BodyCase& c = GetParam();
  Picture p{c.width, c.height, 200, 200, c.rows, -1};
  Written w = writePicture(p);
  ASSERT_EQ(w.open, 0);
  Hpgl2Decoded d = decodeHpgl2(w.text);
  ASSERT_EQ(d.error, "");
  EXPECT_EQ(d.trailer, kTrailer);
  EXPECT_EQ(d.body, c.body);
  EXPECT_EQ(d.strokes, expectedStrokes(p));
}

INSTANTIATE_TEST_SUITE_P(Bodies, Hpgl2BodyTest, ::testing::ValuesIn(kBodies),
                         [](const ::testing::TestParamInfo<BodyCase>& i) {
                           return std::string(i.param.name);
                         });

Picture randomPicture(uint32_t seed, int32_t width, int32_t height) {
  std::mt19937 rng(seed);
  Picture p{width, height, 300, 300, {}, height};
  const int32_t capacity = (width + 1) / 2;
  for (int32_t y = 0; y < height; ++y) {
    if (rng() % 3 == 0) continue;  // white rows in between
    Runs row;
    int32_t x = static_cast<int32_t>(rng() % 5) - 2;
    while (static_cast<int32_t>(row.size()) < capacity) {
      int32_t s = row.empty() ? x : x + 1 + static_cast<int32_t>(rng() % 30);
      int32_t len = 1 + static_cast<int32_t>(rng() % 60);
      if (s > width + 20) break;
      row.push_back({s, s + len});
      x = s + len;
    }
    p.rows.push_back({y, row});
  }
  return p;
}

class Hpgl2RoundTripTest : public Hpgl2Test, public ::testing::WithParamInterface<int32_t> {};

TEST_P(Hpgl2RoundTripTest, DecodedStrokesAreTheClippedRuns) {
  const int32_t width = GetParam();
  Picture p = randomPicture(static_cast<uint32_t>(width) * 31u + 7u, width, 60);
  Written w = writePicture(p);
  ASSERT_EQ(w.status, 0);
  Hpgl2Decoded d = decodeHpgl2(w.text);
  ASSERT_EQ(d.error, "");
  EXPECT_EQ(d.trailer, kTrailer);
  EXPECT_EQ(d.strokes, expectedStrokes(p));
}

INSTANTIATE_TEST_SUITE_P(Widths, Hpgl2RoundTripTest, ::testing::Values(1, 2, 9, 100, 1001, 5000));

// ---- failures ----

TEST_F(Hpgl2Test, ReadingIsNotImplemented) {
  EXPECT_EQ(testread::readBackBytes("\033%-1BBPIN", kFormatHpgl2).open, kRioNotImplemented);
}

TEST_F(Hpgl2Test, OutOfMemoryAtOpen) {
  // The RCB, then the pen state fails.
  devicetest::OpenAttempt a = devicetest::openWithFailingAllocation(kFormatHpgl2, 10, 10, 1);
  EXPECT_FALSE(a.opened);
  EXPECT_EQ(a.status, kRioOutOfMemory);
  EXPECT_EQ(a.leaked, 0);
}

TEST_F(Hpgl2Test, SinkAcceptingNothingStopsTheRowWithStreamError) {
  // 4000 items of about 5 bytes per row: every few rows a buffer fills and is refused.
  Picture p{8000, 20, 200, 200, {}, 20};
  Runs row;
  for (int32_t x = 0; x + 1 < 8000; x += 2) row.push_back({x, x + 1});
  for (int32_t y = 0; y < 20; ++y) p.rows.push_back({y, row});
  Sink sink(-1);
  Written w = writePicture(p, &sink);
  ASSERT_EQ(w.open, 0);
  EXPECT_EQ(w.status, kRioStreamIo);
  int failed = 0;
  for (RioStatus r : w.lineResults) failed += r == kRioStreamIo;
  EXPECT_GT(failed, 0);
  EXPECT_GT(sink.calls, 0);
  EXPECT_EQ(w.streamOk, 0);
  EXPECT_EQ(w.text, "");
}

TEST_F(Hpgl2Test, ShortTrailerIsRecorded) {
  Sink sink(-1);
  devicetest::TrailerFailure r;
  ASSERT_NO_FATAL_FAILURE(devicetest::failTrailer(kFormatHpgl2, 10, {{0, 1}}, &sink, &r));
  EXPECT_EQ(r.finish, kRioStreamIo);
  EXPECT_EQ(r.status, kRioStreamIo);
  EXPECT_EQ(r.streamOk, 0);
}

TEST_F(Hpgl2Test, NoAllocationPerRow) {
  int64_t growth = -1;
  ASSERT_NO_FATAL_FAILURE(devicetest::measureRowAllocations(kFormatHpgl2, 5000, 100, {{3, 100}, {200, 4000}}, &growth));
  EXPECT_EQ(growth, 0);
}

// ---- interop: hp2xx reads our strokes ----

// hp2xx re-emits the drawing as plain HP-GL: "PU x,y;PD x,y;" per stroke, in its own units.
struct Segment {
  double x0, y0, x1, y1;
};

std::vector<Segment> parseHp2xx(const std::string& text) {
  std::vector<Segment> out;
  size_t i = 0;
  while ((i = text.find("PU", i)) != std::string::npos) {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    if (std::sscanf(text.c_str() + i, "PU%lf,%lf;PD%lf,%lf;", &x0, &y0, &x1, &y1) == 4)
      out.push_back({x0, y0, x1, y1});
    i += 2;
  }
  return out;
}

class Hpgl2InteropTest : public Hpgl2Test {
 protected:
  void SetUp() override {
    Hpgl2Test::SetUp();
    ASSERT_TRUE(scratch_.ok());
    dir_ = scratch_.path();
  }
  testsupport::ScratchDir scratch_{"hpgl2-interop"};
  std::filesystem::path dir_;
};

TEST_F(Hpgl2InteropTest, Hp2xxReadsTheSameStrokes) {
  ASSERT_EQ(std::system("command -v hp2xx >/dev/null 2>&1"), 0)
      << "hp2xx is not installed (scripts/setup.sh)";
  Picture p = randomPicture(12345, 400, 80);
  // Pin two strokes on distinct rows so the mapping of both axes is known.
  p.rows.insert(p.rows.begin(), {0, Runs{{0, 400}}});
  p.rows.erase(std::remove_if(p.rows.begin() + 1, p.rows.end(), [](const auto& r) { return r.first == 0; }),
               p.rows.end());
  Written w = writePicture(p);
  ASSERT_EQ(w.status, 0);
  const std::filesystem::path in = dir_ / "in.hpg";
  const std::filesystem::path out = dir_ / "out.hpgl";
  std::ofstream(in, std::ios::binary) << w.text;
  std::string command = "hp2xx -q -m hpgl -f " + out.string() + " " + in.string() + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream result(out, std::ios::binary);
  std::stringstream text;
  text << result.rdbuf();
  std::vector<Segment> got = parseHp2xx(text.str());
  std::vector<Stroke> want = expectedStrokes(p);
  ASSERT_EQ(got.size(), want.size());
  ASSERT_GE(want.size(), 2u);
  // Each axis maps linearly: fit it from the first stroke (columns) and the first and last rows.
  const Stroke& a = want.front();
  const Stroke& b = want.back();
  ASSERT_NE(a.row, b.row);
  double kx = (got.back().x0 - got.front().x0) / static_cast<double>(b.row - a.row);
  double ox = got.front().x0 - kx * static_cast<double>(a.row);
  double ky = (got.front().y1 - got.front().y0) / static_cast<double>(a.e - a.s);
  double oy = got.front().y0 - ky * static_cast<double>(a.s);
  ASSERT_GT(std::abs(kx), 1e-6);
  ASSERT_GT(std::abs(ky), 1e-6);
  for (size_t i = 0; i < want.size(); ++i) {
    Stroke back{std::llround((got[i].x0 - ox) / kx), std::llround((got[i].y0 - oy) / ky),
                std::llround((got[i].y1 - oy) / ky)};
    EXPECT_EQ(back, want[i]) << "stroke " << i;
    EXPECT_NEAR(got[i].x0, got[i].x1, 1e-3) << "stroke " << i << " leaves its row";
  }
  // One row is as high as one column is wide at equal resolutions.
  EXPECT_NEAR(std::abs(kx), std::abs(ky), 1e-3 * std::abs(ky));
}

}  // namespace
}  // namespace vantrel
