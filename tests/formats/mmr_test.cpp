// Fuji Xerox MMR: golden header and file layout, resolution codes, headers built by hand (records in any
// order, both bit orders, every refusal), padding to the height, the seekable-output paths, hostile files,
// the console program, and Group 4 data checked against libtiff and netpbm in both directions.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "codec/fax.h"
#include "formats/registry.h"
#include "rio/alloc.h"
#include "formats/open.h"
#include "rio/rcb.h"
#include "rio/stream.h"
#include "tests/support/file_fixture.h"
#include "tests/support/group4_tiff.h"
#include "tests/support/pbm.h"
#include "tests/support/read_back.h"

extern char** environ;

namespace vantrel {
namespace {

namespace fs = std::filesystem;

constexpr size_t kHeader = 36;

using testfiles::Bytes;
using testfiles::loadBytes;
using testfiles::putRuns;
using testfiles::Runs;
using Page = std::vector<Runs>;

const Bytes kClosing = {0x9B, 0x5D, 0x00, 0x02, 0x00, 0x00};

uint32_t be32(const Bytes& b, size_t at) {
  return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 | uint32_t{b[at + 3]};
}
void append32(Bytes& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
}

// A drawing-like page: horizontal and vertical strokes, boxes, dots, rows touching both edges.
Page drawingPage(uint32_t seed, int32_t width, int32_t height) {
  std::mt19937 rng(seed);
  auto below = [&](int32_t n) { return n <= 1 ? 0 : static_cast<int32_t>(rng() % static_cast<uint32_t>(n)); };
  std::vector<std::vector<uint8_t>> px(static_cast<size_t>(height), std::vector<uint8_t>(width, 0));
  auto fill = [&](int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    for (int32_t y = std::max(y0, 0); y < std::min(y1, height); ++y)
      for (int32_t x = std::max(x0, 0); x < std::min(x1, width); ++x) px[y][x] = 1;
  };
  for (int i = 0; i < 8 + width / 150; ++i) {
    const int32_t x = below(width), y = below(height), w = 1 + below(width / 2 + 1), h = 1 + below(height);
    switch (below(4)) {
      case 0:
        fill(x, y, x + w, y + 1 + below(3));
        break;
      case 1:
        fill(x, y, x + 1 + below(3), y + h);
        break;
      case 2:
        fill(x, y, x + w, y + 1), fill(x, y + h - 1, x + w, y + h), fill(x, y, x + 1, y + h),
            fill(x + w - 1, y, x + w, y + h);
        break;
      default:
        fill(x, y, x + 1 + below(30), y + 1 + below(12));
        break;
    }
  }
  for (int32_t y = 0; y < height; ++y) {
    if (below(9) == 0)
      for (int32_t x = 0; x < width; x += 1 + below(7)) px[y][x] ^= 1;
    if (below(7) == 0) px[y][0] = 1;
    if (below(7) == 0) px[y][width - 1] = 1;
  }
  if (height > 2) std::fill(px[height / 2].begin(), px[height / 2].end(), 1);
  Page page(static_cast<size_t>(height));
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width;) {
      if (!px[y][x]) {
        ++x;
        continue;
      }
      const int32_t s = x;
      while (x < width && px[y][x]) ++x;
      page[y].emplace_back(s, x);
    }
  return page;
}

Bytes slurp(std::FILE* f) {
  Bytes b;
  std::fflush(f);
  std::rewind(f);
  int c;
  while ((c = std::fgetc(f)) != EOF) b.push_back(static_cast<uint8_t>(c));
  return b;
}

// ---- writing through the driver

struct WriteOptions {
  double dpi = 400;
  int32_t height = -1;   // the number of rows unless given
  bool swapLast = true;  // swap the line buffers after the last row too (always after the others)
  RioStatus failBeforeClose = 0;
};

struct Written {
  RioStatus open = 0;
  RioStatus lines = 0;  // the first failing row's result
  RioStatus close = 0;
  RioStatus warning = 0;
  int streamOk = -1;
  Bytes bytes;
};

Written writeTo(std::FILE* f, int32_t width, const Page& rows, const WriteOptions& o = {}) {
  Written w;
  RasterStream* out = streamOpen(f, "w");
  const int32_t height = o.height < 0 ? static_cast<int32_t>(rows.size()) : o.height;
  if (RCB* rcb = rioOpenRasterWrite(out, width, height, kFormatMmr, &w.open)) {
    rcb->xDpi = rcb->yDpi = o.dpi;
    for (const Runs& row : rows) {
      putRuns(rcb->curSline, row);
      if (RioStatus r = rioWriteRasterSline(rcb); r && !w.lines) w.lines = r;
      if (o.swapLast || &row != &rows.back()) rioSwapSlines(rcb);
    }
    if (o.failBeforeClose) rioSetError(rcb, o.failBeforeClose);
    w.warning = rcb->warning;
    w.close = rioCloseRaster(rcb);
  }
  w.streamOk = streamClose(out);
  return w;
}

Written writeMmr(int32_t width, const Page& rows, const WriteOptions& o = {}) {
  std::FILE* f = std::tmpfile();
  Written w = writeTo(f, width, rows, o);
  w.bytes = slurp(f);
  std::fclose(f);
  return w;
}

// ---- reading through the core

using Read = testread::PageRecord;

// Hostile heights must not keep a test going.
Read readMmr(const Bytes& bytes, RasterFormatId format = kFormatMmr) {
  return testread::readBackBytes(bytes, format, {.maxLines = 1 << 16});
}

// ---- Group 4 data and headers made without the driver

// withEnd false: the rows' codes alone, padded to a word, without the end-of-block code.
Bytes encodeG4(int32_t width, const Page& rows, bool withEnd = true) {
  std::FILE* f = std::tmpfile();
  RasterStream* s = streamOpen(f, "w");
  FaxEncoder e{};
  std::vector<int32_t> a(slineValues(width) + 2, 0), b(slineValues(width) + 2, 0);
  int32_t* cur = a.data() + 2;
  int32_t* ref = b.data() + 2;
  ref[0] = ref[1] = kSlineEnd;
  for (const Runs& row : rows) {
    putRuns(cur, row);
    EXPECT_EQ(g4EncodeLine(&e, s, width, cur, ref), kRioOk);
    std::swap(cur, ref);
  }
  EXPECT_EQ(withEnd ? g4EncodeFinish(&e, s) : faxEncoderFlush(&e, s), kRioOk);
  EXPECT_EQ(streamClose(s), 1);
  Bytes out = slurp(f);
  std::fclose(f);
  return out;
}

Bytes record(uint8_t code, const Bytes& body) {
  Bytes r = {0x9B, code};
  r.insert(r.end(), body.begin(), body.end());
  return r;
}
Bytes resolutionRecord(uint8_t code) {
  return record(0x52, {0x00, 0x02, 0x00, code});
}
Bytes sizeRecord(uint32_t width, uint32_t height) {
  Bytes r = record(0x5F, {0x00, 0x08});
  append32(r, width);
  append32(r, height);
  return r;
}
Bytes unusedRecord() {
  return record(0x5E, {0x00, 0x02, 0x00, 0x00});
}
Bytes codingRecord(uint8_t bitOrder, uint8_t scheme = 7) {
  return record(0x5D, {0x00, 0x02, bitOrder, scheme});
}
Bytes lengthRecord(uint32_t length) {
  Bytes r = record(0x5C, {});
  append32(r, length);
  return r;
}

Bytes concat(const std::vector<Bytes>& parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes reversed(Bytes b) {
  for (uint8_t& x : b) x = kBitReverse[x];
  return b;
}

// ---------------------------------------------------------------------------------------------------------
// The writer's bytes.

TEST(MmrWriter, HeaderOfAnA0SheetAt400Dpi) {
  const Written w = writeMmr(3400, Page(1), {.dpi = 400, .height = 4400});
  ASSERT_EQ(w.open, kRioOk);
  ASSERT_GE(w.bytes.size(), 18u);
  const Bytes golden = {0x9B, 0x52, 0x00, 0x02, 0x00, 0x01, 0x9B, 0x5F, 0x00,
                        0x08, 0x00, 0x00, 0x0D, 0x48, 0x00, 0x00, 0x11, 0x30};
  EXPECT_EQ(Bytes(w.bytes.begin(), w.bytes.begin() + 18), golden);
  EXPECT_EQ(Bytes(w.bytes.begin() + 18, w.bytes.begin() + 32),
            (Bytes{0x9B, 0x5E, 0x00, 0x02, 0x00, 0x00, 0x9B, 0x5D, 0x00, 0x02, 0x02, 0x07, 0x9B, 0x5C}));
}

// L counts the Group 4 bytes at 36; the closing record follows them and ends the file. The data are
// exactly what the codec makes of the rows on its own.
TEST(MmrWriter, FileLayoutAroundTheGroup4Data) {
  for (const int32_t width : {1, 33, 1728, 2550}) {
    const Page page = drawingPage(40 + static_cast<uint32_t>(width), width, 57);
    const Written w = writeMmr(width, page);
    ASSERT_EQ(w.close, kRioOk);
    ASSERT_EQ(w.streamOk, 1);
    ASSERT_GE(w.bytes.size(), kHeader + kClosing.size());
    const uint32_t length = be32(w.bytes, 32);
    ASSERT_EQ(w.bytes.size(), kHeader + length + kClosing.size()) << "width " << width;
    EXPECT_EQ(Bytes(w.bytes.begin() + kHeader + length, w.bytes.end()), kClosing);
    EXPECT_EQ(Bytes(w.bytes.begin() + kHeader, w.bytes.begin() + kHeader + length), encodeG4(width, page));
    EXPECT_EQ(length % 4, 0u) << "whole words";
  }
}

// The resolution code is 0 for exactly 200 dpi and 1 (400) for anything else.
struct DpiCase {
  double written;
  double readBack;
};
class MmrResolution : public ::testing::TestWithParam<DpiCase> {};

TEST_P(MmrResolution, ReadsBackAsTheCodeSays) {
  const Written w = writeMmr(64, Page{{{3, 9}}}, {.dpi = GetParam().written});
  ASSERT_EQ(w.close, kRioOk);
  EXPECT_EQ(w.bytes[5], GetParam().readBack == 200 ? 0 : 1);
  const Read r = readMmr(w.bytes, 0);
  ASSERT_EQ(r.open, kRioOk);
  EXPECT_EQ(r.xDpi, GetParam().readBack);
  EXPECT_EQ(r.yDpi, GetParam().readBack);
}

INSTANTIATE_TEST_SUITE_P(Dpi, MmrResolution,
                         ::testing::Values(DpiCase{200, 200}, DpiCase{300, 400}, DpiCase{400, 400},
                                           DpiCase{600, 400}, DpiCase{0, 400}, DpiCase{199.5, 400}));

TEST(MmrWriter, RoundTripsDrawingsOfManyWidths) {
  for (const int32_t width : {1, 2, 63, 64, 65, 1728, 4961}) {
    const Page page = drawingPage(7 + static_cast<uint32_t>(width), width, 90);
    const Written w = writeMmr(width, page);
    ASSERT_EQ(w.close, kRioOk);
    const Read r = readMmr(w.bytes, 0);
    ASSERT_EQ(r.open, kRioOk);
    EXPECT_EQ(r.width, width);
    EXPECT_EQ(r.height, 90);
    EXPECT_EQ(r.end, kRioEndOfPage);
    EXPECT_EQ(r.lines, page) << "width " << width;
  }
}

// A writer opened with a larger height than it is given rows codes white rows up to the height, coded
// against the last real row whether or not the caller swapped the buffers after it.
TEST(MmrWriter, PadsMissingRowsWithWhite) {
  const Page page = drawingPage(5, 300, 20);
  for (const bool swap : {true, false}) {
    Page given = page;
    given.back() = {{0, 300}};  // a black last row: a wrong reference would show in the padding
    const Written w = writeMmr(300, given, {.height = 32, .swapLast = swap});
    ASSERT_EQ(w.close, kRioOk);
    const Read r = readMmr(w.bytes);
    ASSERT_EQ(r.open, kRioOk);
    ASSERT_EQ(r.lines.size(), 32u) << "swap " << swap;
    EXPECT_EQ(r.end, kRioEndOfPage);
    for (size_t y = 0; y < 20; ++y) EXPECT_EQ(r.lines[y], given[y]) << "row " << y;
    for (size_t y = 20; y < 32; ++y) EXPECT_TRUE(r.lines[y].empty()) << "row " << y << " swap " << swap;
  }
}

TEST(MmrWriter, WithoutAnyRowStillWritesAWellFormedPage) {
  for (const int32_t height : {0, 5}) {
    const Written w = writeMmr(100, {}, {.height = height});
    ASSERT_EQ(w.close, kRioOk);
    ASSERT_GE(w.bytes.size(), kHeader + 4 + kClosing.size());
    EXPECT_EQ(w.bytes.size(), kHeader + be32(w.bytes, 32) + kClosing.size());
    const Read r = readMmr(w.bytes, 0);
    if (height == 0) {
      EXPECT_EQ(r.open, kRioBadRows) << "a page of no rows is refused on reading";
      continue;
    }
    ASSERT_EQ(r.open, kRioOk);
    EXPECT_EQ(r.height, height);
    EXPECT_EQ(r.lines, Page(static_cast<size_t>(height)));
  }
}

// A failed run's output is thrown away: no padding for it, but the file is still closed off.
TEST(MmrWriter, FailedRunIsNotPadded) {
  const Written w = writeMmr(100, Page{{{1, 2}}}, {.height = 1000000, .failBeforeClose = kRioBadData});
  EXPECT_LT(w.bytes.size(), 100u);
  EXPECT_EQ(w.bytes.size(), kHeader + be32(w.bytes, 32) + kClosing.size());
}

TEST(MmrWriter, RowsPastTheHeightAreLeftOut) {
  const Page page = drawingPage(9, 80, 12);
  const Written w = writeMmr(80, page, {.height = 8});
  ASSERT_EQ(w.close, kRioOk);
  EXPECT_EQ(w.warning, kRioBadRows);
  const Read r = readMmr(w.bytes);
  EXPECT_EQ(r.lines, Page(page.begin(), page.begin() + 8));
  EXPECT_EQ(be32(w.bytes, 32), encodeG4(80, Page(page.begin(), page.begin() + 8)).size());
}

// A write sink (a printer port) or a pipe cannot seek: the output is spooled and arrives whole at close.
size_t captureSink(const void* data, size_t size, size_t count, void* ctx) {
  auto* out = static_cast<Bytes*>(ctx);
  const auto* p = static_cast<const uint8_t*>(data);
  out->insert(out->end(), p, p + size * count);
  return count;
}
size_t refuseSink(const void*, size_t, size_t, void*) {
  return 0;
}

TEST(MmrWriter, SpoolsForAWriteSink) {
  const Page page = drawingPage(11, 500, 40);
  const Written file = writeMmr(500, page);
  Bytes sent;
  std::FILE* f = std::tmpfile();
  RasterStream* out = streamOpen(f, "w");
  ASSERT_EQ(streamSetWriteCallback(out, captureSink, &sent), 1);
  RioStatus status = 0;
  RCB* rcb = rioOpenRasterWrite(out, 500, 40, kFormatMmr, &status);
  ASSERT_NE(rcb, nullptr) << status;
  rcb->xDpi = 400;
  for (const Runs& row : page) {
    putRuns(rcb->curSline, row);
    ASSERT_EQ(rioWriteRasterSline(rcb), kRioOk);
    rioSwapSlines(rcb);
  }
  EXPECT_EQ(rioCloseRaster(rcb), kRioOk);
  EXPECT_TRUE(sent.empty()) << "nothing reaches the sink before the stream closes";
  EXPECT_EQ(streamClose(out), 1);
  EXPECT_EQ(sent, file.bytes);
  std::fclose(f);
}

TEST(MmrWriter, SinkThatRefusesFailsTheStream) {
  std::FILE* f = std::tmpfile();
  RasterStream* out = streamOpen(f, "w");
  ASSERT_EQ(streamSetWriteCallback(out, refuseSink, nullptr), 1);
  RioStatus status = 0;
  RCB* rcb = rioOpenRasterWrite(out, 64, 3, kFormatMmr, &status);
  ASSERT_NE(rcb, nullptr);
  putRuns(rcb->curSline, {{1, 5}});
  EXPECT_EQ(rioWriteRasterSline(rcb), kRioOk);
  (void)rioCloseRaster(rcb);
  EXPECT_EQ(streamClose(out), 0);
  std::fclose(f);
}

TEST(MmrWriter, PipeOutputGetsTheWholeFile) {
  const Page page = drawingPage(12, 200, 30);
  const Written file = writeMmr(200, page);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::FILE* w = ::fdopen(fds[1], "wb");
  std::FILE* r = ::fdopen(fds[0], "rb");
  ASSERT_TRUE(w && r);
  const Written piped = writeTo(w, 200, page);  // a small file: it fits the pipe's buffer
  std::fclose(w);
  EXPECT_EQ(piped.close, kRioOk);
  EXPECT_EQ(piped.streamOk, 1);
  Bytes got;
  int c;
  while ((c = std::fgetc(r)) != EOF) got.push_back(static_cast<uint8_t>(c));
  std::fclose(r);
  EXPECT_EQ(got, file.bytes);
}

// Random access is prepared in the open: once a sink has taken bytes it is too late, and the open fails.
TEST(MmrWriter, OpenFailsWhenTheOutputCanNoLongerBeSpooled) {
  Bytes sent;
  std::FILE* f = std::tmpfile();
  RasterStream* out = streamOpen(f, "w");
  ASSERT_EQ(streamSetWriteCallback(out, captureSink, &sent), 1);
  const Bytes junk(kStreamBufferSize + 10, 0x55);
  ASSERT_EQ(streamWrite(out, junk.data(), static_cast<int32_t>(junk.size())),
            static_cast<int32_t>(junk.size()));
  RioStatus status = 0;
  EXPECT_EQ(rioOpenRasterWrite(out, 64, 3, kFormatMmr, &status), nullptr);
  EXPECT_EQ(status, kRioStreamIo) << "the stream's own code is no system error";
  (void)streamClose(out);
  std::fclose(f);
}

// The patch of L needs the buffered data written first: on a full device that fails, and both close and
// the stream say so.
TEST(MmrWriter, FailedPatchIsTheResultOfClose) {
  std::FILE* f = std::fopen("/dev/full", "wb");
  ASSERT_NE(f, nullptr);
  const Written w = writeTo(f, 64, Page{{{1, 4}}, {{2, 6}}});
  EXPECT_EQ(w.open, kRioOk);
  EXPECT_NE(w.close, kRioOk);
  EXPECT_EQ(w.streamOk, 0);
  std::fclose(f);
}

TEST(MmrWriter, ZeroWidthIsRefusedWhenTheHeaderIsWritten) {
  const Written w = writeMmr(0, Page(1), {});
  EXPECT_EQ(w.lines, kRioBadColumns);
}

// Memory running out at any allocation of an open: the open fails with -3 (-7 when it was the stream's
// own allocation, made by the test before the open) and leaves nothing behind.
TEST(MmrWriter, OpensFailCleanlyWhenMemoryRunsOut) {
  const Written good = writeMmr(64, Page{{{1, 5}}, {{2, 9}}});
  bool readFailed = false, writeFailed = false;
  for (int64_t n = 0; n < 12; ++n) {
    const int64_t before = rioBytesInUse();
    rioFailAllocationAfter(n);
    const Read r = readMmr(good.bytes);
    rioFailAllocationAfter(n);
    const Written w = writeMmr(64, Page{{{1, 5}}});
    rioFailAllocationAfter(-1);
    for (const RioStatus open : {r.open, w.open})
      EXPECT_TRUE(open == kRioOk || open == kRioOutOfMemory || open == kRioBadStream) << open;
    readFailed |= r.open == kRioOutOfMemory;
    writeFailed |= w.open == kRioOutOfMemory;
    EXPECT_EQ(rioBytesInUse(), before) << "after failing allocation " << n;
  }
  EXPECT_TRUE(readFailed && writeFailed);
}

// ---------------------------------------------------------------------------------------------------------
// The reader on headers built by hand.

Bytes standardHeader(uint32_t width, uint32_t height, uint32_t length, uint8_t bitOrder = 2) {
  return concat({resolutionRecord(1), sizeRecord(width, height), unusedRecord(), codingRecord(bitOrder),
                 lengthRecord(length)});
}

TEST(MmrReader, RecordsInAnyOrder) {
  const Page page = drawingPage(21, 120, 16);
  const Bytes data = encodeG4(120, page);
  std::vector<Bytes> records = {resolutionRecord(0), sizeRecord(120, 16), unusedRecord(), codingRecord(2),
                                lengthRecord(static_cast<uint32_t>(data.size()))};
  std::sort(records.begin(), records.end());
  int orders = 0;
  do {
    Bytes file = concat(records);
    ASSERT_EQ(file.size(), kHeader);
    file = concat({file, data, kClosing});
    const Read r = readMmr(file);
    ASSERT_EQ(r.open, kRioOk) << "order " << orders;
    EXPECT_EQ(r.xDpi, 200);
    EXPECT_EQ(r.lines, page) << "order " << orders;
    ++orders;
  } while (std::next_permutation(records.begin(), records.end()));
  EXPECT_EQ(orders, 120);
}

// Only 2 means most significant bit first.
class MmrBitOrder : public ::testing::TestWithParam<int> {};

TEST_P(MmrBitOrder, DecodesTheDataInThatOrder) {
  const uint8_t order = static_cast<uint8_t>(GetParam());
  const Page page = drawingPage(33, 700, 25);
  const Bytes data = encodeG4(700, page);
  const Bytes stored = order == 2 ? data : reversed(data);
  const Read r = readMmr(
      concat({standardHeader(700, 25, static_cast<uint32_t>(data.size()), order), stored, kClosing}), 0);
  ASSERT_EQ(r.open, kRioOk);
  EXPECT_EQ(r.lines, page);
  EXPECT_EQ(r.end, kRioEndOfPage);
}

INSTANTIATE_TEST_SUITE_P(Orders, MmrBitOrder, ::testing::Values(0, 1, 2, 3, 0xFF));

TEST(MmrReader, ResolutionCodes) {
  for (const auto& [code, dpi] : {std::pair{0, 200.0}, {1, 400.0}, {2, 600.0}, {5, 1200.0}, {255, 51200.0}}) {
    const Bytes data = encodeG4(8, Page(2));
    Bytes file = concat({standardHeader(8, 2, static_cast<uint32_t>(data.size())), data, kClosing});
    file[5] = static_cast<uint8_t>(code);
    const Read r = readMmr(file);
    ASSERT_EQ(r.open, kRioOk);
    EXPECT_EQ(r.xDpi, dpi);
    EXPECT_EQ(r.yDpi, dpi);
  }
}

// The height ends the page: a missing end-of-block code, the closing record or any bytes after the data
// change nothing, and L is not trusted.
TEST(MmrReader, HeightEndsThePage) {
  const Page page = drawingPage(44, 256, 30);
  const Bytes data = encodeG4(256, page);
  const Bytes withoutEnd = encodeG4(256, page, false);
  for (const Bytes& body :
       {concat({data, kClosing, Bytes(100, 0xFF)}), withoutEnd, concat({data, Bytes(7, 0)})}) {
    for (const uint32_t length : {0u, 5u, 0xFFFFFFFFu}) {
      const Read r = readMmr(concat({standardHeader(256, 30, length), body}));
      ASSERT_EQ(r.open, kRioOk);
      EXPECT_EQ(r.lines, page);
      EXPECT_EQ(r.end, kRioEndOfPage);
    }
  }
}

struct HeaderCase {
  const char* label;
  Bytes header;  // the first 36 bytes (or fewer)
  RioStatus status;
};

class MmrRefusal : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(MmrRefusal, RefusesTheHeader) {
  const HeaderCase& c = GetParam();
  const Bytes file = concat({c.header, encodeG4(64, Page(4)), kClosing});
  const Read r = readMmr(file);
  EXPECT_EQ(r.open, c.status);
}

Bytes withByte(Bytes b, size_t at, uint8_t v) {
  b[at] = v;
  return b;
}

Bytes withSize(Bytes b, size_t n) {
  b.resize(n);
  return b;
}

const Bytes kGood = standardHeader(64, 4, 4);

INSTANTIATE_TEST_SUITE_P(
    Headers, MmrRefusal,
    ::testing::Values(
        HeaderCase{"FirstMarkMissing", withByte(kGood, 0, 0x9C), kRioBadHeader},
        HeaderCase{"ThirdMarkMissing", withByte(kGood, 18, 0x00), kRioBadHeader},
        HeaderCase{"FifthMarkMissing", withByte(kGood, 30, 0x1B), kRioBadHeader},
        HeaderCase{"UnknownCode", withByte(kGood, 19, 0x60), kRioBadHeader},
        HeaderCase{"UnknownCodeLast", withByte(kGood, 31, 0x5B), kRioBadHeader},
        HeaderCase{"NoSizeRecord",
                   concat({resolutionRecord(1), unusedRecord(), codingRecord(2), lengthRecord(4),
                           unusedRecord(), Bytes(6, 0)}),
                   kRioBadHeader},
        HeaderCase{"SizeRecordRunsPastTheHeader",
                   concat({resolutionRecord(1), sizeRecord(64, 4), sizeRecord(64, 4),
                           withSize(sizeRecord(64, 4), 6)}),
                   kRioBadHeader},
        HeaderCase{"TwoSizeRecords",
                   concat({sizeRecord(64, 4), sizeRecord(64, 4), codingRecord(2), unusedRecord()}),
                   kRioBadHeader},
        HeaderCase{"CodingScheme6", withByte(kGood, 29, 6), kRioNotImplemented},
        HeaderCase{"CodingScheme0", withByte(kGood, 29, 0), kRioNotImplemented},
        HeaderCase{
            "NoCodingRecord",
            concat({resolutionRecord(1), sizeRecord(64, 4), unusedRecord(), lengthRecord(4), unusedRecord()}),
            kRioNotImplemented},
        HeaderCase{"WidthZero", standardHeader(0, 4, 4), kRioBadColumns},
        HeaderCase{"WidthNegative", standardHeader(0x80000000u, 4, 4), kRioBadColumns},
        HeaderCase{"WidthAllOnes", standardHeader(0xFFFFFFFFu, 4, 4), kRioBadColumns},
        HeaderCase{"WidthPastTheLimit", standardHeader(static_cast<uint32_t>(kMaxLineWidth) + 1, 4, 4),
                   kRioBadColumns},
        HeaderCase{"HeightNegative", standardHeader(64, 0xFFFFFFFFu, 4), kRioBadRows},
        HeaderCase{"HeightMostNegative", standardHeader(64, 0x80000000u, 4), kRioBadRows}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(MmrReader, FileEndingInsideTheHeader) {
  for (size_t n = 5; n < kHeader; ++n) {
    const Read r = readMmr(Bytes(kGood.begin(), kGood.begin() + static_cast<long>(n)), 0);
    EXPECT_EQ(r.open, kRioStreamIo) << n << " bytes";
  }
}

// The widest page the column budget allows at the most rows the pixel budget leaves it; one row more is
// refused.
TEST(MmrReader, LargestWidthAndHeightAreAccepted) {
  const auto width = static_cast<uint32_t>(kDefaultMaxPageSide);
  const auto rows = static_cast<uint32_t>(kMaxPagePixels / width);
  const Read r = readMmr(concat({standardHeader(width, rows, 0), encodeG4(8, Page(1))}));
  ASSERT_EQ(r.open, kRioOk);
  EXPECT_EQ(r.width, static_cast<int32_t>(width));
  EXPECT_EQ(r.height, static_cast<int32_t>(rows));
  EXPECT_NE(r.end, kRioOk);
  EXPECT_NE(r.end, kRioEndOfPage) << "the data end long before the height";
  EXPECT_EQ(readMmr(concat({standardHeader(width, rows + 1, 0), encodeG4(8, Page(1))})).open, kRioBadRows);
  EXPECT_EQ(readMmr(concat({standardHeader(width + 1, 1, 0), encodeG4(8, Page(1))})).open, kRioBadColumns);
}

// ---------------------------------------------------------------------------------------------------------
// Hostile files.

// Cut anywhere: every row delivered is the row written, a cut inside the data is reported, and a cut
// that only loses the closing record still reads whole.
TEST(MmrHostile, TruncatedAtEveryByte) {
  const Page page = drawingPage(55, 150, 24);
  const Written w = writeMmr(150, page);
  ASSERT_EQ(w.close, kRioOk);
  const size_t dataEnd = kHeader + be32(w.bytes, 32);
  for (size_t n = 0; n <= w.bytes.size(); ++n) {
    const Read r = readMmr(Bytes(w.bytes.begin(), w.bytes.begin() + static_cast<long>(n)), 0);
    if (n < kHeader) {
      EXPECT_NE(r.open, kRioOk) << n;
      continue;
    }
    ASSERT_EQ(r.open, kRioOk) << n;
    ASSERT_LE(r.lines.size(), page.size());
    for (size_t y = 0; y < r.lines.size(); ++y)
      ASSERT_EQ(r.lines[y], page[y]) << "cut at " << n << " row " << y;
    if (n >= dataEnd) {
      EXPECT_EQ(r.lines.size(), page.size()) << n;
      EXPECT_EQ(r.end, kRioEndOfPage) << n;
    } else if (r.lines.size() < page.size()) {
      EXPECT_NE(r.end, kRioOk) << n;
      EXPECT_NE(r.end, kRioEndOfPage) << n;
    }
  }
}

TEST(MmrHostile, GarbageAfterTheHeader) {
  std::mt19937 rng(77);
  for (int trial = 0; trial < 200; ++trial) {
    const uint32_t width = 1 + rng() % 3000;
    const uint32_t height = rng() % 5000;
    Bytes body(rng() % 600);
    for (uint8_t& b : body) b = static_cast<uint8_t>(rng());
    const Read r = readMmr(concat(
        {standardHeader(width, height, static_cast<uint32_t>(body.size()), static_cast<uint8_t>(rng() % 4)),
         body}));
    ASSERT_EQ(r.open, kRioOk);
    EXPECT_LE(r.lines.size(), height);
    if (r.lines.size() < height) {
      EXPECT_NE(r.end, kRioEndOfPage) << "trial " << trial;
    }
    for (const Runs& row : r.lines)
      for (auto [s, e] : row) ASSERT_TRUE(0 <= s && s < e && e <= static_cast<int32_t>(width));
  }
}

TEST(MmrHostile, CorruptedBytesOfAGoodFile) {
  const Page page = drawingPage(66, 400, 40);
  const Written w = writeMmr(400, page);
  std::mt19937 rng(5);
  for (int trial = 0; trial < 300; ++trial) {
    Bytes b = w.bytes;
    for (int k = 0; k < 3; ++k) b[rng() % b.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
    const Read r = readMmr(b, 0);
    if (r.open != kRioOk) continue;
    EXPECT_LE(r.lines.size(), static_cast<size_t>(std::max(r.height, 0)));
    for (const Runs& row : r.lines)
      for (auto [s, e] : row) ASSERT_TRUE(0 <= s && s < e && e <= r.width);
  }
}

// ---------------------------------------------------------------------------------------------------------
// Scratch folders for the tool and program tests.

class MmrScratch : public testfiles::FileTest {
 protected:
  static void requireTool(const char* tool) {
    ASSERT_TRUE(testpbm::toolExists(tool)) << tool << " is missing: install netpbm and libtiff-tools";
  }
};

// ---- Group 4 TIFF by hand and PBM files

using testpbm::Bitmap;
using testpbm::quoted;

Bitmap pixelsOf(const Page& page, int32_t width) {
  Bitmap px(width, static_cast<int32_t>(page.size()));
  for (size_t y = 0; y < page.size(); ++y)
    for (auto [s, e] : page[y]) px.fill(s, e, static_cast<int32_t>(y));
  return px;
}

using testg4::group4Tiff;
using testg4::parseTiff;
using testg4::TiffStrip;

// Our Group 4 data, wrapped in a TIFF by the test, decoded by libtiff (tiffcp) and written as PBM by
// netpbm: the pixels of the source page.
TEST_F(MmrScratch, LibtiffDecodesOurGroup4Data) {
  requireTool("tiffcp");
  requireTool("tifftopnm");
  for (const int32_t width : {1, 100, 1728, 2551}) {
    const int32_t height = 70;
    const Page page = drawingPage(100 + static_cast<uint32_t>(width), width, height);
    const Written w = writeMmr(width, page);
    ASSERT_EQ(w.close, kRioOk);
    const Bytes data(w.bytes.begin() + kHeader, w.bytes.begin() + kHeader + be32(w.bytes, 32));
    save(dir_ / "g4.tif", group4Tiff(static_cast<uint32_t>(width), height, data));
    ASSERT_EQ(
        std::system(("tiffcp -c none " + quoted(dir_ / "g4.tif") + " " + quoted(dir_ / "plain.tif")).c_str()),
        0);
    ASSERT_EQ(std::system(("tifftopnm -quiet " + quoted(dir_ / "plain.tif") + " > " +
                           quoted(dir_ / "out.pbm") + " 2>/dev/null")
                              .c_str()),
              0);
    Bitmap back;
    ASSERT_TRUE(testpbm::readPbm(dir_ / "out.pbm", &back));
    EXPECT_EQ(back, pixelsOf(page, width)) << "width " << width;
  }
}

// The Group 4 strip of a TIFF made by netpbm and libtiff, wrapped in an MMR header, reads with our
// reader to the same pixels; the same strip stored least significant bit first by libtiff (tiffcp)
// goes in with bit order 0.
TEST_F(MmrScratch, OurReaderDecodesLibtiffGroup4Strips) {
  requireTool("pnmtotiff");
  requireTool("tiffcp");
  for (const int32_t width : {5, 640, 1728, 3001}) {
    for (const bool lsbFirst : {false, true}) {
      const int32_t height = 60;
      const Page page = drawingPage(200 + static_cast<uint32_t>(width), width, height);
      const Bitmap px = pixelsOf(page, width);
      ASSERT_TRUE(testpbm::writePbm(dir_ / "in.pbm", px));
      const std::string rows = std::to_string(height);
      ASSERT_EQ(std::system(("pnmtotiff -g4 -rowsperstrip " + rows + " " + quoted(dir_ / "in.pbm") + " > " +
                             quoted(dir_ / "msb.tif") + " 2>/dev/null")
                                .c_str()),
                0);
      if (lsbFirst) {
        ASSERT_EQ(std::system(("tiffcp -f lsb2msb -r " + rows + " " + quoted(dir_ / "msb.tif") + " " +
                               quoted(dir_ / "lsb.tif"))
                                  .c_str()),
                  0);
      }
      TiffStrip strip;
      ASSERT_TRUE(parseTiff(loadBytes(dir_ / (lsbFirst ? "lsb.tif" : "msb.tif")), &strip));
      ASSERT_EQ(strip.fillOrder, lsbFirst ? 2u : 1u);
      ASSERT_EQ(strip.compression, 4u);
      ASSERT_EQ(strip.photometric, 0u) << "white is zero";
      ASSERT_EQ(strip.width, static_cast<uint32_t>(width));
      ASSERT_EQ(strip.height, static_cast<uint32_t>(height));
      const uint8_t order = strip.fillOrder == 2 ? 0 : 2;
      const Read r =
          readMmr(concat({standardHeader(static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                                         static_cast<uint32_t>(strip.data.size()), order),
                          strip.data, kClosing}),
                  0);
      ASSERT_EQ(r.open, kRioOk);
      EXPECT_EQ(r.end, kRioEndOfPage);
      EXPECT_EQ(pixelsOf(r.lines, width), px) << "width " << width << " lsb first " << lsbFirst;
    }
  }
}

// ---------------------------------------------------------------------------------------------------------
// Through the console program.

int runProgram(const std::vector<std::string>& args, const fs::path& cwd, std::string* out) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::vector<char*> argv = {const_cast<char*>(VANTREL_EXE)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, VANTREL_EXE, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  int exitStatus = -1;
  if (rc == 0) {
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) out->append(buffer, static_cast<size_t>(n));
    int status = 0;
    if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) exitStatus = WEXITSTATUS(status);
  }
  ::close(fds[0]);
  return exitStatus;
}

std::string completed(const std::string& name) {
  return "Generating file: " + name + "\nvantrel: Translation is complete.\n";
}

TEST_F(MmrScratch, ProgramTranslatesMmrToRunLengthAndBack) {
  const Page page = drawingPage(300, 1000, 80);
  const Written w = writeMmr(1000, page);
  save(dir_ / "in.mmr", w.bytes);
  std::string out;
  EXPECT_EQ(runProgram({"in.mmr", "mid.rnl"}, dir_, &out), 1);
  EXPECT_EQ(out, completed("mid.rnl"));
  out.clear();
  EXPECT_EQ(runProgram({"mid.rnl", "back.mmr"}, dir_, &out), 1);
  EXPECT_EQ(out, completed("back.mmr"));
  EXPECT_EQ(loadBytes(dir_ / "back.mmr"), w.bytes) << "the same page at the same resolution";
}

TEST_F(MmrScratch, ProgramTranslatesCalsToMmr) {
  const Page page = drawingPage(301, 864, 50);
  {
    std::FILE* f = std::fopen((dir_ / "in.cg4").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    RasterStream* s = streamOpen(f, "w");
    RioStatus status = 0;
    RCB* rcb = rioOpenRasterWrite(s, 864, 50, kFormatCals, &status);
    ASSERT_NE(rcb, nullptr);
    rcb->xDpi = rcb->yDpi = 300;
    for (const Runs& row : page) {
      putRuns(rcb->curSline, row);
      ASSERT_EQ(rioWriteRasterSline(rcb), kRioOk);
      rioSwapSlines(rcb);
    }
    EXPECT_EQ(rioCloseRaster(rcb), kRioOk);
    EXPECT_EQ(streamClose(s), 1);
    std::fclose(f);
  }
  std::string out;
  EXPECT_EQ(runProgram({"in.cg4", "out.mmr"}, dir_, &out), 1);
  EXPECT_EQ(out, completed("out.mmr"));
  const Read r = readMmr(loadBytes(dir_ / "out.mmr"), 0);
  ASSERT_EQ(r.open, kRioOk);
  EXPECT_EQ(r.width, 864);
  EXPECT_EQ(r.xDpi, 400) << "300 dpi has no code of its own";
  EXPECT_EQ(r.lines, page);
}

}  // namespace
}  // namespace vantrel
