// The drawing generator: deterministic, its PBM valid for netpbm, and every format it writes through the
// library carries exactly the PBM's pixels.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "formats/registry.h"
#include "rio/rcb.h"
#include "rio/stream.h"
#include "tests/support/pbm.h"
#include "tests/support/read_back.h"
#include "tests/support/scratch_dir.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

std::string readBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

using testpbm::capture;
using testpbm::toolExists;
using testread::PageRecord;
using testread::readBack;
using testread::Runs;

// A page as black runs per row: (start, end) pairs, end exclusive.
struct Page {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<Runs> rows;
};

Runs runsOfBits(const std::vector<bool>& bits) {
  Runs runs;
  for (size_t x = 0; x < bits.size();) {
    if (!bits[x]) {
      ++x;
      continue;
    }
    const size_t start = x;
    while (x < bits.size() && bits[x]) ++x;
    runs.emplace_back(static_cast<int32_t>(start), static_cast<int32_t>(x));
  }
  return runs;
}

// Raw (P4) or plain (P1) PBM, comments and all; false on anything malformed.
bool parsePbm(const std::string& data, Page* page) {
  std::istringstream in(data);
  std::string magic;
  in >> magic;
  if (magic != "P4" && magic != "P1") return false;
  auto number = [&](int32_t* v) {
    in >> std::ws;
    while (in.peek() == '#') {
      std::string comment;
      std::getline(in, comment);
      in >> std::ws;
    }
    return static_cast<bool>(in >> *v) && *v > 0;
  };
  if (!number(&page->width) || !number(&page->height)) return false;
  page->rows.clear();
  std::vector<bool> bits(static_cast<size_t>(page->width));
  if (magic == "P4") {
    in.get();  // the single whitespace byte before the raster
    const size_t bytes = (static_cast<size_t>(page->width) + 7) / 8;
    std::string row(bytes, '\0');
    for (int32_t y = 0; y < page->height; ++y) {
      if (!in.read(row.data(), static_cast<std::streamsize>(bytes))) return false;
      for (int32_t x = 0; x < page->width; ++x) bits[x] = (static_cast<uint8_t>(row[x >> 3]) >> (7 - (x & 7))) & 1;
      page->rows.push_back(runsOfBits(bits));
    }
    return in.peek() == std::char_traits<char>::eof();
  }
  for (int32_t y = 0; y < page->height; ++y) {
    for (int32_t x = 0; x < page->width; ++x) {
      char c;
      if (!(in >> c) || (c != '0' && c != '1')) return false;
      bits[x] = c == '1';
    }
    page->rows.push_back(runsOfBits(bits));
  }
  return true;
}

class DrawgenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.ok());
    dir_ = scratch_.path();
  }

  fs::path path(const std::string& name) const { return dir_ / name; }

  // Runs drawgen with the arguments; its output (both streams) goes to *output when given.
  int drawgen(const std::string& args, std::string* output = nullptr) {
    int status = -1;
    const std::string out = capture(std::string(DRAWGEN_EXE) + " " + args + " 2>&1", &status);
    if (output) *output = out;
    return status;
  }

  Page pbmPage(const std::string& args, const std::string& name) {
    Page page;
    EXPECT_EQ(drawgen(args + " " + path(name).string()), 0) << args;
    EXPECT_TRUE(parsePbm(readBytes(path(name)), &page)) << args;
    return page;
  }

  testsupport::ScratchDir scratch_{"drawgen_test"};
  fs::path dir_;
};

constexpr const char* kSmallPage = "-w 500 -h 700 -dpi 100";

