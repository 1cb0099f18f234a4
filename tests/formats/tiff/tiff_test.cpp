// The TIFF family: the written header, directory and tables byte for byte where they are the contract
// (entry order, rationals, ASCII counts, strip and tile layout, end codes), rows per strip from the
// environment, reading hand-built files of every layout and option, and hostile files.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "codec/fax.h"
#include "formats/registry.h"
#include "rio/rcb.h"
#include "tests/support/file_fixture.h"
#include "tests/support/pbm.h"
#include "tests/support/read_back.h"

namespace vantrel {
namespace {

using namespace testpbm;
using testfiles::Bytes;
using testread::PageRecord;
using testread::readBack;
using testread::readBackBytes;

// ---- reading files independently of the driver

struct Tag {
  uint16_t type = 0;
  uint32_t count = 0;
  std::vector<uint32_t> values;  // shorts and longs; rationals as numerator, denominator pairs
  std::string text;              // ASCII bytes, NUL included
};

struct Parsed {
  bool ok = false;
  std::vector<uint16_t> order;
  std::map<uint16_t, Tag> tags;
  uint32_t next = 1;
  const Tag& operator[](uint16_t t) const { return tags.at(t); }
  uint32_t value(uint16_t t) const { return tags.at(t).values.at(0); }
};

uint32_t le(const Bytes& b, size_t at, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | b.at(at + i);
  return v;
}

Parsed parseLittleEndian(const Bytes& b) {
  Parsed p;
  if (b.size() < 8 || b[0] != 'I' || b[1] != 'I' || le(b, 2, 2) != 42) return p;
  const size_t dir = le(b, 4, 4);
  const uint32_t n = le(b, dir, 2);
  for (uint32_t i = 0; i < n; ++i) {
    const size_t e = dir + 2 + 12 * i;
    const auto tag = static_cast<uint16_t>(le(b, e, 2));
    Tag t;
    t.type = static_cast<uint16_t>(le(b, e + 2, 2));
    t.count = le(b, e + 4, 4);
    const int size = t.type == 3 ? 2 : t.type == 5 ? 8 : t.type == 4 ? 4 : 1;
    const size_t at = static_cast<size_t>(size) * t.count <= 4 ? e + 8 : le(b, e + 8, 4);
    for (uint32_t k = 0; k < t.count; ++k) {
      if (t.type == 3) t.values.push_back(le(b, at + 2 * k, 2));
      if (t.type == 4) t.values.push_back(le(b, at + 4 * k, 4));
      if (t.type == 5) {
        t.values.push_back(le(b, at + 8 * k, 4));
        t.values.push_back(le(b, at + 8 * k + 4, 4));
      }
      if (t.type == 2) t.text += static_cast<char>(b.at(at + k));
    }
    p.order.push_back(tag);
    p.tags[tag] = t;
  }
  p.next = le(b, dir + 2 + 12 * n, 4);
  p.ok = true;
  return p;
}

// ---- building files by hand

struct Field {
  uint16_t tag;
  uint16_t type;
  std::vector<uint32_t> values;  // for ASCII: the bytes
  uint32_t count = 0;            // 0: the number of values
};

void putN(Bytes& b, size_t at, uint32_t v, int n, bool big) {
  for (int i = 0; i < n; ++i) b[at + (big ? n - 1 - i : i)] = static_cast<uint8_t>(v >> (8 * i));
}

// Header, the data blocks, the out-of-line values, then the directory (fields sorted as given).
// Strip or tile offsets given as the value kData + i point at data block i.
constexpr uint32_t kData = 0xD0000000;
Bytes buildTiff(const std::vector<Field>& fields, const std::vector<Bytes>& data, bool big = false) {
  Bytes b(8, 0);
  b[0] = b[1] = big ? 'M' : 'I';
  putN(b, 2, 42, 2, big);
  std::vector<uint32_t> where;
  for (const Bytes& d : data) {
    where.push_back(static_cast<uint32_t>(b.size()));
    b.insert(b.end(), d.begin(), d.end());
    if (b.size() & 1) b.push_back(0);
  }
  auto sizeOf = [](uint16_t type) { return type == 3 ? 2 : type == 4 ? 4 : type == 5 ? 8 : 1; };
  std::vector<uint32_t> valueAt(fields.size(), 0);
  for (size_t i = 0; i < fields.size(); ++i) {
    const Field& f = fields[i];
    const size_t n = f.type == 5 ? f.values.size() / 2 : f.values.size();
    if (n * sizeOf(f.type) <= 4) continue;
    valueAt[i] = static_cast<uint32_t>(b.size());
    const size_t unit = f.type == 5 ? 4 : sizeOf(f.type);
    for (uint32_t v : f.values) {
      if (v >= kData && v < kData + data.size()) v = where[v - kData];
      b.resize(b.size() + unit);
      putN(b, b.size() - unit, v, static_cast<int>(unit), big);
    }
    if (b.size() & 1) b.push_back(0);
  }
  const size_t dir = b.size();
  putN(b, 4, static_cast<uint32_t>(dir), 4, big);
  b.resize(dir + 2 + 12 * fields.size() + 4, 0);
  putN(b, dir, static_cast<uint32_t>(fields.size()), 2, big);
  for (size_t i = 0; i < fields.size(); ++i) {
    const Field& f = fields[i];
    const size_t e = dir + 2 + 12 * i;
    const size_t n = f.type == 5 ? f.values.size() / 2 : f.values.size();
    putN(b, e, f.tag, 2, big);
    putN(b, e + 2, f.type, 2, big);
    putN(b, e + 4, f.count ? f.count : static_cast<uint32_t>(n), 4, big);
    if (n * sizeOf(f.type) > 4) {
      putN(b, e + 8, valueAt[i], 4, big);
      continue;
    }
    for (size_t k = 0; k < f.values.size(); ++k) {
      uint32_t v = f.values[k];
      if (v >= kData && v < kData + data.size()) v = where[v - kData];
      putN(b, e + 8 + k * sizeOf(f.type), v, sizeOf(f.type), big);
    }
  }
  return b;
}

// Packed rows of a page.
Bytes packedRows(const Bitmap& page, int32_t y0, int32_t y1) {
  return Bytes(page.row(y0), page.row(y0) + static_cast<size_t>(y1 - y0) * page.rowBytes());
}

// The fields of a plain strip file; `extra` are added (or replace fields of the same tag).
std::vector<Field> stripFields(int32_t width, int32_t height, int32_t compression, int32_t rowsPerStrip,
                               const std::vector<uint32_t>& byteCounts, const std::vector<Field>& extra = {}) {
  std::vector<uint32_t> offsets;
  for (size_t i = 0; i < byteCounts.size(); ++i) offsets.push_back(kData + static_cast<uint32_t>(i));
  std::vector<Field> f = {
      {256, 4, {static_cast<uint32_t>(width)}},     {257, 4, {static_cast<uint32_t>(height)}},
      {258, 3, {1}},                                {259, 3, {static_cast<uint32_t>(compression)}},
      {262, 3, {0}},                                {273, 4, offsets},
      {277, 3, {1}},                                {278, 4, {static_cast<uint32_t>(rowsPerStrip)}},
      {279, 4, byteCounts},
  };
  for (const Field& x : extra) {
    bool replaced = false;
    for (Field& y : f)
      if (y.tag == x.tag) y = x, replaced = true;
    if (!replaced) f.push_back(x);
  }
  std::sort(f.begin(), f.end(), [](const Field& a, const Field& b) { return a.tag < b.tag; });
  return f;
}

std::vector<Field> without(std::vector<Field> f, uint16_t tag) {
  f.erase(std::remove_if(f.begin(), f.end(), [&](const Field& x) { return x.tag == tag; }), f.end());
  return f;
}

// An uncompressed file of the page in strips of `rows` rows.
Bytes uncompressedTiff(const Bitmap& page, int32_t rows, const std::vector<Field>& extra = {}, bool big = false) {
  std::vector<Bytes> strips;
  std::vector<uint32_t> counts;
  for (int32_t y = 0; y < page.height; y += rows) {
    strips.push_back(packedRows(page, y, std::min(page.height, y + rows)));
    counts.push_back(static_cast<uint32_t>(strips.back().size()));
  }
  return buildTiff(stripFields(page.width, page.height, 1, rows, counts, extra), strips, big);
}

Bitmap inverted(const Bitmap& page) {
  Bitmap out(page.width, page.height);
  for (int32_t y = 0; y < page.height; ++y)
    for (int32_t x = 0; x < page.width; ++x)
      if (!page.black(x, y)) out.set(x, y);
  return out;
}

// ---- the fixture

// Rows per strip come from the settings the written stream carries: unset unless a test sets them.
class TiffTest : public testfiles::FileTest {
 protected:
  PageRecord readBytes(const Bytes& bytes) { return readBackBytes(bytes); }
  Bytes write(RasterFormatId id, const Bitmap& page, double dpi = 300, RioStatus* status = nullptr) {
    const fs::path p = fresh();
    const RioStatus r = writeThroughLibrary(p, id, page, dpi, &settings_);
    if (status)
      *status = r;
    else
      EXPECT_EQ(r, 0);
    return load(p);
  }

