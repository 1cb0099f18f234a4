// Intergraph CIT, the fixed-frame raw scan and the "DI" Group 4 format. Our files are taken apart by the
// test from their layouts and their Group 4 data decoded by libtiff (tiffcp, tifftopnm) through a TIFF the
// test wraps around them; the inputs our readers must read are built here, their Group 4 data made by
// netpbm and libtiff. Hostile files end in the status they call for, and refused writers write nothing.
// The tools must be installed (netpbm, libtiff-tools): a missing one fails the test.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "formats/registry.h"
#include "rio/alloc.h"
#include "tests/support/device_page.h"
#include "tests/support/group4_tiff.h"
#include "tests/support/pbm.h"
#include "tests/support/read_back.h"

namespace vantrel {
namespace {

using namespace testpbm;
using Bytes = std::vector<uint8_t>;

void put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(Bytes& b, size_t at, uint32_t v) {
  put16(b, at, v);
  put16(b, at + 2, v >> 16);
}
Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// ---- headers built from the layouts

// A CIT header of 2 N + 4 bytes (N = words to follow).
Bytes citHeader(uint32_t wordsToFollow, uint8_t dataType, uint32_t width, uint32_t height, uint32_t resolution) {
  Bytes h(2 * wordsToFollow + 4, 0);
  h[0] = 0x08;
  h[1] = 0x09;
  put16(h, 2, wordsToFollow);
  h[4] = dataType;
  put16(h, 184, width);
  put16(h, 188, height);
  put16(h, 192, resolution);
  return h;
}

// A dsig4 header followed by S filler bytes, S the sum of the five skip words.
Bytes dsig4Header(uint32_t width, uint32_t height, uint32_t dpi, const std::vector<uint32_t>& skip = {0, 0, 0, 0, 0},
                  uint32_t coding = 4) {
  Bytes h(164, 0);
  h[0] = 'D';
  h[1] = 'I';
  put16(h, 40, dpi);
  uint64_t s = 0;
  for (size_t k = 0; k < skip.size(); ++k) put32(h, 48 + 16 * k, skip[k]), s += skip[k];
  put16(h, 132, coding);
  put32(h, 134, width);
  put32(h, 138, height);
  if (s < 4096) h.resize(164 + s, 0x5A);
  return h;
}

// CIT type 9 from the layout: every data byte complemented; equal bytes in repeats of up to 63, a lone
// byte literal unless its stored value would read as a repeat code. With `acrossRows` the whole page is
// one byte sequence, so repeats run over row ends.
Bytes byteRunCode(const Bitmap& page, bool acrossRows) {
  Bytes out;
  auto code = [&](const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n;) {
      size_t run = 1;
      while (run < 63 && i + run < n && p[i + run] == p[i]) ++run;
      const uint8_t stored = static_cast<uint8_t>(~p[i]);
      if (run == 1 && stored < 0xC0) {
        out.push_back(stored);
      } else {
        out.push_back(static_cast<uint8_t>(0xC0 | run));
        out.push_back(stored);
      }
      i += run;
    }
  };
  if (acrossRows) {
    code(page.bits.data(), page.bits.size());
  } else {
    for (int32_t y = 0; y < page.height; ++y) code(page.row(y), static_cast<size_t>(page.rowBytes()));
  }
  return out;
}

class Group4Files : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"pnmtotiff", "tiffcp", "tifftopnm"})
      ASSERT_TRUE(toolExists(tool)) << tool << " is missing: install netpbm and libtiff-tools";
    ASSERT_TRUE(dir_.ok());
    baseline_ = rioBytesInUse();
  }
  void TearDown() override { EXPECT_EQ(rioBytesInUse(), baseline_) << "accounted memory leaked"; }

  // libtiff's pixels of bare Group 4 data.
  Bitmap libtiffPixels(uint32_t width, uint32_t height, const Bytes& data, bool lsbFirst) {
    EXPECT_TRUE(writeBytes(dir_ / "g4.tif", testg4::group4Tiff(width, height, data, lsbFirst ? 2 : 1)));
    std::string errors = capture("tiffcp -c none " + quoted(dir_ / "g4.tif") + " " + quoted(dir_ / "plain.tif") + " 2>&1");
    errors += capture("tifftopnm -quiet " + quoted(dir_ / "plain.tif") + " 2>&1 > " + quoted(dir_ / "back.pbm"));
    EXPECT_EQ(errors, "");
    Bitmap back;
    EXPECT_TRUE(readPnm(dir_ / "back.pbm", &back));
    return back;
  }

  // netpbm's and libtiff's Group 4 coding of a page, one strip.
  Bytes independentGroup4(const Bitmap& page, bool lsbFirst) {
    EXPECT_TRUE(writePbm(dir_ / "in.pbm", page));
    const std::string rows = std::to_string(page.height);
    EXPECT_EQ(runShell("pnmtotiff -g4 -rowsperstrip " + rows + " " + quoted(dir_ / "in.pbm") + " > " +
                       quoted(dir_ / "msb.tif") + " 2>/dev/null"),
              0);
    EXPECT_EQ(runShell("tiffcp -f " + std::string(lsbFirst ? "lsb2msb" : "msb2lsb") + " -r " + rows + " " +
                       quoted(dir_ / "msb.tif") + " " + quoted(dir_ / "g4.tif")),
              0);
    testg4::TiffStrip strip;
    EXPECT_TRUE(testg4::parseTiff(readBytes(dir_ / "g4.tif"), &strip));
    EXPECT_EQ(strip.fillOrder, lsbFirst ? 2u : 1u);
    EXPECT_EQ(strip.photometric, 0u);
    return strip.data;
  }

  fs::path save(const Bytes& bytes) {
    const fs::path p = dir_ / ("in" + std::to_string(files_++));
    EXPECT_TRUE(writeBytes(p, bytes));
    return p;
  }

  ScratchDir dir_{"vantrel-cit-dsig4"};
  int64_t baseline_ = 0;
  int files_ = 0;
};

