// The tile-column reader: rows assembled across tile columns of different codings with touching runs joined
// and the page's right edge cut, segments asked for when a column's rows run out, a byte filter plugged into
// the raw path, partial columns placed first, black-is-zero data, and stored data that end early.
#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <vector>

#include "formats/common/band_writer.h"
#include "formats/common/tile_reader.h"
#include "tests/support/file_fixture.h"
#include "tests/support/pbm.h"

namespace vantrel {
namespace {

using testfiles::Bytes;
using testpbm::Bitmap;
using testread::Runs;
using testread::runsOf;

// Stored pixels of one tile column: rows of (width + 7) / 8 bytes.
Bytes rawRows(const Bitmap& page, int32_t left, int32_t width, int32_t first, int32_t rows, int32_t rowBytes = 0) {
  const int32_t own = (width + 7) / 8;
  Bytes out;
  for (int32_t y = first; y < first + rows; ++y) {
    Bytes row(static_cast<size_t>(std::max(rowBytes, own)), 0);
    for (auto [s, e] : runsOf(page, y, left, width))
      for (int32_t x = s; x < e; ++x) row[static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

// Each row as one literal block, with a no-op code (-128) in front of every other row.
Bytes packBits(const Bytes& raw, int32_t rowBytes) {
  Bytes out;
  for (size_t at = 0; at < raw.size(); at += static_cast<size_t>(rowBytes)) {
    if (at / static_cast<size_t>(rowBytes) % 2) out.push_back(0x80);
    out.push_back(static_cast<uint8_t>(rowBytes - 1));
    out.insert(out.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
               raw.begin() + static_cast<std::ptrdiff_t>(at) + rowBytes);
  }
  return out;
}

// The rows of one tile column in Group 4, made by the band writer.
Bytes group4(const Bitmap& page, int32_t left, int32_t width) {
  BandWriter w;
  EXPECT_EQ(bandWriterInit(&w, width, width, page.height), kRioOk);
  std::vector<int32_t> line(slineValues(width) + 2);
  for (int32_t y = 0; y < page.height; ++y) {
    testfiles::putRuns(line.data(), runsOf(page, y, left, width));
    EXPECT_EQ(bandWriterAddRow(&w, line.data()), kRioOk);
  }
  TileCode code;
  EXPECT_EQ(bandWriterCodeG4Buffered(&w, {0, 0, page.height, width}, &code), kRioOk);
  return Bytes(code.data, code.data + code.bytes);
}

// A file of stored segments in memory, read through a seekable stream.
class TileFile : public testfiles::FileTest {
 protected:
  TileSegment add(TileCoding coding, const Bytes& data, int64_t rows = INT64_MAX) {
    TileSegment s;
    s.coding = coding;
    s.offset = static_cast<int64_t>(file_.size());
    s.bytes = static_cast<int64_t>(data.size());
    s.rows = rows;
    file_.insert(file_.end(), data.begin(), data.end());
    return s;
  }
  RasterStream* open() {
    if (file_.empty()) file_.push_back(0);
    f_ = fmemopen(file_.data(), file_.size(), "rb");
    EXPECT_NE(f_, nullptr);
    in_ = streamOpen(f_, "r");
    EXPECT_EQ(streamMakeSeekable(in_), 0);
    return in_;
  }
  void TearDown() override {
    reader_.reset();
    if (in_) (void)streamClose(in_);
    if (f_) std::fclose(f_);
    testfiles::FileTest::TearDown();
  }
  Runs row(int32_t width, RioStatus* status) {
    std::vector<int32_t> line(slineValues(width));
    *status = tileReaderRow(reader_.get(), in_, line.data());
    return testread::toRuns(line.data());
  }

  Bytes file_;
  std::FILE* f_ = nullptr;
  RasterStream* in_ = nullptr;
  std::unique_ptr<TileReader> reader_ = std::make_unique<TileReader>();
};

// Three columns of 16 pixels on a page 40 wide: raw, PackBits and Group 4. Runs cross both column edges,
// end and start on them, and the third column's stored pixels beyond the page are cut off.
TEST_F(TileFile, RowsJoinRunsAcrossColumnsOfEveryCoding) {
  const int32_t imageWidth = 40, tile = 16, rows = 5;
  Bitmap stored(3 * tile, rows);
  stored.fill(10, 35, 0);                          // through all three columns
  stored.fill(15, 16, 1), stored.fill(16, 17, 1);  // ends on an edge, the next starts on it
  stored.fill(31, 33, 1), stored.fill(39, 48, 1);  // across the second edge; past the page's right edge
  stored.fill(0, 48, 3);                           // row 2 white, row 3 black
  stored.fill(0, 1, 4), stored.fill(47, 48, 4);    // pixels only at the stored edges
  TileReaderOptions options;
  options.columns = 3;
  options.tileWidth = tile;
  options.imageWidth = imageWidth;
  options.windows = true;
  const TileSegment segments[] = {
      add(TileCoding::kRaw, rawRows(stored, 0, tile, 0, rows)),
      add(TileCoding::kPackBits, packBits(rawRows(stored, tile, tile, 0, rows), 2)),
      add(TileCoding::kGroup4, group4(stored, 2 * tile, tile)),
  };
  RasterStream* in = open();
  ASSERT_EQ(tileReaderInit(reader_.get(), in, options), kRioOk);
  for (int32_t c = 0; c < 3; ++c) ASSERT_EQ(tileReaderStart(reader_.get(), in, c, segments[c]), kRioOk);
  const Runs want[] = {{{10, 35}}, {{15, 17}, {31, 33}, {39, 40}}, {}, {{0, 40}}, {{0, 1}}};
  for (int32_t y = 0; y < rows; ++y) {
    RioStatus status = 0;
    EXPECT_EQ(row(imageWidth, &status), want[y]) << "row " << y;
    ASSERT_EQ(status, kRioOk);
  }
}

// One column whose segments come from the driver as its rows run out: raw rows stored wider than the
// column, white rows without data, Group 3 lines; then no more segments.
TEST_F(TileFile, AColumnAsksForItsNextSegment) {
  const int32_t width = 13;
  Bitmap page(width, 5);
  page.fill(0, 3, 0), page.fill(12, 13, 1), page.fill(4, 9, 4);
  std::deque<TileSegment> queue;
  TileSegment wide = add(TileCoding::kRaw, rawRows(page, 0, width, 0, 2, 4), 2);
  wide.rowBytes = 4;
  queue.push_back(wide);
  queue.push_back(add(TileCoding::kWhite, {}, 2));
  queue.push_back(add(TileCoding::kRaw, rawRows(page, 0, width, 4, 1), 1));
  RasterStream* in = open();
  TileReaderOptions options;
  options.tileWidth = options.imageWidth = width;
  ASSERT_EQ(tileReaderInit(reader_.get(), in, options), kRioOk);
  reader_->nextContext = &queue;
  reader_->next = [](void* context, int32_t column, TileSegment* segment) -> RioStatus {
    auto* q = static_cast<std::deque<TileSegment>*>(context);
    EXPECT_EQ(column, 0);
    if (q->empty()) return kRioUnexpectedEof;
    *segment = q->front();
    q->pop_front();
    return kRioOk;
  };
  for (int32_t y = 0; y < 5; ++y) {
    RioStatus status = 0;
    EXPECT_EQ(row(width, &status), runsOf(page, y, 0, width)) << "row " << y;
    ASSERT_EQ(status, kRioOk) << "row " << y;
  }
  RioStatus status = 0;
  row(width, &status);
  EXPECT_EQ(status, kRioUnexpectedEof);
}

// A byte filter in front of the raw path: here the stored bytes are complemented. Each column makes a state
// of its own, once, and restarts it at every segment.
struct CountingFilter {
  static inline int created = 0, restarted = 0, destroyed = 0;
  static const TileFilter* get() {
    static const TileFilter filter = {
        []() -> void* { return rioNew<int>(++created); },
        [](void* state) {
          rioDelete(static_cast<int*>(state));
          ++destroyed;
        },
        [](void*) { ++restarted; },
        [](void*, RasterStream* in, int64_t* bytesLeft, uint8_t* dest, int32_t n) -> RioStatus {
          if (*bytesLeft < n || streamRead(in, dest, n) != n) return kRioUnexpectedEof;
          *bytesLeft -= n;
          for (int32_t i = 0; i < n; ++i) dest[i] = static_cast<uint8_t>(~dest[i]);
          return kRioOk;
        }};
    return &filter;
  }
};

TEST_F(TileFile, AFilterFeedsTheRawRowsOfEachColumn) {
  const int32_t tile = 8, width = 12, rows = 3;
  Bitmap page(2 * tile, rows);
  page.fill(6, 10, 0), page.fill(0, 12, 1);
  auto complemented = [&](int32_t left) {
    Bytes b = rawRows(page, left, tile, 0, rows);
    for (uint8_t& x : b) x = static_cast<uint8_t>(~x);
    return b;
  };
  TileSegment segments[] = {add(TileCoding::kRaw, complemented(0)), add(TileCoding::kRaw, complemented(tile))};
  for (TileSegment& s : segments) s.filter = CountingFilter::get();
  RasterStream* in = open();
  TileReaderOptions options;
  options.columns = 2;
  options.tileWidth = tile;
  options.imageWidth = width;
  options.windows = true;
  ASSERT_EQ(tileReaderInit(reader_.get(), in, options), kRioOk);
  CountingFilter::created = CountingFilter::restarted = CountingFilter::destroyed = 0;
  for (int round = 0; round < 2; ++round) {
    for (int32_t c = 0; c < 2; ++c) ASSERT_EQ(tileReaderStart(reader_.get(), in, c, segments[c]), kRioOk);
    for (int32_t y = 0; y < rows; ++y) {
      RioStatus status = 0;
      EXPECT_EQ(row(width, &status), runsOf(page, y, 0, width)) << "row " << y;
      ASSERT_EQ(status, kRioOk);
    }
  }
  EXPECT_EQ(CountingFilter::created, 2);
  EXPECT_EQ(CountingFilter::restarted, 4);
  reader_.reset();
  EXPECT_EQ(CountingFilter::destroyed, 2);
}

// A narrow column first (a layout whose partial column is the leftmost), black stored as 0.
TEST_F(TileFile, PartialColumnFirstAndBlackIsZero) {
  const int32_t width = 21;
  Bitmap page(width, 2);
  page.fill(3, 12, 0), page.fill(5, 6, 1);
  Bitmap stored = page;
  for (uint8_t& b : stored.bits) b = static_cast<uint8_t>(~b);
  const TileSegment first = add(TileCoding::kRaw, rawRows(stored, 0, 5, 0, 2));
  const TileSegment second = add(TileCoding::kRaw, rawRows(stored, 5, 16, 0, 2));
  RasterStream* in = open();
  TileReaderOptions options;
  options.columns = 2;
  options.tileWidth = 16;
  options.imageWidth = width;
  options.windows = true;
  options.invert = true;
  ASSERT_EQ(tileReaderInit(reader_.get(), in, options), kRioOk);
  tileReaderSetColumn(reader_.get(), 0, 0, 5);
  tileReaderSetColumn(reader_.get(), 1, 5, 16);
  ASSERT_EQ(tileReaderStart(reader_.get(), in, 0, first), kRioOk);
  ASSERT_EQ(tileReaderStart(reader_.get(), in, 1, second), kRioOk);
  for (int32_t y = 0; y < 2; ++y) {
    RioStatus status = 0;
    EXPECT_EQ(row(width, &status), runsOf(page, y, 0, width)) << "row " << y;
    ASSERT_EQ(status, kRioOk);
  }
}

// A segment's stored bytes end before its row does: the row fails with -10, whatever the coding, also
// when the file goes on with other data.
TEST_F(TileFile, DataThatEndEarlyFailTheRow) {
  const int32_t width = 40;
  Bitmap page(width, 1);
  for (int32_t x = 0; x < width; x += 4) page.fill(x, x + 2, 0);
  const Bytes raw = rawRows(page, 0, width, 0, 1);
  const Bytes g4 = group4(page, 0, width);
  TileSegment segments[] = {
      add(TileCoding::kRaw, raw),
      add(TileCoding::kPackBits, Bytes{4, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
      add(TileCoding::kGroup4, g4),
  };
  for (TileSegment& s : segments) s.bytes = 3;
  RasterStream* in = open();
  TileReaderOptions options;
  options.tileWidth = options.imageWidth = width;
  ASSERT_EQ(tileReaderInit(reader_.get(), in, options), kRioOk);
  for (const TileSegment& segment : segments) {
    ASSERT_EQ(tileReaderStart(reader_.get(), in, 0, segment), kRioOk);
    RioStatus status = 0;
    row(width, &status);
    EXPECT_EQ(status, kRioUnexpectedEof) << static_cast<int>(segment.coding);
  }
}

}  // namespace
}  // namespace vantrel
