// Our PostScript rendered by Ghostscript at 300 dots per inch, where one unit of the program is one device
// pixel. Row r of an image of height H is stroked along y = 75 + H - r and Ghostscript paints the device
// row just below that line; the run [s, e) is stroked from x = 75 + s - 1 to 75 + e - 1, which covers the
// device columns 74 + s to 73 + e, and Ghostscript may also paint the column at the segment's right end.
// Every other pixel of the page must be white. The test fails when gs is missing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "formats/registry.h"
#include "formats/open.h"
#include "rio/rcb.h"

namespace vantrel {
namespace {

constexpr int kOffset = 75;
using Runs = std::vector<std::pair<int32_t, int32_t>>;

struct Page {
  int32_t width = 0;
  std::vector<Runs> rows;
};

struct Bitmap {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bits;  // rows of (width + 7) / 8 bytes, most significant bit leftmost, 1 = black
  bool black(int x, int y) const {
    return (bits[static_cast<size_t>(y) * ((width + 7) / 8) + static_cast<size_t>(x / 8)] >> (7 - x % 8)) & 1;
  }
};

// Reads a binary PBM (P4) file.
bool readPbm(const std::string& path, Bitmap* out) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t at = 0;
  std::vector<std::string> tokens;
  while (tokens.size() < 3 && at < data.size()) {
    if (data[at] == '#') {
      while (at < data.size() && data[at] != '\n') ++at;
    } else if (std::isspace(static_cast<unsigned char>(data[at]))) {
      ++at;
    } else {
      std::string t;
      while (at < data.size() && !std::isspace(static_cast<unsigned char>(data[at]))) t += data[at++];
      tokens.push_back(t);
    }
  }
  if (tokens.size() != 3 || tokens[0] != "P4") return false;
  ++at;  // the single white-space byte before the raster
  out->width = std::stoi(tokens[1]);
  out->height = std::stoi(tokens[2]);
  const size_t bytes = static_cast<size_t>((out->width + 7) / 8) * static_cast<size_t>(out->height);
  if (data.size() - at < bytes) return false;
  out->bits.assign(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + bytes));
  return true;
}

class GhostscriptInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "vantrel-gs-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  void writePostScript(const Page& page, const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    RasterStream* out = streamOpen(f, "w");
    RioStatus st = 0;
    RCB* rcb = rioOpenRasterWrite(out, page.width, static_cast<int32_t>(page.rows.size()), kFormatPostScript, &st);
    ASSERT_NE(rcb, nullptr) << st;
    rcb->xDpi = rcb->yDpi = 400;  // the drawing does not depend on the resolution
    for (const Runs& row : page.rows) {
      int32_t* p = rcb->curSline;
      for (auto [s, e] : row) {
        *p++ = s;
        *p++ = e;
      }
      p[0] = p[1] = kSlineEnd;
      ASSERT_EQ(rioWriteRasterSline(rcb), kRioOk);
    }
    EXPECT_EQ(rcb->status, kRioOk);
    (void)rioCloseRaster(rcb);
    EXPECT_EQ(streamClose(out), 1);
    std::fclose(f);
  }

  // Renders the page and checks every device pixel against the coordinate rules.
  void checkRendering(const Page& page) {
    ASSERT_EQ(std::system("command -v gs >/dev/null 2>&1"), 0) << "Ghostscript (gs) is not installed";
    const std::string ps = dir_ + "/page.ps";
    const std::string pbm = dir_ + "/page.pbm";
    const std::string log = dir_ + "/gs.log";
    writePostScript(page, ps);
    const std::string command = "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pbmraw -r300 -sOutputFile=" + pbm +
                                " " + ps + " >" + log + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << "gs failed, see its output";
    std::ifstream logFile(log);
    const std::string messages((std::istreambuf_iterator<char>(logFile)), std::istreambuf_iterator<char>());
    EXPECT_EQ(messages, "") << "gs reported problems";
    Bitmap rendered;
    ASSERT_TRUE(readPbm(pbm, &rendered));
    const int height = static_cast<int>(page.rows.size());
    ASSERT_GE(rendered.width, kOffset + page.width);
    ASSERT_GE(rendered.height, kOffset + height);

    // Device row of image row r, counted from the top: the row below the line y = 75 + H - r.
    const int firstRow = rendered.height - kOffset - height;
    int64_t blackSeen = 0;
    int64_t mismatches = 0;
    std::vector<int8_t> expected(static_cast<size_t>(rendered.width));  // 0 white, 1 black, 2 either
    for (int y = 0; y < rendered.height; ++y) {
      std::fill(expected.begin(), expected.end(), 0);
      const int r = y - firstRow;
      if (r >= 0 && r < height) {
        for (auto [s, e] : page.rows[static_cast<size_t>(r)]) {
          for (int x = kOffset - 1 + s; x < kOffset - 1 + e; ++x) expected[static_cast<size_t>(x)] = 1;
          int8_t& end = expected[static_cast<size_t>(kOffset - 1 + e)];
          if (end == 0) end = 2;
        }
      }
      for (int x = 0; x < rendered.width; ++x) {
        const bool black = rendered.black(x, y);
        blackSeen += black;
        const int8_t want = expected[static_cast<size_t>(x)];
        if ((want == 1 && !black) || (want == 0 && black)) {
          if (++mismatches <= 10)
            ADD_FAILURE() << "device pixel (" << x << ", " << y << ") is " << (black ? "black" : "white")
                          << ", image row " << r << " column " << x - (kOffset - 1);
        }
      }
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(blackSeen, 0);
  }

  std::string dir_;
};

Page randomPage(uint32_t seed, int32_t width, int height) {
  std::mt19937 rng(seed);
  Page page{width, std::vector<Runs>(static_cast<size_t>(height))};
  for (Runs& row : page.rows) {
    if (rng() % 7 == 0) continue;  // some white rows
    int32_t x = static_cast<int32_t>(rng() % 30);
    while (x < width) {
      const int32_t length = 1 + static_cast<int32_t>(rng() % (rng() % 5 == 0 ? 200 : 10));
      row.emplace_back(x, std::min(x + length, width));
      x += length + 1 + static_cast<int32_t>(rng() % 60);
    }
  }
  return page;
}

// A frame, a grid of vertical and horizontal lines, filled boxes and single pixels in the corners.
Page boxesAndLines(int32_t width, int height) {
  Page page{width, std::vector<Runs>(static_cast<size_t>(height))};
  for (int r = 0; r < height; ++r) {
    Runs& row = page.rows[static_cast<size_t>(r)];
    if (r == 0 || r == height - 1 || r % 50 == 25) {
      row.emplace_back(0, width);
      continue;
    }
    row.emplace_back(0, 1);
    for (int32_t x = 40; x < width - 40; x += 40) {
      if (r >= 100 && r < 140 && x == 200) {
        row.emplace_back(x, x + 60);  // a filled box
        x += 40;
        continue;
      }
      row.emplace_back(x, x + 1 + (x / 40) % 3);
    }
    row.emplace_back(width - 1, width);
  }
  return page;
}

TEST_F(GhostscriptInterop, SeededRandomRuns) {
  checkRendering(randomPage(20240611, 1500, 300));
}
TEST_F(GhostscriptInterop, BoxesAndLines) {
  checkRendering(boxesAndLines(900, 400));
}

}  // namespace
}  // namespace vantrel
