// The raster control block's line counting, modes and ownership, exercised through the internal run-list
// dump format (id 1), whose layout is trivial to build by hand.
#include "formats/open.h"
#include "rio/rcb.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "formats/registry.h"

namespace vantrel {
namespace {

void putLE(std::vector<uint8_t>& v, int32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(static_cast<uint32_t>(x) >> (8 * i)));
}

// A dump file of `lines` lines (line i has one run [i, i + 1)) declaring the given width and height.
std::vector<uint8_t> dumpFile(int32_t width, int32_t height, int32_t lines) {
  std::vector<uint8_t> v = {'R', 'U', 'N', '1'};
  putLE(v, width);
  putLE(v, height);
  for (int32_t i = 0; i < lines; ++i) {
    putLE(v, 1);
    putLE(v, i % width);
    putLE(v, i % width + 1);
  }
  return v;
}

class RcbTest : public ::testing::Test {
 protected:
  void SetUp() override { baseline_ = rioBytesInUse(); }
  void TearDown() override {
    for (std::FILE* f : files_) std::fclose(f);
    EXPECT_EQ(rioBytesInUse(), baseline_) << "accounted memory leaked";
  }
  std::FILE* fileWith(const std::vector<uint8_t>& bytes) {
    std::FILE* f = std::tmpfile();
    if (!bytes.empty()) {
      EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    }
    std::rewind(f);
    files_.push_back(f);
    return f;
  }
  StreamPtr input(const std::vector<uint8_t>& bytes) { return StreamPtr(streamOpen(fileWith(bytes), "r")); }
  StreamPtr output(std::FILE** file = nullptr) {
    std::FILE* f = fileWith({});
    if (file) *file = f;
    return StreamPtr(streamOpen(f, "w"));
  }
  static long sizeOf(std::FILE* f) {
    std::fflush(f);
    std::fseek(f, 0, SEEK_END);
    return std::ftell(f);
  }

  int64_t baseline_ = 0;
  std::vector<std::FILE*> files_;
};

TEST_F(RcbTest, ExactlyHeightLinesThenEndOfPage) {
  StreamPtr in = input(dumpFile(8, 3, 3));
  RioStatus st = 1;
  RcbPtr rcb(rioOpenRasterRead(in.get(), kFormatRunDump, &st));
  ASSERT_EQ(st, 0);
  ASSERT_TRUE(rcb);
  for (int i = 0; i < 3; ++i) {
    Sline line = rioReadRasterSline(rcb.get());
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line[0], i);
    EXPECT_EQ(line[-2], 0);  // the sentinel pair in front of the line
    EXPECT_EQ(line[-1], 0);
  }
  EXPECT_EQ(rioReadRasterSline(rcb.get()), nullptr);
  EXPECT_EQ(rcb->status, kRioEndOfPage);
  EXPECT_EQ(rcb->linesRead, 3);
}

TEST_F(RcbTest, EarlyEndOfPageIsTooFewRowsEvenAfterAnEarlierStatus) {
  StreamPtr in = input(dumpFile(8, 5, 2));
  RioStatus st = 1;
  RcbPtr rcb(rioOpenRasterRead(in.get(), kFormatRunDump, &st));
  ASSERT_TRUE(rcb);
  ASSERT_NE(rioReadRasterSline(rcb.get()), nullptr);
  rcb->status = kRioBadData;  // an earlier error and warning are both replaced
  rcb->warning = kRioBadColumns;
  ASSERT_NE(rioReadRasterSline(rcb.get()), nullptr);
  EXPECT_EQ(rioReadRasterSline(rcb.get()), nullptr);
  EXPECT_EQ(rcb->status, kRioBadRows);
  EXPECT_EQ(rcb->warning, 0);
}

