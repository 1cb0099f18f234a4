// Pages as lists of black runs, written through the library's own writers, for the tests that follow lines
// through a path (import, resize) and compare them run by run (tests/support/read_back.h reads them back).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

#include "formats/open.h"
#include "rio/rcb.h"
#include "rio/sline.h"
#include "rio/stream.h"
#include "tests/support/read_back.h"

namespace vantrel::testruns {

namespace fs = std::filesystem;

using Runs = testread::Runs;

struct Page {
  int32_t width = 0;
  double xDpi = 0;
  double yDpi = 0;
  std::vector<Runs> lines;
};

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

using testread::toRuns;

// Writes a page through our own writer of `format`.
inline void writePage(const fs::path& path, RasterFormatId format, const Page& page) {
  File f(std::fopen(path.c_str(), "wb"));
  ASSERT_TRUE(f);
  StreamPtr stream(streamOpen(f.get(), "w"));
  RioStatus st = 0;
  RcbPtr rcb(rioOpenRasterWrite(stream.get(), page.width, static_cast<int32_t>(page.lines.size()), format, &st));
  ASSERT_TRUE(rcb) << st;
  (void)rioSetXDpi(rcb.get(), page.xDpi);
  (void)rioSetYDpi(rcb.get(), page.yDpi);
  for (const Runs& line : page.lines) {
    int32_t* out = rcb->curSline;
    for (auto [s, e] : line) *out++ = s, *out++ = e;
    out[0] = out[1] = kSlineEnd;
    ASSERT_EQ(rioWriteRasterSline(rcb.get()), 0);
    rioSwapSlines(rcb.get());
  }
  (void)rioCloseRaster(rcb.release());
  ASSERT_EQ(streamClose(stream.release()), 1);
}

// A page with a frame and a diagonal of dots, so that every line differs from the one above it.
inline Page framedPage(int32_t width, int32_t height, double dpi) {
  Page page{width, dpi, dpi, {}};
  for (int32_t y = 0; y < height; ++y) {
    if (y == 0 || y == height - 1) {
      page.lines.push_back({{0, width}});
      continue;
    }
    const int32_t x = 2 + (y * 7) % (width - 4);
    page.lines.push_back({{0, 1}, {x, x + 1}, {width - 1, width}});
  }
  return page;
}

}  // namespace vantrel::testruns