// ---- our files, taken apart from their layouts

struct WrittenCase {
  const char* name;
  RasterFormatId id;
  int32_t width;
  int32_t height;
};

class OurGroup4File : public Group4Files, public ::testing::WithParamInterface<WrittenCase> {};

TEST_P(OurGroup4File, HeaderAsLaidOutAndLibtiffDecodesTheData) {
  const WrittenCase& c = GetParam();
  const Bitmap page = makePage(c.width, c.height, 0xC17 + c.width);
  const fs::path file = dir_ / "ours";
  ASSERT_EQ(writeThroughLibrary(file, c.id, page, 300), 0);
  const Bytes b = readBytes(file);
  Bytes header, data;
  bool lsbFirst = false;
  if (c.id == kFormatCit) {
    ASSERT_GT(b.size(), 1024u);
    header = citHeader(0x01FE, 24, c.width, c.height, 0x10000 - 300);
    header[6] = 3;
    header[511] = 3;
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 1024), header) << "CIT header bytes";
    data.assign(b.begin() + 1024, b.end());
    lsbFirst = true;
  } else {
    ASSERT_GT(b.size(), 164u);
    Bytes want = dsig4Header(c.width, c.height, 300);
    const uint8_t stamp[6] = {0xC8, 0x07, 1, 1, 1, 1};  // 1992, then four 0x01; twice
    for (int k = 0; k < 12; ++k) want[2 + k] = stamp[k % 6];
    put32(want, 128, static_cast<uint32_t>(b.size() - 164));
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 164), want) << "dsig4 header bytes";
    data.assign(b.begin() + 164, b.end());
  }
  EXPECT_EQ(data.size() % 4, 0u) << "whole 32-bit words";
  EXPECT_EQ(difference(libtiffPixels(c.width, c.height, data, lsbFirst), page), "equal");
  const testread::PageRecord back = testread::readBack(file);
  EXPECT_EQ(back.format, c.id);
  EXPECT_EQ(back.end, kRioEndOfPage);
  EXPECT_EQ(back.xDpi, 300);
  EXPECT_EQ(back.yDpi, 300);
  EXPECT_EQ(difference(back.bitmap(), page), "equal");
}

