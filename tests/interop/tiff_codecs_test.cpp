// The Group 3 two-dimensional, LZW and Deflate decoders against libtiff: strips and tiles that tiffcp
// codes from netpbm pages, and the real files beside the checkout, decode strip by strip to the pixels
// tifftopnm gives. The tools must be installed (libtiff-tools, netpbm): a missing tool fails the test; the
// real files are skipped where the checkout has none beside it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/pbm.h"
#include "tests/support/tiff_layout.h"

namespace vantrel {
namespace {

using namespace testpbm;
using testtiff::SegmentDecoder;
using testtiff::TiffLayout;

struct Decoded {
  Bitmap page;
  RioStatus status = kRioOk;
  std::string where;  // the strip or tile and row of a failure
};

// Every strip or tile decoded into a page (1 = black); `rowBytes` > 0 pulls each row in pieces that size.
Decoded decodePage(const std::vector<uint8_t>& file, const TiffLayout& layout, int32_t pieceBytes = 0) {
  Decoded d;
  d.page = Bitmap(static_cast<int32_t>(layout.width), static_cast<int32_t>(layout.height));
  testtiff::MemoryStream stream(file);
  SegmentDecoder decoder(layout);
  const uint32_t across = layout.tiled() ? (layout.width + layout.tileWidth - 1) / layout.tileWidth : 1;
  const auto segmentWidth = static_cast<int32_t>(layout.segmentWidth());
  std::vector<uint8_t> row(static_cast<size_t>(segmentWidth + 7) / 8);
  for (size_t i = 0; i < layout.offsets.size() && d.status == kRioOk; ++i) {
    const uint32_t top = static_cast<uint32_t>(i / across) * layout.segmentRows();
    const uint32_t left = static_cast<uint32_t>(i % across) * layout.tileWidth;
    if (streamSeek(stream.get(), layout.offsets[i]) != 0) {
      d.status = kRioStreamIo;
      break;
    }
    d.status = decoder.start(layout.byteCounts[i]);
    const uint32_t bottom = std::min(top + layout.segmentRows(), layout.height);
    for (uint32_t y = top; y < bottom && d.status == kRioOk; ++y) {
      d.status = pieceBytes > 0 ? decoder.nextInPieces(stream.get(), row.data(), pieceBytes)
                                : decoder.next(stream.get(), row.data());
      if (d.status != kRioOk) d.where = "segment " + std::to_string(i) + " row " + std::to_string(y);
      for (int32_t x = 0; x < segmentWidth && left + x < layout.width; ++x)
        if (((row[x / 8] >> (7 - x % 8)) & 1) != (layout.photometric == 1))
          d.page.set(static_cast<int32_t>(left) + x, static_cast<int32_t>(y));
    }
  }
  return d;
}

// What libtiff makes of the file's first page, unturned.
bool libtiffPixels(const fs::path& tiff, const fs::path& pnm, Bitmap* page) {
  return runShell("tifftopnm -quiet -respectfillorder -orientraw " + quoted(tiff) + " > " + quoted(pnm)) ==
             0 &&
         readPnm(pnm, page);
}

void expectDecodesLikeLibtiff(const fs::path& tiff, const fs::path& pnm, int32_t pieceBytes = 0) {
  const std::vector<uint8_t> bytes = readBytes(tiff);
  TiffLayout layout;
  ASSERT_TRUE(testtiff::parseLayout(bytes, &layout));
  Bitmap want;
  ASSERT_TRUE(libtiffPixels(tiff, pnm, &want));
  const Decoded got = decodePage(bytes, layout, pieceBytes);
  EXPECT_EQ(got.status, kRioOk) << got.where;
  EXPECT_EQ(difference(got.page, want), "equal");
}

// ---- pages tiffcp codes

struct CodedCase {
  const char* name;
  const char* tiffcp;  // options
  int32_t width, height;
  bool noise = false;  // random pixels: short strings, so the LZW table fills and clears again and again
};

void PrintTo(const CodedCase& c, std::ostream* os) {
  *os << c.name;
}

class TiffcpCoded : public ::testing::TestWithParam<CodedCase> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    for (const char* tool : {"tiffcp", "tifftopnm", "pnmtotiff"})
      ASSERT_TRUE(toolExists(tool)) << tool << " is missing: install libtiff-tools and netpbm";
  }