// Same arguments give the same bytes, another seed other bytes, in every output path.
class DrawgenDeterminism : public DrawgenTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(DrawgenDeterminism, SameSeedSameBytesOtherSeedOtherBytes) {
  const std::string format = GetParam();
  const std::string base = std::string(kSmallPage) + " -f " + format;
  ASSERT_EQ(drawgen(base + " -seed 7 " + path("a").string()), 0);
  ASSERT_EQ(drawgen(base + " -seed 7 " + path("b").string()), 0);
  ASSERT_EQ(drawgen(base + " -seed 8 " + path("c").string()), 0);
  const std::string a = readBytes(path("a")), b = readBytes(path("b")), c = readBytes(path("c"));
  ASSERT_FALSE(a.empty());
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  EXPECT_EQ(a.size() == c.size(), format.rfind("pbm", 0) == 0);  // a raw bitmap's size depends on the page size only
}

INSTANTIATE_TEST_SUITE_P(Formats, DrawgenDeterminism, ::testing::Values("pbm", "rnl", "pbm -scan"));

TEST_F(DrawgenTest, DefaultSeedIsStable) {
  ASSERT_EQ(drawgen(std::string(kSmallPage) + " " + path("a.pbm").string()), 0);
  ASSERT_EQ(drawgen(std::string(kSmallPage) + " -seed 1 " + path("b.pbm").string()), 0);
  EXPECT_EQ(readBytes(path("a.pbm")), readBytes(path("b.pbm")));
}

struct SizeCase {
  const char* args;
  int32_t width, height;
};

class DrawgenSize : public DrawgenTest, public ::testing::WithParamInterface<SizeCase> {};

// The page size from paper, resolution and explicit dimensions, as netpbm and our parser see it.
TEST_P(DrawgenSize, PamfileReportsThePageSize) {
  ASSERT_TRUE(toolExists("pamfile")) << "netpbm is missing: run scripts/setup.sh";
  const SizeCase& c = GetParam();
  const fs::path out = path("page.pbm");
  ASSERT_EQ(drawgen(std::string(c.args) + " " + out.string()), 0) << c.args;
  const std::string info = capture("pamfile " + out.string());
  EXPECT_NE(info.find("PBM raw, " + std::to_string(c.width) + " by " + std::to_string(c.height)),
            std::string::npos)
      << info;
  // Our own reading of the header, and a file of exactly header plus rows (no pixel parse: A0 is big).
  std::ifstream in(out, std::ios::binary);
  std::string magic;
  int32_t width = 0, height = 0;
  in >> magic >> width >> height;
  in.get();
  EXPECT_EQ(magic, "P4");
  EXPECT_EQ(width, c.width);
  EXPECT_EQ(height, c.height);
  const auto rowBytes = (static_cast<uintmax_t>(c.width) + 7) / 8;
  EXPECT_EQ(fs::file_size(out), static_cast<uintmax_t>(in.tellg()) + rowBytes * static_cast<uintmax_t>(c.height));
}

INSTANTIATE_TEST_SUITE_P(
    Pages, DrawgenSize,
    ::testing::Values(SizeCase{"", 13244, 18724},  // A0 portrait at 400 dpi
                      SizeCase{"-dpi 50", 1656, 2341}, SizeCase{"-p A4 -dpi 50", 413, 585},
                      SizeCase{"-p a4 -dpi 50 -landscape", 585, 413}, SizeCase{"-p a3 -dpi 200", 2339, 3307},
                      SizeCase{"-w 300 -h 200 -dpi 50", 300, 200}, SizeCase{"-p a3 -w 123 -dpi 50", 123, 827},
                      SizeCase{"-w 1 -h 1", 1, 1}, SizeCase{"-w 9 -h 3 -dpi 10", 9, 3}));

// netpbm's own reader sees exactly the pixels our parser sees.
TEST_F(DrawgenTest, NetpbmReadsTheSamePixels) {
  ASSERT_TRUE(toolExists("pnmtoplainpnm")) << "netpbm is missing: run scripts/setup.sh";
  // 499 columns: the last byte of each row is partly padding.
  const Page raw = pbmPage("-w 499 -h 700 -dpi 100 -seed 3", "a.pbm");
  int status = -1;
  const std::string plain = capture("pnmtoplainpnm " + path("a.pbm").string(), &status);
  ASSERT_EQ(status, 0);
  Page page;
  ASSERT_TRUE(parsePbm(plain, &page));
  EXPECT_EQ(page.width, 499);
  EXPECT_EQ(page.height, 700);
  EXPECT_EQ(page.rows, raw.rows);
}

