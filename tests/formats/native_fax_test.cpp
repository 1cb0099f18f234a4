// Native Group 3 and Group 4: seeded round trips, the header flags, the bit order flag, the end of the
// image (missing end code, trailing bytes, truncation) and a writer that received no line.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "codec/bits.h"
#include "formats/registry.h"
#include "rio/rcb.h"
#include "tests/support/file_fixture.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

constexpr size_t kHeader = 128;

using testfiles::Bytes;
using testfiles::Runs;

// A page of random runs; about a third of the lines repeat the previous one shifted a little, so the
// Group 4 vertical modes are exercised as well as the horizontal ones.
std::vector<Runs> randomPage(uint32_t seed, int32_t width, int32_t height) {
  std::mt19937 rng(seed);
  std::vector<Runs> page;
  for (int32_t y = 0; y < height; ++y) {
    Runs line;
    if (y > 0 && rng() % 3 == 0) {
      const int shift = static_cast<int>(rng() % 5) - 2;
      for (auto [s, e] : page.back()) {
        const int32_t ns = std::clamp(s + shift, 0, width);
        const int32_t ne = std::clamp(e + shift, 0, width);
        if (ne > ns && (line.empty() || ns > line.back().second)) line.emplace_back(ns, ne);
      }
    } else {
      int32_t x = static_cast<int32_t>(rng() % 8);
      while (x < width) {
        const int32_t len = 1 + static_cast<int32_t>(rng() % (rng() % 4 == 0 ? 300 : 12));
        line.emplace_back(x, std::min(x + len, width));
        x += len + 1 + static_cast<int32_t>(rng() % (rng() % 4 == 0 ? 400 : 20));
      }
    }
    page.push_back(line);
  }
  return page;
}

using ReadResult = testread::PageRecord;
using WriteResult = testfiles::DriverWrite;

class NativeFaxTest : public testfiles::FileTest {
 protected:
  // Written at 300 dpi; every line must succeed.
  WriteResult write(RasterFormatId id, int32_t width, int32_t height, const std::vector<Runs>& lines) {
    WriteResult w = testfiles::writeWithDriver(fresh(), id, width, height, lines,
                                               [](RCB* rcb) { rcb->xDpi = rcb->yDpi = 300; });
    for (const RioStatus r : w.lineResults) EXPECT_EQ(r, 0);
    return w;
  }

  static ReadResult read(const fs::path& p, RasterFormatId format = 0) {
    return testread::readBack(p, format);
  }
};

// --- Round trips -----------------------------------------------------------------------------------------

struct TripCase {
  RasterFormatId id;
  int32_t width;
  int32_t height;
  uint32_t seed;
};

class NativeFaxTrip : public NativeFaxTest, public ::testing::WithParamInterface<TripCase> {};

TEST_P(NativeFaxTrip, PageReadsBackAsWritten) {
  const TripCase c = GetParam();
  const std::vector<Runs> page = randomPage(c.seed, c.width, c.height);
  const WriteResult w = write(c.id, c.width, c.height, page);
  ASSERT_EQ(w.open, 0);
  EXPECT_EQ(w.status, 0);
  EXPECT_EQ(w.warning, 0);
  EXPECT_EQ((w.bytes.size() - kHeader) % 4, 0u) << "data end on a whole word";
  const ReadResult r = read(save(w.bytes));
  ASSERT_EQ(r.open, 0);
  EXPECT_EQ(r.width, c.width);
  EXPECT_EQ(r.height, c.height);
  EXPECT_EQ(r.end, kRioEndOfPage);
  EXPECT_EQ(r.warning, 0);
  EXPECT_EQ(r.lines, page);
}

INSTANTIATE_TEST_SUITE_P(Pages, NativeFaxTrip,
                         ::testing::Values(TripCase{kFormatNativeG3, 1, 5, 1}, TripCase{kFormatNativeG3, 1728, 60, 2},
                                           TripCase{kFormatNativeG3, 2593, 40, 3}, TripCase{kFormatNativeG4, 1, 5, 4},
                                           TripCase{kFormatNativeG4, 1728, 60, 5}, TripCase{kFormatNativeG4, 4961, 40, 6},
                                           TripCase{kFormatNativeG4, 13, 200, 7}));

// --- Header flags and bit order --------------------------------------------------------------------------

TEST_F(NativeFaxTest, HeaderFlagsNameTheCoding) {
  const WriteResult g3 = write(kFormatNativeG3, 100, 1, {{{10, 20}}});
  const WriteResult g4 = write(kFormatNativeG4, 100, 1, {{{10, 20}}});
  ASSERT_GE(g3.bytes.size(), kHeader);
  ASSERT_GE(g4.bytes.size(), kHeader);
  EXPECT_EQ(g3.bytes[4], 1);
  EXPECT_EQ(g3.bytes[50] << 8 | g3.bytes[51], 1);
  EXPECT_EQ(g3.bytes[53], 1);
  EXPECT_EQ(g3.bytes[54], 1);
  EXPECT_EQ(g4.bytes[4], 2);
  EXPECT_EQ(g4.bytes[50] << 8 | g4.bytes[51], 0);
  EXPECT_EQ(g4.bytes[53], 0);
  EXPECT_EQ(g4.bytes[54], 0);
  // Group 3 starts with an end-of-line code (000000000001) stored least significant bit first.
  EXPECT_EQ(g3.bytes[kHeader], 0x00);
  EXPECT_EQ(kBitReverse[g3.bytes[kHeader + 1]] >> 4, 0x1);
}