  // The case's page, through pnmtotiff and tiffcp; the coded file's path.
  fs::path coded() {
    const CodedCase& c = GetParam();
    uint64_t seed = 0x2D + static_cast<uint64_t>(c.width) * c.height;
    Bitmap page = makePage(c.width, c.height, seed);
    if (c.noise)
      for (uint8_t& b : page.bits) b = static_cast<uint8_t>(splitmix(seed));
    EXPECT_TRUE(writePbm(dir_ / "page.pbm", page));
    const fs::path out = dir_ / "coded.tif";
    EXPECT_EQ(
        runShell("pnmtotiff " + quoted(dir_ / "page.pbm") + " > " + quoted(dir_ / "page.tif") +
                 " 2>/dev/null && tiffcp " + c.tiffcp + " " + quoted(dir_ / "page.tif") + " " + quoted(out)),
        0);
    return out;
  }

  ScratchDir dir_{"vantrel-tiff-codecs"};
};

TEST_P(TiffcpCoded, DecodesToLibtiffsPixels) {
  expectDecodesLikeLibtiff(coded(), dir_ / "back.pnm");
}

const CodedCase kCodedCases[] = {
    {"G3TwoD", "-c g3:2d", 1728, 300},
    {"G3TwoDFill", "-c g3:2d:fill", 1728, 300},
    {"G3TwoDStrips", "-c g3:2d -r 7", 333, 100},
    {"G3TwoDLsbFirstBigEndian", "-c g3:2d:fill -f lsb2msb -B", 801, 120},
    {"G3TwoDTiles", "-c g3:2d -t -w 64 -l 48", 300, 100},
    {"G3TwoDNoise", "-c g3:2d", 500, 60, true},
};

INSTANTIATE_TEST_SUITE_P(Libtiff, TiffcpCoded, ::testing::ValuesIn(kCodedCases),
                         [](const auto& info) { return std::string(info.param.name); });

// LZW and Deflate rows taken in pieces of 1 and 5 bytes too: what a string or an inflate leaves over
// carries to the next call.
class TiffcpByteCoded : public TiffcpCoded {};

TEST_P(TiffcpByteCoded, DecodesToLibtiffsPixelsWholeAndInPieces) {
  const fs::path file = coded();
  for (int32_t piece : {0, 1, 5}) {
    SCOPED_TRACE("pieces of " + std::to_string(piece) + " bytes (0: whole rows)");
    expectDecodesLikeLibtiff(file, dir_ / "back.pnm", piece);
  }
}

const CodedCase kByteCodedCases[] = {
    {"Lzw", "-c lzw", 1728, 600},
    {"LzwNoise", "-c lzw", 4000, 200, true},
    {"LzwStrips", "-c lzw -r 3", 555, 40},
    {"LzwLsbFirst", "-c lzw -f lsb2msb", 700, 90},
    {"LzwTiles", "-c lzw -t -w 96 -l 32", 250, 70},
    {"Zip", "-c zip", 1728, 600},
    {"ZipBest", "-c zip:p9", 1000, 300},
    {"ZipNoise", "-c zip", 2000, 100, true},
    {"ZipStrips", "-c zip -r 5", 401, 44},
    {"ZipLsbFirst", "-c zip -f lsb2msb", 640, 80},
    {"ZipTiles", "-c zip -t -w 128 -l 16", 300, 50},
};

INSTANTIATE_TEST_SUITE_P(Libtiff, TiffcpByteCoded, ::testing::ValuesIn(kByteCodedCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- real files written by other programs

class RealTiffCoded : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    ASSERT_TRUE(toolExists("tifftopnm")) << "tifftopnm is missing: install netpbm";
  }
  ScratchDir dir_{"vantrel-tiff-real"};
};

TEST_P(RealTiffCoded, DecodesToLibtiffsPixels) {
  const fs::path file = fs::path(VANTREL_SOURCE_DIR) / "../shared/realworld" / GetParam();
  if (!fs::exists(file)) GTEST_SKIP() << "no real files beside the checkout: " << file.parent_path();
  expectDecodesLikeLibtiff(file, dir_ / "back.pnm");
}

INSTANTIATE_TEST_SUITE_P(Corpus, RealTiffCoded,
                         ::testing::Values("g3_2d_tiny.tif", "g3_2d_lsb_tiny.tif", "g3_2d_fill_photo.tif",
                                           "g3_2d_strips_mm.tif", "lzw1_mm.tif", "deflate1.tif"),
                         [](const auto& info) {
                           std::string name = info.param;
                           return name.substr(0, name.find('.'));
                         });

}  // namespace
}  // namespace vantrel
