// The bilevel TIFF files other programs wrote (the realworld corpus beside the checkout, listed with their
// sources in its MANIFEST.tsv): each one either reads to libtiff's pixels of its first page and to its
// resolution, or the program refuses it with one clear line, exits 0 and leaves no output. The expectations
// were decided once from libtiff-tools and Pillow and are kept here. A checkout without the corpus skips the
// suite; a missing tool fails it.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tests/support/pbm.h"
#include "tests/support/read_back.h"

namespace vantrel {
namespace {

using namespace testpbm;

enum class Expect {
  kRead,          // libtiff's pixels: tifftopnm -respectfillorder -orientraw, first page
  kReadPalette,   // a palette file's pixels: libtiff's colours through ppmtopgm | pgmtopbm -threshold
  kReadDarkGreen, // as kReadPalette with the threshold below the map's dark green entry (see the note)
  kReadPillow,    // Pillow's pixels (libtiff's tifftopnm refuses the file)
  kRefused,       // the program's line "vantrel: <message>", exit 0, no output file
};

constexpr double kCm = 2.54;

struct CorpusFile {
  const char* name;
  Expect expect;
  double dpi[2];        // as tiffinfo reports it (in dpi); 0: no resolution stored
  const char* message;  // kRefused: the status line
};

// Notes on files libtiff itself does not read cleanly:
// - g4_dupbps, g4_dupwidth: after the repeated tag (its first value is kept) the Group 4 data hold bad code
//   words; libtiff warns and pads the rows, we refuse the page.
// - g4_fewrows: the data end after 4 of 6 rows; libtiff pads them white, we refuse the short page.
// - none_mib_empty: strip offset and byte count 0, so no data stored; libtiff fails the strip and pads.
// - g3_is_mh_mm: Modified Huffman rows without end-of-line codes labelled Group 3; libtiff hunts for an
//   end-of-line code it never finds and gives a white page, Pillow fails; the rows run past the width here.
// - g4_nophoto: no PhotometricInterpretation; tifftopnm refuses, Pillow (and we) take white is zero.
// - pal1_multi: colour map entry 0 is dark green (0, 32896, 0), entry 1 black; black is the darker entry,
//   so the green pixels are white, where a 50% grey threshold would make them black too.
const CorpusFile kFiles[] = {
    {"bigtiff.tif", Expect::kRefused, {0, 0}, "bad header data"},
    {"deflate1.tif", Expect::kRead, {72, 72}, nullptr},
    {"g3_16.tif", Expect::kRead, {0, 0}, nullptr},
    {"g3_16_fill.tif", Expect::kRead, {0, 0}, nullptr},
    {"g3_16_lsb.tif", Expect::kRead, {0, 0}, nullptr},
    {"g3_1d_fill_photo.tif", Expect::kRead, {0, 0}, nullptr},
    {"g3_1d_fill_tiny.tif", Expect::kRead, {0, 0}, nullptr},
    {"g3_1d_mm.tif", Expect::kRead, {300, 300}, nullptr},
    {"g3_1d_photo.tif", Expect::kRead, {0, 0}, nullptr},
    {"g3_1d_strips_mm.tif", Expect::kRead, {300, 300}, nullptr},
    {"g3_1d_tiny.tif", Expect::kRead, {0, 0}, nullptr},
    {"g3_2d_fill_photo.tif", Expect::kRead, {0, 0}, nullptr},
    {"g3_2d_lsb_tiny.tif", Expect::kRead, {0, 0}, nullptr},
    {"g3_2d_strips_mm.tif", Expect::kRead, {300, 300}, nullptr},
    {"g3_2d_tiny.tif", Expect::kRead, {0, 0}, nullptr},
    {"g3_fax2d_mm.tif", Expect::kRead, {204, 98}, nullptr},
    {"g3_is_mh_mm.tif", Expect::kRefused, {0, 0}, "too many or too few columns"},
    {"g3_multipage.tif", Expect::kRead, {204, 196}, nullptr},
    {"g3_pixtiff.tif", Expect::kRead, {96, 96}, nullptr},
    {"g3_test_mm.tif", Expect::kRead, {204, 98}, nullptr},
    {"g4_1x65537.tif", Expect::kRead, {0, 0}, nullptr},
    {"g4_5pages.tif", Expect::kRead, {300, 300}, nullptr},
    {"g4_a4.tif", Expect::kRead, {300, 300}, nullptr},
    {"g4_ccitt1_lsb.tif", Expect::kRead, {200, 200}, nullptr},
    {"g4_ccitt4_lsb.tif", Expect::kRead, {200, 200}, nullptr},
    {"g4_cm_red.tif", Expect::kRead, {314.96 * kCm, 314.96 * kCm}, nullptr},
    {"g4_dupbps.tif", Expect::kRefused, {0, 0}, "too many or too few rows"},
    {"g4_dupwidth.tif", Expect::kRefused, {0, 0}, "undecipherable or illegal raster data"},
    {"g4_fewrows.tif", Expect::kRefused, {0, 0}, "too many or too few rows"},
    {"g4_fillorder2.tif", Expect::kRead, {300, 300}, nullptr},
    {"g4_icc_lsb.tif", Expect::kRead, {300, 300}, nullptr},
    {"g4_im.tif", Expect::kRead, {0, 0}, nullptr},
    {"g4_mib_mm.tif", Expect::kRead, {300, 300}, nullptr},
    {"g4_mib_mm2.tif", Expect::kRead, {0, 0}, nullptr},
    {"g4_mm.tif", Expect::kRead, {300, 300}, nullptr},
    {"g4_multi.tif", Expect::kRead, {400, 400}, nullptr},
    {"g4_noeof_mm.tif", Expect::kRead, {0, 0}, nullptr},
    {"g4_nophoto.tif", Expect::kReadPillow, {0, 0}, nullptr},
    {"g4_orient6.tif", Expect::kRead, {96, 96}, nullptr},
    {"g4_pal_slim.tif", Expect::kReadPalette, {1, 1}, nullptr},
    {"g4_photo.tif", Expect::kRead, {0, 0}, nullptr},
    {"g4_plexus.tif", Expect::kRead, {96, 96}, nullptr},
    {"g4_sbc0.tif", Expect::kRead, {300, 300}, nullptr},
    {"g4_strips_mm.tif", Expect::kRead, {300, 300}, nullptr},
    {"g4_tiny.tif", Expect::kRead, {0, 0}, nullptr},
    {"gray8.tif", Expect::kRefused, {0, 0}, "bad header data"},
    {"gray8_mask.tif", Expect::kRefused, {0, 0}, "bad header data"},
    {"hopper_g4.tif", Expect::kRead, {37.79 * kCm, 37.79 * kCm}, nullptr},
    {"hopper_g4_500.tif", Expect::kRead, {37.79 * kCm, 37.79 * kCm}, nullptr},
    {"lzw1_mm.tif", Expect::kRead, {300, 300}, nullptr},
    {"mh_2page.tif", Expect::kRead, {100, 100}, nullptr},
    {"mh_fax.tif", Expect::kRead, {204, 98}, nullptr},
    {"none_153.tif", Expect::kRead, {72, 72}, nullptr},
    {"none_640.tif", Expect::kRead, {200, 200}, nullptr},
    {"none_jim.tif", Expect::kRead, {300, 300}, nullptr},
    {"none_mib16.tif", Expect::kRead, {0, 0}, nullptr},
    {"none_mib_empty.tif", Expect::kRefused, {0, 0}, "bad header data"},
    {"none_mib_odd.tif", Expect::kRead, {0, 0}, nullptr},
    {"none_mm_157.tif", Expect::kRead, {0, 0}, nullptr},
    {"pal1_mm_157.tif", Expect::kReadPalette, {0, 0}, nullptr},
    {"pal1_multi.tif", Expect::kReadDarkGreen, {0, 0}, nullptr},
    {"pal4.tif", Expect::kRefused, {0, 0}, "bad header data"},
    {"pb_153.tif", Expect::kRead, {72, 72}, nullptr},
    {"pb_lsb.tif", Expect::kRead, {300, 300}, nullptr},
    {"pb_mib_mm.tif", Expect::kRead, {300, 300}, nullptr},
    {"pb_pal_strips.tif", Expect::kReadPalette, {200, 200}, nullptr},
    {"pport_g4.tif", Expect::kRead, {200, 200}, nullptr},
    {"rgb8.tif", Expect::kRefused, {0, 0}, "bad header data"},
    {"spp2_1bit.tif", Expect::kRefused, {0, 0}, "bad header data"},
    {"thunder4.tif", Expect::kRefused, {0, 0}, "bad header data"},
    {"tile_none_mib.tif", Expect::kRead, {0, 0}, nullptr},
};

std::string referenceCommand(const CorpusFile& f, const fs::path& file) {
  const std::string libtiff = "tifftopnm -quiet -respectfillorder -orientraw " + quoted(file) + " 2>/dev/null";
  switch (f.expect) {
    case Expect::kReadPalette: return libtiff + " | ppmtopgm | pgmtopbm -threshold";
    case Expect::kReadDarkGreen: return libtiff + " | ppmtopgm | pgmtopbm -threshold -value 0.2";
    case Expect::kReadPillow:
      return "/usr/bin/python3 -c 'import sys; from PIL import Image; "
             "Image.open(sys.argv[1]).save(sys.stdout.buffer, \"PPM\")' " + quoted(file);
    default: return libtiff;
  }
}

TEST(RealworldTiff, ReadToLibtiffsPixelsOrRefusedCleanly) {
  const fs::path corpus = REALWORLD_DIR;
  if (!fs::is_directory(corpus)) GTEST_SKIP() << "RealworldTiff: no corpus at " << corpus.string();
  for (const char* tool : {"tifftopnm", "ppmtopgm", "pgmtopbm"})
    ASSERT_TRUE(toolExists(tool)) << tool << " is missing: install libtiff-tools and netpbm";
  ASSERT_EQ(runShell("/usr/bin/python3 -c 'import PIL' 2>/dev/null"), 0) << "install python3-pil";
  ScratchDir dir("vantrel-realworld");
  ASSERT_TRUE(dir.ok());
  for (const CorpusFile& f : kFiles) {
    SCOPED_TRACE(f.name);
    const fs::path file = corpus / f.name;
    ASSERT_TRUE(fs::exists(file));
    if (f.expect == Expect::kRefused) {
      const fs::path out = dir.path() / "out.tif";
      int status = -1;
      const std::string said =
          capture("cd " + quoted(dir.path()) + " && " + VANTREL_EXE + " " + quoted(file) + " out.tif 2>&1", &status);
      EXPECT_EQ(status, 0);
      EXPECT_NE(said.find(std::string("vantrel: ") + f.message + "\n"), std::string::npos) << said;
      EXPECT_FALSE(fs::exists(out));
      continue;
    }
    const fs::path want = dir.path() / "want.pbm";
    ASSERT_EQ(runShell(referenceCommand(f, file) + " > " + quoted(want)), 0);
    Bitmap reference;
    ASSERT_TRUE(readPnm(want, &reference));
    const testread::PageRecord r = testread::readBack(file);
    ASSERT_EQ(r.open, 0);
    EXPECT_EQ(r.end, kRioEndOfPage);
    EXPECT_EQ(difference(r.bitmap(), reference), "equal");
    EXPECT_NEAR(r.xDpi, f.dpi[0], 0.02);
    EXPECT_NEAR(r.yDpi, f.dpi[1], 0.02);
  }
}

// The documents of several pages, read page by page as libtiff reads them: each page that tiffsplit cuts
// out reads to the pixels of the same page read through the chain (mh_2page's second page is 8-bit grey,
// refused as the one-page grey files are; pal1_multi's third page maps 0 to pure blue, whose grey lies
// below the dark green's threshold, so its pages are thresholded below both colours).
TEST(RealworldTiff, EveryPageOfADocumentReadsToLibtiffsPixels) {
  const fs::path corpus = REALWORLD_DIR;
  if (!fs::is_directory(corpus)) GTEST_SKIP() << "RealworldTiff: no corpus at " << corpus.string();
  for (const char* tool : {"tiffsplit", "tifftopnm", "ppmtopgm", "pgmtopbm"})
    ASSERT_TRUE(toolExists(tool)) << tool << " is missing: install libtiff-tools and netpbm";
  ScratchDir dir("vantrel-realworld-pages");
  ASSERT_TRUE(dir.ok());
  const struct {
    const char* name;
    int32_t pages;
    int32_t greyPage;  // from 0; -1: none
  } documents[] = {{"g4_multi.tif", 3, -1}, {"g3_multipage.tif", 3, -1}, {"mh_2page.tif", 2, 1},
                   {"pal1_multi.tif", 3, -1}, {"g4_5pages.tif", 5, -1}};
  for (const auto& d : documents) {
    SCOPED_TRACE(d.name);
    const CorpusFile* f = nullptr;
    for (const CorpusFile& c : kFiles)
      if (std::string(c.name) == d.name) f = &c;
    ASSERT_NE(f, nullptr);
    const fs::path file = corpus / d.name;
    const fs::path parts = dir.path() / d.name;
    fs::create_directories(parts);
    ASSERT_EQ(runShell("cd " + quoted(parts) + " && tiffsplit " + quoted(file) + " part"), 0);
    const char* suffixes[] = {"aaa", "aab", "aac", "aad", "aae"};
    for (int32_t page = 0; page < d.pages; ++page) {
      SCOPED_TRACE("page " + std::to_string(page + 1));
      testread::ReadOptions options;
      options.page = page;
      if (page == d.greyPage) {
        EXPECT_EQ(testread::readBack(file, 0, options).open, kRioBadHeader);
        continue;
      }
      const fs::path want = parts / "want.pbm";
      const fs::path part = parts / (std::string("part") + suffixes[page] + ".tif");
      const std::string reference = f->expect == Expect::kReadDarkGreen
                                        ? "tifftopnm -quiet " + quoted(part) + " | ppmtopgm | pgmtopbm -threshold -value 0.1"
                                        : referenceCommand(*f, part);
      ASSERT_EQ(runShell(reference + " > " + quoted(want)), 0);
      Bitmap libtiff;
      ASSERT_TRUE(readPnm(want, &libtiff));
      const testread::PageRecord r = testread::readBack(file, 0, options);
      ASSERT_EQ(r.open, 0);
      EXPECT_EQ(r.end, kRioEndOfPage);
      EXPECT_EQ(difference(r.bitmap(), libtiff), "equal");
    }
    // The page after the last is none.
    testread::ReadOptions past;
    past.page = d.pages;
    EXPECT_NE(testread::readBack(file, 0, past).open, 0);
  }
}

}  // namespace
}  // namespace vantrel
