// Documents of several pages against libtiff and Ghostscript: tiffcp joins pages of different sizes and
// codings (Group 4, Group 3 two-dimensional, LZW, none, tiled Group 4) into one file of either byte order;
// every page of it, translated with -page all into each multi-page TIFF writer and into PDF, comes back
// through tiffsplit and tifftopnm (or Ghostscript) as the page it was; -page picks one page; the notices of
// a multi-page input and of a page past the last go to standard error. A missing tool fails the test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/pbm.h"

namespace vantrel {
namespace {

using namespace testpbm;

struct PageRecipe {
  int32_t width, height;
  const char* tiffcp;  // how tiffcp codes the page
};

// Two tiled pages, so the reader's tile windows are set up again for a later page.
const PageRecipe kPages[] = {
    {300, 200, "-c g4"},  {411, 150, "-c g3:2d"}, {257, 97, "-c lzw"},
    {199, 120, "-c none"}, {640, 300, "-c g4 -t -w 128 -l 64"}, {333, 77, "-c g4 -t -w 64 -l 32"},
};
constexpr int32_t kPageCount = sizeof kPages / sizeof kPages[0];

class MultiPage : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    for (const char* tool : {"tiffcp", "tiffsplit", "tifftopnm", "pnmtotiff", "gs", "tiffinfo"})
      ASSERT_TRUE(toolExists(tool)) << tool << " is missing: install libtiff-tools, netpbm and ghostscript";
    std::string inputs;
    for (int32_t i = 0; i < kPageCount; ++i) {
      const PageRecipe& p = kPages[i];
      pages_.push_back(makePage(p.width, p.height, 0x5EED + static_cast<uint64_t>(i)));
      const fs::path pbm = at("page" + std::to_string(i) + ".pbm");
      const fs::path coded = at("page" + std::to_string(i) + ".tif");
      ASSERT_TRUE(writePbm(pbm, pages_.back()));
      ASSERT_EQ(runShell("pnmtotiff " + quoted(pbm) + " 2>/dev/null > " + quoted(at("plain.tif")) + " && tiffcp " +
                         p.tiffcp + " " + quoted(at("plain.tif")) + " " + quoted(coded)),
                0);
      inputs += " " + quoted(coded);
    }
    // tiffcp keeps each page's coding and layout; -B or -L chooses the byte order.
    ASSERT_EQ(runShell(std::string("tiffcp ") + GetParam() + inputs + " " + quoted(at("multi.tif"))), 0);
  }

  fs::path at(const std::string& name) const { return dir_.path() / name; }

  // vantrel's exit status; standard error in *errors.
  int translate(const std::string& out, const std::string& options, std::string* errors = nullptr) {
    const int status = runShell(std::string(VANTREL_EXE) + " " + quoted(at("multi.tif")) + " " + quoted(at(out)) +
                                " " + options + " >/dev/null 2>" + quoted(at("errors.txt")));
    if (errors) *errors = capture("cat " + quoted(at("errors.txt")));
    return status;
  }

  // The pages of a TIFF as libtiff reads them, one file each through tiffsplit.
  std::vector<Bitmap> libtiffPages(const std::string& tiff) {
    const fs::path parts = at("parts-" + tiff);
    fs::create_directories(parts);
    EXPECT_EQ(runShell("cd " + quoted(parts) + " && tiffsplit " + quoted(at(tiff)) + " part"), 0);
    std::vector<Bitmap> out;
    for (const char* suffix : {"aaa", "aab", "aac", "aad", "aae", "aaf", "aag"}) {
      const fs::path part = parts / (std::string("part") + suffix + ".tif");
      if (!fs::exists(part)) break;
      Bitmap page;
      EXPECT_EQ(runShell("tifftopnm -quiet " + quoted(part) + " > " + quoted(at("part.pbm"))), 0);
      EXPECT_TRUE(readPnm(at("part.pbm"), &page));
      out.push_back(page);
    }
    return out;
  }

  ScratchDir dir_{"vantrel-multipage"};
  std::vector<Bitmap> pages_;
};

