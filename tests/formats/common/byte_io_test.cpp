// The byte helpers writers build headers with (numbers in both orders, whole writes, late patches) and the
// table of strip or tile offsets and byte counts: growth, ranges, and the bytes it writes in either order.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "formats/common/byte_io.h"
#include "formats/common/offset_table.h"
#include "rio/alloc.h"
#include "rio/stream.h"

namespace vantrel {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(ByteOrder, GettersAndPuttersAgreeWithTheByteLayout) {
  const uint8_t b[4] = {0x81, 0x02, 0x03, 0xF4};
  EXPECT_EQ(getLe16(b), 0x0281);
  EXPECT_EQ(getBe16(b), 0x8102);
  EXPECT_EQ(getLe32(b), 0xF4030281u);
  EXPECT_EQ(getBe32(b), 0x810203F4u);
  EXPECT_EQ(get16(b, true), getBe16(b));
  EXPECT_EQ(get32(b, false), getLe32(b));
  // A 16-bit field stays small: differences of two fields may go below zero as they do on any uint16_t.
  EXPECT_EQ(getLe16(b) - getBe16(b), 0x0281 - 0x8102);

  for (const bool big : {false, true}) {
    uint8_t out[6] = {};
    put16(out, 0xABCD1234u, big);  // only the low 16 bits are stored
    put32(out + 2, 0x810203F4u, big);
    EXPECT_EQ(get16(out, big), 0x1234);
    EXPECT_EQ(get32(out + 2, big), 0x810203F4u);
    EXPECT_EQ(out[0], big ? 0x12 : 0x34);
    EXPECT_EQ(out[2], big ? 0x81 : 0xF4);
  }
}

// A file-backed write stream made seekable, as the patching writers make theirs.
class WriteStream : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = std::tmpfile();
    ASSERT_NE(file_, nullptr);
    s_ = streamOpen(file_, "w");
    ASSERT_NE(s_, nullptr);
    ASSERT_EQ(streamMakeSeekable(s_), 0);
  }
  void TearDown() override {
    if (s_) (void)streamClose(s_);
    std::fclose(file_);
  }
  Bytes closeAndRead() {
    EXPECT_EQ(streamClose(s_), 1);
    s_ = nullptr;
    Bytes b(64);
    std::rewind(file_);
    b.resize(std::fread(b.data(), 1, b.size(), file_));
    return b;
  }
  std::FILE* file_ = nullptr;
  RasterStream* s_ = nullptr;
};

TEST_F(WriteStream, PatchAtOverwritesAFieldAndReturnsToTheEnd) {
  const uint8_t head[8] = {'H', 'D', 0, 0, 0, 0, 'X', 'Y'};
  ASSERT_EQ(writeAll(s_, head, sizeof head), kRioOk);
  ASSERT_EQ(writeAll(s_, "data", 4), kRioOk);
  uint8_t field[4];
  putBe32(field, 12);
  ASSERT_EQ(patchAt(s_, 2, field, 4), kRioOk);
  EXPECT_EQ(streamTell(s_), 12);
  ASSERT_EQ(writeAll(s_, "!", 1), kRioOk);
  EXPECT_EQ(closeAndRead(), (Bytes{'H', 'D', 0, 0, 0, 12, 'X', 'Y', 'd', 'a', 't', 'a', '!'}));
}

TEST(WriteAll, FailsOnAShortWriteAndOnceTheStreamHasLostBytes) {
  // A sink that takes nothing: the first full buffer is lost.
  RasterStream* s = streamOpen(nullptr, "w");
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(streamSetWriteCallback(s, [](const void*, size_t, size_t, void*) -> size_t { return 0; }, nullptr), 1);
  const Bytes block(kStreamBufferSize + 10, 0x55);
  EXPECT_EQ(writeAll(s, block.data(), static_cast<int64_t>(block.size())), kRioStreamIo);
  EXPECT_EQ(writeAll(s, "x", 1), kRioStreamIo) << "the stream has lost bytes: nothing written later helps";
  EXPECT_EQ(writeAll(s, "x", 0), kRioOk) << "nothing to write";
  // Without random access a patch changes nothing and says so.
  EXPECT_EQ(patchAt(s, 0, "x", 1), 5);
  (void)streamClose(s);
}

// ---- the offset table