  RioSettings settings_;
};

// ---- the written header and directory

TEST_F(TiffTest, WrittenFileStartsWithTheHeaderAndTheMaker) {
  const Bytes b = write(kFormatTiff, makePage(100, 20, 1));
  const uint8_t golden[24] = {'I', 'I', 42, 0, 24, 0, 0, 0, 'Z', 'E', 'B', ' ', 'C', 'o',
                              'r', 'p', 'o', 'r', 'a', 't', 'i', 'o', 'n', 0};
  ASSERT_GE(b.size(), 24u);
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 24), Bytes(golden, golden + 24));
  const Parsed p = parseLittleEndian(b);
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.next, 0u);
  EXPECT_EQ(p[315].count, 16u);
  EXPECT_EQ(p[315].text, std::string("ZEB Corporation", 16));
}

struct OrderCase {
  RasterFormatId id;
  std::vector<uint16_t> tags;
};

class TiffEntryOrder : public TiffTest, public ::testing::WithParamInterface<OrderCase> {};

TEST_P(TiffEntryOrder, EntriesInTableOrder) {
  const Parsed p = parseLittleEndian(write(GetParam().id, makePage(700, 450, 2)));
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.order, GetParam().tags);
}

const std::vector<uint16_t> kStripsG4 = {254, 256, 257, 258, 259, 262, 273, 278, 279, 282, 283, 286, 287, 293, 296, 315};
const std::vector<uint16_t> kStripsPlain = {254, 256, 257, 258, 259, 262, 273, 278, 279, 282, 283, 286, 287, 296, 315};
const std::vector<uint16_t> kTilesG4 = {254, 256, 257, 258, 259, 262, 282, 283, 286, 287, 293, 296, 315, 322, 323, 324, 325};

INSTANTIATE_TEST_SUITE_P(Ids, TiffEntryOrder,
                         ::testing::Values(OrderCase{kFormatTiff, kStripsG4}, OrderCase{kFormatOptigraphics, kStripsG4},
                                           OrderCase{kFormatTiffPlain, kStripsG4}, OrderCase{kFormatTiffUncompressed, kStripsPlain},
                                           OrderCase{kFormatTiffG3, kStripsPlain}, OrderCase{kFormatTiffTiled, kTilesG4}));