TEST_F(NativeFaxTest, Group3ReadsInEitherBitOrder) {
  const std::vector<Runs> page = randomPage(11, 1728, 30);
  const WriteResult w = write(kFormatNativeG3, 1728, 30, page);
  Bytes natural = w.bytes;
  natural[54] = 0;
  for (size_t i = kHeader; i < natural.size(); ++i) natural[i] = kBitReverse[natural[i]];
  EXPECT_EQ(read(save(w.bytes)).lines, page);
  const ReadResult r = read(save(natural));
  EXPECT_EQ(r.end, kRioEndOfPage);
  EXPECT_EQ(r.lines, page);
  // Without the line-alignment flag the fill bits in front of each end-of-line code are still skipped.
  natural[53] = 0;
  EXPECT_EQ(read(save(natural)).lines, page);
}

// The bits of the data as '0'/'1', most significant bit first.
std::string bitString(const Bytes& b, size_t from) {
  std::string s;
  for (size_t i = from; i < b.size(); ++i)
    for (int k = 7; k >= 0; --k) s.push_back((b[i] >> k) & 1 ? '1' : '0');
  return s;
}

const std::string kEofb = "000000000001000000000001";

TEST_F(NativeFaxTest, Group4EndsWithEndOfBlockAndZeroFill) {
  const WriteResult w = write(kFormatNativeG4, 500, 20, randomPage(12, 500, 20));
  std::string bits = bitString(w.bytes, kHeader);
  const size_t last = bits.find_last_of('1');
  ASSERT_NE(last, std::string::npos);
  EXPECT_EQ(bits.substr(last + 1 - kEofb.size(), kEofb.size()), kEofb);
  EXPECT_LT(bits.size() - last - 1, 32u) << "padding is less than a word";
}

TEST_F(NativeFaxTest, CodingTypeMustMatchTheFormatAsked) {
  const WriteResult w = write(kFormatNativeG4, 100, 2, {{}, {{1, 5}}});
  EXPECT_EQ(read(save(w.bytes), kFormatNativeG3).open, kRioBadHeader);
  EXPECT_EQ(read(save(w.bytes), kFormatNativeG4).open, 0);
}

// --- End of the image ------------------------------------------------------------------------------------

TEST_F(NativeFaxTest, ImageWithoutEndCodeOrWithTrailingBytesReadsWhole) {
  const std::vector<Runs> page = randomPage(13, 800, 25);
  const WriteResult w = write(kFormatNativeG4, 800, 25, page);
  const std::string bits = bitString(w.bytes, kHeader);
  const size_t eofb = bits.find_last_of('1') + 1 - kEofb.size();
  Bytes cut(w.bytes.begin(), w.bytes.begin() + static_cast<std::ptrdiff_t>(kHeader + (eofb + 7) / 8));
  // Clear the end code's first bits that share the last byte with the image.
  if (eofb % 8) cut.back() &= static_cast<uint8_t>(0xFF << (8 - eofb % 8));
  Bytes trailing = w.bytes;
  trailing.insert(trailing.end(), 100, 0xA5);
  for (const Bytes& file : {cut, trailing}) {
    const ReadResult r = read(save(file));
    EXPECT_EQ(r.end, kRioEndOfPage);
    EXPECT_EQ(r.warning, 0);
    EXPECT_EQ(r.lines, page);
  }
}

TEST_F(NativeFaxTest, TruncatedDataFailsWithoutReadingTooFar) {
  for (RasterFormatId id : {kFormatNativeG3, kFormatNativeG4}) {
    const WriteResult w = write(id, 1000, 40, randomPage(14, 1000, 40));
    for (size_t keep : {size_t{0}, size_t{3}, (w.bytes.size() - kHeader) / 2}) {
      Bytes cut(w.bytes.begin(), w.bytes.begin() + static_cast<std::ptrdiff_t>(kHeader + keep));
      const ReadResult r = read(save(cut));
      ASSERT_EQ(r.open, 0);
      EXPECT_LT(r.lines.size(), 40u) << "id " << id << " keep " << keep;
      EXPECT_NE(r.end, 0);
      EXPECT_NE(r.end, kRioEndOfPage);
    }
    Bytes header(w.bytes.begin(), w.bytes.begin() + 60);
    EXPECT_EQ(read(save(header)).open, kRioStreamIo);
  }
}

TEST_F(NativeFaxTest, WriterWithoutLinesWritesAWellFormedFile) {
  for (RasterFormatId id : {kFormatNativeG3, kFormatNativeG4}) {
    const WriteResult empty = write(id, 640, 0, {});
    ASSERT_GT(empty.bytes.size(), kHeader);
    EXPECT_EQ(empty.bytes[4], id - 3);
    EXPECT_EQ(empty.warning, 0);
    EXPECT_EQ(read(save(empty.bytes)).open, kRioBadRows) << "a page of no rows is refused on reading";

    const WriteResult shortPage = write(id, 640, 3, {});
    EXPECT_EQ(shortPage.warning, kRioBadRows);
    EXPECT_EQ(read(save(shortPage.bytes)).open, 0);
  }
}

}  // namespace
}  // namespace vantrel
