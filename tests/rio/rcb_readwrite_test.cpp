// One RCB that reads and writes: the reader and the writer share curSline, refSline and the header fields,
// so neither side may change what the other relies on. Each case copies a page through one read-write RCB,
// with and without the front end swapping the line buffers, and reads the output back. Run under ASan,
// the same-driver cases also show that every state block is released exactly once.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <utility>
#include <string>

#include "formats/open.h"
#include "rio/rcb.h"
#include "tests/support/pbm.h"
#include "tests/support/read_back.h"

namespace vantrel {
namespace {

using namespace testpbm;

constexpr int32_t kRunLengthMaxWidth = 32767;

struct Copied {
  RioStatus open = 0;
  RioStatus end = 0;  // the RCB's status after the last line
  int32_t lines = 0;
  RioStatus closed = 0;
  int streamOk = -1;
};

// Copies `in` to `out` in `outFormat` the way the batch translator does: one RCB, each line read is the
// line written. `swap`: the front end swaps the line buffers after each line; a reader or writer must not
// depend on it either way.
Copied copyInOneRcb(const fs::path& in, const fs::path& out, RasterFormatId outFormat, bool swap) {
  Copied c;
  FilePtr inFile(std::fopen(in.c_str(), "rb"));
  FilePtr outFile(std::fopen(out.c_str(), "wb"));
  if (!inFile || !outFile) {
    c.open = -999;
    return c;
  }
  StreamPtr inStream(streamOpen(inFile.get(), "r"));
  RasterStream* outStream = streamOpen(outFile.get(), "w");
  RCB* rcb = rioOpenRasterReadWrite(inStream.get(), 0, outStream, outFormat, &c.open);
  if (rcb) {
    while (rioReadRasterSline(rcb)) {
      if (rioWriteRasterSline(rcb) != kRioOk) break;
      ++c.lines;
      if (swap) rioSwapSlines(rcb);
    }
    c.end = rioGetStatus(rcb);
    c.closed = rioCloseRaster(rcb);
  }
  c.streamOk = streamClose(outStream);
  return c;
}

struct PairCase {
  const char* name;
  RasterFormatId in;
  RasterFormatId out;
  int32_t width;
  int32_t height;
};

void PrintTo(const PairCase& c, std::ostream* os) { *os << c.name; }

class ReadWriteRcb : public ::testing::TestWithParam<std::tuple<PairCase, bool>> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    baseline_ = rioBytesInUse();
  }
  void TearDown() override { EXPECT_EQ(rioBytesInUse(), baseline_) << "accounted memory leaked"; }

  ScratchDir dir_{"vantrel-rcb-rw"};
  int64_t baseline_ = 0;
};

TEST_P(ReadWriteRcb, OutputHoldsTheInputPage) {
  const auto& [c, swap] = GetParam();
  const Bitmap page = makePage(c.width, c.height, 0xC0DE + c.in * 7 + c.out + c.width);
  const fs::path in = dir_ / "in";
  const fs::path out = dir_ / "out";
  ASSERT_EQ(writeThroughLibrary(in, c.in, page, 300), 0);

  const Copied copied = copyInOneRcb(in, out, c.out, swap);
  ASSERT_EQ(copied.open, kRioOk);
  EXPECT_EQ(copied.end, kRioEndOfPage);
  EXPECT_EQ(copied.lines, c.height);
  EXPECT_EQ(copied.closed, kRioOk);
  EXPECT_EQ(copied.streamOk, 1);

  // The run-length writer cuts its own columns to what its fields hold; the reader keeps the full width.
  const int32_t width = c.out == kFormatRunLength ? std::min(c.width, kRunLengthMaxWidth) : c.width;
  const testread::PageRecord back = testread::readBack(out);
  ASSERT_EQ(back.open, kRioOk);
  EXPECT_EQ(back.end, kRioEndOfPage);
  EXPECT_EQ(difference(back.bitmap(), widened(page, width)), "equal");
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, ReadWriteRcb,
    ::testing::Combine(
        ::testing::Values(PairCase{"WideGroup4ToRunLength", kFormatNativeG4, kFormatRunLength, 32767, 12},
                          PairCase{"Group4ToGroup4", kFormatNativeG4, kFormatNativeG4, 1733, 60},
                          PairCase{"Group3ToGroup4", kFormatNativeG3, kFormatNativeG4, 1000, 40},
                          PairCase{"CalsToCals", kFormatCals, kFormatCals, 1200, 50},
                          PairCase{"MmrToCals", kFormatMmr, kFormatCals, 999, 40},
                          PairCase{"CalsToMmr", kFormatCals, kFormatMmr, 640, 33},
                          PairCase{"MmrToMmr", kFormatMmr, kFormatMmr, 777, 21},
                          PairCase{"TiffToTiff", kFormatTiff, kFormatTiff, 1300, 70},
                          PairCase{"TiffStripsToTiffGroup3", kFormatTiffPlain, kFormatTiffG3, 800, 450},
                          PairCase{"TiffToRunLength", kFormatTiff, kFormatRunLength, 500, 30}),
        ::testing::Bool()),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) ? "Swapped" : "NeverSwapped");
    });

// A writer codes a normalised copy: the line it was given, here with unsorted, touching and overlapping
// runs, stays as it was (in a read-write RCB it is the reader's line and the reader's next reference).
class WriterLeavesTheLine : public ::testing::TestWithParam<RasterFormatId> {};

TEST_P(WriterLeavesTheLine, CurSlineIsUntouchedAndTheFileHoldsTheJoinedRuns) {
  ScratchDir dir("vantrel-writer-line");
  ASSERT_TRUE(dir.ok());
  const int32_t raw[] = {4, 9, 9, 12, 30, 31, 20, 25, 22, 24, 50, 70, 0, 0, kSlineEnd, kSlineEnd};
  const int32_t width = 64;  // the run (50, 70) ends beyond it
  const int32_t rows = 3;
  Bitmap want(width, rows);
  for (int32_t y = 0; y < rows; ++y)
    // Normalised for coding: touching runs joined, a run starting before the end reached joins it.
    for (const auto& [s, e] : {std::pair{4, 12}, std::pair{30, 31}, std::pair{50, 64}})
      want.fill(s, e, y);

  const fs::path out = dir / "out";
  FilePtr file(std::fopen(out.c_str(), "wb"));
  ASSERT_TRUE(file);
  RasterStream* stream = streamOpen(file.get(), "w");
  RioStatus status = 0;
  RCB* rcb = rioOpenRasterWrite(stream, width, rows, GetParam(), &status);
  ASSERT_NE(rcb, nullptr) << status;
  for (int32_t y = 0; y < rows; ++y) {
    std::copy(std::begin(raw), std::end(raw), rcb->curSline);
    EXPECT_EQ(rioWriteRasterSline(rcb), kRioOk);
    EXPECT_TRUE(std::equal(std::begin(raw), std::end(raw), rcb->curSline)) << "row " << y;
  }
  EXPECT_EQ(rioCloseRaster(rcb), kRioOk);
  EXPECT_EQ(streamClose(stream), 1);
  file.reset();
  EXPECT_EQ(difference(testread::readBack(out).bitmap(), want), "equal");
}

INSTANTIATE_TEST_SUITE_P(FaxAndTiffWriters, WriterLeavesTheLine,
                         ::testing::Values(kFormatNativeG3, kFormatNativeG4, kFormatCals, kFormatTiff, kFormatTiffPlain, kFormatTiffG3,
                                           RasterFormatId{22}, RasterFormatId{27}, kFormatMmr));

}  // namespace
}  // namespace vantrel
