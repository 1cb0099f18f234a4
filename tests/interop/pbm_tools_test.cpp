// PBM against netpbm and Pillow: our raw files are what pamfile, pnmtopnm and Pillow take them for; their raw
// and plain files (pnmtopnm -plain, pbmmake, Pillow) and hand-made headers with comments and odd white space
// read to their pixels here. The tools must be installed (scripts/setup.sh): a missing one fails the test.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "tests/support/pbm.h"
#include "tests/support/read_back.h"

namespace vantrel {
namespace {

using namespace testpbm;

const std::string kPython = "/usr/bin/python3";  // Debian's, where python3-pil installs Pillow

void requireTools() {
  for (const char* tool : {"pbmmake", "pnmtopnm", "pamfile"})
    ASSERT_TRUE(toolExists(tool)) << tool << " is missing: run scripts/setup.sh";
  ASSERT_EQ(runShell(kPython + " -c 'import PIL' 2>/dev/null"), 0) << "Pillow is missing: run scripts/setup.sh";
}

// Pillow opens `from` and saves it as PBM (raw) to `to`.
int pillowToPbm(const fs::path& from, const fs::path& to) {
  return runShell(kPython + " -c \"import sys; from PIL import Image; Image.open(sys.argv[1]).convert('1')"
                            ".save(sys.argv[2], 'PPM')\" " + quoted(from) + " " + quoted(to) + " 2>/dev/null");
}

struct PageCase {
  int32_t width, height;
  uint64_t seed;  // 0: a white page
};
std::ostream& operator<<(std::ostream& os, const PageCase& c) {
  return os << c.width << "x" << c.height << (c.seed ? "" : " white");
}

class PbmTools : public ::testing::TestWithParam<PageCase> {
 protected:
  void SetUp() override {
    requireTools();
    ASSERT_TRUE(dir_.ok());
    const PageCase& c = GetParam();
    page_ = c.seed ? makePage(c.width, c.height, c.seed) : Bitmap(c.width, c.height);
  }
  ScratchDir dir_{"vantrel-pbm"};
  Bitmap page_;
};

TEST_P(PbmTools, OurFilesAreWhatNetpbmAndPillowRead) {
  const fs::path ours = dir_ / "ours.pbm";
  ASSERT_EQ(writeThroughLibrary(ours, kFormatPbm, page_, 300), 0);
  EXPECT_EQ(capture("pamfile " + quoted(ours)),
            ours.string() + ":\tPBM raw, " + std::to_string(page_.width) + " by " + std::to_string(page_.height) +
                "\n");
  ASSERT_EQ(runShell("pnmtopnm " + quoted(ours) + " > " + quoted(dir_ / "n.pbm") + " 2>/dev/null"), 0);
  ASSERT_EQ(pillowToPbm(ours, dir_ / "p.pbm"), 0);
  for (const char* name : {"n.pbm", "p.pbm"}) {
    SCOPED_TRACE(name);
    Bitmap got;
    ASSERT_TRUE(readPnm(dir_ / name, &got));
    EXPECT_EQ(difference(got, page_), "equal");
  }
}

TEST_P(PbmTools, TheirRawAndPlainFilesReadToTheirPixels) {
  const fs::path raw = dir_ / "page.pbm";
  ASSERT_TRUE(writePbm(raw, page_));
  ASSERT_EQ(runShell("pnmtopnm -plain " + quoted(raw) + " > " + quoted(dir_ / "plain.pbm") + " 2>/dev/null"), 0);
  ASSERT_EQ(pillowToPbm(raw, dir_ / "pillow.pbm"), 0);
  for (const char* name : {"page.pbm", "plain.pbm", "pillow.pbm"}) {
    SCOPED_TRACE(name);
    const testread::PageRecord r = testread::readBack(dir_ / name);
    ASSERT_EQ(r.open, kRioOk);
    EXPECT_EQ(r.format, kFormatPbm);
    EXPECT_EQ(r.end, kRioEndOfPage);
    EXPECT_EQ(r.xDpi, 0);  // PBM states no resolution
    EXPECT_EQ(difference(r.bitmap(), page_), "equal");
  }
}

INSTANTIATE_TEST_SUITE_P(Pages, PbmTools,
                         ::testing::Values(PageCase{1, 1, 3}, PageCase{7, 9, 4}, PageCase{16, 16, 5},
                                           PageCase{17, 30, 6}, PageCase{333, 101, 7}, PageCase{70000, 3, 8},
                                           PageCase{24, 3, 0}));

// Headers as the netpbm grammar allows them: comments wherever white space may stand, any white space.
struct HeaderCase {
  const char* name;
  std::string bytes;  // a 10 x 2 page, rows "1000000001" and "0110000000"
};
std::ostream& operator<<(std::ostream& os, const HeaderCase& c) { return os << c.name; }

class PbmHeaders : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(PbmHeaders, ReadToThePage) {
  const testread::PageRecord r = testread::readBackBytes(GetParam().bytes);
  ASSERT_EQ(r.open, kRioOk);
  EXPECT_EQ(r.format, kFormatPbm);
  EXPECT_EQ(r.end, kRioEndOfPage);
  ASSERT_EQ(r.width, 10);
  ASSERT_EQ(r.lines.size(), 2u);
  EXPECT_EQ(r.lines[0], (testread::Runs{{0, 1}, {9, 10}}));
  EXPECT_EQ(r.lines[1], (testread::Runs{{1, 3}}));
}

const std::string kRawRows = std::string("\x80\x40\x60\x00", 4);

INSTANTIATE_TEST_SUITE_P(
    Grammar, PbmHeaders,
    ::testing::Values(HeaderCase{"raw", "P4\n10 2\n" + kRawRows},
                      HeaderCase{"raw_comments", "P4 # made by hand\n#another\n10\t#w\n 2\r" + kRawRows},
                      HeaderCase{"raw_comment_ends_header", "P4\n10 2#c\n" + kRawRows},
                      HeaderCase{"raw_pad_bits_set", "P4\n10 2\n" + std::string("\x80\x7F\x60\x3F", 4)},
                      HeaderCase{"plain", "P1\n10 2\n1000000001\n0110000000\n"},
                      HeaderCase{"plain_spaced", "P1 10 2 1 0 0 0 0 0 0 0 0 1 0 1 1 0 0 0 0 0 0 0"},
                      HeaderCase{"plain_comments", "P1#c\n10 2\n10000#x\n00001 01100\n00000"}),
    [](const auto& info) { return std::string(info.param.name); });

// Broken files are refused with the status that says why.
TEST(PbmBroken, RefusedWithTheirCause) {
  const struct {
    const char* name;
    std::string bytes;
    RioStatus open;
    RioStatus end;
  } cases[] = {
      {"no_height", "P4\n10 \n", kRioUnexpectedEof, 0},
      {"letter_in_size", "P4\n10 x2\n", kRioBadHeader, 0},
      {"zero_width", "P4\n0 2\n\n", kRioBadColumns, 0},
      {"huge_width", "P4\n99999999999 2\n", kRioBadHeader, 0},
      {"truncated_raw", "P4\n10 2\n\x80", kRioOk, kRioUnexpectedEof},
      {"plain_bad_pixel", "P1\n10 2\n10000000012", kRioOk, kRioBadData},
      {"plain_truncated", "P1\n10 2\n1", kRioOk, kRioUnexpectedEof},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const testread::PageRecord r = testread::readBackBytes(c.bytes);
    EXPECT_EQ(r.open, c.open);
    if (c.open == kRioOk) {
      EXPECT_EQ(r.end, c.end);
    }
  }
}

}  // namespace
}  // namespace vantrel