TEST_F(TiffTest, CompressionAndFixedValues) {
  const std::map<RasterFormatId, uint32_t> compression = {{kFormatTiff, 4},  {kFormatOptigraphics, 4},    {kFormatTiffPlain, 4},
                                                          {kFormatTiffUncompressed, 1}, {kFormatTiffG3, 3}, {kFormatTiffTiled, 4}};
  for (auto [id, value] : compression) {
    SCOPED_TRACE(id);
    const Parsed p = parseLittleEndian(write(id, makePage(64, 10, 3)));
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.value(259), value);
    EXPECT_EQ(p.value(254), 0u);
    EXPECT_EQ(p.value(256), 64u);
    EXPECT_EQ(p.value(257), 10u);
    EXPECT_EQ(p.value(258), 1u);
    EXPECT_EQ(p.value(262), 0u);
    EXPECT_EQ(p.value(296), 2u);
    EXPECT_EQ(p[286].values, (std::vector<uint32_t>{0, 1}));
    if (value == 4) {
      EXPECT_EQ(p.value(293), 0u);
    }
  }
}

struct RationalCase {
  double dpi;
  uint32_t numerator;
  uint32_t denominator;
};

class TiffRational : public TiffTest, public ::testing::WithParamInterface<RationalCase> {};

TEST_P(TiffRational, ResolutionAsWritten) {
  const Parsed p = parseLittleEndian(write(kFormatTiffUncompressed, makePage(16, 4, 4), GetParam().dpi));
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p[282].values, (std::vector<uint32_t>{GetParam().numerator, GetParam().denominator}));
  EXPECT_EQ(p[283].values, (std::vector<uint32_t>{GetParam().numerator, GetParam().denominator}));
}

// d = trunc(2147483647 / x), n = trunc(x * d); whole values reduce to x/1.
INSTANTIATE_TEST_SUITE_P(Values, TiffRational,
                         ::testing::Values(RationalCase{300, 300, 1}, RationalCase{0, 200, 1},
                                           RationalCase{200, 200, 1}, RationalCase{1, 1, 1},
                                           RationalCase{72, 72, 1}, RationalCase{299.72, 2147483609u, 7164966u},
                                           RationalCase{0.5, 2147483647u, 4294967294u}));

TEST_F(TiffTest, ResolutionBeyondTheRationalRangeFails) {
  RioStatus status = 0;
  write(kFormatTiff, makePage(16, 2, 5), 3e9, &status);
  EXPECT_EQ(status, kRioInternal);
}

TEST_F(TiffTest, NamesFromATiffExtraHeaderWithTheirNul) {
  for (const std::string& document : {std::string("AB"), std::string("DRAWING-0042")}) {
    const fs::path p = dir_ / "named.tif";
    FilePtr file(std::fopen(p.c_str(), "wb"));
    RasterStream* out = streamOpen(file.get(), "w");
    RioStatus st = 0;
    RCB* rcb = rioOpenRasterWrite(out, 32, 1, kFormatTiff, &st);
    ASSERT_NE(rcb, nullptr);
    const std::string extra = std::string("Tiff\0", 5) + document + '\0' + "SHEET 2" + '\0' + "2" + '\0' + "7" + '\0';
    ASSERT_EQ(rioSetExtraHeader(rcb, reinterpret_cast<const uint8_t*>(extra.data()),
                                static_cast<int32_t>(extra.size())),
              0);
    rcb->curSline[0] = 3, rcb->curSline[1] = 9, rcb->curSline[2] = rcb->curSline[3] = kSlineEnd;
    ASSERT_EQ(rioWriteRasterSline(rcb), 0);
    EXPECT_EQ(rioCloseRaster(rcb), 0);
    EXPECT_EQ(streamClose(out), 1);
    file.reset();
    const Bytes b = testpbm::readBytes(p);
    const Parsed parsed = parseLittleEndian(b);
    ASSERT_TRUE(parsed.ok);
    EXPECT_EQ(parsed[269].count, document.size() + 1);
    EXPECT_EQ(parsed[269].text, document + '\0');
    EXPECT_EQ(parsed[285].text, std::string("SHEET 2") + '\0');
    EXPECT_EQ(parsed[297].values, (std::vector<uint32_t>{2, 7}));
    // Read back, the names make the extra-header block again.
    const PageRecord back = readBack(p);
    ASSERT_EQ(back.open, 0);
    EXPECT_EQ(std::string(back.extra.begin(), back.extra.end()), extra);
  }
}

// ---- strips

int32_t stripsOf(const Parsed& p) { return static_cast<int32_t>(p[273].count); }

TEST_F(TiffTest, OneStripForId10) {
  const Parsed p = parseLittleEndian(write(kFormatTiff, makePage(300, 3000, 6)));
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(stripsOf(p), 1);
  EXPECT_EQ(p.value(278), 3000u);
  EXPECT_EQ(p.value(257), 3000u);
}

// The end-of-line code (eleven zeros and a one) starts at bit `bit` of the data.
bool eolAt(const Bytes& b, size_t byte, int bit = 0) {
  uint32_t v = 0;
  for (int i = 0; i < 3; ++i) v = v << 8 | b.at(byte + i);
  return ((v >> (12 - bit)) & 0xFFF) == 1;
}

