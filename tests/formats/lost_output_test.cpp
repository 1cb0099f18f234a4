// Every writer stops at the first lost block: a sink that refuses its first call is never called again,
// and from the line that met the loss on, every line answers -8 (writers that spool meet it at close).
// Every writer with a size field of fixed width refuses a page the field cannot state, or saturates the
// field and codes the page at the size it states, never at another.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "formats/open.h"
#include "formats/registry.h"
#include "tests/support/device_page.h"
#include "tests/support/file_fixture.h"

namespace vantrel {
namespace {

using testfiles::Runs;

struct CountingSink {
  int calls = 0;
  static size_t write(const void*, size_t, size_t, void* ctx) {
    ++static_cast<CountingSink*>(ctx)->calls;
    return 0;
  }
};

std::vector<RasterFormatId> writtenIds() {
  std::vector<RasterFormatId> ids;
  for (RasterFormatId id = 1; id <= kMaxFormatId; ++id)
    if (rioFormatInfo(id).writes) ids.push_back(id);
  return ids;
}

class LostOutput : public ::testing::TestWithParam<RasterFormatId> {};

TEST_P(LostOutput, NothingAfterTheFirstLostBlock) {
  const RasterFormatId id = GetParam();
  CountingSink sink;
  RasterStream* out = streamOpen(nullptr, "w");
  ASSERT_EQ(streamSetWriteCallback(out, CountingSink::write, &sink), 1);
  RioStatus status = 0;
  RCB* rcb = rioOpenRasterWrite(out, 4000, 300, id, &status);
  ASSERT_NE(rcb, nullptr) << status;
  rcb->xDpi = rcb->yDpi = 200;
  // Scattered dots: every format needs well over one buffer for them.
  std::mt19937 rng(id);
  std::vector<RioStatus> results;
  for (int y = 0; y < 300; ++y) {
    Runs line;
    for (int32_t x = static_cast<int32_t>(rng() % 7); x < 3990; x += 3 + static_cast<int32_t>(rng() % 9))
      line.push_back({x, x + 1});
    testfiles::putRuns(rcb->curSline, line);
    results.push_back(rioWriteRasterSline(rcb));
    rioSwapSlines(rcb);
  }
  (void)rioCloseRaster(rcb);
  EXPECT_EQ(streamClose(out), 0);
  EXPECT_EQ(sink.calls, 1);
  if (rioFormatInfo(id).seekableOutput) {
    EXPECT_EQ(results, std::vector<RioStatus>(300, kRioOk)) << "spooled: the sink is reached at close";
  } else {
    devicetest::expectStopsAtTheLoss(results);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryWriter, LostOutput, ::testing::ValuesIn(writtenIds()));

// A page one beyond what a size field states, and how its writer answers.
struct FieldCase {
  const char* name;
  RasterFormatId id;
  int32_t width, height;
  RioStatus open;     // 0: opened, the field saturates
  int32_t readWidth;  // saturating and readable: the width read back (0: not read back)
  int32_t readLines;
};

class SizeField : public testfiles::FileTest, public ::testing::WithParamInterface<FieldCase> {};

TEST_P(SizeField, RefusesOrCodesWhatTheHeaderStates) {
  const FieldCase& c = GetParam();
  // Black at both ends of every line, so a line coded wider than its header says shows.
  const Runs line = {{0, 3}, {c.width - 3, c.width}};
  const int32_t lines = std::min(c.height, 4);
  const auto path = fresh();
  const testfiles::DriverWrite w = testfiles::writeWithDriver(
      path, c.id, c.width, c.height, std::vector<Runs>(static_cast<size_t>(lines), line),
      [](RCB* rcb) { rcb->xDpi = rcb->yDpi = 200; });
  EXPECT_EQ(w.open, c.open);
  if (c.open != 0) {
    EXPECT_TRUE(w.bytes.empty());
    return;
  }
  if (c.readWidth == 0) return;
  const testread::PageRecord r = testread::readBack(path, c.id);
  ASSERT_EQ(r.open, 0);
  EXPECT_EQ(r.width, c.readWidth);
  ASSERT_EQ(static_cast<int32_t>(r.lines.size()), c.readLines);
  EXPECT_EQ(r.lines[0], (Runs{{0, 3}, {c.width - 3, c.readWidth}}))
      << "cut at the stated width, not coded past it";
}

INSTANTIATE_TEST_SUITE_P(
    Writers, SizeField,
    ::testing::Values(FieldCase{"CalsWidth", kFormatCals, 1000000, 4, kRioBadColumns, 0, 0},
                      FieldCase{"CalsHeight", kFormatCals, 8, 1000000, kRioBadRows, 0, 0},
                      FieldCase{"PcxWidth", kFormatPcx, 65537, 4, kRioBadColumns, 0, 0},
                      FieldCase{"PcxHeight", kFormatPcx, 8, 65537, kRioBadRows, 0, 0},
                      FieldCase{"CitWidth", kFormatCit, 65536, 4, kRioBadColumns, 0, 0},
                      FieldCase{"CitHeight", kFormatCit, 8, 65536, kRioBadRows, 0, 0},
                      FieldCase{"JdlWidth", kFormatJdl, 524281, 4, kRioBadColumns, 0, 0},
                      FieldCase{"Jdl4000Height", kFormatJdl4000, 8, 65536, kRioBadRows, 0, 0},
                      FieldCase{"RlcWidth", kFormatRlc, 65535, 4, kRioBadColumns, 0, 0},
                      FieldCase{"RunLengthWidth", kFormatRunLength, 32768, 4, kRioBadColumns, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

std::vector<RasterFormatId> readAndWrittenIds() {
  std::vector<RasterFormatId> ids;
  for (RasterFormatId id : writtenIds())
    if (rioFormatInfo(id).reads) ids.push_back(id);
  return ids;
}

class NoRows : public testfiles::FileTest, public ::testing::WithParamInterface<RasterFormatId> {};

// A file stating a page of no rows is never read as a page: it has nothing to translate.
TEST_P(NoRows, ReaderRefusesThePage) {
  const RasterFormatId id = GetParam();
  const auto path = fresh();
  const testfiles::DriverWrite w = testfiles::writeWithDriver(path, id, 64, 0, {},
                                                              [](RCB* rcb) { rcb->xDpi = rcb->yDpi = 200; });
  if (w.open != 0 || w.bytes.empty()) return;
  const testread::PageRecord r = testread::readBack(path, id);
  EXPECT_EQ(r.open, kRioBadRows);
  EXPECT_TRUE(r.lines.empty());
}

INSTANTIATE_TEST_SUITE_P(EveryReader, NoRows, ::testing::ValuesIn(readAndWrittenIds()));

}  // namespace
}  // namespace vantrel