TEST_F(RcbTest, ALineBeyondTheHeightIsRefused) {
  StreamPtr in = input(dumpFile(8, 2, 4));
  RioStatus st = 1;
  RcbPtr rcb(rioOpenRasterRead(in.get(), kFormatRunDump, &st));
  ASSERT_TRUE(rcb);
  ASSERT_NE(rioReadRasterSline(rcb.get()), nullptr);
  ASSERT_NE(rioReadRasterSline(rcb.get()), nullptr);
  EXPECT_EQ(rioReadRasterSline(rcb.get()), nullptr);
  EXPECT_EQ(rcb->status, kRioBadRows);
  EXPECT_EQ(rcb->linesRead, 2);
}

TEST_F(RcbTest, WrongModesAreRefused) {
  StreamPtr in = input(dumpFile(8, 2, 2));
  RioStatus st = 0;
  RcbPtr reader(rioOpenRasterRead(in.get(), kFormatRunDump, &st));
  ASSERT_TRUE(reader);
  EXPECT_EQ(rioWriteRasterSline(reader.get()), kRioWrongMode);
  EXPECT_EQ(reader->status, kRioWrongMode);

  StreamPtr out = output();
  RcbPtr writer(rioOpenRasterWrite(out.get(), 8, 2, kFormatRunDump, &st));
  ASSERT_TRUE(writer);
  EXPECT_EQ(rioReadRasterSline(writer.get()), nullptr);
  EXPECT_EQ(writer->status, kRioUnknownFormat);  // a writing RCB has no input format

  // Streams in the wrong mode.
  EXPECT_EQ(rioOpenRasterRead(out.get(), kFormatRunDump, &st), nullptr);
  EXPECT_EQ(st, kRioBadStream);
  EXPECT_EQ(rioOpenRasterWrite(in.get(), 8, 2, kFormatRunDump, &st), nullptr);
  EXPECT_EQ(st, kRioBadStream);
  EXPECT_EQ(rioOpenRasterRead(nullptr, kFormatRunDump, &st), nullptr);
  EXPECT_EQ(st, kRioBadStream);
}

TEST_F(RcbTest, OpenRefusesBadIdsAndSizes) {
  StreamPtr out = output();
  RioStatus st = 0;
  for (RasterFormatId id : {0, -1, kMaxFormatId + 1}) {
    EXPECT_EQ(rioOpenRasterWrite(out.get(), 8, 8, id, &st), nullptr);
    EXPECT_EQ(st, kRioUnknownFormat) << id;
  }
  EXPECT_EQ(rioOpenRasterWrite(out.get(), -1, 8, kFormatRunDump, &st), nullptr);
  EXPECT_EQ(st, kRioBadColumns);
  EXPECT_EQ(rioOpenRasterWrite(out.get(), 8, -1, kFormatRunDump, &st), nullptr);
  EXPECT_EQ(st, kRioBadRows);
  // An id without a driver answers not implemented.
  EXPECT_EQ(rioOpenRasterWrite(out.get(), 8, 8, 2, &st), nullptr);
  EXPECT_EQ(st, kRioNotImplemented);
  StreamPtr in = input(dumpFile(8, 1, 1));
  EXPECT_EQ(rioOpenRasterRead(in.get(), kMaxFormatId + 1, &st), nullptr);
  EXPECT_EQ(st, kRioUnknownFormat);
}

struct HostileSize {
  int32_t width;
  int32_t height;
  RioStatus status;
};

class HostileHeaderSizes : public RcbTest, public ::testing::WithParamInterface<HostileSize> {};