TEST_F(TiffTest, Group3StripsOf200RowsEachBeginWithAnEndOfLine) {
  const Bytes b = write(kFormatTiffG3, makePage(500, 450, 7));
  const Parsed p = parseLittleEndian(b);
  ASSERT_TRUE(p.ok);
  ASSERT_EQ(stripsOf(p), 3);
  EXPECT_EQ(p.value(278), 200u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(eolAt(b, p[273].values[i])) << "strip " << i;
    EXPECT_EQ(p[279].values[i] % 4, 0u) << "whole words";
  }
  // The last strip ends with the return-to-control sequence: six end-of-line codes, then zero padding.
  const size_t end = p[273].values[2] + p[279].values[2];
  std::string bits;
  for (size_t i = end - 12; i < end; ++i)
    for (int k = 7; k >= 0; --k) bits += (b[i] >> k) & 1 ? '1' : '0';
  bits.erase(bits.find_last_of('1') + 1);
  std::string rtc;
  for (int i = 0; i < 6; ++i) rtc += "000000000001";
  EXPECT_EQ(bits.substr(bits.size() - rtc.size()), rtc);
  EXPECT_EQ(readBackBytes(b).lines.size(), 450u);
}

struct StripsCase {
  const char* text;      // nullptr: unset
  int32_t rowsPerStrip;  // expected; 0: one strip
};

class TiffZebStrips : public TiffTest, public ::testing::WithParamInterface<StripsCase> {};

TEST_P(TiffZebStrips, RowsPerStripFromTheSettings) {
  if (GetParam().text) settings_.tiffStrips = GetParam().text;
  const int32_t height = 90;
  const Bitmap page = makePage(120, height, 8);
  for (RasterFormatId id : {kFormatOptigraphics, kFormatTiffPlain, kFormatTiffUncompressed, kFormatTiffG3}) {
    SCOPED_TRACE(id);
    const Bytes b = write(id, page);
    const Parsed p = parseLittleEndian(b);
    ASSERT_TRUE(p.ok);
    const int32_t rows = GetParam().rowsPerStrip == 0 ? height : std::min(GetParam().rowsPerStrip, height);
    EXPECT_EQ(stripsOf(p), (height + rows - 1) / rows);
    EXPECT_EQ(p.value(278), static_cast<uint32_t>(stripsOf(p) == 1 ? height : rows));
    EXPECT_EQ(difference(readBackBytes(b).bitmap(), page), "equal");
  }
  // Id 10 keeps one strip whatever the settings say.
  EXPECT_EQ(stripsOf(parseLittleEndian(write(kFormatTiff, page))), 1);
}

INSTANTIATE_TEST_SUITE_P(Values, TiffZebStrips,
                         ::testing::Values(StripsCase{nullptr, 200}, StripsCase{"0", 0}, StripsCase{"-3", 0},
                                           StripsCase{"7", 7}, StripsCase{"0x10", 16}, StripsCase{"010", 8},
                                           StripsCase{"1", 1}, StripsCase{"junk", 200},
                                           StripsCase{"99999999999", 0}));

TEST_F(TiffTest, ManyStripsGrowTheTables) {
  settings_.tiffStrips = "1";
  const Bitmap page = makePage(40, 2500, 9);
  const Bytes b = write(kFormatTiffPlain, page);
  const Parsed p = parseLittleEndian(b);
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(stripsOf(p), 2500);
  EXPECT_EQ(p[279].count, 2500u);
  EXPECT_EQ(difference(readBackBytes(b).bitmap(), page), "equal");
}

// ---- tiles

struct TileCase {
  int32_t width;
  int32_t height;
  uint32_t tileLength;
};

class TiffTiles : public TiffTest, public ::testing::WithParamInterface<TileCase> {};

TEST_P(TiffTiles, GeometryAndEveryTileEndsWithItsEndOfBlock) {
  const auto [width, height, tileLength] = GetParam();
  const Bitmap page = makePage(width, height, 10 + width + height);
  const Bytes b = write(kFormatTiffTiled, page);
  const Parsed p = parseLittleEndian(b);
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.value(322), 512u);
  EXPECT_EQ(p.value(323), tileLength);
  const uint32_t across = (width + 511) / 512, down = (height + tileLength - 1) / tileLength;
  ASSERT_EQ(p[324].count, across * down);
  ASSERT_EQ(p[325].count, across * down);
  for (uint32_t i = 0; i < across * down; ++i) {
    const uint32_t at = p[324].values[i], n = p[325].values[i];
    ASSERT_EQ(n % 4, 0u) << "tile " << i << " ends on a whole word";
    ASSERT_LE(at + n, b.size());
    if (i + 1 < across * down) {
      EXPECT_EQ(at + n, p[324].values[i + 1]) << "tiles follow each other";
    }
    // The last set bits of the tile are the end-of-block code (two end-of-line codes).
    uint64_t tail = 0;
    for (uint32_t k = at + n - 8; k < at + n; ++k) tail = tail << 8 | b[k];
    while ((tail & 1) == 0) tail >>= 1;
    EXPECT_EQ(tail & 0xFFFFFF, 0x001001u) << "tile " << i;
  }
  EXPECT_EQ(difference(readBackBytes(b).bitmap(), page), "equal");
}

INSTANTIATE_TEST_SUITE_P(Sizes, TiffTiles,
                         ::testing::Values(TileCase{300, 100, 112}, TileCase{1000, 512, 512},
                                           TileCase{1300, 700, 512}, TileCase{512, 16, 16},
                                           TileCase{513, 1, 16}, TileCase{2000, 1030, 512}));

TEST_F(TiffTest, SingleTileKeepsItsOffsetInline) {
  const Bytes b = write(kFormatTiffTiled, makePage(200, 50, 11));
  const Parsed p = parseLittleEndian(b);
  ASSERT_TRUE(p.ok);
  ASSERT_EQ(p[324].count, 1u);
  EXPECT_GT(p[324].values[0], 24u);
  EXPECT_LT(p[324].values[0] + p[325].values[0], b.size() + 1);
}

// ---- round trips of every id

struct RoundCase {
  RasterFormatId id;
  int32_t width;
  int32_t height;
};

class TiffRoundTrip : public TiffTest, public ::testing::WithParamInterface<RoundCase> {};

