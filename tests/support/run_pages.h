// Pages as lists of black runs, written and read through the library's own writers and readers, for the
// tests that follow lines through a path (import, resize) and compare them run by run.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

#include "rio/rcb.h"
#include "rio/sline.h"
#include "rio/stream.h"

namespace vantrel::testruns {

namespace fs = std::filesystem;

using Runs = std::vector<std::pair<int32_t, int32_t>>;

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

inline Runs toRuns(const int32_t* p) {
  Runs r;
  for (; p[0] != kSlineEnd; p += 2) r.emplace_back(p[0], p[1]);
  return r;
}

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

// Reads a file back through our own readers (format 0: recognise); *end gets the reader's last status.
inline Page readPage(const fs::path& path, RasterFormatId format = 0, RioStatus* end = nullptr) {
  Page page;
  File f(std::fopen(path.c_str(), "rb"));
  if (!f) return page;
  StreamPtr stream(streamOpen(f.get(), "r"));
  RioStatus st = 0;
  RcbPtr rcb(rioOpenRasterRead(stream.get(), format, &st));
  if (!rcb) return page;
  page.width = rioGetWidth(rcb.get());
  page.xDpi = rioGetXDpi(rcb.get());
  page.yDpi = rioGetYDpi(rcb.get());
  while (Sline line = rioReadRasterSline(rcb.get())) {
    page.lines.push_back(toRuns(line));
    rioSwapSlines(rcb.get());
  }
  if (end) *end = rioGetStatus(rcb.get());
  return page;
}

}  // namespace vantrel::testruns
