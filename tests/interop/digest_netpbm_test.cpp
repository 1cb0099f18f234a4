// The page digest (-digest) against netpbm and sha256sum: the digest is the SHA-256 of the page laid out as a
// raw PBM file, so sha256sum over netpbm's PBM of a file gives it, whatever format and path the page took.
// The page is 1001 pixels wide, so every row ends in padding bits. pnmtotiff, tifftopnm and sha256sum must
// be installed (netpbm, coreutils): a missing tool fails the test.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/shell_folder.h"

namespace vantrel {
namespace {

using namespace testshell;

struct DigestCase {
  const char* label;
  const char* first;   // bash in the folder, printing a digest (or any text)
  const char* second;  // the same for the other side
  bool equal;          // whether the two must agree (else they must differ)
};

// page.pbm (drawgen) and g4.tif (netpbm's Group 4 TIFF of it) are in the folder; `run` is vantrel with
// the digest option, printing the digest alone; `digest` reads a file's page without writing one; `sum` is
// sha256sum's digest of its input.
const std::string kPreamble = std::string("V='") + VANTREL_EXE + "'; " +
                              "run() { \"$V\" \"$@\" -digest 2>&1 >/dev/null | sed -n 's/^vantrel: page sha256 //p'; }; " +
                              "digest() { run \"$1\" /dev/null -rof rnl; }; " +
                              "sum() { sha256sum | cut -c1-64; }; " +
                              // One pixel in the middle of page.pbm turned to its other colour.
                              "flip() { local at=$(($(stat -c %s page.pbm) / 2)) b; b=$(od -An -tu1 -j $at -N1 page.pbm); "
                              "printf \"\\x$(printf %02x $((b ^ 16)))\" | dd of=page.pbm bs=1 seek=$at conv=notrunc "
                              "status=none; }; ";

class PageDigest : public ::testing::TestWithParam<DigestCase> {};

TEST_P(PageDigest, AgreesWithNetpbm) {
  const DigestCase& c = GetParam();
  const fs::path dir = freshFolder("digest_", c.label);
  ASSERT_EQ(runIn(dir, std::string(DRAWGEN_EXE) + " -w 1001 -h 333 -dpi 200 -seed 7 page.pbm >/dev/null && " +
                           "pnmtotiff -g4 page.pbm >g4.tif 2>/dev/null"),
            0)
      << "drawgen or pnmtotiff (netpbm) failed";
  ASSERT_EQ(runIn(dir, kPreamble + "{ " + c.first + "; } >first.txt"), 0) << c.first;
  ASSERT_EQ(runIn(dir, kPreamble + "{ " + c.second + "; } >second.txt"), 0) << c.second;
  const std::string first = load(dir / "first.txt"), second = load(dir / "second.txt");
  EXPECT_FALSE(first.empty());
  if (c.equal)
    EXPECT_EQ(first, second);
  else
    EXPECT_NE(first, second);
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Interop, PageDigest,
    ::testing::Values(
        DigestCase{"NetpbmTiff", "digest g4.tif", "sum <page.pbm", true},
        DigestCase{"TranslationRun", "run g4.tif out.cg4", "sum <page.pbm", true},
        DigestCase{"CalsTranslation", "\"$V\" g4.tif out.cg4 >/dev/null; digest out.cg4", "digest g4.tif", true},
        DigestCase{"TiffReadByNetpbm", "\"$V\" g4.tif out.tif -rof tiffg4 >/dev/null; tifftopnm -quiet out.tif | sum",
                   "digest g4.tif", true},
        // The resize and rotation paths digest the rows they hand to the writer.
        DigestCase{"ResizedRun", "run g4.tif half.tif -rof tiffu -odpi 100", "tifftopnm -quiet half.tif | sum", true},
        DigestCase{"TurnedRun", "run g4.tif turned.tif -rof tiffg4 -rot 90", "tifftopnm -quiet turned.tif | sum",
                   true},
        DigestCase{"OnePixelChanged",
                   "flip && pnmtotiff -g4 page.pbm >flipped.tif 2>/dev/null && digest flipped.tif",
                   "digest g4.tif", false},
        DigestCase{"OnePixelChangedAsNetpbmSeesIt",
                   "flip && pnmtotiff -g4 page.pbm >flipped.tif 2>/dev/null && digest flipped.tif",
                   "sum <page.pbm", true},
        // Hostile: a cut file fails, and a failed run prints no digest.
        DigestCase{"NoDigestOfAFailedRun", "head -c 400 g4.tif >cut.tif; digest cut.tif; echo end", "echo end",
                   true}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace vantrel