TEST_P(TiffRoundTrip, ReadsBackWhatItWrote) {
  const auto [id, width, height] = GetParam();
  settings_.tiffStrips = "37";
  const Bitmap page = makePage(width, height, 1000 + width * 7 + height);
  const PageRecord r = readBackBytes(write(id, page));
  EXPECT_EQ(r.open, 0);
  EXPECT_EQ(r.format, kFormatTiff);
  EXPECT_EQ(r.end, kRioEndOfPage);
  EXPECT_EQ(r.xDpi, 300);
  EXPECT_EQ(difference(r.bitmap(), page), "equal");
}

INSTANTIATE_TEST_SUITE_P(
    Ids, TiffRoundTrip,
    ::testing::Values(RoundCase{kFormatTiff, 1, 5}, RoundCase{kFormatTiff, 1728, 120}, RoundCase{kFormatOptigraphics, 1733, 100},
                      RoundCase{kFormatTiffPlain, 7, 80}, RoundCase{kFormatTiffUncompressed, 1, 40}, RoundCase{kFormatTiffUncompressed, 1733, 90},
                      RoundCase{kFormatTiffG3, 100, 75}, RoundCase{kFormatTiffG3, 2700, 40}, RoundCase{kFormatTiffTiled, 1, 3},
                      RoundCase{kFormatTiffTiled, 1025, 600}));

// The tiled writer holds one band of tiles, not the page: its peak memory stays near one band's worth
// while a page whose every tile holds pixels goes through it.
TEST_F(TiffTest, TiledWriterHoldsOneBand) {
  Bitmap page(1200, 6000);
  for (int32_t y = 0; y < page.height; ++y)
    for (int32_t x = (y % 7); x < page.width; x += 9) page.set(x, y);
  rioResetPeak();
  const int64_t before = rioBytesInUse();
  const Bytes b = write(kFormatTiffTiled, page);
  const int64_t peak = rioBytesPeak() - before;
  const int64_t pageTiles = int64_t{(1200 + 31) / 32} * ((6000 + 31) / 32) * 128;
  EXPECT_LT(peak, pageTiles / 3) << "peak " << peak << " bytes, the page's tiles " << pageTiles;
  EXPECT_EQ(difference(readBackBytes(b).bitmap(), page), "equal");
}

// Compression 2: Modified Huffman rows without end-of-line codes, each starting on a byte.
TEST_F(TiffTest, ReadsModifiedHuffmanRows) {
  const Bitmap page = makePage(203, 30, 23);
  const fs::path tmp = dir_ / "rle";
  {
    FilePtr f(std::fopen(tmp.c_str(), "wb"));
    RasterStream* s = streamOpen(f.get(), "w");
    FaxEncoder e{};
    e.noEol = true;
    e.lineAlign = true;
    std::vector<int32_t> line(slineValues(page.width) + 2, kSlineEnd);
    for (int32_t y = 0; y < page.height; ++y) {
      int32_t* p = line.data();
      for (int32_t x = 0; x < page.width;) {
        if (!page.black(x, y)) { ++x; continue; }
        *p++ = x;
        while (x < page.width && page.black(x, y)) ++x;
        *p++ = x;
      }
      p[0] = p[1] = kSlineEnd;
      ASSERT_EQ(g3EncodeLine(&e, s, page.width, line.data()), 0);
    }
    ASSERT_EQ(faxEncoderFlush(&e, s), 0);
    ASSERT_EQ(streamClose(s), 1);
  }
  const Bytes data = testpbm::readBytes(tmp);
  const PageRecord r =
      readBytes(buildTiff(stripFields(203, 30, 2, 30, {static_cast<uint32_t>(data.size())}), {data}));
  ASSERT_EQ(r.open, 0);
  EXPECT_EQ(difference(r.bitmap(), page), "equal");
}

// ImageLength 0 is no page (libtiff refuses it): such a page is refused before anything is written.
TEST_F(TiffTest, PageWithoutRowsIsRefused) {
  const fs::path p = dir_ / "empty.tif";
  FilePtr file(std::fopen(p.c_str(), "wb"));
  RasterStream* out = streamOpen(file.get(), "w");
  for (RasterFormatId id : {kFormatTiffG3, kFormatTiffUncompressed}) {
    RioStatus st = 0;
    EXPECT_EQ(rioOpenRasterWrite(out, 100, 0, id, &st), nullptr);
    EXPECT_EQ(st, kRioBadRows);
  }
  EXPECT_EQ(streamClose(out), 1);
  file.reset();
  EXPECT_TRUE(testpbm::readBytes(p).empty());
}

// A patch that cannot be written fails the close, and with it the translation.
TEST_F(TiffTest, FailedPatchIsTheResultOfClose) {
  std::vector<char> memory(64);
  std::FILE* f = fmemopen(memory.data(), memory.size(), "wb");
  ASSERT_NE(f, nullptr);
  setvbuf(f, nullptr, _IONBF, 0);
  RasterStream* out = streamOpen(f, "w");
  RioStatus st = 0;
  RCB* rcb = rioOpenRasterWrite(out, 64, 4, kFormatTiffUncompressed, &st);
  ASSERT_NE(rcb, nullptr);
  for (int y = 0; y < 4; ++y) {
    rcb->curSline[0] = rcb->curSline[1] = kSlineEnd;
    ASSERT_EQ(rioWriteRasterSline(rcb), 0);
  }
  EXPECT_NE(rioCloseRaster(rcb), 0);
  (void)streamClose(out);
  std::fclose(f);
}

// ---- reading hand-built files

TEST_F(TiffTest, ReadsUncompressedStripsInBothByteOrders) {
  const Bitmap page = makePage(77, 31, 12);
  for (bool big : {false, true}) {
    for (int32_t rows : {1, 5, 31, 1000}) {
      const PageRecord r = readBytes(uncompressedTiff(page, rows, {}, big));
      ASSERT_EQ(r.open, 0) << big << " " << rows;
      EXPECT_EQ(difference(r.bitmap(), page), "equal") << big << " " << rows;
    }
  }
}

