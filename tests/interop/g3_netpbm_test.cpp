// Group 3 interoperability with netpbm: pages coded by pbmtog3 decode with our decoder, and pages coded by
// our encoder decode with g3topbm, pixel for pixel. The tools must be installed (netpbm): a missing tool
// fails the test.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codec/fax.h"
#include "rio/sline.h"
#include "rio/stream.h"
#include "tests/support/scratch_dir.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

using Row = std::vector<uint8_t>;  // one byte per pixel, 1 = black
using Page = std::vector<Row>;

uint64_t splitmix(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// A drawing-like page: box outlines, filled boxes, thin lines and dots, and noise rows with short runs.
Page makePage(int32_t width, int32_t height, uint64_t seed) {
  uint64_t s = seed;
  auto below = [&](int64_t n) {
    return n <= 1 ? 0 : static_cast<int32_t>(splitmix(s) % static_cast<uint64_t>(n));
  };
  Page page(height, Row(width, 0));
  auto fill = [&](int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    for (int32_t y = std::max(y0, 0); y < std::min(y1, height); ++y)
      for (int32_t x = std::max(x0, 0); x < std::min(x1, width); ++x) page[y][x] = 1;
  };
  for (int i = 0; i < 6 + width / 200; ++i) {
    const int32_t x = below(width), y = below(height), w = 1 + below(width), h = 1 + below(height);
    const int32_t t = 1 + below(4);
    switch (below(4)) {
      case 0:  // outline
        fill(x, y, x + w, y + t);
        fill(x, y + h - t, x + w, y + h);
        fill(x, y, x + t, y + h);
        fill(x + w - t, y, x + w, y + h);
        break;
      case 1:
        fill(x, y, x + w, y + t);
        break;
      case 2:
        fill(x, y, x + t, y + h);
        break;
      default:
        fill(x, y, x + 1 + below(40), y + 1 + below(20));
        break;
    }
  }
  for (int32_t y = 0; y < height; ++y) {
    if (below(10) == 0)
      for (int32_t x = 0; x < width; x += 1 + below(8)) page[y][x] ^= 1;
    if (below(30) == 0) std::fill(page[y].begin(), page[y].end(), 1);
    if (below(8) == 0) page[y][0] = 1;
    if (below(8) == 0) page[y][width - 1] = 1;
  }
  // Long runs of both colours in every page, for the makeup and extended makeup codes.
  std::fill(page[height / 2].begin(), page[height / 2].end(), 1);
  std::fill(page[height / 3].begin() + width / 5, page[height / 3].end() - width / 7, 1);
  std::fill(page[height / 4].begin(), page[height / 4].end(), 0);
  return page;
}

std::vector<int32_t> runsOf(const Row& row) {
  std::vector<int32_t> r;
  const int32_t width = static_cast<int32_t>(row.size());
  for (int32_t x = 0; x < width;) {
    if (!row[x]) {
      ++x;
      continue;
    }
    const int32_t start = x;
    while (x < width && row[x]) ++x;
    r.insert(r.end(), {start, x});
  }
  r.insert(r.end(), {kSlineEnd, kSlineEnd});
  return r;
}

Row rowOf(const int32_t* runs, int32_t width) {
  Row row(width, 0);
  for (int32_t i = 0; runs[i] != kSlineEnd; i += 2)
    for (int32_t x = runs[i]; x < runs[i + 1]; ++x) row[x] = 1;
  return row;
}

std::vector<uint8_t> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writePbm(const fs::path& path, const Page& page) {
  const int32_t width = static_cast<int32_t>(page[0].size());
  std::ofstream out(path, std::ios::binary);
  out << "P4\n" << width << " " << page.size() << "\n";
  for (const Row& row : page) {
    std::vector<char> bytes((width + 7) / 8, 0);
    for (int32_t x = 0; x < width; ++x)
      if (row[x]) bytes[x / 8] = static_cast<char>(bytes[x / 8] | (0x80 >> (x % 8)));
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
}

// Raw PBM: "P4", width, height (whitespace and comments between), one whitespace byte, packed rows.
bool readPbm(const fs::path& path, Page* page) {
  const std::vector<uint8_t> bytes = readFile(path);
  size_t i = 0;
  auto token = [&]() -> std::string {
    while (i < bytes.size() && (std::isspace(bytes[i]) || bytes[i] == '#')) {
      if (bytes[i] == '#')
        while (i < bytes.size() && bytes[i] != '\n') ++i;
      else
        ++i;
    }
    std::string t;
    while (i < bytes.size() && !std::isspace(bytes[i])) t += static_cast<char>(bytes[i++]);
    return t;
  };
  if (token() != "P4") return false;
  const int32_t width = std::stoi(token()), height = std::stoi(token());
  ++i;
  const size_t rowBytes = (width + 7) / 8;
  if (bytes.size() < i + rowBytes * height) return false;
  page->assign(height, Row(width, 0));
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) (*page)[y][x] = (bytes[i + y * rowBytes + x / 8] >> (7 - x % 8)) & 1;
  return true;
}

class G3Netpbm : public ::testing::TestWithParam<int32_t> {
 protected:
  void SetUp() override {
    for (const char* tool : {"pbmtog3", "g3topbm"})
      ASSERT_EQ(std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()), 0)
          << tool << " is missing: install netpbm";
    ASSERT_TRUE(scratch_.ok());
    dir_ = scratch_.path();
  }
  int run(const std::string& command) { return std::system(command.c_str()); }
  std::string quoted(const fs::path& p) { return "'" + p.string() + "'"; }

  testsupport::ScratchDir scratch_{"vantrel-g3"};
  fs::path dir_;
};