TEST_P(HostileHeaderSizes, AreRefusedBeforeAnyLineBufferIsMade) {
  std::vector<uint8_t> bytes = dumpFile(1, 1, 0);
  bytes.resize(4);
  putLE(bytes, GetParam().width);
  putLE(bytes, GetParam().height);
  StreamPtr hostile = input(bytes);
  RioStatus st = 0;
  EXPECT_EQ(rioOpenRasterRead(hostile.get(), kFormatRunDump, &st), nullptr);
  EXPECT_EQ(st, GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(Sizes, HostileHeaderSizes,
                         ::testing::Values(HostileSize{0, 10, kRioBadColumns}, HostileSize{-5, 10, kRioBadColumns},
                                           HostileSize{INT32_MAX, 10, kRioBadColumns},
                                           HostileSize{kMaxLineWidth + 1, 10, kRioBadColumns},
                                           HostileSize{10, -1, kRioBadRows}));

TEST_F(RcbTest, TheHeaderIsWrittenByTheFirstLineNotByTheOpen) {
  std::FILE* f = nullptr;
  StreamPtr out = output(&f);
  RioStatus st = 0;
  RCB* rcb = rioOpenRasterWrite(out.get(), 8, 2, kFormatRunDump, &st);
  ASSERT_NE(rcb, nullptr);
  EXPECT_FALSE(rcb->headerWritten);
  EXPECT_EQ(rioCloseRaster(rcb), 0);
  EXPECT_EQ(streamClose(out.release()), 1);
  EXPECT_EQ(sizeOf(f), 0);

  std::FILE* g = nullptr;
  StreamPtr out2 = output(&g);
  rcb = rioOpenRasterWrite(out2.get(), 8, 2, kFormatRunDump, &st);
  ASSERT_NE(rcb, nullptr);
  rcb->curSline[0] = 2;
  rcb->curSline[1] = 5;
  rcb->curSline[2] = rcb->curSline[3] = -1;
  EXPECT_EQ(rioWriteRasterSline(rcb), 0);
  EXPECT_TRUE(rcb->headerWritten);
  EXPECT_EQ(rcb->linesWritten, 1);
  EXPECT_EQ(rioCloseRaster(rcb), 0);
  EXPECT_EQ(streamClose(out2.release()), 1);
  EXPECT_EQ(sizeOf(g), 12 + 4 + 8);
}

TEST_F(RcbTest, ReadWriteRcbSharesItsLinesAndHeaderFields) {
  StreamPtr in = input(dumpFile(8, 3, 3));
  std::FILE* f = nullptr;
  StreamPtr out = output(&f);
  RioStatus st = 1;
  RCB* rcb = rioOpenRasterReadWrite(in.get(), kFormatRunDump, out.get(), kFormatRunDump, &st);
  ASSERT_NE(rcb, nullptr);
  EXPECT_EQ(rcb->width, 8);
  int lines = 0;
  while (rioReadRasterSline(rcb)) {
    ASSERT_EQ(rioWriteRasterSline(rcb), 0);
    rioSwapSlines(rcb);
    ++lines;
  }
  EXPECT_EQ(lines, 3);
  EXPECT_EQ(rioCloseRaster(rcb), 0);
  EXPECT_EQ(streamClose(out.release()), 1);
  EXPECT_EQ(sizeOf(f), static_cast<long>(dumpFile(8, 3, 3).size()));

  StreamPtr in2 = input(dumpFile(8, 3, 3));
  StreamPtr out2 = output();
  EXPECT_EQ(rioOpenRasterReadWrite(in2.get(), kFormatRunDump, out2.get(), 0, &st), nullptr);
  EXPECT_EQ(st, kRioUnknownFormat);
}

TEST_F(RcbTest, FailedAllocationsGiveOutOfMemoryAndLeakNothing) {
  std::vector<uint8_t> bytes = dumpFile(8, 2, 2);
  for (int64_t k = 0; k < 4; ++k) {
    std::FILE* f = fileWith(bytes);
    RasterStream* in = streamOpen(f, "r");
    ASSERT_NE(in, nullptr);
    rioFailAllocationAfter(k);
    RioStatus st = 0;
    RCB* rcb = rioOpenRasterRead(in, 0 /* recognise: fails on these bytes */, &st);
    rioFailAllocationAfter(-1);
    EXPECT_EQ(rcb, nullptr);
    EXPECT_TRUE(st == kRioOutOfMemory || st == kRioUnknownFormat) << st;
    (void)streamClose(in);
  }
  for (int64_t k = 0; k < 3; ++k) {
    StreamPtr in = input(bytes);
    rioFailAllocationAfter(k);
    RioStatus st = 0;
    RCB* rcb = rioOpenRasterRead(in.get(), kFormatRunDump, &st);
    rioFailAllocationAfter(-1);
    if (rcb) {
      (void)rioCloseRaster(rcb);
    } else {
      EXPECT_EQ(st, kRioOutOfMemory);
    }
  }
}

TEST_F(RcbTest, LineBufferPairSwaps) {
  StreamPtr out = output();
  RioStatus st = 0;
  RcbPtr rcb(rioOpenRasterWrite(out.get(), 9, 1, kFormatRunDump, &st));
  ASSERT_TRUE(rcb);
  ASSERT_EQ(rioAllocSlinePair(rcb.get()), 0);
  EXPECT_EQ(rcb->slineCount, 2);
  Sline cur = rcb->curSline;
  Sline ref = rcb->refSline;
  EXPECT_EQ(ref[-2], 0);
  rioSwapSlines(rcb.get());
  EXPECT_EQ(rcb->curSline, ref);
  EXPECT_EQ(rcb->refSline, cur);
  // Odd width 9 holds five runs, the terminator and the sentinel pair.
  EXPECT_EQ(rcb->slineBytes, static_cast<int64_t>(sizeof(int32_t)) * (2 * 5 + 2 + 2));
}

TEST(RcbAccessors, NullRcbAndTexts) {
  EXPECT_EQ(rioSetWidth(nullptr, 5), kRioNoRcb);
  EXPECT_EQ(rioGetWidth(nullptr), 0);
  EXPECT_EQ(rioCloseRaster(nullptr), kRioNoRcb);
  EXPECT_EQ(rioWriteRasterSline(nullptr), kRioNoRcb);
  EXPECT_EQ(rioReadRasterSline(nullptr), nullptr);
  char tag[5];
  rioGetMakerTag(nullptr, tag);
  EXPECT_STREQ(tag, "    ");

  RCB* rcb = rioNew<RCB>();
  rioGetMakerTag(rcb, tag);
  EXPECT_STREQ(tag, "ZEB ");
  EXPECT_EQ(rioGetAttribute(rcb), 126);
  EXPECT_STREQ(rioGetCalsText(rcb, CalsText::kNotes), "NONE");
  std::string longText(300, 'x');
  EXPECT_EQ(rioSetCalsText(rcb, CalsText::kFigid, longText.c_str()), 0);
  EXPECT_EQ(std::string(rioGetCalsText(rcb, CalsText::kFigid)).size(), 121u);
  EXPECT_EQ(rioSetCalsText(rcb, CalsText::kSrcdocid, longText.c_str()), 0);
  EXPECT_EQ(std::string(rioGetCalsText(rcb, CalsText::kSrcdocid)).size(), 118u);
  const uint8_t data[] = {1, 2, 3};
  EXPECT_EQ(rioSetExtraHeader(rcb, data, 3), 0);
  EXPECT_EQ(rioGetExtraHeaderLength(rcb), 3);
  EXPECT_EQ(rioGetExtraHeader(rcb)[2], 3);
  int32_t len = 0;
  uint8_t* block = rioDetachExtraHeader(rcb, &len);
  EXPECT_EQ(len, 3);
  EXPECT_EQ(rioGetExtraHeader(rcb), nullptr);
  EXPECT_EQ(rioAttachExtraHeader(rcb, block, 3), 0);  // ownership back to the RCB, freed with it
  rcb->inFormat = 0;
  EXPECT_EQ(rioCloseRaster(rcb), 0);
}

}  // namespace
}  // namespace vantrel