// The page looks like a drawing: some ink but mostly paper, a border, and lines of several widths.
TEST_F(DrawgenTest, PageHasBorderLinesAndLittleInk) {
  const Page page = pbmPage("-p a3 -dpi 100", "a3.pbm");
  int64_t black = 0;
  int longRows = 0;
  std::map<int32_t, int> verticalWidths;  // widths of runs in rows crossing the page's middle
  for (size_t y = 0; y < page.rows.size(); ++y) {
    for (auto [s, e] : page.rows[y]) {
      black += e - s;
      if (e - s > page.width * 8 / 10) ++longRows;
      if (y == page.rows.size() / 3) ++verticalWidths[e - s];
    }
  }
  const double ink = static_cast<double>(black) / (static_cast<double>(page.width) * page.height);
  EXPECT_GT(ink, 0.005);
  EXPECT_LT(ink, 0.25);
  EXPECT_GE(longRows, 4);  // trim line and frame, top and bottom
  EXPECT_GE(verticalWidths.size(), 3u);
}

// Every format the registry reads and writes today: drawgen's file read back gives the PBM's pixels.
TEST_F(DrawgenTest, EveryWrittenFormatCarriesThePbmPixels) {
  const Page reference = pbmPage("-w 500 -h 700 -dpi 100 -seed 5", "ref.pbm");
  int count = 0;
  const FormatName* names = rioFormatNames(&count);
  std::map<RasterFormatId, std::string> formats;  // the first console name of each id
  for (int i = 0; i < count; ++i)
    if (names[i].listed) formats.emplace(names[i].id, names[i].name);
  int checked = 0;
  for (const auto& [id, name] : formats) {
    const FormatInfo& info = rioFormatInfo(id);
    if (!info.writes || !info.reads) continue;
    SCOPED_TRACE(name);
    const fs::path out = path("page." + name);
    ASSERT_EQ(drawgen("-w 500 -h 700 -dpi 100 -seed 5 -f " + name + " " + out.string()), 0);
    const PageRecord page = readBack(out, id);
    ASSERT_EQ(page.open, kRioOk);
    EXPECT_EQ(page.end, kRioEndOfPage);
    EXPECT_EQ(page.width, reference.width);
    EXPECT_EQ(page.height, reference.height);
    // MMR stores only 200 dpi or 400 dpi: anything but exactly 200 reads back as 400. Image Systems
    // run-length and PBM store no resolution.
    const double dpi = id == 34 ? 400 : id == kFormatRlc || id == kFormatPbm ? 0 : 100;
    EXPECT_DOUBLE_EQ(page.xDpi, dpi);
    EXPECT_DOUBLE_EQ(page.yDpi, dpi);
    ASSERT_EQ(page.lines.size(), reference.rows.size());
    for (size_t y = 0; y < page.lines.size(); ++y) ASSERT_EQ(page.lines[y], reference.rows[y]) << "row " << y;
    ++checked;
  }
  EXPECT_GE(checked, 1);  // the native run-length format at least
}

// Every name of a format with a writer (write-only device languages included) gives a file.
TEST_F(DrawgenTest, EveryWriterProducesAFile) {
  int count = 0;
  const FormatName* names = rioFormatNames(&count);
  int written = 0;
  for (int i = 0; i < count; ++i) {
    if (!names[i].listed || !rioFormatInfo(names[i].id).writes) continue;
    SCOPED_TRACE(names[i].name);
    const fs::path out = path(std::string("page.") + names[i].name);
    std::string output;
    EXPECT_EQ(drawgen(std::string("-p a4 -dpi 50 -f ") + names[i].name + " " + out.string(), &output), 0)
        << output;
    EXPECT_EQ(output, "");
    EXPECT_GT(fs::exists(out) ? fs::file_size(out) : 0, 0u);
    ++written;
  }
  EXPECT_GE(written, 1);
}

