// TIFF interoperability with libtiff-tools and netpbm: every TIFF we write reads in tiffinfo without a
// word on the error output and converts back to the source pixels with tifftopnm; files pnmtotiff and
// tiffcp make in every compression, strip size, tiling, byte order and bit order read to the source pixels
// with our reader, and what we do not read is refused with the right status. The tools must be installed
// (libtiff-tools, netpbm): a missing tool fails the test.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "tests/support/pbm.h"
#include "tests/support/read_back.h"

namespace vantrel {
namespace {

using namespace testpbm;
using testread::PageRecord;
using testread::readBack;

class TiffTools : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    for (const char* tool : {"tiffinfo", "tiffcp", "tiffdump", "tifftopnm", "pnmtotiff", "pgmramp"})
      ASSERT_TRUE(toolExists(tool)) << tool << " is missing: install libtiff-tools and netpbm";
  }

  // The pixels tifftopnm makes of a TIFF (tiles first become strips through tiffcp).
  Bitmap throughLibtiff(const fs::path& tiff, std::string* errors) {
    const fs::path strips = dir_ / "strips.tif";
    const fs::path pnm = dir_ / "back.pnm";
    *errors = capture("tiffcp -s -c none " + quoted(tiff) + " " + quoted(strips) + " 2>&1");
    *errors += capture("tifftopnm -quiet " + quoted(strips) + " 2>&1 > " + quoted(pnm));
    Bitmap back;
    if (!readPnm(pnm, &back)) *errors += "tifftopnm made no readable PBM";
    return back;
  }

  ScratchDir dir_{"vantrel-tiff-tools"};
};

// ---- our files in libtiff

struct WriteCase {
  const char* name;
  RasterFormatId id;
  int32_t width;
  int32_t height;
  const char* rowsPerStrip;  // the settings' rows per strip, nullptr: unset
};

