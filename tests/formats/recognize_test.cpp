#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "formats/open.h"
#include "rio/rcb.h"
#include "tests/support/read_back.h"

namespace vantrel {
namespace {

struct MagicCase {
  std::vector<uint8_t> bytes;
  RasterFormatId id;
  RioStatus status;
};

class Recognition : public ::testing::TestWithParam<MagicCase> {};

TEST_P(Recognition, FirstMatchingRuleDecides) {
  const MagicCase& c = GetParam();
  RioStatus st = 12345;
  EXPECT_EQ(rioRecognizeBytes(c.bytes.data(), static_cast<int32_t>(c.bytes.size()), &st), c.id);
  EXPECT_EQ(st, c.status);
}

std::vector<uint8_t> B(std::initializer_list<int> v) { return std::vector<uint8_t>(v.begin(), v.end()); }

INSTANTIATE_TEST_SUITE_P(
    Magics, Recognition,
    ::testing::Values(MagicCase{B({'I', 'I', 42, 0, 8}), 10, 0},          //
                      MagicCase{B({'M', 'M', 0, 0, 0}), 10, 0},           // anything after "MM"
                      MagicCase{B({'D', 'I', 'x', 'x', 'x'}), 13, 0},     //
                      MagicCase{B({'s', 'r', 'c', 'd', 'o'}), 6, 0},      //
                      MagicCase{B({'s', 'r', 'c', 'x', 'o'}), 0, -2},     //
                      MagicCase{B({'Z', 'E', 'B', ' ', 0}), 3, 0},        //
                      MagicCase{B({'Z', 'E', 'B', ' ', 1}), 4, 0},        //
                      MagicCase{B({'Z', 'E', 'B', ' ', 2}), 5, 0},        //
                      MagicCase{B({'Z', 'E', 'B', 0, 1}), 4, 0},          // NUL as the fourth byte
                      MagicCase{B({'Z', 'E', 'B', ' ', 3}), 0, -2},       // unknown coding type
                      MagicCase{B({'Z', 'E', 'B', 'X', 0}), 0, -2},       // falls through to the end
                      MagicCase{B({0x9B, 0x52, 0, 0, 0}), 34, 0},         //
                      MagicCase{B({0x9B, 0x5C, 0, 0, 0}), 34, 0},         //
                      MagicCase{B({0x9B, 0x5F, 0, 0, 0}), 34, 0},         //
                      MagicCase{B({0x9B, 0x53, 0, 0, 0}), 0, -2},         //
                      MagicCase{B({0x9B, 0x60, 0, 0, 0}), 0, -2},         //
                      MagicCase{B({0x0A, 0xFF, 0xFF, 0xFF, 0xFF}), 20, 0},  // PCX whatever follows
                      MagicCase{B({0x02, 0, 0, 0, 0}), 25, 0},            //
                      MagicCase{B({0x03, 0, 0, 0, 0}), 26, 0},            //
                      MagicCase{B({0x12, 0, 0, 0, 0}), 30, 0},            //
                      MagicCase{B({0x08, 0x00, 0, 0, 0}), 31, 0},         //
                      MagicCase{B({0x08, 0x09, 0, 0, 0}), 31, 0},         //
                      MagicCase{B({0x08, 0x01, 0, 0, 0}), 0, -2},         //
                      MagicCase{B({'P', '4', '\n', '1', ' '}), 36, 0},    // PBM, after every other probe
                      MagicCase{B({'P', '4', '1', ' ', '1'}), 0, -2},     // no white space after the magic
                      MagicCase{B({'I', 'I', 42, 0}), 0, -8},             // four bytes
                      MagicCase{B({}), 0, -8}));

// Through a real stream: recognition consumes exactly five bytes and keeps them as the probe bytes.
class RecognizeFile : public ::testing::Test {
 protected:
  RasterStream* streamOver(const std::vector<uint8_t>& bytes) {
    file_ = std::tmpfile();
    if (!bytes.empty()) {
      EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file_), bytes.size());
    }
    std::rewind(file_);
    return streamOpen(file_, "r");
  }
  void TearDown() override {
    if (file_) std::fclose(file_);
  }
  std::FILE* file_ = nullptr;
};

TEST_F(RecognizeFile, EmptyAndShortFilesFailTheOpenWithStreamIoError) {
  for (size_t n : {0, 3, 4})
    EXPECT_EQ(testread::readBackBytes(std::vector<uint8_t>(n, 'I')).open, kRioStreamIo) << n;
}

TEST_F(RecognizeFile, UnknownBytesGiveUnknownFormat) {
  EXPECT_EQ(testread::readBackBytes(B({'h', 'e', 'l', 'l', 'o', ' ', 'w'})).open, kRioUnknownFormat);
}

TEST_F(RecognizeFile, ProbeBytesAreHandedToTheReaderThenTheStreamContinues) {
  StreamPtr s(streamOver(B({'I', 'I', 42, 0, 8, 0, 0, 0, 'x', 'y'})));
  RCB* rcb = rioNew<RCB>();
  rcb->inStream = s.get();
  RioStatus st = 1;
  EXPECT_EQ(rioRecognizeRaster(rcb, &st), 10);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(rcb->probeCount, 5);
  uint8_t buf[7] = {};
  EXPECT_EQ(rioReadInput(rcb, buf, 3), 3);
  EXPECT_EQ(buf[2], 42);
  EXPECT_EQ(rioReadInput(rcb, buf, 7), 7);  // two probe bytes, then five from the stream
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(buf[1], 8);
  EXPECT_EQ(buf[6], 'y');
  EXPECT_EQ(rcb->probeBytes, nullptr);  // released once used up
  EXPECT_EQ(rcb->probeCount, 0);
  rioDelete(rcb);
}

}  // namespace
}  // namespace vantrel
