// Writes a page of run lists through a write RCB of a device-stream format and captures what reached the
// file: the shared harness of the plotter and printer writer tests, with the sinks, the leak-checking
// fixture and the open, allocation and trailer probes those tests have in common.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "formats/registry.h"
#include "rio/alloc.h"
#include "formats/open.h"
#include "rio/rcb.h"
#include "tests/support/read_back.h"

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

// A page written into a sink that lost a block: the lines before the loss succeed, the line that met it and
// every later one answer -8.
inline void expectStopsAtTheLoss(const std::vector<RioStatus>& results) {
  const auto first = std::find(results.begin(), results.end(), kRioStreamIo);
  ASSERT_NE(first, results.end()) << "no line saw the loss";
  EXPECT_TRUE(std::all_of(results.begin(), first, [](RioStatus r) { return r == kRioOk; }));
  EXPECT_TRUE(std::all_of(first, results.end(), [](RioStatus r) { return r == kRioStreamIo; }));
}

// A write sink that refuses its first `refuse` calls (every call when negative), counts the calls and keeps
// what it accepts.
struct Sink {
  explicit Sink(int refuseCalls = 0) : refuse(refuseCalls) {}
  int refuse;
  int calls = 0;
  std::string got;
  static size_t write(const void* data, size_t size, size_t count, void* ctx) {
    auto* sink = static_cast<Sink*>(ctx);
    ++sink->calls;
    if (sink->refuse < 0 || sink->calls <= sink->refuse) return 0;
    sink->got.append(static_cast<const char*>(data), size * count);
    return count;
  }
};

struct PageSetup {
  double xDpi = 200;
  double yDpi = 200;
  int32_t xExtent = 0;
  int32_t yExtent = 0;
  int32_t height = -1;  // the number of rows unless given
  StreamWriteFn sink = nullptr;
  void* sinkContext = nullptr;
  int32_t prefill = 0;  // filler bytes put in the stream before the RCB opens, to place a sink failure
  const RioSettings* settings = nullptr;  // what the output stream carries
};

// Puts the runs into a line buffer, terminated.
inline void fillLine(Sline line, const Runs& runs) {
  for (auto [s, e] : runs) {
    *line++ = s;
    *line++ = e;
  }
  line[0] = line[1] = kSlineEnd;
}

// A row as a device prints it: the runs inside [0, pixels) set, eight pixels a byte, most significant bit
// leftmost, in `bytes` bytes.
inline std::vector<uint8_t> packRow(const Runs& runs, int64_t pixels, size_t bytes) {
  std::vector<uint8_t> row(bytes, 0);
  for (auto [s, e] : runs)
    for (int64_t x = std::max<int64_t>(s, 0); x < std::min<int64_t>(e, pixels); ++x)
      row[static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
  return row;
}

inline Written writePage(RasterFormatId id, int32_t width, const std::vector<Runs>& rows,
                         const PageSetup& setup = {}) {
  Written w;
  std::FILE* f = std::tmpfile();
  EXPECT_NE(f, nullptr);
  if (!f) return w;
  RasterStream* out = streamOpen(f, "w", setup.settings);
  EXPECT_NE(out, nullptr);
  if (setup.sink) {
    EXPECT_EQ(streamSetWriteCallback(out, setup.sink, setup.sinkContext), 1);
  }
  if (setup.prefill > 0) {
    const std::string filler(static_cast<size_t>(setup.prefill), 'x');
    EXPECT_EQ(streamWrite(out, filler.data(), setup.prefill), setup.prefill);
  }
  const int32_t height = setup.height < 0 ? static_cast<int32_t>(rows.size()) : setup.height;
  RCB* rcb = rioOpenRasterWrite(out, width, height, id, &w.open);
  if (rcb) {
    rcb->xDpi = setup.xDpi;
    rcb->yDpi = setup.yDpi;
    rcb->xExtent = setup.xExtent;
    rcb->yExtent = setup.yExtent;
    for (const Runs& row : rows) {
      fillLine(rcb->curSline, row);
      w.lineResults.push_back(rioWriteRasterSline(rcb));
    }
    w.status = rcb->status;
    w.warning = rcb->warning;
    (void)rioCloseRaster(rcb);
  }
  w.streamOk = streamClose(out);
  std::fflush(f);
  std::rewind(f);
  char buffer[65536];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) w.bytes.insert(w.bytes.end(), buffer, buffer + n);
  w.text.assign(w.bytes.begin(), w.bytes.end());
  std::fclose(f);
  return w;
}

