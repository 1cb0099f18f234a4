// Writes a page of run lists through a write RCB of a device-stream format and captures what reached the
// file: the shared harness of the plotter and printer writer tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "rio/rcb.h"

namespace vantrel::devicetest {

using Runs = std::vector<std::pair<int32_t, int32_t>>;

struct Written {
  RioStatus open = 0;
  std::vector<RioStatus> lineResults;
  RioStatus status = 0;
  RioStatus warning = 0;
  int streamOk = -1;
  std::vector<uint8_t> bytes;
  std::string text;  // the same bytes, for text streams
};

inline size_t refuseEverything(const void*, size_t, size_t, void*) { return 0; }

struct PageSetup {
  double xDpi = 200;
  double yDpi = 200;
  int32_t xExtent = 0;
  int32_t yExtent = 0;
  int32_t height = -1;  // the number of rows unless given
  StreamWriteFn sink = nullptr;
  void* sinkContext = nullptr;
};

inline Written writePage(RasterFormatId id, int32_t width, const std::vector<Runs>& rows,
                         const PageSetup& setup = {}) {
  Written w;
  std::FILE* f = std::tmpfile();
  RasterStream* out = streamOpen(f, "w");
  if (setup.sink) {
    EXPECT_EQ(streamSetWriteCallback(out, setup.sink, setup.sinkContext), 1);
  }
  const int32_t height = setup.height < 0 ? static_cast<int32_t>(rows.size()) : setup.height;
  RCB* rcb = rioOpenRasterWrite(out, width, height, id, &w.open);
  if (rcb) {
    rcb->xDpi = setup.xDpi;
    rcb->yDpi = setup.yDpi;
    rcb->xExtent = setup.xExtent;
    rcb->yExtent = setup.yExtent;
    for (const Runs& row : rows) {
      int32_t* p = rcb->curSline;
      for (auto [s, e] : row) {
        *p++ = s;
        *p++ = e;
      }
      p[0] = p[1] = kSlineEnd;
      w.lineResults.push_back(rioWriteRasterSline(rcb));
    }
    w.status = rcb->status;
    w.warning = rcb->warning;
    (void)rioCloseRaster(rcb);
  }
  w.streamOk = streamClose(out);
  std::fflush(f);
  std::rewind(f);
  int c;
  while ((c = std::fgetc(f)) != EOF) w.bytes.push_back(static_cast<uint8_t>(c));
  w.text.assign(w.bytes.begin(), w.bytes.end());
  std::fclose(f);
  return w;
}

}  // namespace vantrel::devicetest
