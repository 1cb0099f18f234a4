// CALS Type 1 Group 4: golden header records, clamped values, the carried identification records, hostile
// headers (missing colons, absurd pel counts, truncation) and the end of the image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "formats/registry.h"
#include "formats/open.h"
#include "rio/rcb.h"
#include "tests/support/file_fixture.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

constexpr size_t kHeader = 2048;

using testfiles::Bytes;
using testfiles::Runs;

std::string pad128(const std::string& s) { return s + std::string(128 - s.size(), ' '); }

// A header built record by record, independent of the writer.
std::vector<std::string> plainRecords(const std::string& pelcnt = "001728,000003", const std::string& density = "0300") {
  std::vector<std::string> r = {"srcdocid: DOC-1", "dstdocid: NONE",    "txtfilid: T7",        "figid: 12",
                                "srcgph: SCAN",    "doccls: B",         "rtype: 1",            "rorient: 000,270",
                                "rpelcnt: " + pelcnt, "rdensty: " + density, "notes: first sheet"};
  r.resize(16);
  return r;
}
Bytes headerBytes(const std::vector<std::string>& records) {
  Bytes b;
  for (const std::string& r : records) {
    const std::string p = pad128(r.substr(0, 128));
    b.insert(b.end(), p.begin(), p.end());
  }
  return b;
}

std::vector<Runs> randomPage(uint32_t seed, int32_t width, int32_t height) {
  std::mt19937 rng(seed);
  std::vector<Runs> page(static_cast<size_t>(height));
  for (Runs& line : page) {
    int32_t x = static_cast<int32_t>(rng() % 16);
    while (x < width) {
      const int32_t len = 1 + static_cast<int32_t>(rng() % 90);
      line.emplace_back(x, std::min(x + len, width));
      x += len + 1 + static_cast<int32_t>(rng() % 120);
    }
  }
  return page;
}

using ReadResult = testread::PageRecord;

struct WriteResult : testfiles::DriverWrite {
  std::string header() const { return std::string(bytes.begin(), bytes.begin() + std::min(bytes.size(), kHeader)); }
  std::string record(int n) const { return header().substr(static_cast<size_t>(n - 1) * 128, 128); }
};

class CalsTest : public testfiles::FileTest {
 protected:
  // Written at 300 dpi unless `setup` says otherwise; opening and every line must succeed.
  WriteResult write(int32_t width, int32_t height, const std::vector<Runs>& lines,
                    const std::function<void(RCB*)>& setup = {}) {
    WriteResult w{testfiles::writeWithDriver(fresh(), kFormatCals, width, height, lines, [&](RCB* rcb) {
      rcb->xDpi = rcb->yDpi = 300;
      if (setup) setup(rcb);
    })};
    EXPECT_EQ(w.open, 0);
    for (const RioStatus r : w.lineResults) EXPECT_EQ(r, 0);
    return w;
  }

  static ReadResult read(const fs::path& p, RasterFormatId format = 0) {
    return testread::readBack(p, format);
  }

  // A file of the given header records followed by the image data of a page this writer made.
  fs::path withRecords(const std::vector<std::string>& records, const Bytes& image = {}) {
    Bytes b = headerBytes(records);
    b.insert(b.end(), image.begin(), image.end());
    return save(b);
  }
};

// --- Writing ---------------------------------------------------------------------------------------------

TEST_F(CalsTest, HeaderRecordsOfANonCalsInput) {
  const WriteResult w = write(1728, 2, {{{0, 8}}, {}}, [](RCB* rcb) { rcb->xDpi = rcb->yDpi = 0; });
  ASSERT_GT(w.bytes.size(), kHeader);
  std::string expected;
  for (const char* r : {"srcdocid: NONE", "dstdocid: NONE", "txtfilid: NONE", "figid: NONE", "srcgph: NONE",
                        "doccls: NONE", "rtype: 1", "rorient: 000,270", "rpelcnt: 001728,000002",
                        "rdensty: 0400", "notes: NONE", "", "", "", "", ""})
    expected += pad128(r);
  EXPECT_EQ(w.header(), expected);
  EXPECT_EQ(w.warning, kRioBadHeader) << "defaulted line direction and density";
  EXPECT_EQ((w.bytes.size() - kHeader) % 4, 0u);
}

struct ClampCase {
  int32_t rotation;
  int32_t direction;
  double dpi;
  int32_t width;
  int32_t height;
  const char* orient;
  const char* pelcnt;
  const char* density;
  RioStatus warning;
};

class CalsClamp : public CalsTest, public ::testing::WithParamInterface<ClampCase> {};

