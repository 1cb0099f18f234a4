// Tests of the CCITT Group 3 and Group 4 line codecs: hand-made bit vectors written from the T.4/T.6 code
// words, exact encoder output, seeded round trips over many widths and options, hostile data, and the fax
// line adapters that apply them to an RCB.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "codec/fax.h"
#include "formats/common/fax_lines.h"
#include "formats/common/line_pair.h"
#include "rio/rcb.h"
#include "rio/sline.h"
#include "tests/support/rng.h"
#include "rio/stream.h"
#include "tests/support/fax_lines.h"

namespace vantrel {
namespace {

using namespace testfax;

// ---------------------------------------------------------------------------------------------------------
// Decoder vectors.

struct DecodeVector {
  const char* name;
  bool group4;
  int32_t width;
  std::string bits;
  std::vector<Runs> lines;  // expected, each decoded with status 0
  RioStatus after;          // status of the call after the last line
  bool noEol = false;
  bool lineAlign = false;
  Runs lastLine = {};  // with a failing `after`: what the run list holds then
};

void PrintTo(const DecodeVector& v, std::ostream* os) {
  *os << v.name;
}

void runVector(const DecodeVector& v, bool lsbFirst) {
  std::vector<uint8_t> bytes = bitBytes(v.bits);
  if (lsbFirst) bytes = reversed(bytes);
  Source src(bytes);
  FaxDecoder d{};
  d.noEol = v.noEol;
  d.lineAlign = v.lineAlign;
  d.bits.lsbFirst = lsbFirst;
  LineBuffer cur(v.width), ref(v.width);
  auto decode = [&] {
    return v.group4 ? g4DecodeLine(&d, src.stream(), v.width, ref.data(), cur.data())
                    : g3DecodeLine(&d, src.stream(), v.width, cur.data());
  };
  for (size_t i = 0; i < v.lines.size(); ++i) {
    ASSERT_EQ(decode(), kRioOk) << "line " << i;
    EXPECT_EQ(cur.get(), v.lines[i]) << "line " << i;
    ref.set(cur.get());
  }
  EXPECT_EQ(decode(), v.after);
  EXPECT_EQ(cur.get(), v.lastLine);
  if (v.after == kRioEndOfPage) {
    EXPECT_EQ(decode(), kRioEndOfPage) << "the end of the page is met again";
  }
  EXPECT_TRUE(cur.sentinelIntact());
}

class DecodeVectorTest : public ::testing::TestWithParam<DecodeVector> {};

TEST_P(DecodeVectorTest, DecodesInBothBitOrders) {
  for (bool lsbFirst : {false, true}) {
    SCOPED_TRACE(lsbFirst ? "least significant bit first" : "most significant bit first");
    runVector(GetParam(), lsbFirst);
  }
}

const DecodeVector kG3Vectors[] = {
    {"AllWhite1728", false, 1728, EOL + WM1728 + W0 + EOL + EOL, {{}}, kRioEndOfPage},
    {"StartsBlack", false, 10, EOL + W0 + B3 + W7 + EOL + EOL, {{0, 3}}, kRioEndOfPage},
    {"EndsBlack", false, 10, EOL + W5 + B5 + EOL + EOL, {{5, 10}}, kRioEndOfPage},
    {"AllBlack64", false, 64, EOL + W0 + BM64 + B0 + EOL + EOL, {{0, 64}}, kRioEndOfPage},
    {"Run63AndMakeup64",
     false,
     200,
     EOL + W63 + BM64 + B0 + WM64 + W9 + EOL + EOL,
     {{63, 127}},
     kRioEndOfPage},
    {"Extended1792", false, 1800, EOL + X1792 + W0 + B8 + EOL + EOL, {{1792, 1800}}, kRioEndOfPage},
    {"Extended2560And2561",
     false,
     6000,
     EOL + X2560 + W0 + X2560 + B1 + WM832 + W47 + EOL + EOL,
     {{2560, 5121}},
     kRioEndOfPage},
    {"Run3000", false, 3000, EOL + X2560 + WM384 + W56 + EOL + EOL, {{}}, kRioEndOfPage},
    {"Run5200Black",
     false,
     5200,
     EOL + W0 + X2560 + X2560 + BM64 + B16 + EOL + EOL,
     {{0, 5200}},
     kRioEndOfPage},
    {"TwoLines", false, 10, EOL + W3 + B7 + EOL + W10 + EOL + EOL, {{3, 10}, {}}, kRioEndOfPage},
    {"FillBeforeEveryEol",
     false,
     10,
     "0000000" + EOL + W10 + "00000" + EOL + W2 + B2 + W2 + B2 + W2 + std::string(37, '0') + EOL + EOL,
     {{}, {2, 4, 6, 8}},
     kRioEndOfPage},
    {"ShortEolCode",
     false,
     10,
     EOL + W10 + "000000000010" + W3 + B7 + EOL + EOL,
     {{}, {3, 10}},
     kRioEndOfPage},
    {"NoLeadingEol", false, 10, W3 + B7 + EOL + EOL, {{3, 10}}, kRioEndOfPage},
    {"ZeroRunAtTheWidth", false, 10, EOL + W10 + B0 + EOL + EOL, {{}}, kRioEndOfPage},
    {"ShortLine", false, 100, EOL + W10 + B5 + EOL + EOL, {{10, 15}}, kRioEndOfPage},
    {"ShortLineOpenBlack", false, 100, EOL + W10 + EOL + EOL, {{}}, kRioEndOfPage},
    {"ReturnToControlFirst", false, 10, EOL + EOL + EOL, {}, kRioEndOfPage},
    {"CompleteAtEndOfData", false, 10, EOL + W3 + B7, {{3, 10}}, kRioUnexpectedEof},
    {"LineAlign",
     false,
     10,
     EOL + W3 + B7 + EOL + "0000000" + W10 + "0000000" + EOL + EOL,
     {{3, 10}, {}},
     kRioEndOfPage,
     false,
     true},
    {"NoEolAligned",
     false,
     10,
     W3 + B7 + "0000000" + W10 + "000" + W0 + B10,
     {{3, 10}, {}, {0, 10}},
     kRioUnexpectedEof,
     true,
     true},
    {"NoEolPacked",
     false,
     10,
     W3 + B7 + W10 + W5 + B5,
     {{3, 10}, {}, {5, 10}},
     kRioUnexpectedEof,
     true,
     false},
    // Failures.
    {"RunBeyondWidth", false, 10, EOL + W11, {}, kRioBadColumns},
    {"MakeupBeyondWidth", false, 100, EOL + WM128, {}, kRioBadColumns},
    {"SecondRunBeyondWidth", false, 10, EOL + W3 + B9, {}, kRioBadColumns, false, false, {}},
    {"ZeroRunMidLine", false, 10, EOL + W3 + B0, {}, kRioBadData},
    {"MakeupThenEol", false, 200, EOL + WM64 + EOL, {}, kRioBadData},
    {"Truncated", false, 10, EOL + W3, {}, kRioUnexpectedEof},
    {"Empty", false, 10, "", {}, kRioUnexpectedEof},
    {"RunsBeforeFailureKept",
     false,
     20,
     EOL + W3 + B2 + W3 + B2 + W11,
     {},
     kRioBadColumns,
     false,
     false,
     {3, 5, 8, 10}},
};

INSTANTIATE_TEST_SUITE_P(Group3, DecodeVectorTest, ::testing::ValuesIn(kG3Vectors),
                         [](const auto& info) { return std::string(info.param.name); });

const DecodeVector kG4Vectors[] = {
    {"AllWhite", true, 100, V0 + EOFB, {{}}, kRioEndOfPage},
    {"StartsBlack", true, 20, H + W0 + B5 + V0 + EOFB, {{0, 5}}, kRioEndOfPage},
    {"VerticalAtBothEnds",
     true,
     20,
     H + W0 + B5 + V0 + V0 + V0 + V0 + V0 + VR3 + V0 + EOFB,
     {{0, 5}, {0, 5}, {0, 8}},
     kRioEndOfPage},
    {"VerticalAtRightEdge", true, 20, H + W15 + B5 + VR2 + V0 + EOFB, {{15, 20}, {17, 20}}, kRioEndOfPage},
    {"VerticalBeyondWidthClipped",
     true,
     20,
     H + W15 + B5 + VR2 + VR3 + EOFB,
     {{15, 20}, {17, 20}},
     kRioEndOfPage},
    {"Pass", true, 10, H + W2 + B2 + V0 + P + V0 + EOFB, {{2, 4}, {}}, kRioEndOfPage},
    {"PassInBlackThenHorizontal",
     true,
     20,
     H + W2 + B2 + H + W2 + B2 + V0 + VL1 + P + H + B9 + W3 + V0 + EOFB,
     {{2, 4, 6, 8}, {1, 15, 18, 20}},
     kRioEndOfPage},
    {"HorizontalZeroRunAtEdge",
     true,
     20,
     H + W0 + B3 + V0 + V0 + H + B20 + W0 + V0 + V0 + EOFB,
     {{0, 3}, {0, 20}, {0, 20}},
     kRioEndOfPage},
    {"WhiteRunToEdgeThenEmptyBlack", true, 10, H + W10 + B0 + V0 + EOFB, {{}, {}}, kRioEndOfPage},
    {"EndOfBlockRepeats", true, 10, V0 + EOFB + EOFB, {{}}, kRioEndOfPage},
    {"EndOfBlockMidLine", true, 20, H + W3 + B2 + EOFB, {}, kRioEndOfPage, false, false, {3, 5}},
    {"EndOfBlockMidBlackRun",
     true,
     20,
     H + W3 + B2 + V0 + V0 + EOFB,
     {{3, 5}},
     kRioEndOfPage,
     false,
     false,
     {}},
    // Failures.
    {"Uncompressed", true, 20, "0000001111", {}, kRioUnsupported},
    {"OtherExtension", true, 20, "0000001000", {}, kRioBadData},
    {"ExtensionAcrossBytes",
     true,
     20,
     V0 + V0 + V0 + V0 + V0 + V0 + V0 + "0000001111",
     {{}, {}, {}, {}, {}, {}, {}},
     kRioUnsupported},
    {"VerticalLeftOfLineStart", true, 20, H + W0 + B5 + V0 + VL1, {{0, 5}}, kRioBadData},
    {"VerticalLeftOfA0", true, 10, H + W2 + B2 + V0 + V0 + VL3, {{2, 4}}, kRioBadData},
    {"HorizontalBeyondWidth", true, 10, H + W11 + B0, {}, kRioBadColumns},
    {"SecondRunBeyondWidth", true, 10, H + W5 + B6, {}, kRioBadColumns},
    {"EmptyFirstRunMidLine", true, 20, H + W3 + B2 + H + W0 + B2, {}, kRioBadData, false, false, {3, 5}},
    {"EmptySecondRunMidLine", true, 20, H + W3 + B0, {}, kRioBadData},
    {"EolInHorizontal", true, 20, H + EOL, {}, kRioBadData},
    {"Truncated", true, 20, H, {}, kRioUnexpectedEof},
    {"Empty", true, 20, "", {}, kRioUnexpectedEof},
};

INSTANTIATE_TEST_SUITE_P(Group4, DecodeVectorTest, ::testing::ValuesIn(kG4Vectors),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------------------
// Encoder output, bit for bit.

// The expected bits padded with zeros to whole 32-bit words.
std::string words(std::string bits) {
  bits.erase(std::remove(bits.begin(), bits.end(), ' '), bits.end());
  bits.append((32 - bits.size() % 32) % 32, '0');
  return bits;
}

struct EncodeVector {
  const char* name;
  bool group4;
  int32_t width;
  std::vector<Runs> lines;
  std::string bits;  // without the final padding
};

void PrintTo(const EncodeVector& v, std::ostream* os) {
  *os << v.name;
}

class EncodeVectorTest : public ::testing::TestWithParam<EncodeVector> {};

TEST_P(EncodeVectorTest, WritesTheseBits) {
  const EncodeVector& v = GetParam();
  EXPECT_EQ(bitString(encodeLines(v.group4, v.width, v.lines)), words(v.bits));
  // With the bit-order flag every byte is reversed, the end codes and the final zero bits included.
  FaxEncoder e{};
  e.bits.lsbFirst = true;
  EXPECT_EQ(bitString(reversed(encodeLines(v.group4, v.width, v.lines, e))), words(v.bits));
}

// Fill before a line's end-of-line code: as many zeros as make the code end on a byte boundary.
std::string fill(size_t bitsBefore) {
  return std::string((8 - (bitsBefore + 12) % 8) % 8, '0');
}
const std::string RTC5 = EOL + EOL + EOL + EOL + EOL;

const EncodeVector kEncodeVectors[] = {
    // 12 + 5 bits, 3 fill bits: the end-of-line code ends the first word exactly.
    {"G3AllWhite", false, 8, {{}}, EOL + "10011" + "000" + EOL + RTC5},
    {"G3NoFillNeeded", false, 29, {{}}, EOL + "00000010" + EOL + RTC5},
    {"G3StartsBlack", false, 10, {{0, 3}}, EOL + W0 + B3 + W7 + fill(12 + 8 + 2 + 4) + EOL + RTC5},
    {"G3EndsBlack", false, 10, {{5, 10}}, EOL + W5 + B5 + fill(12 + 8) + EOL + RTC5},
    {"G3Run5200",
     false,
     5200,
     {{}},
     EOL + X2560 + X2560 + WM64 + "101010" + fill(12 + 24 + 5 + 6) + EOL + RTC5},
    {"G3Run2560", false, 2561, {{2560, 2561}}, EOL + X2560 + W0 + B1 + fill(12 + 12 + 8 + 3) + EOL + RTC5},
    {"G3TwoLines", false, 10, {{3, 10}, {}}, EOL + W3 + B7 + fill(21) + EOL + W10 + fill(5) + EOL + RTC5},
    {"G3NoLines", false, 10, {}, RTC5},
    {"G4AllWhite", true, 100, {{}}, V0 + EOFB},
    {"G4Vertical",
     true,
     20,
     {{0, 5}, {0, 5}, {0, 8}},
     H + W0 + B5 + V0 + V0 + V0 + V0 + V0 + VR3 + V0 + EOFB},
    {"G4Pass", true, 10, {{2, 4}, {}}, H + W2 + B2 + V0 + P + V0 + EOFB},
    {"G4PassInBlack",
     true,
     20,
     {{2, 4, 6, 8}, {1, 15, 18, 20}},
     H + W2 + B2 + H + W2 + B2 + V0 + VL1 + P + H + B9 + W3 + V0 + EOFB},
    {"G4ZeroRunAtEdge",
     true,
     20,
     {{0, 3}, {0, 20}, {0, 20}},
     H + W0 + B3 + V0 + V0 + H + B20 + W0 + V0 + V0 + EOFB},
    {"G4NoLines", true, 10, {}, EOFB},
};

INSTANTIATE_TEST_SUITE_P(Codec, EncodeVectorTest, ::testing::ValuesIn(kEncodeVectors),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FaxEncoder, NormaliseLineForCoding) {
  const Runs raw = {-4, 2, 2, 3, 5, 5, 6, 9, 8, 12, 18, 30, 25, 27};
  const Runs normal = {0, 3, 6, 12, 18, 20};
  LineBuffer src(20), dst(20);
  src.set(raw);
  EXPECT_EQ(faxNormalizeLine(src.data(), dst.data(), 20), static_cast<int32_t>(normal.size()));
  EXPECT_EQ(dst.get(), normal);
  EXPECT_EQ(src.get(), raw) << "the source is only read";
  faxNormalizeLine(src.data(), src.data(), 20);
  EXPECT_EQ(src.get(), normal) << "in place";
}

TEST(FaxEncoder, Group3OptionsWithoutEndOfLineCodes) {
  FaxEncoder e{};
  e.noEol = true;
  e.lineAlign = true;
  EXPECT_EQ(bitString(encodeLines(false, 10, {{3, 10}, {}}, e)), words(W3 + B7 + "0000000" + W10 + "000"));
  e.lineAlign = false;
  EXPECT_EQ(bitString(encodeLines(false, 10, {{3, 10}, {}}, e)), words(W3 + B7 + W10));
  FaxEncoder unaligned{};
  unaligned.unalignedEol = true;
  EXPECT_EQ(bitString(encodeLines(false, 10, {{3, 10}}, unaligned)), words(EOL + W3 + B7 + EOL + RTC5));
}

TEST(FaxEncoder, RestartWritesTheLeadingEndOfLineAgain) {
  FaxEncoder e{};
  Sink sink;
  LineBuffer cur(8);
  ASSERT_EQ(g3EncodeLine(&e, sink.stream(), 8, cur.data()), kRioOk);
  ASSERT_EQ(faxEncoderFlush(&e, sink.stream()), kRioOk);
  faxEncoderRestart(&e);
  ASSERT_EQ(g3EncodeLine(&e, sink.stream(), 8, cur.data()), kRioOk);
  ASSERT_EQ(faxEncoderFlush(&e, sink.stream()), kRioOk);
  const std::string line = words(EOL + "10011" + "000" + EOL);
  EXPECT_EQ(bitString(sink.finish()), line + line);
}

TEST(FaxEncoder, ShortWriteIsAStreamError) {
  Sink sink;
  RasterStream* s = streamOpen(nullptr, "w");
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(streamSetWriteCallback(
                s, [](const void*, size_t, size_t, void*) -> size_t { return 0; }, nullptr),
            1);
  FaxEncoder e{};
  LineBuffer cur(100);
  RioStatus last = kRioOk;
  // 16384 bytes fill the stream's buffer; the sink write that follows delivers nothing.
  for (int i = 0; i < 20000 && last == kRioOk; ++i) {
    cur.set({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    last = g3EncodeLine(&e, s, 100, cur.data());
  }
  EXPECT_EQ(last, kRioStreamIo);
  EXPECT_EQ(g3EncodeFinish(&e, s), kRioStreamIo);
  EXPECT_EQ(streamClose(s), 0);
}

TEST(FaxBitWriter, CodeThatFillsTheWordExactly) {
  Sink sink;
  FaxBitWriter w{};
  bitsPut(w, sink.stream(), 0xABCDE, 20);
  bitsPut(w, sink.stream(), 0x123, 12);  // completes the word: nothing may be shifted by 32
  EXPECT_EQ(w.count, 0);
  bitsPut(w, sink.stream(), 0xFFFFFFFF, 32);  // a whole word at once
  bitsPut(w, sink.stream(), 1, 1);
  bitsPut(w, sink.stream(), 0x7FFFFFFF, 31);
  bitsPut(w, sink.stream(), 0x5, 3);
  bitsFlushWord(w, sink.stream());
  const std::vector<uint8_t> expected = {0xAB, 0xCD, 0xE1, 0x23, 0xFF, 0xFF, 0xFF, 0xFF,
                                         0xFF, 0xFF, 0xFF, 0xFF, 0xA0, 0x00, 0x00, 0x00};
  EXPECT_EQ(sink.finish(), expected);
}

// ---------------------------------------------------------------------------------------------------------
// Round trips over seeded pages.

struct Options {
  const char* name;
  bool group4;
  bool lsbFirst;
  bool noEol;
  bool lineAlign;
  bool unalignedEol;
};

void PrintTo(const Options& o, std::ostream* os) {
  *os << o.name;
}

const Options kOptions[] = {
    {"G4", true, false, false, false, false},
    {"G4Lsb", true, true, false, false, false},
    {"G3", false, false, false, true, false},
    {"G3Lsb", false, true, false, true, false},
    {"G3UnalignedEol", false, false, false, false, true},
    {"G3NoEolAligned", false, false, true, true, false},
    {"G3NoEolPacked", false, true, true, false, false},
};

void roundTrip(int32_t width, const Options& o) {
  // Wide pages get fewer rows; every page is larger than one stream buffer at some width.
  const int32_t height = width >= 2000 ? 60 : width >= 100 ? 250 : 400;
  const std::vector<Runs> page = randomPage(width, height, 0x5EED0000u + static_cast<uint64_t>(width));
  FaxEncoder e{};
  e.bits.lsbFirst = o.lsbFirst;
  e.noEol = o.noEol;
  e.lineAlign = o.lineAlign;
  e.unalignedEol = o.unalignedEol;
  const std::vector<uint8_t> bytes = encodeLines(o.group4, width, page, e);
  EXPECT_EQ(bytes.size() % 4, 0u) << "whole 32-bit words";

  Source src(bytes);
  FaxDecoder d{};
  d.bits.lsbFirst = o.lsbFirst;
  d.noEol = o.noEol;
  d.lineAlign = o.lineAlign;
  LineBuffer cur(width), ref(width);
  for (int32_t y = 0; y < height; ++y) {
    const RioStatus s = o.group4 ? g4DecodeLine(&d, src.stream(), width, ref.data(), cur.data())
                                 : g3DecodeLine(&d, src.stream(), width, cur.data());
    ASSERT_EQ(s, kRioOk) << "row " << y;
    ASSERT_EQ(cur.get(), page[y]) << "row " << y;
    ref.set(cur.get());
  }
  const RioStatus end = o.group4 ? g4DecodeLine(&d, src.stream(), width, ref.data(), cur.data())
                                 : g3DecodeLine(&d, src.stream(), width, cur.data());
  EXPECT_EQ(end, o.noEol ? kRioUnexpectedEof : kRioEndOfPage);
}

class RoundTripTest : public ::testing::TestWithParam<Options> {};

TEST_P(RoundTripTest, DecodesWhatWasEncoded) {
  for (int32_t width : {1, 2, 3, 7, 8, 9, 31, 63, 64, 65, 100, 1728, 1729, 2560, 2561, 5200, 13244}) {
    SCOPED_TRACE("width " + std::to_string(width));
    roundTrip(width, GetParam());
  }
}

INSTANTIATE_TEST_SUITE_P(Codec, RoundTripTest, ::testing::ValuesIn(kOptions),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------------------
// Hostile data.

// Decodes up to `limit` lines; every line delivered must be valid. Returns the lines and the final status.
std::vector<Runs> decodeAll(bool group4, const std::vector<uint8_t>& bytes, int32_t width, int limit,
                            RioStatus* last, FaxDecoder d = {}) {
  Source src(bytes);
  LineBuffer cur(width), ref(width);
  std::vector<Runs> lines;
  *last = kRioOk;
  for (int i = 0; i < limit; ++i) {
    const RioStatus s = group4 ? g4DecodeLine(&d, src.stream(), width, ref.data(), cur.data())
                               : g3DecodeLine(&d, src.stream(), width, cur.data());
    EXPECT_TRUE(validLine(cur.get(), width)) << "line " << i;
    EXPECT_TRUE(cur.sentinelIntact());
    if (s != kRioOk) {
      *last = s;
      break;
    }
    lines.push_back(cur.get());
    ref.set(cur.get());
  }
  return lines;
}

class TruncationTest : public ::testing::TestWithParam<bool> {};

// Every prefix of a coded page: the lines delivered are the page's first lines, then a decode failure.
TEST_P(TruncationTest, EveryPrefixEndsInAFailureAfterCorrectLines) {
  const bool group4 = GetParam();
  const int32_t width = 77;
  const std::vector<Runs> page = randomPage(width, 12, 99);
  const std::vector<uint8_t> bytes = encodeLines(group4, width, page);
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    RioStatus last = kRioOk;
    const std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
    const std::vector<Runs> lines = decodeAll(group4, prefix, width, 100, &last);
    EXPECT_TRUE(isDecodeFailure(last)) << "cut " << cut << " status " << last;
    ASSERT_LE(lines.size(), page.size());
    for (size_t i = 0; i < lines.size(); ++i) ASSERT_EQ(lines[i], page[i]) << "cut " << cut << " line " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Codec, TruncationTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Group4" : "Group3"; });

TEST(FaxHostile, GarbageEndsInAFailureWithValidLines) {
  Rng rng(2024);
  for (int trial = 0; trial < 400; ++trial) {
    const std::vector<uint8_t> bytes = garbageBytes(rng);
    const int32_t width = 1 + rng.below(trial % 2 ? 40 : 3000);
    FaxDecoder d{};
    d.bits.lsbFirst = rng.chance(50);
    d.lineAlign = rng.chance(50);
    d.noEol = rng.chance(30);
    for (bool group4 : {false, true}) {
      RioStatus last = kRioOk;
      (void)decodeAll(group4, bytes, width, 5000, &last, d);
      EXPECT_TRUE(isDecodeFailure(last)) << "trial " << trial << " status " << last;
    }
  }
}

// The own-line decoder (no checks of its reference) and the checked one agree line by line and status by
// status on garbage, on every prefix of a coded page and on the page itself; so do the two encoders.
TEST(FaxHostile, OwnLinesCodeAsCheckedLines) {
  Rng rng(77);
  auto lockstep = [](const std::vector<uint8_t>& bytes, int32_t width, bool lsbFirst) {
    Source a(bytes), b(bytes);
    FaxDecoder da{}, db{};
    da.bits.lsbFirst = db.bits.lsbFirst = lsbFirst;
    LineBuffer cur(width), ref(width);
    LinePair own;
    ASSERT_EQ(linePairAlloc(&own, width), kRioOk);
    for (int line = 0;; ++line) {
      const RioStatus checked = g4DecodeLine(&da, a.stream(), width, ref.data(), cur.data());
      int32_t values = -1;
      const RioStatus fast = g4DecodeOwnLine(&db, b.stream(), width, own.ref, own.cur, &values);
      ASSERT_EQ(fast, checked) << "line " << line;
      ASSERT_EQ(Runs(own.cur, own.cur + values), cur.get()) << "line " << line;
      ASSERT_EQ(own.cur[values], kSlineEnd);
      if (checked != kRioOk) return;
      ref.set(cur.get());
      linePairSwap(&own);
    }
  };
  for (int trial = 0; trial < 300; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    lockstep(garbageBytes(rng), 1 + rng.below(trial % 2 ? 40 : 3000), rng.chance(50));
  }
  for (int32_t width : {1, 77, 2561, 13244}) {
    SCOPED_TRACE("width " + std::to_string(width));
    const std::vector<Runs> page = randomPage(width, 40, 5 + static_cast<uint64_t>(width));
    const std::vector<uint8_t> bytes = encodeLines(true, width, page);
    for (size_t cut = 0; cut <= bytes.size(); cut += width > 100 ? 7 : 1)
      lockstep(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut)), width,
               false);
    Sink sink;
    FaxEncoder e{};
    LinePair own;
    ASSERT_EQ(linePairAlloc(&own, width), kRioOk);
    LineBuffer line(width);
    for (const Runs& runs : page) {
      line.set(runs);
      (void)linePairTake(&own, line.data());
      ASSERT_EQ(g4EncodeOwnLine(&e, sink.stream(), width, own.cur, own.ref), kRioOk);
      linePairSwap(&own);
    }
    ASSERT_EQ(g4EncodeFinish(&e, sink.stream()), kRioOk);
    EXPECT_EQ(sink.finish(), bytes);
  }
}

TEST(FaxHostile, RunsBeyondANarrowerWidth) {
  const std::vector<Runs> page = randomPage(300, 20, 7);
  for (bool group4 : {false, true}) {
    RioStatus last = kRioOk;
    (void)decodeAll(group4, encodeLines(group4, 300, page), 120, 100, &last);
    EXPECT_EQ(last, kRioBadColumns) << (group4 ? "Group 4" : "Group 3");
  }
}

TEST(FaxHostile, EndOfBlockMidPage) {
  const std::vector<Runs> page = randomPage(500, 30, 11);
  const std::vector<Runs> half(page.begin(), page.begin() + 15);
  RioStatus last = kRioOk;
  const std::vector<Runs> lines = decodeAll(true, encodeLines(true, 500, half), 500, 30, &last);
  EXPECT_EQ(lines, half);
  EXPECT_EQ(last, kRioEndOfPage);
}

TEST(FaxHostile, BadReferenceLineIsReadUpToItsFirstFault) {
  // A reference line out of order, as a faulty caller might hand over: the decoder must stay inside the
  // line and keep its output sorted.
  LineBuffer ref(50);
  ref.set({10, 20, 5, 8, 30, 40});
  EXPECT_EQ(faxReferenceLength(ref.data(), 50), 2);
  const std::vector<uint8_t> bytes = bitBytes(V0 + V0 + P + V0 + VR3 + VR3 + V0);
  Source src(bytes);
  FaxDecoder d{};
  LineBuffer cur(50);
  for (int i = 0; i < 4; ++i) {
    (void)g4DecodeLine(&d, src.stream(), 50, ref.data(), cur.data());
    EXPECT_TRUE(validLine(cur.get(), 50));
  }
  LineBuffer touching(50);
  touching.set({1, 5, 5, 9});
  EXPECT_EQ(faxReferenceLength(touching.data(), 50), 2);
  EXPECT_EQ(faxReferenceLength(nullptr, 50), 0);
}

// ---------------------------------------------------------------------------------------------------------
// Decoder position and limits.

TEST(FaxDecoder, BufferedBytesGiveTheEndOfTheCode) {
  // EOL, white 10, EOL: 29 bits, so the data used end inside byte 3.
  std::vector<uint8_t> bytes = bitBytes(EOL + W10 + EOL);
  bytes.resize(40, 0xAA);
  Source src(bytes);
  FaxDecoder d{};
  LineBuffer cur(10);
  ASSERT_EQ(g3DecodeLine(&d, src.stream(), 10, cur.data()), kRioOk);
  EXPECT_EQ(streamTell(src.stream()) - faxDecoderBufferedBytes(&d), 4);
}

TEST(FaxDecoder, ByteLimitKeepsTheReaderInsideAStrip) {
  // Two lines without end-of-line codes in 2 bytes, then bytes of another strip.
  std::vector<uint8_t> bytes = bitBytes(W3 + B7 + W10);
  ASSERT_EQ(bytes.size(), 2u);
  bytes.insert(bytes.end(), {0xFF, 0xFF, 0xFF});
  Source src(bytes);
  FaxDecoder d{};
  d.noEol = true;
  faxDecoderSetByteLimit(&d, 2);
  LineBuffer cur(10);
  ASSERT_EQ(g3DecodeLine(&d, src.stream(), 10, cur.data()), kRioOk);
  EXPECT_EQ(cur.get(), (Runs{3, 10}));
  ASSERT_EQ(g3DecodeLine(&d, src.stream(), 10, cur.data()), kRioOk);
  EXPECT_EQ(cur.get(), Runs{});
  EXPECT_EQ(g3DecodeLine(&d, src.stream(), 10, cur.data()), kRioUnexpectedEof) << "the limit is the end";
  EXPECT_EQ(streamTell(src.stream()), 2);
  // The next strip: restart, then read on from where the stream is: ones are white 7, black 2, white 7.
  faxDecoderRestart(&d);
  EXPECT_EQ(g3DecodeLine(&d, src.stream(), 10, cur.data()), kRioBadColumns);
}

TEST(FaxDecoder, LeastSignificantBitFirstAcrossBufferRefills) {
  // More than one stream buffer of data, so refills happen mid-code; every byte is reversed once.
  const int32_t width = 1000;
  std::vector<Runs> page;
  Rng rng(5);
  for (int y = 0; y < 400; ++y) {
    Runs line;
    for (int32_t x = rng.below(4); x < width - 8; x += 3 + rng.below(12))
      line.insert(line.end(), {x, x + 1 + rng.below(2)});
    page.push_back(line);
  }
  FaxEncoder e{};
  e.bits.lsbFirst = true;
  const std::vector<uint8_t> bytes = encodeLines(true, width, page, e);
  ASSERT_GT(bytes.size(), static_cast<size_t>(2 * kStreamBufferSize));
  FaxDecoder d{};
  d.bits.lsbFirst = true;
  RioStatus last = kRioOk;
  EXPECT_TRUE(decodeAll(true, bytes, width, 1000, &last, d) == page);
  EXPECT_EQ(last, kRioEndOfPage);
}

// ---------------------------------------------------------------------------------------------------------
// RCB operations.

// Each side codes against a line pair of its own: the RCB's buffers are never swapped here, and the line a
// writer codes is left as the caller put it.
TEST(FaxRcb, ReadAndWriteThroughTheRcb) {
  const int32_t width = 40;
  const std::vector<Runs> page = randomPage(width, 10, 3);
  for (bool group4 : {false, true}) {
    LineBuffer cur(width);
    Sink sink;
    RCB w;
    w.writing = true;
    w.outStream = sink.stream();
    w.width = width;
    w.curSline = cur.data();
    w.slineBytes = (slineValues(width) + 2) * static_cast<int64_t>(sizeof(int32_t));
    FaxLineWriter writer;
    ASSERT_EQ(linePairAlloc(&writer.lines, width), kRioOk);
    for (const Runs& line : page) {
      // The same runs, each split in two touching halves where it can be: the writer codes them joined.
      Runs split;
      for (size_t i = 0; i < line.size(); i += 2) {
        const int32_t mid = line[i + 1] - line[i] > 1 ? line[i] + 1 : line[i + 1];
        split.insert(split.end(), {line[i], mid});
        if (mid < line[i + 1]) split.insert(split.end(), {mid, line[i + 1]});
      }
      cur.set(split);
      ASSERT_EQ(group4 ? g4WriteSline(&w, &writer) : g3WriteSline(&w, &writer), kRioOk);
      EXPECT_EQ(cur.get(), split) << "the writer changed the caller's line";
    }
    ASSERT_EQ(group4 ? g4FinishWrite(&w, &writer) : g3FinishWrite(&w, &writer), kRioOk);
    EXPECT_EQ(w.status, kRioOk);
    const std::vector<uint8_t> bytes = sink.finish();

    Source src(bytes);
    LineBuffer rcur(width);
    RCB r;
    r.reading = true;
    r.inStream = src.stream();
    r.width = width;
    r.curSline = rcur.data();
    FaxLineReader reader;
    ASSERT_EQ(linePairAlloc(&reader.lines, width), kRioOk);
    for (const Runs& line : page) {
      ASSERT_EQ(group4 ? g4ReadSline(&r, &reader) : g3ReadSline(&r, &reader), kRioOk);
      EXPECT_EQ(rcur.get(), line);
      rcur.set({0, width});  // what the caller does with the line handed out is not the reader's reference
    }
    EXPECT_EQ(group4 ? g4ReadSline(&r, &reader) : g3ReadSline(&r, &reader), kRioEndOfPage);
    EXPECT_EQ(r.status, kRioEndOfPage) << "failures are kept as the RCB's status";
  }
}

// A caller's line that holds no terminator within its buffer is read up to the buffer's end, never past it
// (under ASan a read past the vector fails the test).
TEST(FaxRcb, AWriterReadsNoFurtherThanTheLineBuffer) {
  const int32_t width = 40;
  std::vector<int32_t> buffer(static_cast<size_t>(slineValues(width) + 2), 1);
  buffer[0] = buffer[1] = 0;
  for (size_t i = 3; i < buffer.size(); i += 2) buffer[i] = 2;  // (1, 2) over and over: one run
  Sink sink;
  RCB w;
  w.writing = true;
  w.outStream = sink.stream();
  w.width = width;
  w.curSline = buffer.data() + 2;
  w.slineBytes = static_cast<int64_t>(buffer.size() * sizeof(int32_t));
  for (bool group4 : {false, true}) {
    FaxLineWriter writer;
    ASSERT_EQ(linePairAlloc(&writer.lines, width), kRioOk);
    ASSERT_EQ(group4 ? g4WriteSline(&w, &writer) : g3WriteSline(&w, &writer), kRioOk);
    // The line coded (Group 4 keeps it as the next reference): the one run, then the end.
    const int32_t* coded = group4 ? writer.lines.ref : writer.lines.cur;
    EXPECT_EQ(Runs(coded, coded + 3), (Runs{1, 2, kSlineEnd}));
  }
}

TEST(FaxRcb, FirstErrorIsKept) {
  const std::vector<uint8_t> bytes = bitBytes(H + W11);
  Source src(bytes);
  LineBuffer cur(10);
  RCB r;
  r.reading = true;
  r.inStream = src.stream();
  r.width = 10;
  r.curSline = cur.data();
  r.status = kRioBadHeader;
  FaxLineReader reader;
  ASSERT_EQ(linePairAlloc(&reader.lines, 10), kRioOk);
  EXPECT_EQ(g4ReadSline(&r, &reader), kRioBadColumns);
  EXPECT_EQ(r.status, kRioBadHeader);
  EXPECT_EQ(g4ReadSline(nullptr, &reader), kRioNoRcb);
  RCB noStream;
  noStream.curSline = cur.data();
  EXPECT_EQ(g3ReadSline(&noStream, &reader), kRioBadStream);
}

}  // namespace
}  // namespace vantrel