// pbmtog3 writes an end-of-line code before every row and the return-to-control sequence after the last.
TEST_P(G3Netpbm, OurDecoderReadsPbmtog3) {
  const int32_t width = GetParam();
  const int32_t height = width > 2000 ? 40 : 120;
  const Page page = makePage(width, height, 0xFA70000u + static_cast<uint64_t>(width));
  writePbm(dir_ / "in.pbm", page);
  for (const bool reverse : {false, true}) {
    for (const char* align : {"", " -align8"}) {
      const fs::path g3 = dir_ / "out.g3";
      ASSERT_EQ(run(std::string("pbmtog3 -nofixedwidth") + (reverse ? " -reversebits" : "") + align + " " +
                    quoted(dir_ / "in.pbm") + " > " + quoted(g3)),
                0);
      std::FILE* f = std::fopen(g3.c_str(), "rb");
      ASSERT_NE(f, nullptr);
      RasterStream* s = streamOpen(f, "r");
      FaxDecoder d{};
      d.bits.lsbFirst = reverse;
      std::vector<int32_t> line(slineValues(width) + 2, kSlineEnd);
      for (int32_t y = 0; y < height; ++y) {
        ASSERT_EQ(g3DecodeLine(&d, s, width, line.data() + 2), kRioOk) << "row " << y;
        ASSERT_EQ(rowOf(line.data() + 2, width), page[y]) << "row " << y << " reversed " << reverse << align;
      }
      EXPECT_EQ(g3DecodeLine(&d, s, width, line.data() + 2), kRioEndOfPage) << "return-to-control";
      streamClose(s);
      std::fclose(f);
    }
  }
}

TEST_P(G3Netpbm, G3topbmReadsOurEncoder) {
  const int32_t width = GetParam();
  const int32_t height = width > 2000 ? 40 : 120;
  const Page page = makePage(width, height, 0xFA71000u + static_cast<uint64_t>(width));
  for (const bool reverse : {false, true}) {
    const fs::path g3 = dir_ / "ours.g3";
    std::FILE* f = std::fopen(g3.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    RasterStream* s = streamOpen(f, "w");
    FaxEncoder e{};
    e.bits.lsbFirst = reverse;
    for (const Row& row : page) {
      std::vector<int32_t> runs = runsOf(row);
      ASSERT_EQ(g3EncodeLine(&e, s, width, runs.data()), kRioOk);
    }
    ASSERT_EQ(g3EncodeFinish(&e, s), kRioOk);
    ASSERT_EQ(streamClose(s), 1);
    std::fclose(f);
    ASSERT_EQ(run(std::string("g3topbm -stop_error") + (reverse ? " -reversebits " : " ") + quoted(g3) +
                  " > " + quoted(dir_ / "back.pbm")),
              0);
    Page back;
    ASSERT_TRUE(readPbm(dir_ / "back.pbm", &back));
    ASSERT_EQ(back.size(), page.size());
    for (int32_t y = 0; y < height; ++y)
      ASSERT_EQ(back[y], page[y]) << "row " << y << " reversed " << reverse;
  }
}

INSTANTIATE_TEST_SUITE_P(Widths, G3Netpbm, ::testing::Values(1, 7, 100, 1728, 1733, 2700, 5300));

}  // namespace
}  // namespace vantrel