TEST_F(TiffTest, BlackIsZeroIsInverted) {
  const Bitmap page = makePage(50, 9, 13);
  const PageRecord r = readBytes(uncompressedTiff(inverted(page), 4, {{262, 3, {1}}}));
  ASSERT_EQ(r.open, 0);
  EXPECT_EQ(difference(r.bitmap(), page), "equal");
}

TEST_F(TiffTest, FillOrder2ReversesEveryByte) {
  const Bitmap page = makePage(64, 20, 14);
  Bitmap reversed = page;
  for (uint8_t& b : reversed.bits) b = kBitReverse[b];
  const PageRecord r = readBytes(uncompressedTiff(reversed, 6, {{266, 3, {2}}}));
  ASSERT_EQ(r.open, 0);
  EXPECT_EQ(difference(r.bitmap(), page), "equal");
}

// Group 4 strips made by our codec, each its own block, with the bytes stored least significant bit first.
TEST_F(TiffTest, Group4StripsWithFillOrder2) {
  const Bitmap page = makePage(333, 45, 15);
  const fs::path tmp = dir_ / "g4";
  std::vector<Bytes> strips;
  std::vector<uint32_t> counts;
  for (int32_t y0 = 0; y0 < page.height; y0 += 10) {
    FilePtr f(std::fopen(tmp.c_str(), "wb"));
    RasterStream* s = streamOpen(f.get(), "w");
    FaxEncoder e{};
    e.bits.lsbFirst = true;
    std::vector<int32_t> ref(slineValues(page.width) + 2, kSlineEnd), cur = ref;
    bool first = true;
    for (int32_t y = y0; y < std::min(page.height, y0 + 10); ++y) {
      int32_t* p = cur.data() + 2;
      for (int32_t x = 0; x < page.width;) {
        if (!page.black(x, y)) { ++x; continue; }
        *p++ = x;
        while (x < page.width && page.black(x, y)) ++x;
        *p++ = x;
      }
      p[0] = p[1] = kSlineEnd;
      ASSERT_EQ(g4EncodeLine(&e, s, page.width, cur.data() + 2, first ? nullptr : ref.data() + 2), 0);
      std::swap(cur, ref);
      first = false;
    }
    ASSERT_EQ(g4EncodeFinish(&e, s), 0);
    ASSERT_EQ(streamClose(s), 1);
    f.reset();
    strips.push_back(testpbm::readBytes(tmp));
    counts.push_back(static_cast<uint32_t>(strips.back().size()));
  }
  const PageRecord r = readBytes(buildTiff(stripFields(333, 45, 4, 10, counts, {{266, 3, {2}}}), strips));
  ASSERT_EQ(r.open, 0);
  EXPECT_EQ(r.end, kRioEndOfPage);
  EXPECT_EQ(difference(r.bitmap(), page), "equal");
}

TEST_F(TiffTest, PackBitsRowsWithSkipCodesAndOverlongRuns) {
  // Width 20: three bytes a row. Row 0: literal of 3 bytes. Row 1: -128 (skipped), repeat 0xF0 three times.
  // Row 2: a literal of 5 bytes, two past the row's end (dropped). Row 3: a repeat of 6, three dropped.
  const Bytes data = {2,   0xFF, 0x00, 0xF0, 0x80, 0xFE, 0xF0, 4,    0x0F, 0x0F, 0x0F,
                      0xAA, 0xAA, 0xFB, 0x81, 0x02, 0xC0, 0x00, 0x30};
  Bitmap want(20, 5);
  const uint8_t rows[5][3] = {{0xFF, 0x00, 0xF0}, {0xF0, 0xF0, 0xF0}, {0x0F, 0x0F, 0x0F}, {0x81, 0x81, 0x81},
                              {0xC0, 0x00, 0x30}};
  for (int y = 0; y < 5; ++y) std::copy(rows[y], rows[y] + 3, want.row(y));
  for (int32_t y = 0; y < 5; ++y) want.row(y)[2] &= 0xF0;
  const PageRecord r = readBytes(buildTiff(stripFields(20, 5, 32773, 5, {static_cast<uint32_t>(data.size())}), {data}));
  ASSERT_EQ(r.open, 0);
  EXPECT_EQ(difference(r.bitmap(), want), "equal");
  // FillOrder 2 reverses every stored byte, the codes too.
  Bytes reversed = data;
  for (uint8_t& b : reversed) b = kBitReverse[b];
  const PageRecord lsb = readBytes(buildTiff(
      stripFields(20, 5, 32773, 5, {static_cast<uint32_t>(data.size())}, {{266, 3, {2}}}), {reversed}));
  ASSERT_EQ(lsb.open, 0);
  EXPECT_EQ(difference(lsb.bitmap(), want), "equal");
}

struct ResolutionCase {
  uint32_t numerator, denominator, unit;
  double dpi;
};

class TiffResolution : public TiffTest, public ::testing::WithParamInterface<ResolutionCase> {};

TEST_P(TiffResolution, ReadWithFloatingDivisionAndTheUnit) {
  const auto [n, d, unit, dpi] = GetParam();
  const PageRecord r = readBytes(uncompressedTiff(makePage(8, 2, 16), 2,
                                                  {{282, 5, {n, d}}, {283, 5, {n, d}}, {296, 3, {unit}}}));
  ASSERT_EQ(r.open, 0);
  EXPECT_DOUBLE_EQ(r.xDpi, dpi);
  EXPECT_DOUBLE_EQ(r.yDpi, dpi);
}