INSTANTIATE_TEST_SUITE_P(Files, OurGroup4File,
                         ::testing::Values(WrittenCase{"Cit", kFormatCit, 1733, 120},
                                           WrittenCase{"CitOnePixel", kFormatCit, 1, 9},
                                           WrittenCase{"CitWidest", kFormatCit, 65535, 4},
                                           WrittenCase{"Dsig4", kFormatDsig4, 1728, 150},
                                           WrittenCase{"Dsig4Odd", kFormatDsig4, 2551, 33}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- independent files through our readers

struct ReadCase {
  const char* name;
  RasterFormatId id;
  uint32_t wordsToFollow;          // CIT: the data start at 2 N + 4
  uint32_t resolutionWord;         // CIT: stored negated; dsig4: as it is
  std::vector<uint32_t> skip;      // dsig4: the five skip words
  double dpi;                      // what the reader must report
};

class IndependentGroup4 : public Group4Files, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(IndependentGroup4, ReadsToTheSourcePixels) {
  const ReadCase& c = GetParam();
  const Bitmap page = makePage(1733, 90, 0xD1 + c.wordsToFollow);
  const bool cit = c.id == kFormatCit;
  const Bytes data = independentGroup4(page, cit);
  const Bytes header = cit ? citHeader(c.wordsToFollow, 24, 1733, 90, c.resolutionWord)
                           : dsig4Header(1733, 90, c.resolutionWord, c.skip);
  const fs::path file = save(concat(header, data));
  for (const RasterFormatId asked : {RasterFormatId{0}, c.id}) {
    const testread::PageRecord r = testread::readBack(file, asked);
    ASSERT_EQ(r.open, kRioOk);
    EXPECT_EQ(r.format, c.id);
    EXPECT_EQ(r.end, kRioEndOfPage);
    EXPECT_EQ(r.xDpi, c.dpi);
    EXPECT_EQ(r.yDpi, c.dpi);
    EXPECT_EQ(difference(r.bitmap(), page), "equal");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, IndependentGroup4,
    ::testing::Values(ReadCase{"Cit1024", kFormatCit, 0x01FE, 0xFED4, {}, 300},  // -300
                      ReadCase{"Cit512", kFormatCit, 0x00FE, 0xFE70, {}, 400},
                      ReadCase{"CitPositiveResolution", kFormatCit, 0x01FE, 300, {}, 0},
                      ReadCase{"Dsig4", kFormatDsig4, 0, 200, {0, 0, 0, 0, 0}, 200},
                      ReadCase{"Dsig4Skipped", kFormatDsig4, 0, 400, {3, 0, 100, 1, 29}, 400}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Group4Files, CitByteRunRowsEvenWhenRepeatsCrossTheRowEnd) {
  for (const int32_t width : {24, 1733}) {
    const Bitmap page = makePage(width, 60, 0x99 + width);
    for (const bool acrossRows : {false, true}) {
      SCOPED_TRACE(std::to_string(width) + (acrossRows ? " across rows" : " row by row"));
      const fs::path file = save(concat(citHeader(0x01FE, 9, width, 60, 0), byteRunCode(page, acrossRows)));
      const testread::PageRecord r = testread::readBack(file);
      ASSERT_EQ(r.open, kRioOk);
      EXPECT_EQ(r.end, kRioEndOfPage);
      EXPECT_EQ(r.xDpi, 0);
      EXPECT_EQ(difference(r.bitmap(), page), "equal");
    }
  }
  // 0xC3 0xFF: three stored 0xFF bytes, white; 0xC3 0x00 makes them black.
  Bitmap black(24, 2);
  black.fill(0, 24, 1);
  const testread::PageRecord r = testread::readBack(save(concat(citHeader(0x01FE, 9, 24, 2, 0), {0xC3, 0xFF, 0xC3, 0x00})));
  EXPECT_EQ(r.end, kRioEndOfPage);
  EXPECT_EQ(difference(r.bitmap(), black), "equal");
}

// Both frames, told apart by 0xFF at 839 and 840 alone: a smaller frame whose data start 0xFF 0xFE stays
// the smaller frame.
TEST_F(Group4Files, FixedFrameScansInBothFrames) {
  struct Frame {
    int32_t width, height, dataAt;
    bool large;
  };
  for (const Frame f : {Frame{6736, 4500, 839, false}, Frame{6976, 4524, 869, true}}) {
    SCOPED_TRACE(f.width);
    Bitmap page = makePage(f.width, f.height, 0xF0 + f.width);
    page.row(0)[0] = 0xFF;
    page.row(0)[1] = 0xFE;
    Bytes file(static_cast<size_t>(f.dataAt), 0x33);
    file[0] = 0x12;
    if (f.large) file[839] = file[840] = 0xFF;
    file = concat(file, page.bits);
    const fs::path p = save(file);
    const testread::PageRecord r = testread::readBack(p);
    ASSERT_EQ(r.open, kRioOk);
    EXPECT_EQ(r.format, kFormatFixedFrame);
    EXPECT_EQ(r.end, kRioEndOfPage);
    EXPECT_EQ(r.xDpi, 0);
    EXPECT_EQ(difference(r.bitmap(), page), "equal");
    // One byte short of the frame: refused, not padded with white.
    file.pop_back();
    EXPECT_EQ(testread::readBack(save(file)).open, kRioUnexpectedEof);
  }
}

// ---- hostile files

struct HostileCase {
  const char* name;
  Bytes (*make)(const Bytes& cit, const Bytes& dsig4);  // from good small files of both formats
  RioStatus open;                                      // status of the open
  RioStatus end;                                       // the reader's status after the last line (open 0)
};

Bytes cut(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + static_cast<long>(std::min(n, b.size()))); }
Bytes with16(Bytes b, size_t at, uint32_t v) { return put16(b, at, v), b; }
Bytes with32(Bytes b, size_t at, uint32_t v) { return put32(b, at, v), b; }

const HostileCase kHostile[] = {
    {"CitHeaderCut", [](const Bytes& c, const Bytes&) { return cut(c, 200); }, kRioUnexpectedEof, 0},
    {"CitType65", [](const Bytes& c, const Bytes&) { auto b = c; b[4] = 65; return b; }, kRioNotImplemented, 0},
    {"CitType7", [](const Bytes& c, const Bytes&) { auto b = c; b[4] = 7; return b; }, kRioNotImplemented, 0},
    {"CitWidthZero", [](const Bytes& c, const Bytes&) { return with16(c, 184, 0); }, kRioBadColumns, 0},
    {"CitDataInsideFirstBlock", [](const Bytes& c, const Bytes&) { return with16(c, 2, 16); }, kRioBadHeader, 0},
    {"CitDataBeyondEnd", [](const Bytes& c, const Bytes&) { return with16(c, 2, 0xFFFF); }, kRioBadHeader, 0},
    {"CitGroup4Cut", [](const Bytes& c, const Bytes&) { return cut(c, 1024 + 40); }, kRioOk, kRioUnexpectedEof},
    {"CitByteRunsCut",
     [](const Bytes& c, const Bytes&) {
       auto b = cut(c, 1024);
       b[4] = 9;
       return concat(b, {0x00, 0xC5, 0xFF});
     },
     kRioOk, kRioUnexpectedEof},
    {"FixedFrameHeaderCut", [](const Bytes&, const Bytes&) { Bytes b(840, 0); b[0] = 0x12; return b; },
     kRioUnexpectedEof, 0},
    {"FixedFrameNoRows", [](const Bytes&, const Bytes&) { Bytes b(900, 0); b[0] = 0x12; return b; },
     kRioUnexpectedEof, 0},
    {"Dsig4HeaderCut", [](const Bytes&, const Bytes& d) { return cut(d, 150); }, kRioUnexpectedEof, 0},
    {"Dsig4CodingNot4", [](const Bytes&, const Bytes& d) { return with16(d, 132, 3); }, kRioNotImplemented, 0},
    {"Dsig4WidthZero", [](const Bytes&, const Bytes& d) { return with32(d, 134, 0); }, kRioBadColumns, 0},
    {"Dsig4WidthAbsurd", [](const Bytes&, const Bytes& d) { return with32(d, 134, 0x7FFFFFFF); }, kRioBadColumns, 0},
    {"Dsig4HeightNegative", [](const Bytes&, const Bytes& d) { return with32(d, 138, 0x80000000); }, kRioBadRows, 0},
    {"Dsig4HeightBeyondData", [](const Bytes&, const Bytes& d) { return with32(d, 138, 100000); }, kRioBadRows, 0},
    {"Dsig4OffsetBeyondEnd", [](const Bytes&, const Bytes& d) { return with32(d, 96, 1 << 20); }, kRioBadHeader, 0},
    // 2^32 + 0: a 32-bit sum would wrap to 0 and read the data at 164.
    {"Dsig4OffsetWraps32Bits",
     [](const Bytes&, const Bytes& d) { return with32(with32(d, 48, 0xFFFFFFFF), 64, 1); }, kRioBadHeader, 0},
    {"Dsig4DataCut", [](const Bytes&, const Bytes& d) { return cut(d, 164 + 40); }, kRioOk, kRioUnexpectedEof},
};

class HostileInput : public Group4Files, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(HostileInput, EndsInItsStatus) {
  const Bitmap page = makePage(800, 100, 7);
  ASSERT_EQ(writeThroughLibrary(dir_ / "good.cit", kFormatCit, page, 200), 0);
  ASSERT_EQ(writeThroughLibrary(dir_ / "good.dsig4", kFormatDsig4, page, 200), 0);
  const Bytes bad = GetParam().make(readBytes(dir_ / "good.cit"), readBytes(dir_ / "good.dsig4"));
  const testread::PageRecord r = testread::readBack(save(bad));
  EXPECT_EQ(r.open, GetParam().open);
  if (r.open == kRioOk) {
    EXPECT_EQ(r.end, GetParam().end);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, HostileInput, ::testing::ValuesIn(kHostile),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- writers: sizes the header cannot hold are refused at the open, before a byte is written

struct RefusalCase {
  RasterFormatId id;
  int32_t width;
  int32_t height;
  RioStatus status;
};

class RefusedPage : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusedPage, NothingIsWritten) {
  const RefusalCase& c = GetParam();
  const devicetest::Written w =
      devicetest::writePage(c.id, c.width, {}, {.height = c.height});
  EXPECT_EQ(w.open, c.status);
  EXPECT_TRUE(w.bytes.empty());
}

INSTANTIATE_TEST_SUITE_P(Sizes, RefusedPage,
                         ::testing::Values(RefusalCase{kFormatCit, 65536, 1, kRioBadColumns},
                                           RefusalCase{kFormatCit, 0, 1, kRioBadColumns},
                                           RefusalCase{kFormatCit, 100, 65536, kRioBadRows},
                                           RefusalCase{kFormatDsig4, 0, 1, kRioBadColumns},
                                           RefusalCase{kFormatJdl, 524281, 1, kRioBadColumns},
                                           RefusalCase{kFormatJdl4000, 524281, 1, kRioBadColumns},
                                           RefusalCase{kFormatJdl4000, 100, 65536, kRioBadRows}));

TEST(NewWriters, FailedAllocationsInTheOpenLeaveNothing) {
  for (const RasterFormatId id : {kFormatCit, kFormatDsig4, kFormatJdl, kFormatJdl4000, kFormatNkk}) {
    SCOPED_TRACE(id);
    EXPECT_GT(devicetest::checkFailedOpenAllocations(id, 1000, 10, 10), 0);
  }
}

// The console reaches the CIT writer by both its names and writes what the reader reads back.
TEST_F(Group4Files, ConsoleWritesCitByItsNames) {
  const Bitmap page = makePage(640, 50, 3);
  ASSERT_EQ(writeThroughLibrary(dir_ / "in.rnl", kFormatRunLength, page, 300), 0);
  for (const char* name : {"out.cit", "out.tg4"}) {
    ASSERT_EQ(runShell(std::string(VANTREL_EXE) + " " + quoted(dir_ / "in.rnl") + " " + quoted(dir_ / name) +
                       " >/dev/null"),
              1)
        << name;
    const testread::PageRecord r = testread::readBack(dir_ / name);
    EXPECT_EQ(r.format, kFormatCit);
    EXPECT_EQ(difference(r.bitmap(), page), "equal");
  }
}

}  // namespace
}  // namespace vantrel