TEST_P(MultiPage, EveryPageIntoEachTiffWriter) {
  for (const char* format : {"tiff", "tiled", "tiffg3", "tiffu", "opt"}) {
    SCOPED_TRACE(format);
    const std::string out = std::string("all-") + format + ".tif";
    ASSERT_EQ(translate(out, std::string("-page all -rof ") + format), 1);
    const std::vector<Bitmap> got = libtiffPages(out);
    ASSERT_EQ(got.size(), pages_.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(difference(got[i], pages_[i]), "equal") << "page " << i + 1;
    // Every page is numbered (from 0) out of the count.
    const std::string info = capture("tiffinfo " + quoted(at(out)) + " 2>/dev/null");
    EXPECT_NE(info.find("Page Number: 5-6"), std::string::npos) << info;
  }
}

// Turned, every page is read from the one before it and turned as netpbm turns it (a quarter turn
// counter-clockwise).
TEST_P(MultiPage, EveryPageTurned) {
  ASSERT_EQ(translate("turned.tif", "-page all -rot 90"), 1);
  const std::vector<Bitmap> got = libtiffPages("turned.tif");
  ASSERT_EQ(got.size(), pages_.size());
  for (int32_t i = 0; i < kPageCount; ++i) {
    const std::string page = "page" + std::to_string(i);
    ASSERT_EQ(runShell("pamflip -r90 " + quoted(at(page + ".pbm")) + " > " + quoted(at(page + "-r90.pbm"))), 0);
    Bitmap turned;
    ASSERT_TRUE(readPnm(at(page + "-r90.pbm"), &turned));
    EXPECT_EQ(difference(got[static_cast<size_t>(i)], turned), "equal") << "page " << i + 1;
  }
}

// Ghostscript draws every page of a PDF or PostScript document on its own size.
TEST_P(MultiPage, EveryPageIntoPdfAndPostScript) {
  for (const std::string out : {"all.pdf", "all.ps"}) {
    SCOPED_TRACE(out);
    ASSERT_EQ(translate(out, "-page all"), 1);
    // The pages have no resolution of their own: they are taken as 200 dpi.
    const std::string pages = "gs-" + out + "-%d.pbm";
    ASSERT_EQ(runShell("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pbmraw -r200 -sOutputFile=" + quoted(at(pages)) +
                       " " + quoted(at(out)) + " 2>/dev/null"),
              0);
    const auto page = [&](int32_t n) { return at("gs-" + out + "-" + std::to_string(n) + ".pbm"); };
    for (int32_t i = 0; i < kPageCount; ++i) {
      Bitmap drawn;
      ASSERT_TRUE(readPbm(page(i + 1), &drawn)) << "page " << i + 1;
      EXPECT_EQ(difference(drawn, pages_[i]), "equal") << "page " << i + 1;
    }
    EXPECT_FALSE(fs::exists(page(kPageCount + 1)));
  }
  // The document's structure comments count the pages; its bounding box, the largest page's, is at the end.
  const std::string ps = capture("grep -a -e '^%%Pages:' -e '^%%BoundingBox:' " + quoted(at("all.ps")));
  EXPECT_EQ(ps, "%%BoundingBox: (atend)\n%%Pages: 6\n%%BoundingBox: 0 0 231 108\n");
}

TEST_P(MultiPage, OnePageChosenOrThePageCountSaid) {
  std::string errors;
  for (int32_t page : {2, 6}) {
    const std::string out = "page" + std::to_string(page) + ".tif";
    ASSERT_EQ(translate(out, "-dpi 200 -page " + std::to_string(page), &errors), 1);
    EXPECT_EQ(errors, "");
    const std::vector<Bitmap> got = libtiffPages(out);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(difference(got[0], pages_[page - 1]), "equal");
  }
  // Without -page: page 1, and one line on standard error.
  ASSERT_EQ(translate("first.tif", "-dpi 200", &errors), 1);
  EXPECT_EQ(errors, "vantrel: " + at("multi.tif").string() +
                        " holds 6 pages; page 1 translated (-page all takes every page into TIFF, PDF or PostScript)\n");
  // A page past the last, and every page into an output of one page: refused, nothing left behind.
  EXPECT_EQ(translate("seventh.tif", "-page 7", &errors), 0);
  EXPECT_EQ(errors, "vantrel: no such page: " + at("multi.tif").string() + " holds 6 pages\n");
  EXPECT_FALSE(fs::exists(at("seventh.tif")));
  EXPECT_EQ(translate("all.cg4", "-page all", &errors), 0);
  EXPECT_NE(errors.find("-page all needs an output that holds several pages"), std::string::npos) << errors;
  EXPECT_FALSE(fs::exists(at("all.cg4")));
}

// The last page linked back to the first: every page is still read, once, and the loop is named.
TEST_P(MultiPage, ALoopingChainKeepsItsPagesAndIsNamed) {
  std::vector<uint8_t> bytes = readBytes(at("multi.tif"));
  const bool big = bytes[0] == 'M';
  auto get = [&](size_t offset, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i)
      v |= static_cast<uint32_t>(bytes.at(offset + i)) << 8 * (big ? n - 1 - i : i);
    return v;
  };
  const uint32_t first = get(4, 4);
  size_t link = 0;
  for (uint32_t ifd = first; ifd != 0; ifd = get(link, 4)) link = ifd + 2 + 12 * get(ifd, 2);
  for (int i = 0; i < 4; ++i) bytes.at(link + i) = static_cast<uint8_t>(first >> 8 * (big ? 3 - i : i));
  ASSERT_TRUE(writeBytes(at("multi.tif"), bytes));
  std::string errors;
  ASSERT_EQ(translate("looped.tif", "-page all", &errors), 1);
  EXPECT_NE(errors.find("the chain of pages breaks after page 6"), std::string::npos) << errors;
  EXPECT_EQ(libtiffPages("looped.tif").size(), pages_.size());
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, MultiPage, ::testing::Values("-B", "-L"),
                         [](const auto& info) { return std::string(info.param[1] == 'B' ? "BigEndian" : "LittleEndian"); });

}  // namespace
}  // namespace vantrel