TEST(OffsetTable, GrowsInStepsAndKeepsEveryEntry) {
  const int64_t before = rioBytesInUse();
  {
    OffsetTable t;
    for (int64_t i = 0; i < 2500; ++i) ASSERT_EQ(offsetTableAdd(&t, 100 * i, i + 1), kRioOk);
    EXPECT_EQ(t.count, 2500);
    EXPECT_EQ(t.capacity, 3000);
    EXPECT_EQ(t.offsets[1999], 199900u);
    EXPECT_EQ(t.byteCounts[2499], 2500u);
    // Set by index: a tiled writer that knows its tiles files them where they belong.
    ASSERT_EQ(offsetTableSet(&t, 3004, 7, 8), kRioOk);
    EXPECT_EQ(t.count, 3005);
    EXPECT_EQ(t.capacity, 4000);
    EXPECT_EQ(t.offsets[3003], 0u);
    EXPECT_EQ(t.offsets[3004], 7u);
    ASSERT_EQ(offsetTableSet(&t, 10, 1, 2), kRioOk);
    EXPECT_EQ(t.count, 3005);
    EXPECT_EQ(offsetTableSet(&t, -1, 1, 2), kRioBadParameter);
  }
  EXPECT_EQ(rioBytesInUse(), before);
}

TEST(OffsetTable, RefusesValuesNo32BitFieldHolds) {
  OffsetTable t;
  EXPECT_EQ(offsetTableAdd(&t, UINT32_MAX, UINT32_MAX), kRioOk);
  EXPECT_EQ(offsetTableAdd(&t, int64_t{UINT32_MAX} + 1, 0), kRioInternal);
  EXPECT_EQ(offsetTableAdd(&t, 0, int64_t{UINT32_MAX} + 1), kRioInternal);
  EXPECT_EQ(offsetTableAdd(&t, -1, 0), kRioInternal);
  EXPECT_EQ(t.count, 1);
  EXPECT_EQ(offsetTableReserve(&t, int64_t{INT32_MAX}), kRioOutOfMemory);
  rioFailAllocationAfter(0);
  EXPECT_EQ(offsetTableReserve(&t, 5000), kRioOutOfMemory);
  rioFailAllocationAfter(-1);
  EXPECT_EQ(t.capacity, 1000);
}

struct TableCase {
  TableColumns columns;
  bool bigEndian;
  int64_t base;
  Bytes expected;
};

class OffsetTableWrite : public WriteStream, public ::testing::WithParamInterface<TableCase> {};

TEST_P(OffsetTableWrite, WritesTheColumnsInTheByteOrderAsked) {
  OffsetTable t;
  ASSERT_EQ(offsetTableAdd(&t, 0x1064, 0x0102), kRioOk);
  ASSERT_EQ(offsetTableAdd(&t, 0x20304, 0x05), kRioOk);
  const TableCase& c = GetParam();
  ASSERT_EQ(offsetTableWrite(t, s_, c.columns, c.bigEndian, c.base), kRioOk);
  EXPECT_EQ(closeAndRead(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, OffsetTableWrite,
    ::testing::Values(
        TableCase{TableColumns::kOffsets, false, 0, {0x64, 0x10, 0, 0, 0x04, 0x03, 0x02, 0}},
        TableCase{TableColumns::kByteCounts, true, 0, {0, 0, 0x01, 0x02, 0, 0, 0, 0x05}},
        // Pairs counted from an image header at 1024, as a tile table that counts from there.
        TableCase{TableColumns::kPairs, true, 1024,
                  {0, 0, 0x0C, 0x64, 0, 0, 0x01, 0x02, 0, 0x01, 0xFF, 0x04, 0, 0, 0, 0x05}}));

TEST_F(WriteStream, AnOffsetBelowTheBaseIsRefused) {
  OffsetTable t;
  ASSERT_EQ(offsetTableAdd(&t, 100, 1), kRioOk);
  EXPECT_EQ(offsetTableWrite(t, s_, TableColumns::kPairs, true, 101), kRioInternal);
}

// More entries than one write takes: the chunks join without a seam.
TEST_F(WriteStream, ATableOfManyEntriesIsWrittenWhole) {
  OffsetTable t;
  for (uint32_t i = 0; i < 700; ++i) ASSERT_EQ(offsetTableAdd(&t, i, 0), kRioOk);
  ASSERT_EQ(offsetTableWrite(t, s_, TableColumns::kPairs, false), kRioOk);
  EXPECT_EQ(streamTell(s_), 700 * 8);
  ASSERT_EQ(streamFlush(s_), true);
  Bytes b(700 * 8);
  std::rewind(file_);
  ASSERT_EQ(std::fread(b.data(), 1, b.size(), file_), b.size());
  for (uint32_t i = 0; i < 700; ++i) ASSERT_EQ(getLe32(b.data() + 8 * i), i) << i;
}

}  // namespace
}  // namespace vantrel
