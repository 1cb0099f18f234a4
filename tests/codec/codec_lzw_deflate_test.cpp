// Tests of the LZW and Deflate byte decoders: code streams written here code by code (the edges of the
// string table and of the code width, and the faults a writer can make), zlib streams that inflate far
// beyond what is asked, garbage, truncation and byte limits. tests/interop checks both against the data
// libtiff writes.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "codec/deflate.h"
#include "codec/lzw.h"
#include "rio/alloc.h"
#include "tests/support/fax_lines.h"

namespace vantrel {
namespace {

using testfax::reversed;
using testfax::Source;
using Bytes = std::vector<uint8_t>;

constexpr int kClear = 256, kEnd = 257;

// Packs LZW codes most significant bit first at the width a TIFF decoder expects: the table is followed
// code by code, and the width grows when the next free code reaches 511, 1023 or 2047 (with `late`, one
// code later, as the old coders did).
class LzwWriter {
 public:
  explicit LzwWriter(bool late = false) : late_(late) {}
  LzwWriter& put(int code) {
    for (int b = width_ - 1; b >= 0; --b) bit((code >> b) & 1);
    if (code == kClear) {
      width_ = 9;
      next_ = 258;
      previous_ = false;
    } else if (code != kEnd) {
      if (previous_) ++next_;
      previous_ = true;
      if (next_ == (1 << width_) - (late_ ? 0 : 1) && width_ < 12) ++width_;
    }
    return *this;
  }
  LzwWriter& put(const std::string& literals) {
    for (unsigned char c : literals) put(c);
    return *this;
  }
  int nextCode() const { return next_; }
  Bytes bytes() const { return bytes_; }