TEST_P(CalsClamp, RecordsStayExactly128Bytes) {
  const ClampCase c = GetParam();
  const WriteResult w = write(c.width, c.height, {}, [&](RCB* rcb) {
    rcb->rorient[0] = c.rotation;
    rcb->rorient[1] = c.direction;
    rcb->xDpi = c.dpi;
  });
  ASSERT_GE(w.bytes.size(), kHeader + 4);
  EXPECT_EQ(w.record(8), pad128(std::string("rorient: ") + c.orient));
  EXPECT_EQ(w.record(9), pad128(std::string("rpelcnt: ") + c.pelcnt));
  EXPECT_EQ(w.record(10), pad128(std::string("rdensty: ") + c.density));
  EXPECT_EQ(w.record(16), std::string(128, ' '));
  EXPECT_EQ(w.warning, c.warning);
}

INSTANTIATE_TEST_SUITE_P(
    Values, CalsClamp,
    ::testing::Values(ClampCase{90, 90, 200, 1728, 0, "090,090", "001728,000000", "0200", 0},
                      ClampCase{1000, 270, 200, 8, 0, "999,270", "000008,000000", "0200", kRioBadHeader},
                      ClampCase{-90, 270, 200, 8, 0, "000,270", "000008,000000", "0200", kRioBadHeader},
                      ClampCase{0, 5000, 200, 8, 0, "000,999", "000008,000000", "0200", kRioBadHeader},
                      ClampCase{0, 270, 12000, 8, 0, "000,270", "000008,000000", "9999", kRioBadHeader},
                      ClampCase{0, 270, 299.9, 8, 0, "000,270", "000008,000000", "0299", 0},
                      ClampCase{0, 270, 200, 999999, 8000, "000,270", "999999,008000", "0200", kRioBadRows}));

// Six digits a side: a page the pel count record cannot state is refused before anything is written.
struct RefusedSize {
  int32_t width;
  int32_t height;
  RioStatus open;
};

class CalsRefusedSize : public CalsTest, public ::testing::WithParamInterface<RefusedSize> {};