INSTANTIATE_TEST_SUITE_P(Values, TiffResolution,
                         ::testing::Values(ResolutionCase{300, 1, 2, 300}, ResolutionCase{118, 1, 3, 118 * 2.54},
                                           ResolutionCase{1181, 10, 3, 1181.0 / 10 * 2.54},
                                           ResolutionCase{400, 1, 1, 400}, ResolutionCase{601, 2, 2, 300.5},
                                           // 96 dpi as one common library writes it per centimetre
                                           ResolutionCase{4294967295u, 113653537, 3, 4294967295.0 / 113653537 * 2.54}));

// Each case: the fields changed from a valid 16 x 4 uncompressed file, and the status of the open.
struct HeaderCase {
  const char* name;
  std::vector<Field> extra;
  std::vector<uint16_t> removed;
  RioStatus open;
};

class TiffHeader : public TiffTest, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(TiffHeader, Status) {
  const Bitmap page = makePage(16, 4, 17);
  std::vector<Field> f = stripFields(16, 4, 1, 4, {8}, GetParam().extra);
  for (uint16_t t : GetParam().removed) f = without(f, t);
  const PageRecord r = readBytes(buildTiff(f, {packedRows(page, 0, 4)}));
  EXPECT_EQ(r.open, GetParam().open);
  if (r.open == 0) {
    EXPECT_EQ(difference(r.bitmap(), page), "equal");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, TiffHeader,
    ::testing::Values(
        HeaderCase{"Plain", {}, {}, 0},
        HeaderCase{"NoCompressionTagMeansNone", {}, {259}, 0},
        HeaderCase{"RowsPerStripAboveHeightIsOneStrip", {{278, 4, {1000}}}, {}, 0},
        HeaderCase{"RowsPerStripAbsentIsOneStrip", {}, {278}, 0},
        HeaderCase{"RowsPerStripZero", {{278, 4, {0}}}, {}, kRioBadHeader},
        // A table of one strip where RowsPerStrip asks for more: the table decides, as in libtiff.
        HeaderCase{"StripCountAgainstRowsPerStrip", {{278, 4, {1}}}, {}, kRioOk},
        HeaderCase{"NoStripOffsets", {}, {273}, kRioBadHeader},
        HeaderCase{"NoStripByteCounts", {}, {279}, kRioBadHeader},
        HeaderCase{"NoWidth", {}, {256}, kRioBadHeader},
        HeaderCase{"NoLength", {}, {257}, kRioBadHeader},
        HeaderCase{"WidthZero", {{256, 4, {0}}}, {}, kRioBadColumns},
        HeaderCase{"WidthAbsurd", {{256, 4, {0xFFFFFFFF}}}, {}, kRioBadColumns},
        HeaderCase{"LzwPredictor2", {{259, 3, {5}}, {317, 3, {2}}}, {}, kRioNotImplemented},
        HeaderCase{"DeflatePredictor3", {{259, 3, {8}}, {317, 3, {3}}}, {}, kRioNotImplemented},
        HeaderCase{"PredictorIgnoredWithoutByteCoding", {{317, 3, {2}}}, {}, 0},
        HeaderCase{"UnknownCompression", {{259, 3, {9}}}, {}, kRioBadHeader},
        HeaderCase{"EightBitGrey", {{258, 3, {8}}}, {}, kRioBadHeader},
        HeaderCase{"ThreeSamples", {{277, 3, {3}}}, {}, kRioBadHeader},
        HeaderCase{"Rgb", {{262, 3, {2}}}, {}, kRioNotImplemented},
        HeaderCase{"ColourMap", {{320, 3, {0}}}, {}, 0},
        HeaderCase{"GreyResponseSkippedWhenBilevel", {{291, 3, {0}}}, {}, 0},
        HeaderCase{"CellSizeSkippedWhenBilevel", {{264, 3, {1}}, {265, 3, {1}}}, {}, 0},
        HeaderCase{"UnknownTagSkipped", {{40000, 3, {7}}}, {}, 0},
        HeaderCase{"NewSubfileTypeAsShort", {{254, 3, {0}}}, {}, 0},
        HeaderCase{"BitsPerSampleAsLong", {{258, 4, {1}}}, {}, 0},
        HeaderCase{"CompressionAsLongTooBig", {{259, 4, {65537}}}, {}, kRioBadHeader},
        HeaderCase{"PageNumberOneValue", {{297, 3, {4}}}, {}, 0},
        HeaderCase{"StripOffsetZero", {{273, 4, {0}}}, {}, kRioBadHeader},
        HeaderCase{"UncompressedByteCountFromRows", {{279, 4, {0}}}, {}, 0},
        HeaderCase{"Group3Uncompressed", {{259, 3, {3}}, {292, 4, {2}}}, {}, kRioNotImplemented},
        HeaderCase{"Group3OptionsOutOfRange", {{259, 3, {3}}, {292, 4, {8}}}, {}, kRioBadHeader},
        HeaderCase{"Group4OptionsOutOfRange", {{259, 3, {4}}, {293, 4, {4}}}, {}, kRioBadHeader},
        HeaderCase{"FillOrderBad", {{266, 3, {3}}}, {}, kRioBadHeader},
        HeaderCase{"PlanarTwo", {{284, 3, {2}}}, {}, kRioBadHeader},
        HeaderCase{"ResolutionUnitBad", {{296, 3, {4}}}, {}, kRioBadHeader},
        HeaderCase{"ResolutionZeroDenominator", {{282, 5, {300, 0}}}, {}, kRioBadHeader},
        HeaderCase{"PositionZeroDenominator", {{286, 5, {3, 0}}, {287, 5, {0, 0}}}, {}, 0},
        HeaderCase{"SubfileTypeBad", {{255, 3, {7}}}, {}, kRioBadHeader},
        HeaderCase{"StripOffsetBeyondTheFile", {{273, 4, {100000}}}, {}, kRioBadHeader},
        HeaderCase{"StripTableBeyondTheFile", {{273, 4, {kData}, 0x40000000}}, {}, kRioBadHeader},
        HeaderCase{"HugeStripCount", {{278, 4, {1}}, {257, 4, {0x7FFFFFFF}}, {273, 4, {kData}, 0x7FFFFFFF}},
                   {}, kRioBadHeader},
        HeaderCase{"TileWidthZero", {{322, 4, {0}}, {323, 4, {16}}, {324, 4, {kData}}, {325, 4, {8}}}, {},
                   kRioBadHeader},
        HeaderCase{"TileLengthZero", {{322, 4, {16}}, {323, 4, {0}}, {324, 4, {kData}}, {325, 4, {8}}}, {},
                   kRioBadHeader},
        HeaderCase{"TileCountAgainstTheGrid", {{322, 4, {8}}, {323, 4, {16}}, {324, 4, {kData}}, {325, 4, {8}}},
                   {}, kRioBadHeader},
        HeaderCase{"BitsPerSampleTwoValues", {{258, 3, {1, 1}}}, {}, kRioBadHeader}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TiffTest, ReducedResolutionImagesWarn) {
  const Bitmap page = makePage(16, 4, 18);
  const PageRecord r = readBytes(uncompressedTiff(page, 4, {{254, 4, {1}}}));
  ASSERT_EQ(r.open, 0);
  EXPECT_EQ(r.lineWarning, kRioReducedImage);
  EXPECT_EQ(difference(r.bitmap(), page), "equal");
}

TEST_F(TiffTest, DirectoryOffsets) {
  Bytes b = uncompressedTiff(makePage(16, 4, 19), 4);
  for (uint32_t offset : {0u, 4u, 7u, static_cast<uint32_t>(b.size()), static_cast<uint32_t>(b.size() - 1),
                          0xFFFFFFFFu}) {
    Bytes bad = b;
    putN(bad, 4, offset, 4, false);
    EXPECT_EQ(readBytes(bad).open, kRioBadHeader) << offset;
  }
  Bytes magic = b;
  magic[2] = 43;
  EXPECT_EQ(readBytes(magic).open, kRioBadHeader);
}

TEST_F(TiffTest, TruncatedFilesEndInAStatus) {
  settings_.tiffStrips = "9";
  for (RasterFormatId id : {kFormatTiff, kFormatTiffG3, kFormatTiffUncompressed, kFormatTiffTiled}) {
    const Bitmap page = makePage(600, 40, 20 + id);
    const Bytes b = write(id, page);
    for (size_t cut = 0; cut < b.size(); cut += std::max<size_t>(1, b.size() / 97)) {
      const PageRecord r = readBytes(Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(cut)));
      // A page that reads to its end lost nothing but padding or end codes.
      if (r.open == 0 && r.end == kRioEndOfPage) {
        EXPECT_EQ(difference(r.bitmap(), page), "equal") << "id " << id << " cut " << cut;
      } else if (r.open == 0) {
        EXPECT_LT(r.end, 0) << "id " << id << " cut " << cut;
      } else {
        EXPECT_TRUE(r.open == kRioBadHeader || r.open == kRioStreamIo) << "id " << id << " cut " << cut << ": " << r.open;
      }
    }
  }
}

// Truncated data with a directory that is still whole: the data run out inside a row.
TEST_F(TiffTest, StripDataBeyondTheFileIsAnEndOfInput) {
  const Bitmap page = makePage(64, 100, 21);
  std::vector<Field> f = stripFields(64, 100, 1, 100, {800});
  const PageRecord r = readBytes(buildTiff(f, {packedRows(page, 0, 50)}));
  ASSERT_EQ(r.open, 0);
  EXPECT_EQ(r.end, kRioUnexpectedEof);
}

// Random corruption of valid files: every run ends in a status, never a crash.
TEST_F(TiffTest, CorruptedFilesEndInAStatus) {
  uint64_t seed = 77;
  for (RasterFormatId id : {kFormatTiff, kFormatTiffUncompressed, kFormatTiffTiled}) {
    const Bytes b = write(id, makePage(530, 30, 30 + id));
    for (int i = 0; i < 60; ++i) {
      Bytes bad = b;
      for (int k = 0; k < 4; ++k) bad[splitmix(seed) % std::min<size_t>(bad.size(), 400)] = static_cast<uint8_t>(splitmix(seed));
      (void)readBytes(bad);
    }
  }
}

TEST_F(TiffTest, TiledInputWithTilesWiderThanThePage) {
  // Uncompressed tiles of 16 x 16 over a 20 x 20 page: the right column and the bottom row are cut.
  const Bitmap page = makePage(20, 20, 22);
  std::vector<Bytes> tiles;
  for (int ty = 0; ty < 2; ++ty)
    for (int tx = 0; tx < 2; ++tx) {
      Bytes t(2 * 16, 0xFF);  // padding black, so a missing cut shows
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
          const int px = tx * 16 + x, py = ty * 16 + y;
          if (px < 20 && py < 20 && !page.black(px, py)) t[y * 2 + x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
        }
      tiles.push_back(t);
    }
  const std::vector<Field> f = {{256, 4, {20}},  {257, 4, {20}}, {258, 3, {1}},  {259, 3, {1}},
                                {262, 3, {0}},   {277, 3, {1}},  {322, 4, {16}}, {323, 4, {16}},
                                {324, 4, {kData, kData + 1, kData + 2, kData + 3}}, {325, 4, {32, 32, 32, 32}}};
  const PageRecord r = readBytes(buildTiff(f, tiles));
  ASSERT_EQ(r.open, 0);
  EXPECT_EQ(difference(r.bitmap(), page), "equal");
}

}  // namespace
}  // namespace vantrel