 private:
  void bit(int b) {
    if (bits_ % 8 == 0) bytes_.push_back(0);
    if (b) bytes_.back() = static_cast<uint8_t>(bytes_.back() | (0x80 >> (bits_ % 8)));
    ++bits_;
  }
  bool late_;
  int width_ = 9, next_ = 258, bits_ = 0;
  bool previous_ = false;
  Bytes bytes_;
};

// Decodes in calls of `piece` bytes until `total` bytes or a failure; the bytes and the status.
RioStatus lzwDecode(const Bytes& coded, int32_t total, int32_t piece, Bytes* out, bool lsbFirst = false) {
  Source src(coded);
  auto d = std::make_unique<LzwDecoder>();
  d->bits.lsbFirst = lsbFirst;
  out->assign(static_cast<size_t>(total), 0);
  for (int32_t at = 0; at < total; at += piece) {
    const int32_t n = std::min(piece, total - at);
    if (const RioStatus s = lzwDecodeBytes(d.get(), src.stream(), out->data() + at, n)) {
      out->resize(static_cast<size_t>(at));
      return s;
    }
  }
  return kRioOk;
}

struct LzwVector {
  const char* name;
  Bytes coded;
  std::string expected;  // delivered before `status`
  RioStatus status;      // of the call that asks for one byte more
};

void PrintTo(const LzwVector& v, std::ostream* os) {
  *os << v.name;
}

// 254 literals make entries 258-510: the next code is read with 10 bits.
LzwWriter upToTenBits(bool late) {
  LzwWriter w(late);
  w.put(kClear);
  for (int i = 0; i < 254; ++i) w.put(i);
  return w;
}

std::string literals(int count) {
  std::string s;
  for (int i = 0; i < count; ++i) s += static_cast<char>(i);
  return s;
}

// A table filled to its last entry: every code makes one.
LzwWriter fullTable() {
  LzwWriter w;
  w.put(kClear).put('x');
  while (w.nextCode() < kLzwTableSize) w.put('x');
  return w;
}

// "xy", then 258 makes 260 = "xyz" when 'z' follows; strings of 'z' one longer each push both out of the
// decoder's window, so 258 comes back spelled from its literals and 260 from 258, which is in the window
// again by then.
constexpr int kZStrings = 530;  // about 140 KB of 'z'
Bytes pastTheWindowCodes() {
  LzwWriter w;
  w.put(kClear).put("xy").put(258).put('z');
  for (int k = 0; k < kZStrings; ++k) w.put(261 + k);
  return w.put(258).put(260).put(kEnd).bytes();
}
std::string pastTheWindowText() {
  std::string s = "xyxyz";
  for (int k = 0; k < kZStrings; ++k) s += std::string(static_cast<size_t>(k) + 2, 'z');
  return s + "xyxyz";
}

const LzwVector kLzwVectors[] = {
    {"Literals", LzwWriter().put(kClear).put("AB").put(kEnd).bytes(), "AB", kRioUnexpectedEof},
    {"CodeBeingMade", LzwWriter().put(kClear).put('A').put(258).put(kEnd).bytes(), "AAA", kRioUnexpectedEof},
    {"StringsOfStrings", LzwWriter().put(kClear).put("AB").put(258).put(260).put(kEnd).bytes(), "ABABABA",
     kRioUnexpectedEof},
    {"NoClearAtTheStart", LzwWriter().put("AB").put(kEnd).bytes(), "AB", kRioUnexpectedEof},
    {"ClearMidStream", LzwWriter().put(kClear).put("AB").put(kClear).put("C").put(258).put(kEnd).bytes(),
     "ABCCC", kRioUnexpectedEof},
    {"WidthGrowsOneCodeEarly", upToTenBits(false).put(510).put(kEnd).bytes(),
     literals(254) + std::string{'\xFC', '\xFD'}, kRioUnexpectedEof},
    {"StringsOlderThanTheWindow", pastTheWindowCodes(), pastTheWindowText(), kRioUnexpectedEof},
    {"FullTableThenClear", fullTable().put(kClear).put("Z").put(kEnd).bytes(),
     std::string(kLzwTableSize - 257, 'x') + "Z", kRioUnexpectedEof},
    // Faults.
    {"CodeBeyondTheTable", LzwWriter().put(kClear).put('A').put(300).bytes(), "A", kRioBadData},
    {"CodeBeingMadeNotNext", LzwWriter().put(kClear).put("AB").put(260).bytes(), "AB", kRioBadData},
    {"NoLiteralAfterClear", LzwWriter().put(kClear).put(258).bytes(), "", kRioBadData},
    {"WidthGrowsOneCodeLate", upToTenBits(true).put(510).put(kEnd).bytes(), literals(254), kRioBadData},
    {"TableFullWithoutClear", fullTable().put('x').bytes(), std::string(kLzwTableSize - 257, 'x'),
     kRioBadData},
    {"EndCodeFirst", LzwWriter().put(kClear).put(kEnd).bytes(), "", kRioUnexpectedEof},
    {"Truncated", LzwWriter().put(kClear).put("ABC").bytes(), "ABC", kRioUnexpectedEof},
    {"Empty", {}, "", kRioUnexpectedEof},
    {"OldBitOrderRefused", {0x00, 0x01, 0x41, 0x80}, "", kRioNotImplemented},
};

class LzwVectorTest : public ::testing::TestWithParam<LzwVector> {};

// Whole, a byte a call and least significant bit first, the bytes before the fault are delivered and the
// fault is reported, again on the call after.
TEST_P(LzwVectorTest, DeliversTheBytesThenTheStatus) {
  const LzwVector& v = GetParam();
  const std::string& expected = v.expected;
  const auto total = static_cast<int32_t>(expected.size()) + 1;
  for (int32_t piece : {total, 1, 7}) {
    for (bool lsbFirst : {false, true}) {
      SCOPED_TRACE("pieces of " + std::to_string(piece) + (lsbFirst ? ", reversed" : ""));
      Bytes out;
      const RioStatus s = lzwDecode(lsbFirst ? reversed(v.coded) : v.coded, total, piece, &out, lsbFirst);
      EXPECT_EQ(std::string(out.begin(), out.end()).substr(0, expected.size()),
                expected.substr(0, out.size()));
      EXPECT_EQ(s, v.status);
      if (piece == 1) {
        EXPECT_EQ(out.size(), expected.size());
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Lzw, LzwVectorTest, ::testing::ValuesIn(kLzwVectors),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LzwDecoder, FailureStaysUntilRestartAndTheLimitEndsTheStrip) {
  // A strip with a bad code, then a strip of its own after it.
  const Bytes bad = LzwWriter().put(kClear).put('A').put(400).bytes();
  const Bytes good = LzwWriter().put(kClear).put("OK").put(kEnd).bytes();
  Bytes both = bad;
  both.insert(both.end(), good.begin(), good.end());
  Source src(both);
  ASSERT_EQ(streamMakeSeekable(src.stream()), 0);
  auto d = std::make_unique<LzwDecoder>();
  lzwDecoderSetByteLimit(d.get(), static_cast<int64_t>(bad.size()));
  uint8_t out[4];
  EXPECT_EQ(lzwDecodeBytes(d.get(), src.stream(), out, 2), kRioBadData);
  EXPECT_EQ(lzwDecodeBytes(d.get(), src.stream(), out, 1), kRioBadData);
  EXPECT_EQ(streamTell(src.stream()), static_cast<int64_t>(bad.size())) << "no byte past the limit";
  lzwDecoderRestart(d.get());
  lzwDecoderSetByteLimit(d.get(), 1);  // the next strip cut after its first byte
  EXPECT_EQ(lzwDecodeBytes(d.get(), src.stream(), out, 2), kRioUnexpectedEof);
  ASSERT_EQ(streamSeek(src.stream(), static_cast<int64_t>(bad.size())), 0);
  lzwDecoderRestart(d.get());
  ASSERT_EQ(lzwDecodeBytes(d.get(), src.stream(), out, 2), kRioOk);
  EXPECT_EQ(std::string(out, out + 2), "OK");
}

// ---------------------------------------------------------------------------------------------------------
// Deflate.

// A zlib stream of `size` bytes of a repeating pattern (zeros: a stream that inflates a thousandfold).
Bytes zlibStream(int64_t size, bool zeros) {
  z_stream z{};
  EXPECT_EQ(deflateInit(&z, Z_DEFAULT_COMPRESSION), Z_OK);
  Bytes in(65536), out(65536), coded;
  for (size_t i = 0; i < in.size(); ++i) in[i] = zeros ? 0 : static_cast<uint8_t>(i * 7 % 251);
  for (int64_t left = size; left >= 0;) {
    const auto n = static_cast<uInt>(std::min<int64_t>(left, static_cast<int64_t>(in.size())));
    left -= n;
    const bool last = left == 0;
    z.next_in = in.data();
    z.avail_in = n;
    do {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
      coded.insert(coded.end(), out.data(), out.data() + (out.size() - z.avail_out));
    } while (z.avail_out == 0);
    if (last) break;
  }
  deflateEnd(&z);
  return coded;
}

class Inflater {
 public:
  explicit Inflater(const Bytes& coded, bool lsbFirst = false) : src_(coded) {
    d_.lsbFirst = lsbFirst;
    restart = deflateDecoderRestart(&d_);
  }
  ~Inflater() { deflateDecoderEnd(&d_); }
  RioStatus rows(int32_t count, int32_t bytes, Bytes* out = nullptr) {
    Bytes row(static_cast<size_t>(bytes));
    for (int32_t i = 0; i < count; ++i) {
      if (const RioStatus s = deflateDecodeBytes(&d_, src_.stream(), row.data(), bytes)) return s;
      if (out) out->insert(out->end(), row.begin(), row.end());
    }
    return kRioOk;
  }
  DeflateDecoder& decoder() { return d_; }
  RasterStream* stream() { return src_.stream(); }
  RioStatus restart;

 private:
  Source src_;
  DeflateDecoder d_;
};

TEST(DeflateDecoder, RowsComeExactlyAsAskedInEitherBitOrder) {
  const Bytes coded = zlibStream(300000, false);
  for (bool lsbFirst : {false, true}) {
    Inflater f(lsbFirst ? reversed(coded) : coded, lsbFirst);
    ASSERT_EQ(f.restart, kRioOk);
    Bytes out;
    ASSERT_EQ(f.rows(1000, 300, &out), kRioOk);
    for (size_t i = 0; i < out.size(); i += 4099)
      ASSERT_EQ(out[i], static_cast<uint8_t>(i % 65536 * 7 % 251));
    EXPECT_EQ(f.rows(1, 1), kRioUnexpectedEof) << "the stream ends with the page";
  }
}

// A stream of 64 MB of zeros: reading the rows of a page costs those rows, not the stream.
TEST(DeflateDecoder, AStreamFarLongerThanThePageInflatesOnlyTheRowsRead) {
  const Bytes coded = zlibStream(int64_t{64} << 20, true);
  rioResetPeak();
  const int64_t before = rioBytesInUse();
  Inflater f(coded);
  ASSERT_EQ(f.rows(200, 1000), kRioOk);
  EXPECT_LE(streamTell(f.stream()), 4096) << "one input buffer for 200 KB of output";
  EXPECT_LT(rioBytesPeak() - before, 64 * 1024) << "zlib's state and window only";
}

TEST(DeflateDecoder, FaultsAndLimits) {
  const Bytes coded = zlibStream(5000, false);
  Bytes garbage = coded;
  for (size_t i = 2; i < garbage.size(); i += 3) garbage[i] ^= 0x5A;
  const Bytes truncated(coded.begin(), coded.begin() + static_cast<std::ptrdiff_t>(coded.size() / 2));
  struct Case {
    const char* name;
    Bytes bytes;
    int64_t limit;
    RioStatus status;
  };
  const Case cases[] = {
      {"garbage after the header", garbage, -1, kRioBadData},
      {"not a zlib header", Bytes(100, 0xFF), -1, kRioBadData},
      {"truncated", truncated, -1, kRioUnexpectedEof},
      {"byte limit inside the stream", coded, 40, kRioUnexpectedEof},
      {"empty", {}, -1, kRioUnexpectedEof},
      {"stream shorter than the rows", coded, -1, kRioUnexpectedEof},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Inflater f(c.bytes);
    deflateDecoderSetByteLimit(&f.decoder(), c.limit);
    EXPECT_EQ(f.rows(60, 100), c.status);
    EXPECT_EQ(f.rows(1, 1), c.status) << "the failure stays";
    if (c.limit >= 0) {
      EXPECT_EQ(streamTell(f.stream()), c.limit);
    }
  }
}

TEST(DeflateDecoder, RestartReusesTheStateAndEndFreesIt) {
  const Bytes coded = zlibStream(1000, false);
  const int64_t before = rioBytesInUse();
  {
    Inflater f(coded);
    ASSERT_EQ(f.rows(10, 100), kRioOk);
    const int64_t inUse = rioBytesInUse();
    ASSERT_EQ(streamMakeSeekable(f.stream()), 0);
    ASSERT_EQ(streamSeek(f.stream(), 0), 0);
    ASSERT_EQ(deflateDecoderRestart(&f.decoder()), kRioOk);
    ASSERT_EQ(f.rows(10, 100), kRioOk);
    EXPECT_EQ(rioBytesInUse(), inUse);
  }
  EXPECT_EQ(rioBytesInUse(), before);
  DeflateDecoder none{};
  uint8_t byte = 0;
  EXPECT_EQ(deflateDecodeBytes(&none, nullptr, &byte, 1), kRioInternal) << "no restart";
  deflateDecoderEnd(&none);
}

}  // namespace
}  // namespace vantrel