// The native run-length file is recognised by its header, like any input of the translators.
TEST_F(DrawgenTest, NativeRunLengthOutputIsRecognised) {
  const Page reference = pbmPage("-p a4 -dpi 72 -seed 9", "a4.pbm");
  ASSERT_EQ(drawgen("-p a4 -dpi 72 -seed 9 -f RNL " + path("a4.rnl").string()), 0);
  const PageRecord page = readBack(path("a4.rnl"));
  ASSERT_EQ(page.open, kRioOk);
  EXPECT_EQ(page.end, kRioEndOfPage);
  EXPECT_EQ(page.width, reference.width);
  EXPECT_EQ(page.lines, reference.rows);
}

TEST_F(DrawgenTest, SilentOnSuccess) {
  std::string output;
  EXPECT_EQ(drawgen(std::string(kSmallPage) + " " + path("a.pbm").string(), &output), 0);
  EXPECT_EQ(output, "");
  EXPECT_EQ(drawgen(std::string(kSmallPage) + " -f rnl " + path("a.rnl").string(), &output), 0);
  EXPECT_EQ(output, "");
}

class DrawgenRefuses : public DrawgenTest, public ::testing::WithParamInterface<const char*> {};

// Bad command lines: a message, a non-zero exit and no output file.
TEST_P(DrawgenRefuses, BadArguments) {
  const fs::path out = path("out.pbm");
  std::string output;
  EXPECT_EQ(drawgen(std::string(GetParam()) + " " + out.string(), &output), 2);
  EXPECT_NE(output, "");
  EXPECT_FALSE(fs::exists(out));
}

INSTANTIATE_TEST_SUITE_P(Arguments, DrawgenRefuses,
                         ::testing::Values("-w 0", "-w abc", "-w 12x", "-h -5", "-w 16777217", "-dpi 5",
                                           "-dpi nan", "-dpi inf", "-p b4", "-p a5", "-seed -1", "-seed x",
                                           "-f nosuchformat", "-x 1", "-w 100 -h 100 second.pbm", "-w"));

TEST_F(DrawgenTest, NoOutputNameIsRefused) {
  std::string output;
  EXPECT_EQ(drawgen("-w 10 -h 10", &output), 2);
  EXPECT_NE(output.find("usage"), std::string::npos);
}

TEST_F(DrawgenTest, UncreatableOutputFails) {
  std::string output;
  EXPECT_EQ(drawgen("-w 10 -h 10 " + path("missing/out.pbm").string(), &output), 1);
  EXPECT_NE(output, "");
  EXPECT_EQ(drawgen("-w 10 -h 10 -f rnl " + path("missing/out.rnl").string(), &output), 1);
  EXPECT_NE(output, "");
}

TEST_F(DrawgenTest, FullDeviceFails) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  std::string output;
  EXPECT_EQ(drawgen("-w 100 -h 100 /dev/full", &output), 1);
  EXPECT_NE(output, "");
  EXPECT_EQ(drawgen("-w 100 -h 100 -f rnl /dev/full", &output), 1);
  EXPECT_NE(output, "");
}

// A format whose writer is not built yet: the error is reported and nothing is left behind.
TEST_F(DrawgenTest, FormatWithoutWriterLeavesNoFile) {
  int count = 0;
  const FormatName* names = rioFormatNames(&count);
  const char* unwritten = nullptr;
  for (int i = 0; i < count && !unwritten; ++i)
    if (names[i].listed && !rioFormatInfo(names[i].id).writes) unwritten = names[i].name;
  if (!unwritten) GTEST_SKIP() << "every named format has a writer";
  const fs::path out = path(std::string("out.") + unwritten);
  std::string output;
  EXPECT_EQ(drawgen(std::string("-w 100 -h 100 -f ") + unwritten + " " + out.string(), &output), 1);
  EXPECT_NE(output, "");
  EXPECT_FALSE(fs::exists(out));
}

}  // namespace
}  // namespace vantrel