class TiffWrittenForLibtiff : public TiffTools, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(TiffWrittenForLibtiff, TiffinfoIsQuietAndThePixelsComeBack) {
  const WriteCase& c = GetParam();
  RioSettings settings;
  if (c.rowsPerStrip) settings.tiffStrips = c.rowsPerStrip;
  const Bitmap page = makePage(c.width, c.height, 0x71FF + c.id * 31 + c.width + c.height);
  const fs::path ours = dir_ / "ours.tif";
  ASSERT_EQ(writeThroughLibrary(ours, c.id, page, 300, &settings), 0);
  int status = 0;
  const std::string warnings = capture("tiffinfo -D " + quoted(ours) + " 2>&1 >/dev/null", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(warnings, "") << "tiffinfo -D on the error output";
  const std::string dump = capture("tiffdump " + quoted(ours) + " 2>&1");
  EXPECT_EQ(dump.find("rror"), std::string::npos) << dump;
  std::string errors;
  const Bitmap back = throughLibtiff(ours, &errors);
  EXPECT_EQ(errors, "");
  EXPECT_EQ(difference(back, page), "equal");
  // Reading the tool's uncompressed copy with us closes the circle.
  EXPECT_EQ(difference(readBack(dir_ / "strips.tif").bitmap(), page), "equal");
}

INSTANTIATE_TEST_SUITE_P(
    Ids, TiffWrittenForLibtiff,
    ::testing::Values(WriteCase{"Tiff", 10, 1728, 300, nullptr}, WriteCase{"TiffOdd", 10, 1733, 77, nullptr},
                      WriteCase{"Opt", 15, 1733, 450, "64"}, WriteCase{"Strips17", 17, 1000, 333, "50"},
                      WriteCase{"Uncompressed", 22, 1733, 120, "16"}, WriteCase{"Group3", 23, 1728, 450, nullptr},
                      WriteCase{"Group3Small", 23, 999, 100, "7"}, WriteCase{"Group3OneRow", 23, 64, 9, "1"},
                      WriteCase{"Tiled100", 27, 1300, 100, nullptr}, WriteCase{"Tiled512", 27, 1000, 512, nullptr},
                      WriteCase{"Tiled700", 27, 1300, 700, nullptr}, WriteCase{"TiledOneRow", 27, 600, 1, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- libtiff's files with us

struct ReadCase {
  const char* name;
  const char* pnmtotiff;  // options of pnmtotiff
  const char* tiffcp;     // options of tiffcp; nullptr: the pnmtotiff file as it is
  bool minIsBlack;
};

class TiffFromLibtiff : public TiffTools, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(TiffFromLibtiff, ReadsToTheSourcePixels) {
  const ReadCase& c = GetParam();
  for (auto [width, height] : {std::pair{1000, 120}, std::pair{1733, 77}}) {
    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
    const Bitmap page = makePage(width, height, 0x5EED + width);
    ASSERT_TRUE(writePbm(dir_ / "in.pbm", page));
    const fs::path base = dir_ / "base.tif";
    const fs::path file = dir_ / "in.tif";
    ASSERT_EQ(runShell(std::string("pnmtotiff ") + c.pnmtotiff + " " + quoted(dir_ / "in.pbm") + " > " +
                       quoted(base) + " 2>/dev/null"),
              0);
    if (c.tiffcp)
      ASSERT_EQ(runShell(std::string("tiffcp ") + c.tiffcp + " " + quoted(base) + " " + quoted(file)), 0);
    else
      fs::copy_file(base, file, fs::copy_options::overwrite_existing);
    const PageRecord r = readBack(file);
    ASSERT_EQ(r.open, 0);
    EXPECT_EQ(r.format, 10);
    EXPECT_EQ(r.end, kRioEndOfPage);
    EXPECT_EQ(difference(r.bitmap(), page), "equal");
    // And through our writer back into libtiff.
    const fs::path ours = dir_ / "ours.tif";
    ASSERT_EQ(writeThroughLibrary(ours, 10, r.bitmap(), 200), 0);
    std::string errors;
    EXPECT_EQ(difference(throughLibtiff(ours, &errors), page), "equal");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Options, TiffFromLibtiff,
    ::testing::Values(
        ReadCase{"Plain", "", nullptr, false}, ReadCase{"Group4", "", "-c g4", false},
        ReadCase{"Group4Strips", "", "-c g4 -r 7", false}, ReadCase{"Group3", "", "-c g3", false},
        ReadCase{"Group3Strips", "", "-c g3 -r 5", false}, ReadCase{"Group3Fill", "", "-c g3:fill -r 16", false},
        ReadCase{"PackBits", "", "-c packbits", false}, ReadCase{"PackBitsStrips", "", "-c packbits -r 3", false},
        ReadCase{"None", "", "-c none", false}, ReadCase{"NoneRowStrips", "", "-c none -r 1", false},
        ReadCase{"TilesGroup4", "", "-t -w 256 -l 256 -c g4", false},
        ReadCase{"TilesGroup4Small", "", "-t -w 128 -l 32 -c g4", false},
        ReadCase{"TilesNone", "", "-t -w 128 -l 64 -c none", false},
        ReadCase{"TilesPackBits", "", "-t -w 256 -l 16 -c packbits", false},
        ReadCase{"BigEndianGroup4", "", "-B -c g4 -r 9", false}, ReadCase{"BigEndianNone", "", "-B -c none", false},
        ReadCase{"BigEndianTiles", "", "-B -t -w 512 -l 48 -c g4", false},
        ReadCase{"LsbFirstGroup4", "", "-f lsb2msb -c g4", false},
        ReadCase{"LsbFirstGroup3", "", "-f lsb2msb -c g3 -r 11", false},
        ReadCase{"LsbFirstNone", "", "-f lsb2msb -c none", false},
        ReadCase{"LsbFirstPackBits", "", "-f lsb2msb -c packbits -r 4", false},
        ReadCase{"LsbFirstTiles", "", "-f lsb2msb -t -w 256 -l 64 -c g4", false},
        ReadCase{"MinIsBlack", "-minisblack", nullptr, true},
        ReadCase{"MinIsBlackGroup4", "-minisblack", "-c g4 -r 13", true},
        ReadCase{"PnmtotiffGroup4", "-g4", nullptr, false}, ReadCase{"PnmtotiffGroup3", "-g3", nullptr, false},
        ReadCase{"PnmtotiffPackBits", "-packbits -rowsperstrip 10", nullptr, false},
        ReadCase{"Group3TwoDimensional", "", "-c g3:2d", false},
        ReadCase{"Group3TwoDimensionalFillStrips", "", "-c g3:2d:fill -r 7", false},
        ReadCase{"LsbFirstGroup3TwoDimensional", "", "-f lsb2msb -c g3:2d -r 13", false},
        ReadCase{"Lzw", "", "-c lzw", false}, ReadCase{"LzwStrips", "", "-c lzw -r 3", false},
        ReadCase{"LsbFirstLzw", "", "-f lsb2msb -c lzw -r 8", false},
        ReadCase{"TilesLzw", "", "-t -w 128 -l 32 -c lzw", false},
        ReadCase{"Deflate", "", "-c zip", false}, ReadCase{"DeflateStrips", "", "-c zip -r 5", false},
        ReadCase{"TilesDeflate", "", "-t -w 256 -l 16 -c zip", false},
        ReadCase{"BigEndianDeflate", "", "-B -c zip -r 10", false}),
    [](const auto& info) { return std::string(info.param.name); });

struct RefusedCase {
  const char* name;
  const char* command;  // makes in.tif from in.pbm (or in.pgm)
  RioStatus open;
};

class TiffRefused : public TiffTools, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(TiffRefused, OpenFailsWithTheStatus) {
  const Bitmap page = makePage(300, 40, 0xBAD);
  ASSERT_TRUE(writePbm(dir_ / "in.pbm", page));
  std::string command = GetParam().command;
  for (std::string key : {"IN", "OUT", "DIR"}) {
    const std::string value = key == "IN" ? quoted(dir_ / "in.pbm") : key == "OUT" ? quoted(dir_ / "in.tif")
                                                                                   : quoted(dir_.path());
    for (size_t at; (at = command.find("$" + key)) != std::string::npos;) command.replace(at, key.size() + 1, value);
  }
  ASSERT_EQ(runShell(command), 0) << command;
  EXPECT_EQ(readBack(dir_ / "in.tif").open, GetParam().open);
}

INSTANTIATE_TEST_SUITE_P(
    Files, TiffRefused,
    ::testing::Values(
        RefusedCase{"LzwPredictor2",
                    "pnmtotiff $IN > $DIR/b.tif && tiffcp -c lzw $DIR/b.tif $OUT && tiffset -s 317 2 $OUT",
                    kRioNotImplemented},
        RefusedCase{"DeflatePredictor2",
                    "pnmtotiff $IN > $DIR/b.tif && tiffcp -c zip $DIR/b.tif $OUT && tiffset -s 317 2 $OUT",
                    kRioNotImplemented},
        RefusedCase{"EightBitGrey", "pgmramp -lr 64 16 > $DIR/g.pgm && pnmtotiff $DIR/g.pgm > $OUT 2>/dev/null",
                    kRioBadHeader}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- through the program

TEST_F(TiffTools, ProgramTranslatesTiffToCalsAndNativeAndBack) {
  const Bitmap page = makePage(1733, 211, 0xC115);
  ASSERT_TRUE(writePbm(dir_ / "in.pbm", page));
  ASSERT_EQ(runShell("pnmtotiff " + quoted(dir_ / "in.pbm") + " > " + quoted(dir_ / "base.tif") +
                     " && tiffcp -c g4 -r 50 " + quoted(dir_ / "base.tif") + " " + quoted(dir_ / "in.tif")),
            0);
  const std::string cd = "cd " + quoted(dir_.path()) + " && " + VANTREL_EXE;
  // The program exits with 1 when the translation is complete.
  for (const char* middle : {"mid.cg4", "mid.g4", "mid.rnl"}) {
    SCOPED_TRACE(middle);
    EXPECT_EQ(runShell(cd + " in.tif " + middle + " > /dev/null"), 1);
    for (const char* out : {"out.tif", "out.tiffg3", "out.tiffu", "out.tiled", "out.opt"}) {
      SCOPED_TRACE(out);
      std::error_code ec;
      fs::remove(dir_ / out, ec);
      EXPECT_EQ(runShell(cd + " " + middle + " " + out + " > /dev/null"), 1);
      std::string errors;
      EXPECT_EQ(difference(throughLibtiff(dir_ / out, &errors), page), "equal");
      EXPECT_EQ(errors, "");
    }
  }
}

}  // namespace
}  // namespace vantrel