TEST_P(CalsRefusedSize, OpenFailsAndNothingIsWritten) {
  const RefusedSize c = GetParam();
  const testfiles::DriverWrite w = testfiles::writeWithDriver(fresh(), kFormatCals, c.width, c.height, {{{0, 8}}});
  EXPECT_EQ(w.open, c.open);
  EXPECT_TRUE(w.bytes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Values, CalsRefusedSize,
    ::testing::Values(RefusedSize{1000000, 10, kRioBadColumns}, RefusedSize{8, 1000000, kRioBadRows},
                      RefusedSize{1000000, 1000000, kRioBadRows}));  // the page budget first

TEST_F(CalsTest, ExtraHeaderStringsAreReadWithinTheirLength) {
  // Unterminated and short of strings: the second string ends at the stored length, the rest are empty.
  const char block[] = {'C', 'a', 'l', 's', '\0', 'a', 'b', 'c', 'X', 'X'};
  const WriteResult w = write(8, 0, {}, [&](RCB* rcb) {
    ASSERT_EQ(rioSetExtraHeader(rcb, reinterpret_cast<const uint8_t*>(block), 8), 0);
  });
  EXPECT_EQ(w.record(1), pad128("abc"));
  for (int n : {2, 3, 4, 5, 6, 11}) EXPECT_EQ(w.record(n), std::string(128, ' ')) << n;
  // Not "Cals": the records come from the identification texts.
  const WriteResult other = write(8, 0, {}, [&](RCB* rcb) {
    ASSERT_EQ(rioSetExtraHeader(rcb, reinterpret_cast<const uint8_t*>("CALS\0x"), 6), 0);
    ASSERT_EQ(rioSetCalsText(rcb, CalsText::kFigid, "F-9"), 0);
  });
  EXPECT_EQ(other.record(1), pad128("srcdocid: NONE"));
  EXPECT_EQ(other.record(4), pad128("figid: F-9"));
}

TEST_F(CalsTest, CalsInCalsOutKeepsTheHeader) {
  const std::vector<Runs> page = randomPage(21, 1728, 3);
  const WriteResult image = write(1728, 3, page);
  const Bytes data(image.bytes.begin() + kHeader, image.bytes.end());
  const fs::path in = withRecords(plainRecords(), data);

  const fs::path outPath = dir_ / "copy.cg4";
  std::FILE* fi = std::fopen(in.c_str(), "rb");
  std::FILE* fo = std::fopen(outPath.c_str(), "wb");
  RasterStream* is = streamOpen(fi, "r");
  RasterStream* os = streamOpen(fo, "w");
  RioStatus st = 0;
  RCB* rcb = rioOpenRasterReadWrite(is, 0, os, kFormatCals, &st);
  ASSERT_NE(rcb, nullptr) << st;
  int lines = 0;
  while (rioReadRasterSline(rcb)) {
    EXPECT_EQ(rioWriteRasterSline(rcb), 0);
    rioSwapSlines(rcb);
    ++lines;
  }
  EXPECT_EQ(lines, 3);
  EXPECT_EQ(rcb->status, kRioEndOfPage);
  (void)rioCloseRaster(rcb);
  EXPECT_EQ(streamClose(os), 1);
  (void)streamClose(is);
  std::fclose(fo);
  std::fclose(fi);
  EXPECT_EQ(load(outPath), load(in)) << "header and image come out unchanged";
}

// --- Reading ---------------------------------------------------------------------------------------------

TEST_F(CalsTest, PagesReadBackAsWritten) {
  struct Case {
    int32_t width;
    int32_t height;
    uint32_t seed;
  };
  for (auto [width, height, seed] : {Case{1, 4, 1}, Case{1728, 50, 2}, Case{2593, 30, 3}, Case{9, 120, 4}}) {
    const std::vector<Runs> page = randomPage(seed, width, height);
    const WriteResult w = write(width, height, page);
    const ReadResult r = read(save(w.bytes));
    ASSERT_EQ(r.open, 0);
    EXPECT_EQ(r.width, width);
    EXPECT_EQ(r.height, height);
    EXPECT_EQ(r.xDpi, 300);
    EXPECT_EQ(r.end, kRioEndOfPage);
    EXPECT_EQ(r.lines, page) << width;
  }
}

TEST_F(CalsTest, ReaderFillsTextsAndExtraHeader) {
  const ReadResult r = read(withRecords(plainRecords("001728,000001")));
  ASSERT_EQ(r.open, 0);
  EXPECT_EQ(r.srcdocid, "DOC-1");
  EXPECT_EQ(r.notes, "first sheet");
  EXPECT_EQ(r.rorient[0], 0);
  EXPECT_EQ(r.rorient[1], 270);
  const std::string strings[] = {"Cals", "srcdocid: DOC-1", "dstdocid: NONE", "txtfilid: T7", "figid: 12",
                                 "srcgph: SCAN", "doccls: B", "notes: first sheet"};
  std::string expected;
  for (const std::string& s : strings) expected += s + '\0';
  EXPECT_EQ(std::string(r.extra.begin(), r.extra.end()), expected);
}

const std::string kColonAtTheEnd = std::string(127, 'x') + ":";

struct HostileCase {
  const char* name;
  int record;  // 1-based
  const char* text;
  RioStatus open;
  RioStatus warning;
};

class CalsHostile : public CalsTest, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(CalsHostile, HeaderFaultsGiveTheirStatus) {
  const HostileCase c = GetParam();
  std::vector<std::string> records = plainRecords("001728,000001");
  records[static_cast<size_t>(c.record - 1)] = c.text;
  const WriteResult row = write(1728, 1, {{}});  // the one row's data, so that reading it warns of nothing
  const ReadResult r = read(withRecords(records, Bytes(row.bytes.begin() + kHeader, row.bytes.end())));
  EXPECT_EQ(r.open, c.open);
  if (c.open == 0) {
    EXPECT_EQ(r.warning, c.warning);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Records, CalsHostile,
    ::testing::Values(HostileCase{"IdWithoutColon", 1, "srcdocid DOC", 0, 0},
                      HostileCase{"NotesWithoutColon", 11, "notes", 0, 0},
                      HostileCase{"TypeWithoutColon", 7, "rtype 1", kRioBadHeader, 0},
                      HostileCase{"OrientWithoutColon", 8, "rorient 000,270", kRioBadHeader, 0},
                      HostileCase{"PelcntWithoutColon", 9, "rpelcnt 001728,000000", kRioBadHeader, 0},
                      HostileCase{"DensityWithoutColon", 10, "rdensty 0300", kRioBadHeader, 0},
                      HostileCase{"ColonAtTheEnd", 10, kColonAtTheEnd.c_str(), kRioBadHeader, 0},
                      HostileCase{"TypeTwo", 7, "rtype: 2", kRioUnknownFormat, 0},
                      HostileCase{"OrientUnreadable", 8, "rorient: abc", kRioBadHeader, 0},
                      HostileCase{"OddRotation", 8, "rorient: 045,270", 0, kRioBadHeader},
                      HostileCase{"OddDirection", 8, "rorient: 000,180", 0, kRioBadHeader},
                      HostileCase{"PelcntUnreadable", 9, "rpelcnt: ,", kRioBadHeader, 0},
                      HostileCase{"ZeroWidth", 9, "rpelcnt: 000000,000010", kRioBadColumns, 0},
                      HostileCase{"NegativeWidth", 9, "rpelcnt: -00001,000010", kRioBadColumns, 0},
                      HostileCase{"NegativeHeight", 9, "rpelcnt: 000008,-00001", kRioBadRows, 0},
                      HostileCase{"WidthNotByteMultiple", 9, "rpelcnt: 001700,000001", 0, kRioBadColumns},
                      HostileCase{"DensityUnreadable", 10, "rdensty: none", kRioBadHeader, 0},
                      HostileCase{"DensityHuge", 10, "rdensty: 99999999999999999999999", 0, kRioBadHeader},
                      HostileCase{"DensityNegative", 10, "rdensty: -300", 0, kRioBadHeader}),
    [](const ::testing::TestParamInfo<HostileCase>& i) { return std::string(i.param.name); });

TEST_F(CalsTest, UnusualDensityIsKeptWithAWarning) {
  const ReadResult r = read(withRecords(plainRecords("001728,000001", "250")));
  ASSERT_EQ(r.open, 0);
  EXPECT_EQ(r.xDpi, 250);
  EXPECT_EQ(r.yDpi, 250);
  EXPECT_EQ(r.warning, kRioBadHeader);
}

TEST_F(CalsTest, TruncatedHeaderIsAStreamError) {
  const Bytes whole = headerBytes(plainRecords("001728,000001"));
  for (size_t keep : {size_t{5}, size_t{127}, size_t{128}, size_t{1000}, size_t{1280}, size_t{2047}}) {
    const fs::path p = save(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(keep)));
    EXPECT_EQ(read(p).open, kRioStreamIo) << keep;
    EXPECT_EQ(read(p, kFormatCals).open, kRioStreamIo) << keep;
  }
  EXPECT_EQ(read(save(whole)).open, 0);
}

TEST_F(CalsTest, ImageWithoutEndCodeOrWithTrailingBytesReadsWhole) {
  const std::vector<Runs> page = randomPage(22, 640, 12);
  const WriteResult w = write(640, 12, page);
  // Find the end-of-block code: the last 24 bits up to the last 1 bit.
  std::string bits;
  for (size_t i = kHeader; i < w.bytes.size(); ++i)
    for (int k = 7; k >= 0; --k) bits.push_back((w.bytes[i] >> k) & 1 ? '1' : '0');
  const size_t eofb = bits.find_last_of('1') + 1 - 24;
  ASSERT_EQ(bits.substr(eofb, 24), "000000000001000000000001");
  Bytes cut(w.bytes.begin(), w.bytes.begin() + static_cast<std::ptrdiff_t>(kHeader + (eofb + 7) / 8));
  if (eofb % 8) cut.back() &= static_cast<uint8_t>(0xFF << (8 - eofb % 8));
  Bytes trailing = w.bytes;
  trailing.insert(trailing.end(), 64, 0xFF);
  for (const Bytes& file : {cut, trailing}) {
    const ReadResult r = read(save(file));
    EXPECT_EQ(r.end, kRioEndOfPage);
    EXPECT_EQ(r.warning, 0);
    EXPECT_EQ(r.lines, page);
  }
  // Cut inside the image: the page is short, never read past the data.
  Bytes half(w.bytes.begin(), w.bytes.begin() + static_cast<std::ptrdiff_t>(kHeader + eofb / 16));
  const ReadResult r = read(save(half));
  EXPECT_LT(r.lines.size(), 12u);
  EXPECT_NE(r.end, kRioEndOfPage);
}

TEST_F(CalsTest, AbsurdHeightWithNoDataEndsAtTheData) {
  const ReadResult r = read(withRecords(plainRecords("000064,999999")));
  ASSERT_EQ(r.open, 0);
  EXPECT_EQ(r.height, 999999);
  EXPECT_TRUE(r.lines.empty());
  EXPECT_NE(r.end, 0);
  EXPECT_NE(r.end, kRioEndOfPage);
}

TEST_F(CalsTest, WriterWithoutLinesWritesAWellFormedFile) {
  const WriteResult w = write(320, 0, {});
  ASSERT_EQ(w.bytes.size(), kHeader + 4);
  EXPECT_EQ(w.record(9), pad128("rpelcnt: 000320,000000"));
  EXPECT_EQ(read(save(w.bytes)).open, kRioBadRows) << "a page of no rows is refused on reading";
}

}  // namespace
}  // namespace vantrel