// Checks that the accounted memory after each test is what it was before, and that no test leaves an
// allocation failure armed.
class AccountedMemoryTest : public ::testing::Test {
 protected:
  void SetUp() override { baseline_ = rioBytesInUse(); }
  void TearDown() override {
    rioFailAllocationAfter(-1);
    EXPECT_EQ(rioBytesInUse(), baseline_) << "accounted memory leaked";
  }
  int64_t baseline_ = 0;
};

struct OpenAttempt {
  bool opened = false;
  RioStatus status = 0;
  int64_t leaked = 0;  // accounted bytes a failed open left behind
};

// Opens a write RCB with the allocation after the first `n` failing, and closes what opened.
inline OpenAttempt openWithFailingAllocation(RasterFormatId id, int32_t width, int32_t height, int64_t n) {
  OpenAttempt a;
  std::FILE* f = std::tmpfile();
  EXPECT_NE(f, nullptr);
  if (!f) return a;
  StreamPtr out(streamOpen(f, "w"));
  EXPECT_NE(out, nullptr);
  const int64_t before = rioBytesInUse();
  rioFailAllocationAfter(n);
  RcbPtr rcb(rioOpenRasterWrite(out.get(), width, height, id, &a.status));
  rioFailAllocationAfter(-1);
  a.opened = rcb != nullptr;
  if (!a.opened) a.leaked = rioBytesInUse() - before;
  rcb.reset();
  out.reset();
  std::fclose(f);
  return a;
}

// Fails the first, second, ... allocation of an open in turn, up to `limit` of them: every failed open must
// answer out of memory and leave nothing allocated. Returns how many allocations the open made before it
// succeeded, -1 when it never did.
inline int64_t checkFailedOpenAllocations(RasterFormatId id, int32_t width, int32_t height, int64_t limit) {
  for (int64_t n = 0; n < limit; ++n) {
    const OpenAttempt a = openWithFailingAllocation(id, width, height, n);
    if (a.opened) return n;
    EXPECT_EQ(a.status, kRioOutOfMemory) << "allocation " << n;
    EXPECT_EQ(a.leaked, 0) << "allocation " << n;
  }
  return -1;
}

// Writes `rows` copies of `row`; *growth gets how far the peak of accounted memory rose over the rows after
// the first (which may allocate for the header).
inline void measureRowAllocations(RasterFormatId id, int32_t width, int32_t rows, const Runs& row,
                                  int64_t* growth) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  StreamPtr out(streamOpen(f, "w"));
  RioStatus st = 0;
  RcbPtr rcb(rioOpenRasterWrite(out.get(), width, rows, id, &st));
  ASSERT_EQ(st, 0);
  fillLine(rcb->curSline, row);
  ASSERT_EQ(rioWriteRasterSline(rcb.get()), 0);  // the header
  rioResetPeak();
  const int64_t inUse = rioBytesInUse();
  for (int32_t i = 1; i < rows; ++i) ASSERT_EQ(rioWriteRasterSline(rcb.get()), 0);
  *growth = rioBytesPeak() - inUse;
  rcb.reset();
  out.reset();
  std::fclose(f);
}

struct TrailerFailure {
  RioStatus finish = 0;    // what the driver's finish answered
  RioStatus status = 0;    // kept in the RCB
  int64_t tellAfter = -1;  // the stream position after the finish
  int streamOk = -1;
};

// Writes one row of a `width` wide page into `sink`, fills the stream buffer to one byte short of full so
// the trailer's first byte sends it, and runs the driver's finish.
inline void failTrailer(RasterFormatId id, int32_t width, const Runs& row, Sink* sink, TrailerFailure* result) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  RasterStream* s = streamOpen(f, "w");
  ASSERT_EQ(streamSetWriteCallback(s, Sink::write, sink), 1);
  RioStatus st = 0;
  RCB* rcb = rioOpenRasterWrite(s, width, 1, id, &st);
  ASSERT_NE(rcb, nullptr);
  fillLine(rcb->curSline, row);
  ASSERT_EQ(rioWriteRasterSline(rcb), 0);
  const int32_t used = static_cast<int32_t>(streamTell(s));
  const std::string filler(static_cast<size_t>(kStreamBufferSize - used - 1), 'x');
  ASSERT_EQ(streamWrite(s, filler.data(), static_cast<int32_t>(filler.size())),
            static_cast<int32_t>(filler.size()));
  result->finish = rioFormatDriver(id)->finishWrite(rcb);
  result->status = rcb->status;
  result->tellAfter = streamTell(s);
  (void)rioCloseRaster(rcb);
  result->streamOk = streamClose(s);
  std::fclose(f);
}

}  // namespace vantrel::devicetest
