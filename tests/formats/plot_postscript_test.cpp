// PostScript writer: the document's comments, the comment lines callers read, the page set-up and trailer;
// the image data as ASCII85 (decoded here from its definition) of the page's Group 4 code, every row of
// the declared height present; short writes. Rendering by an independent interpreter is checked in
// tests/interop/ghostscript_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "codec/fax.h"
#include "formats/registry.h"
#include "rio/rcb.h"
#include "tests/support/device_page.h"
#include "tests/support/fax_lines.h"

namespace vantrel {
namespace {

using devicetest::PageSetup;
using devicetest::refuseEverything;
using devicetest::Runs;
using devicetest::Written;

Written writePage(int32_t width, const std::vector<Runs>& rows, const PageSetup& setup = {}) {
  return devicetest::writePage(kFormatPostScript, width, rows, setup);
}

const char kProlog[] =
    "%%BeginProlog\n"
    "/imagepage { 4 dict begin /rows exch def /cols exch def\n"
    "/source currentfile /ASCII85Decode filter def\n"
    "/coded source << /K -1 /Columns cols /Rows rows >> /CCITTFaxDecode filter def\n"
    "<< /ImageType 1 /Width cols /Height rows /BitsPerComponent 1 /Decode [0 1]\n"
    "/ImageMatrix [1 0 0 -1 0 rows] /DataSource coded >> imagemask\n"
    "coded closefile source flushfile end } bind def\n"
    "%%EndProlog\n";

const char kPageEnd[] = "restore\nshowpage\n%%PageTrailer\n%%Trailer\n%%EOF\n";

// The document up to the image data; `image` is the scale and imagepage lines, empty for an empty image.
std::string head(const std::string& box, const std::string& size, const std::string& comments,
                 const std::string& image) {
  return "%!PS-Adobe-3.0\n%%Creator: ZEB Gridwright\n%%BoundingBox: 0 0 " + box + "\n%%HiResBoundingBox: 0 0 " +
         size + "\n%%LanguageLevel: 2\n%%DocumentData: Clean7Bit\n%%DocumentMedia: Drawing " + size +
         " 0 () ()\n%%Pages: 1\n%%EndComments\n" + comments + kProlog + "%%Page: 1 1\n%%PageBoundingBox: 0 0 " +
         box + "\n%%BeginPageSetup\nmark { << /PageSize [" + size +
         "] >> setpagedevice } stopped cleartomark\n%%EndPageSetup\nsave\n" + image;
}

std::string comments(const std::string& sizes, const std::string& dpi, const std::string& extents) {
  return "%% " + sizes + " rows x cols\n%% " + dpi + " x y\n%% " + extents + " xe ye\n";
}

// The bytes of ASCII85 text: five characters '!'..'u' for four bytes, "z" for four zeros, white space
// skipped, a short last group of n + 1 characters for n bytes, "~>" the end. False for anything else.
bool ascii85Decode(const std::string& text, std::vector<uint8_t>* out) {
  uint64_t v = 0;
  int n = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ' || c == '\n' || c == '\r' || c == '\t') continue;
    if (c == '~') {
      if (text.compare(i, 2, "~>") != 0 || n == 1) return false;
      for (int k = n; k < 5; ++k) v = v * 85 + 84;
      for (int k = 0; k < n - 1; ++k) out->push_back(static_cast<uint8_t>(v >> (24 - 8 * k)));
      return text.find_first_not_of(" \n", i + 2) == std::string::npos;
    }
    if (c == 'z' && n == 0) {
      out->insert(out->end(), 4, 0);
      continue;
    }
    if (c < '!' || c > 'u') return false;
    v = v * 85 + static_cast<uint64_t>(c - '!');
    if (++n == 5) {
      if (v > 0xFFFFFFFFu) return false;
      for (int k = 0; k < 4; ++k) out->push_back(static_cast<uint8_t>(v >> (24 - 8 * k)));
      v = 0;
      n = 0;
    }
  }
  return false;
}

struct Image {
  std::string head;  // up to and including the imagepage line
  std::string data;  // the ASCII85 text up to and including "~>\n"
  std::string tail;
  std::vector<testfax::Runs> rows;  // the decoded rows, up to the end of the code
  std::string error;
};

// Splits the document at its image data and decodes the rows of `width` pixels.
Image imageOf(const std::string& text, int32_t width) {
  Image image;
  const size_t start = text.find(" imagepage\n");
  const size_t end = text.find("~>\n");
  if (start == std::string::npos || end == std::string::npos) {
    image.error = "no image data";
    return image;
  }
  image.head = text.substr(0, start + 11);
  image.data = text.substr(start + 11, end + 3 - (start + 11));
  image.tail = text.substr(end + 3);
  std::vector<uint8_t> code;
  if (!ascii85Decode(image.data, &code)) {
    image.error = "bad ASCII85";
    return image;
  }
  testfax::Source source(code);
  FaxDecoder decoder;
  testfax::LineBuffer ref(width), cur(width);
  for (RioStatus s = 0;;) {
    s = g4DecodeLine(&decoder, source.stream(), width, ref.data(), cur.data());
    if (s == kRioEndOfPage) break;
    if (s != kRioOk) {
      image.error = "Group 4 status " + std::to_string(s) + " in row " + std::to_string(image.rows.size());
      break;
    }
    image.rows.push_back(cur.get());
    ref.set(cur.get());
  }
  return image;
}

testfax::Runs flat(const Runs& runs) {
  testfax::Runs r;
  for (auto [s, e] : runs) r.insert(r.end(), {s, e});
  return r;
}

class PostScriptWriter : public devicetest::AccountedMemoryTest {};

// Without rows there is no image to draw: the document is its comments, the prolog and an empty page.
TEST_F(PostScriptWriter, GoldenDocumentOfAPageWithoutRows) {
  Written w = writePage(3000, {}, {.height = 0});
  EXPECT_EQ(w.status, kRioOk);
  EXPECT_EQ(w.text, head("1080 0", "1080 0", comments("0 3000", "200 200", "0 0"), "") + kPageEnd);
}

// A white page: each row is one vertical code, the end of block follows; the four bytes in ASCII85.
TEST_F(PostScriptWriter, GoldenWhitePage) {
  Written w = writePage(40, {{}, {}, {}, {}, {}});
  EXPECT_EQ(w.text, head("15 2", "14.4 1.8", comments("5 40", "200 200", "0 0"), "0.36 0.36 scale\n40 5 imagepage\n") +
                        "p],gM\n~>\n" + kPageEnd);
  EXPECT_EQ(w.warning, kRioOk);
}

struct SizeCase {
  const char* name;
  int32_t width;
  int32_t height;
  double xDpi;
  double yDpi;
  int32_t xExtent;
  int32_t yExtent;
  std::string head;  // up to the image data
};
std::ostream& operator<<(std::ostream& os, const SizeCase& c) {
  return os << c.name;
}

// The page at the image's resolution, each axis on its own, an unknown one taking the other's and 200 dpi
// when both are unknown; the comment lines keep the resolutions truncated as given, and the extents.
const SizeCase kSizes[] = {
    {"A0At400", 13244, 18724, 400, 400, 0, 0,
     head("2384 3371", "2383.92 3370.32", comments("18724 13244", "400 400", "0 0"),
          "0.18 0.18 scale\n13244 18724 imagepage\n")},
    {"UnequalAxes", 1001, 777, 200, 400, 0, 0,
     head("361 140", "360.36 139.86", comments("777 1001", "200 400", "0 0"), "0.36 0.18 scale\n1001 777 imagepage\n")},
    {"UnknownAxisTakesTheOther", 17, 1, 200.9, 0, 12, -7,
     head("7 1", "6.092583 0.358387", comments("1 17", "200 0", "12 -7"),
          "0.358387257342 0.358387257342 scale\n17 1 imagepage\n")},
    {"BothUnknown", 1, 1, 0, 0, 0, 0,
     head("1 1", "0.36 0.36", comments("1 1", "0 0", "0 0"), "0.36 0.36 scale\n1 1 imagepage\n")},
    {"ResolutionsOutOfRange", 5, 1, 1e12, -3.5, 0, 0,
     head("1 1", "0.00036 0.000072", comments("1 5", "2147483647 -3", "0 0"),
          "0.000072 0.000072 scale\n5 1 imagepage\n")},
};

class PostScriptSizes : public PostScriptWriter, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(PostScriptSizes, HeadOfThePage) {
  const SizeCase& c = GetParam();
  Written w = writePage(c.width, {{}},
                        {.xDpi = c.xDpi, .yDpi = c.yDpi, .xExtent = c.xExtent, .yExtent = c.yExtent, .height = c.height});
  EXPECT_EQ(imageOf(w.text, c.width).head, c.head);
}

INSTANTIATE_TEST_SUITE_P(Vectors, PostScriptSizes, ::testing::ValuesIn(kSizes),
                         [](const auto& info) { return std::string(info.param.name); });

struct RowCase {
  const char* name;
  int32_t width;
  Runs runs;
  Runs drawn;  // the runs as the page shows them
};
std::ostream& operator<<(std::ostream& os, const RowCase& c) {
  return os << c.name;
}

class PostScriptRows : public PostScriptWriter, public ::testing::WithParamInterface<RowCase> {};

// Each row is drawn where its runs are, clipped to the width, over three rows (the middle one coded
// against the row above it).
TEST_P(PostScriptRows, RowIsDrawnAsTheseRuns) {
  const RowCase& c = GetParam();
  Written w = writePage(c.width, {{}, c.runs, c.runs});
  ASSERT_EQ(w.status, kRioOk);
  const Image image = imageOf(w.text, c.width);
  ASSERT_EQ(image.error, "");
  EXPECT_EQ(image.rows, (std::vector<testfax::Runs>{{}, flat(c.drawn), flat(c.drawn)}));
  EXPECT_EQ(image.tail, kPageEnd);
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, PostScriptRows,
    ::testing::Values(RowCase{"TwoRuns", 20, {{0, 4}, {10, 12}}, {{0, 4}, {10, 12}}},
                      RowCase{"White", 20, {}, {}}, RowCase{"FirstPixel", 20, {{0, 1}}, {{0, 1}}},
                      RowCase{"LastPixel", 20, {{19, 20}}, {{19, 20}}},
                      RowCase{"OnePixelGaps", 20, {{1, 2}, {3, 4}, {5, 9}}, {{1, 2}, {3, 4}, {5, 9}}},
                      RowCase{"TouchingRuns", 20, {{0, 2}, {2, 4}}, {{0, 4}}},
                      RowCase{"RunPastTheWidth", 10, {{5, 50}}, {{5, 10}}},
                      RowCase{"RunBeyondTheWidth", 10, {{2, 3}, {12, 15}}, {{2, 3}}},
                      RowCase{"NegativeStart", 10, {{-3, 2}}, {{0, 2}}},
                      RowCase{"WideImage", 1000000, {{999990, 1000000}}, {{999990, 1000000}}}),
    [](const auto& info) { return std::string(info.param.name); });

// A row of thousands of runs is longer than the coder's buffer: the text goes on over many lines, none
// longer than 75 characters and none starting with "%" (a document manager would take it for a comment).
TEST_F(PostScriptWriter, RowWithManyRuns) {
  std::mt19937 rng(75);
  std::vector<Runs> rows(30);
  for (size_t i = 0; i < rows.size(); ++i) {
    if (i % 3 == 0) rows[i] = {{static_cast<int32_t>(i), 40000}};
    for (int32_t x = 3 + static_cast<int32_t>(rng() % 5); i % 3 && x + 4 <= 40000; x += 6 + static_cast<int32_t>(rng() % 9))
      rows[i].emplace_back(x, x + 1 + static_cast<int32_t>(rng() % 4));
  }
  Written w = writePage(40000, rows);
  ASSERT_EQ(w.status, kRioOk);
  const Image image = imageOf(w.text, 40000);
  ASSERT_EQ(image.error, "");
  ASSERT_EQ(image.rows.size(), rows.size());
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(image.rows[i], flat(rows[i])) << "row " << i;
  size_t lines = 0, spaced = 0;
  for (size_t at = 0; at < image.data.size(); ++lines) {
    const size_t end = image.data.find('\n', at);
    EXPECT_LE(end - at, 75u);
    EXPECT_NE(image.data[at], '%');
    spaced += image.data[at] == ' ';
    at = end + 1;
  }
  EXPECT_GT(lines, 1000u);
  EXPECT_GT(spaced, 0u) << "no line that would have started with %: the case proves nothing";
}

// Every row of the declared height is drawn, however many; rows past it are dropped with a warning.
TEST_F(PostScriptWriter, EveryRowOfTheHeightIsDrawn) {
  std::vector<Runs> rows(4803, Runs{{0, 1}});
  Written w = writePage(8, rows);
  EXPECT_EQ(w.status, kRioOk);
  EXPECT_EQ(w.warning, kRioOk);
  for (RioStatus r : w.lineResults) EXPECT_EQ(r, kRioOk);
  const Image image = imageOf(w.text, 8);
  ASSERT_EQ(image.error, "");
  EXPECT_EQ(image.rows, std::vector<testfax::Runs>(4803, testfax::Runs{0, 1}));
}

TEST_F(PostScriptWriter, RowsPastTheHeightAreDroppedWithAWarning) {
  Written w = writePage(8, std::vector<Runs>(7, Runs{{0, 1}}), {.height = 4});
  EXPECT_EQ(w.status, kRioOk);
  EXPECT_EQ(w.warning, kRioBadRows);
  const Image image = imageOf(w.text, 8);
  ASSERT_EQ(image.error, "");
  EXPECT_EQ(image.rows.size(), 4u);
}

// A page that ends before its height is made whole with white rows.
TEST_F(PostScriptWriter, PageEndingEarlyIsFilledWithWhiteRows) {
  Written w = writePage(8, {{{2, 5}}, {{2, 5}}}, {.height = 5});
  EXPECT_EQ(w.status, kRioOk);
  const Image image = imageOf(w.text, 8);
  ASSERT_EQ(image.error, "");
  EXPECT_EQ(image.rows, (std::vector<testfax::Runs>{{2, 5}, {2, 5}, {}, {}, {}}));
  EXPECT_EQ(image.tail, kPageEnd);
}

TEST_F(PostScriptWriter, NoAllocationPerRowAndNoneLeftByAFailedOpen) {
  int64_t growth = -1;
  ASSERT_NO_FATAL_FAILURE(devicetest::measureRowAllocations(kFormatPostScript, 5000, 300, {{3, 100}, {200, 4000}}, &growth));
  EXPECT_EQ(growth, 0);
  EXPECT_GT(devicetest::checkFailedOpenAllocations(kFormatPostScript, 5000, 10, 10), 0);
}

// A sink that takes nothing: once the buffer has to go out, the row reports -8 and the status keeps it.
TEST_F(PostScriptWriter, SinkAcceptingNothingFailsTheRowWithStreamIo) {
  Runs runs;
  for (int32_t x = 0; x < 4000; x += 4 + x % 5) runs.emplace_back(x, x + 2);
  std::vector<Runs> rows(400);
  for (size_t i = 0; i < rows.size(); ++i) rows[i] = i % 2 ? runs : Runs{};
  Written w = writePage(4000, rows, {.sink = refuseEverything});
  ASSERT_EQ(w.open, kRioOk);
  EXPECT_EQ(w.status, kRioStreamIo);
  devicetest::expectStopsAtTheLoss(w.lineResults);
  EXPECT_EQ(w.lineResults.front(), kRioOk) << "the first rows fit into the buffers";
  EXPECT_EQ(w.streamOk, 0);
  EXPECT_TRUE(w.text.empty());
}

TEST_F(PostScriptWriter, ReadingIsNotImplemented) {
  EXPECT_EQ(testread::readBackBytes("%!PS-Adobe-3.0\n", kFormatPostScript).open, kRioNotImplemented);
  EXPECT_EQ(kPostScriptDriver.spare1(nullptr), kRioNotImplemented);
}

}  // namespace
}  // namespace vantrel
