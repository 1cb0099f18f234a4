// Tests of the Group 3 two-dimensional decoder: hand-made bit vectors written from the T.4 code words,
// round trips through pages coded here line by line from our one-dimensional and Group 4 line coders (an
// end-of-line code and a tag bit in front of each), truncated data and garbage. tests/interop checks it
// against the data libtiff writes.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/rng.h"
#include "codec/fax.h"
#include "formats/common/line_pair.h"
#include "tests/support/fax_lines.h"

namespace vantrel {
namespace {

using namespace testfax;

const std::string T1 = EOL + "1";  // end-of-line code and tag: a one-dimensional line follows
const std::string T0 = EOL + "0";  // a two-dimensional line follows
const std::string RTC = T1 + T1 + T1 + T1 + T1 + T1;

struct Vector2d {
  const char* name;
  int32_t width;
  std::string bits;
  std::vector<Runs> lines;  // expected, each decoded with status 0
  RioStatus after;          // status of the call after the last line
  Runs lastLine = {};       // what the run list holds then
};

void PrintTo(const Vector2d& v, std::ostream* os) {
  *os << v.name;
}

class Decode2dVectorTest : public ::testing::TestWithParam<Vector2d> {};

TEST_P(Decode2dVectorTest, DecodesInBothBitOrders) {
  const Vector2d& v = GetParam();
  for (bool lsbFirst : {false, true}) {
    SCOPED_TRACE(lsbFirst ? "least significant bit first" : "most significant bit first");
    Source src(lsbFirst ? reversed(bitBytes(v.bits)) : bitBytes(v.bits));
    FaxDecoder d{};
    d.bits.lsbFirst = lsbFirst;
    LineBuffer cur(v.width), ref(v.width);
    for (size_t i = 0; i < v.lines.size(); ++i) {
      ASSERT_EQ(g3Decode2dLine(&d, src.stream(), v.width, ref.data(), cur.data()), kRioOk) << "line " << i;
      EXPECT_EQ(cur.get(), v.lines[i]) << "line " << i;
      ref.set(cur.get());
    }
    EXPECT_EQ(g3Decode2dLine(&d, src.stream(), v.width, ref.data(), cur.data()), v.after);
    EXPECT_EQ(cur.get(), v.lastLine);
    if (v.after == kRioEndOfPage) {
      EXPECT_EQ(g3Decode2dLine(&d, src.stream(), v.width, ref.data(), cur.data()), kRioEndOfPage);
    }
    EXPECT_TRUE(cur.sentinelIntact());
  }
}

const Vector2d kVectors[] = {
    {"OneDimensionalLines", 10, T1 + W3 + B7 + T1 + W10 + RTC, {{3, 10}, {}}, kRioEndOfPage},
    {"TwoDimensionalAgainstTheLineAbove",
     10,
     T1 + W3 + B7 + T0 + VR1 + V0 + RTC,
     {{3, 10}, {4, 10}},
     kRioEndOfPage},
    {"FirstLineTwoDimensionalAgainstWhite", 10, T0 + H + W2 + B3 + V0 + RTC, {{2, 5}}, kRioEndOfPage},
    {"TagsMixed",
     20,
     T1 + W3 + B2 + W15 + T0 + V0 + V0 + V0 + T1 + W0 + B2 + W3 + B5 + W10 + T0 + V0 + VR1 + VR1 + V0 + V0 +
         RTC,
     {{3, 5}, {3, 5}, {0, 2, 5, 10}, {0, 3, 6, 10}},
     kRioEndOfPage},
    {"FillBeforeEveryEol",
     10,
     "0000" + T1 + W10 + "0000000" + T0 + V0 + std::string(29, '0') + RTC,
     {{}, {}},
     kRioEndOfPage},
    {"BitsBetweenALineAndItsEolAreSkipped",
     10,
     T1 + W10 + "1011" + T1 + W3 + B7 + RTC,
     {{}, {3, 10}},
     kRioEndOfPage},
    {"ShortOneDimensionalLine", 20, T1 + W10 + B5 + T1 + W15 + B5 + RTC, {{10, 15}, {15, 20}}, kRioEndOfPage},
    {"ShortOneDimensionalLineOpenBlack", 20, T1 + W10 + T1 + W15 + B5 + RTC, {{}, {15, 20}}, kRioEndOfPage},
    // A pass under black leaves the run open to b2: a short line closes it there.
    {"ShortTwoDimensionalLineAfterPassInBlack",
     20,
     T1 + W3 + B2 + W3 + B2 + W10 + T0 + VL1 + P + RTC,
     {{3, 5, 8, 10}, {2, 8}},
     kRioEndOfPage},
    {"ReturnToControlFirst", 10, RTC, {}, kRioEndOfPage},
    {"CompleteLineAtTheEndOfTheData", 10, T1 + W3 + B7, {{3, 10}}, kRioUnexpectedEof},
    // Failures.
    {"NoEndOfLineCode", 10, W3 + B7 + W10, {}, kRioUnexpectedEof},
    {"Empty", 10, "", {}, kRioUnexpectedEof},
    {"NoTagBit", 10, EOL, {}, kRioUnexpectedEof},
    {"Truncated", 10, T1 + W3, {}, kRioUnexpectedEof},
    {"RunBeyondWidth", 10, T1 + W11, {}, kRioBadColumns},
    {"EmptyRunMidLine", 10, T1 + W3 + B0, {}, kRioBadData},
    {"MakeupThenEol", 200, T1 + WM64 + T1, {}, kRioBadData},
    {"Uncompressed", 20, T0 + "0000001111", {}, kRioUnsupported},
    {"OtherExtension", 20, T0 + "0000001000", {}, kRioBadData},
    {"VerticalLeftOfA0", 10, T0 + H + W2 + B2 + V0 + T0 + V0 + VL3, {{2, 4}}, kRioBadData},
    {"EolInHorizontalMode", 20, T0 + H + EOL, {}, kRioBadData},
    // A tag that does not fit the data: its codes, read the other way, go past the width.
    {"TagOneBeforeModeCodes", 10, T1 + H + W3 + B7 + RTC, {}, kRioBadColumns},
    {"TagZeroBeforeRuns", 10, T1 + W3 + B7 + T0 + W0 + B3 + W7, {{3, 10}}, kRioBadColumns},
    {"RunsBeforeFailureKept", 20, T1 + W3 + B2 + W3 + B2 + W11, {}, kRioBadColumns, {3, 5, 8, 10}},
};

INSTANTIATE_TEST_SUITE_P(Group3TwoD, Decode2dVectorTest, ::testing::ValuesIn(kVectors),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------------------
// Pages coded here: each line behind an end-of-line code (byte-aligned with fill) and its tag, coded in
// one dimension by the Group 3 coder without end-of-line codes or against the line above by the Group 4
// coder, then the return-to-control sequence.

struct Coding2d {
  bool lsbFirst;
  bool fill;
  int oneDimensionalPercent;  // lines coded in one dimension; the first line always is
};

std::vector<uint8_t> encode2d(int32_t width, const std::vector<Runs>& lines, const Coding2d& c,
                              uint64_t seed) {
  Rng rng(seed);
  Sink sink;
  FaxEncoder e{};
  e.noEol = true;
  e.bits.lsbFirst = c.lsbFirst;
  LineBuffer cur(width), ref(width);
  auto eol = [&](bool tag) {
    if (c.fill) bitsPut(e.bits, sink.stream(), 0, (-(e.bits.count + 12)) & 7);
    bitsPut(e.bits, sink.stream(), (1u << 1) | tag, 13);
  };
  for (size_t y = 0; y < lines.size(); ++y) {
    cur.set(lines[y]);
    const bool oneDimensional = y == 0 || rng.chance(c.oneDimensionalPercent);
    eol(oneDimensional);
    EXPECT_EQ(oneDimensional ? g3EncodeLine(&e, sink.stream(), width, cur.data())
                             : g4EncodeLine(&e, sink.stream(), width, cur.data(), ref.data()),
              kRioOk);
    ref.set(lines[y]);
  }
  for (int i = 0; i < 6; ++i) eol(true);
  EXPECT_EQ(faxEncoderFlush(&e, sink.stream()), kRioOk);
  return sink.finish();
}

// Decodes up to `limit` lines; each must be a valid run list. The lines and the status that ended them.
std::vector<Runs> decode2dAll(const std::vector<uint8_t>& bytes, int32_t width, int limit, bool lsbFirst,
                              RioStatus* last) {
  Source src(bytes);
  FaxDecoder d{};
  d.bits.lsbFirst = lsbFirst;
  LineBuffer cur(width), ref(width);
  std::vector<Runs> lines;
  *last = kRioOk;
  for (int i = 0; i < limit && *last == kRioOk; ++i) {
    *last = g3Decode2dLine(&d, src.stream(), width, ref.data(), cur.data());
    EXPECT_TRUE(validLine(cur.get(), width)) << "line " << i;
    EXPECT_TRUE(cur.sentinelIntact());
    if (*last != kRioOk) break;
    lines.push_back(cur.get());
    ref.set(cur.get());
  }
  return lines;
}

class RoundTrip2dTest : public ::testing::TestWithParam<Coding2d> {};

TEST_P(RoundTrip2dTest, DecodesEveryLineThenTheEnd) {
  for (int32_t width : {1, 7, 8, 63, 64, 65, 1728, 2561, 5200}) {
    SCOPED_TRACE("width " + std::to_string(width));
    const int32_t height = width >= 2000 ? 60 : 200;
    const std::vector<Runs> page = randomPage(width, height, 0x2D00u + static_cast<uint64_t>(width));
    const std::vector<uint8_t> bytes = encode2d(width, page, GetParam(), static_cast<uint64_t>(width));
    RioStatus last = kRioOk;
    EXPECT_EQ(decode2dAll(bytes, width, height + 10, GetParam().lsbFirst, &last), page);
    EXPECT_EQ(last, kRioEndOfPage);
  }
}

INSTANTIATE_TEST_SUITE_P(Group3TwoD, RoundTrip2dTest,
                         ::testing::Values(Coding2d{false, false, 25}, Coding2d{false, true, 25},
                                           Coding2d{true, true, 50}, Coding2d{true, false, 0}),
                         [](const auto& info) {
                           const Coding2d& c = info.param;
                           return std::string(c.lsbFirst ? "Lsb" : "Msb") + (c.fill ? "Fill" : "Packed") +
                                  std::to_string(c.oneDimensionalPercent);
                         });

// Every prefix of a coded page: the page's first lines, then a decode failure.
TEST(Group3TwoDHostile, EveryPrefixEndsInAFailureAfterCorrectLines) {
  const int32_t width = 77;
  const std::vector<Runs> page = randomPage(width, 12, 98);
  const std::vector<uint8_t> bytes = encode2d(width, page, {false, false, 30}, 1);
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    RioStatus last = kRioOk;
    const std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
    const std::vector<Runs> lines = decode2dAll(prefix, width, 100, false, &last);
    EXPECT_TRUE(isDecodeFailure(last)) << "cut " << cut << " status " << last;
    ASSERT_LE(lines.size(), page.size());
    for (size_t i = 0; i < lines.size(); ++i) ASSERT_EQ(lines[i], page[i]) << "cut " << cut << " line " << i;
  }
}

TEST(Group3TwoDHostile, GarbageEndsInAFailureWithValidLines) {
  Rng rng(2025);
  for (int trial = 0; trial < 400; ++trial) {
    const std::vector<uint8_t> bytes = garbageBytes(rng);
    const int32_t width = 1 + rng.below(trial % 2 ? 40 : 3000);
    RioStatus last = kRioOk;
    (void)decode2dAll(bytes, width, 5000, rng.chance(50), &last);
    EXPECT_TRUE(isDecodeFailure(last)) << "trial " << trial << " status " << last;
  }
}

// The own-line decoder (its reference read without checks) and the checked one agree line by line and
// status by status on garbage, on every prefix of a coded page and on the page itself.
TEST(Group3TwoDHostile, OwnLinesDecodeAsCheckedLines) {
  auto lockstep = [](const std::vector<uint8_t>& bytes, int32_t width, bool lsbFirst) {
    Source a(bytes), b(bytes);
    FaxDecoder da{}, db{};
    da.bits.lsbFirst = db.bits.lsbFirst = lsbFirst;
    LineBuffer cur(width), ref(width);
    LinePair own;
    ASSERT_EQ(linePairAlloc(&own, width), kRioOk);
    for (int line = 0; line < 5000; ++line) {
      const RioStatus checked = g3Decode2dLine(&da, a.stream(), width, ref.data(), cur.data());
      int32_t values = -1;
      ASSERT_EQ(g3Decode2dOwnLine(&db, b.stream(), width, own.ref, own.cur, &values), checked) << "line " << line;
      ASSERT_EQ(values, rioSlineRuns(own.cur) * 2) << "line " << line;
      const Runs got = cur.get();
      ASSERT_EQ(Runs(own.cur, own.cur + got.size()), got) << "line " << line;
      for (int32_t i = 0; i < kFaxOwnLineEnds; ++i) ASSERT_EQ(own.cur[got.size() + i], kSlineEnd);
      if (checked != kRioOk) return;
      ref.set(got);
      linePairSwap(&own);
    }
  };
  Rng rng(31);
  for (int trial = 0; trial < 300; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    lockstep(garbageBytes(rng), 1 + rng.below(trial % 2 ? 40 : 3000), rng.chance(50));
  }
  for (int32_t width : {1, 77, 2561}) {
    SCOPED_TRACE("width " + std::to_string(width));
    const std::vector<uint8_t> bytes =
        encode2d(width, randomPage(width, 30, 3 + static_cast<uint64_t>(width)), {false, true, 30}, 2);
    for (size_t cut = 0; cut <= bytes.size(); cut += width > 100 ? 5 : 1)
      lockstep(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut)), width,
               false);
  }
}

TEST(Group3TwoDHostile, ByteLimitAndRestartKeepTheReaderInsideAStrip) {
  // One strip's line, then the bytes of the next strip, which starts over with its own end-of-line code.
  const std::vector<uint8_t> first = bitBytes(T1 + W3 + B7);
  std::vector<uint8_t> bytes = first;
  const std::vector<uint8_t> second = bitBytes(T1 + W10);
  bytes.insert(bytes.end(), second.begin(), second.end());
  Source src(bytes);
  FaxDecoder d{};
  faxDecoderSetByteLimit(&d, static_cast<int64_t>(first.size()));
  LineBuffer cur(10);
  ASSERT_EQ(g3Decode2dLine(&d, src.stream(), 10, nullptr, cur.data()), kRioOk);
  EXPECT_EQ(cur.get(), (Runs{3, 10}));
  EXPECT_EQ(g3Decode2dLine(&d, src.stream(), 10, nullptr, cur.data()), kRioUnexpectedEof) << "the limit";
  faxDecoderRestart(&d);
  ASSERT_EQ(g3Decode2dLine(&d, src.stream(), 10, nullptr, cur.data()), kRioOk);
  EXPECT_EQ(cur.get(), Runs{});
}

}  // namespace
}  // namespace vantrel
