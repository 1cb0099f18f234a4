// Versatec block format writer: the stream is parsed back by the tests' decoder of the record layout
// (opcode, body length, body; big-endian; tests/support/device_decoders.h), and every decoded row must equal
// the input cut or padded to the plotter model's line length.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "formats/registry.h"
#include "rio/rcb.h"
#include "tests/support/device_decoders.h"
#include "tests/support/device_page.h"

namespace vantrel {
namespace {

using devicetest::decodeVbf;
using devicetest::packRow;
using devicetest::refuseEverything;
using devicetest::Runs;
using devicetest::Sink;
using devicetest::VbfPlot;
using devicetest::Written;

// Writes the rows through the settings naming `model` (nullptr: unset).
Written writePage(const char* model, int32_t width, double xDpi, double yDpi, const std::vector<Runs>& rows,
                  StreamWriteFn sink = nullptr, void* sinkContext = nullptr) {
  RioSettings settings;
  if (model) settings.versatecModel = model;
  return devicetest::writePage(
      kFormatVersatec, width, rows,
      {.xDpi = xDpi, .yDpi = yDpi, .sink = sink, .sinkContext = sinkContext, .settings = &settings});
}

class VersatecWriter : public devicetest::AccountedMemoryTest {
 protected:
  // Writes the rows with the model, decodes them and compares every row with the input.
  void checkRoundTrip(const char* model, int32_t width, const std::vector<Runs>& rows, uint16_t lineBytes) {
    Written w = writePage(model, width, 200, 200, rows);
    ASSERT_EQ(w.open, kRioOk);
    EXPECT_EQ(w.status, kRioOk);
    EXPECT_EQ(w.streamOk, 1);
    VbfPlot plot;
    ASSERT_EQ(decodeVbf(w.bytes, &plot), "");
    EXPECT_EQ(plot.lineBytes, lineBytes);
    ASSERT_EQ(plot.rows.size(), rows.size());
    const int32_t pixels = std::min(width, lineBytes * 8);
    for (size_t i = 0; i < rows.size(); ++i)
      EXPECT_EQ(plot.rows[i], packRow(rows[i], pixels, lineBytes)) << "row " << i;
    EXPECT_EQ(w.bytes.size(), 18 + rows.size() * (6u + lineBytes) + 10);
  }
};

struct ModelCase {
  const char* model;   // nullptr: not set
  uint16_t lineBytes;  // 0: not a model, the open fails
};
std::ostream& operator<<(std::ostream& os, const ModelCase& c) {
  return os << (c.model ? "\"" + std::string(c.model) + "\"" : std::string("unset")) << " -> " << c.lineBytes;
}

class VersatecModels : public VersatecWriter, public ::testing::WithParamInterface<ModelCase> {};

// Each model writes its own line length; a row wider than the line is cut at its right end.
TEST_P(VersatecModels, LineLengthComesFromTheModel) {
  const ModelCase& c = GetParam();
  if (c.lineBytes == 0) {
    Written w = writePage(c.model, 100, 200, 200, {{{0, 8}}});
    EXPECT_EQ(w.open, kRioNotImplemented);
    EXPECT_TRUE(w.bytes.empty()) << "nothing is written for an unknown model";
    return;
  }
  const int32_t device = c.lineBytes * 8;
  checkRoundTrip(c.model, device + 37, {{{0, 1}, {device - 3, device + 20}}, {}, {{5, device + 37}}},
                 c.lineBytes);
}

INSTANTIATE_TEST_SUITE_P(
    Table, VersatecModels,
    ::testing::Values(ModelCase{nullptr, 1760}, ModelCase{"", 1760}, ModelCase{"V8510", 1320},
                      ModelCase{"V8624", 576}, ModelCase{"V8624HR", 1152}, ModelCase{"V8625", 588},
                      ModelCase{"V8625HR", 1176}, ModelCase{"V8636", 880}, ModelCase{"V8636HR", 1760},
                      ModelCase{"V8810A", 264}, ModelCase{"V8810AHR", 512}, ModelCase{"V8810B", 264},
                      ModelCase{"V8810BHR", 512}, ModelCase{"V8836", 880}, ModelCase{"V8836HR", 1760},
                      ModelCase{"V8910C", 1284}, ModelCase{"V8910", 1320}, ModelCase{"V8924C", 564},
                      ModelCase{"V8924", 588}, ModelCase{"V8924HRC", 1128}, ModelCase{"V8924HR", 1176},
                      ModelCase{"V8925C", 576}, ModelCase{"V8925", 588}, ModelCase{"V8925HRC", 1152},
                      ModelCase{"V8925HR", 1176}, ModelCase{"V8936C", 856}, ModelCase{"V8936", 880},
                      ModelCase{"V8936HRC", 1712}, ModelCase{"V8936HR", 1760}, ModelCase{"V8944C", 1052},
                      ModelCase{"V8944", 1076}, ModelCase{"V8944HRC", 2104}, ModelCase{"V8944HR", 2152},
                      ModelCase{"V8770", 1760}, ModelCase{"V8770E", 1760},
                      // Names are compared exactly, letter case included.
                      ModelCase{"v8810a", 0}, ModelCase{"V8810", 0}, ModelCase{"V8810A ", 0},
                      ModelCase{" V8810A", 0}, ModelCase{"V8770EX", 0}, ModelCase{"none", 0}));

struct GeometryCase {
  const char* name;
  const char* model;
  int32_t width;
  std::vector<Runs> rows;
};
std::ostream& operator<<(std::ostream& os, const GeometryCase& c) {
  return os << c.name;
}

class VersatecGeometry : public VersatecWriter, public ::testing::WithParamInterface<GeometryCase> {};

TEST_P(VersatecGeometry, DecodedRowsEqualTheInput) {
  const GeometryCase& c = GetParam();
  const uint16_t lineBytes = c.model ? 264 : 1760;
  checkRoundTrip(c.model, c.width, c.rows, lineBytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VersatecGeometry,
    ::testing::Values(
        GeometryCase{"OnePixel", nullptr, 1, {{{0, 1}}}},
        GeometryCase{"NarrowImagePaddedWhite", nullptr, 100, {{{0, 100}}, {{3, 5}, {97, 100}}}},
        GeometryCase{"RowOfTheDeviceWidth", "V8810A", 2112, {{{0, 2112}}, {{2111, 2112}}, {{0, 1}}}},
        GeometryCase{"WideImageCutAtTheRight", "V8810A", 4000, {{{2000, 3000}}, {{2112, 4000}}, {{0, 4000}}}},
        GeometryCase{"WhiteRows", "V8810A", 2000, {{}, {}, {}}},
        GeometryCase{"RunsBeyondTheWidthAreClipped", "V8810A", 20, {{{15, 40}}, {{25, 30}}, {{-4, 3}}}},
        GeometryCase{"PartialBytes", "V8810A", 64, {{{3, 5}, {9, 10}, {17, 31}, {32, 40}, {47, 49}}}},
        GeometryCase{"ZeroRows", "V8810A", 64, {}}),
    [](const auto& info) { return std::string(info.param.name); });

struct DpiCase {
  double x, y;
  uint16_t header;
};
std::ostream& operator<<(std::ostream& os, const DpiCase& c) {
  return os << c.x << " x " << c.y << " -> " << c.header;
}

class VersatecResolution : public VersatecWriter, public ::testing::WithParamInterface<DpiCase> {};

TEST_P(VersatecResolution, HeaderCarriesTheMeanResolution) {
  Written w = writePage(nullptr, 16, GetParam().x, GetParam().y, {{{0, 16}}});
  VbfPlot plot;
  ASSERT_EQ(decodeVbf(w.bytes, &plot), "");
  EXPECT_EQ(plot.dpi, GetParam().header);
}

INSTANTIATE_TEST_SUITE_P(Vectors, VersatecResolution,
                         ::testing::Values(DpiCase{200, 400, 300}, DpiCase{200, 201, 200},
                                           DpiCase{400, 400, 400}, DpiCase{150.9, 150.9, 150},
                                           // An unknown axis takes the other's value, 200 when both are.
                                           DpiCase{0, 300, 300}, DpiCase{300, 0, 300}, DpiCase{0, 0, 200},
                                           DpiCase{-5, 100, 100},
                                           // The 16-bit field saturates instead of wrapping.
                                           DpiCase{65535, 65535, 65535}, DpiCase{70000, 70000, 65535},
                                           DpiCase{1e12, 1e12, 65535}));

// The header and trailer bytes are the device's contract.
TEST_F(VersatecWriter, GoldenHeaderRecordHeadAndTrailer) {
  Written w = writePage("V8810A", 8, 200, 400, {{{0, 1}, {7, 8}}});
  ASSERT_EQ(w.bytes.size(), 18u + 6 + 264 + 10);
  const std::vector<uint8_t> header = {0x18, 0x01, 0x00, 0x00, 0x18, 0x02, 0x00, 0x00, 0x18,
                                       0x02, 0x00, 0x06, 0x82, 0x00, 0x01, 0x2C, 0x01, 0x08};
  EXPECT_EQ(std::vector<uint8_t>(w.bytes.begin(), w.bytes.begin() + 18), header);
  const std::vector<uint8_t> recordHead = {0x18, 0x02, 0x01, 0x0A, 0x01, 0x08, 0x81, 0x00};
  EXPECT_EQ(std::vector<uint8_t>(w.bytes.begin() + 18, w.bytes.begin() + 26), recordHead);
  const std::vector<uint8_t> trailer = {0x18, 0x02, 0x00, 0x02, 0xFF, 0xFF, 0x18, 0x03, 0x00, 0x00};
  EXPECT_EQ(std::vector<uint8_t>(w.bytes.end() - 10, w.bytes.end()), trailer);
}

// A page closed before any line is still a complete stream: header, then trailer.
TEST_F(VersatecWriter, NoLineStillWritesHeaderAndTrailer) {
  Written w = writePage(nullptr, 100, 300, 300, {});
  const std::vector<uint8_t> expected = {0x18, 0x01, 0x00, 0x00, 0x18, 0x02, 0x00, 0x00, 0x18, 0x02,
                                         0x00, 0x06, 0x82, 0x00, 0x01, 0x2C, 0x06, 0xE0, 0x18, 0x02,
                                         0x00, 0x02, 0xFF, 0xFF, 0x18, 0x03, 0x00, 0x00};
  EXPECT_EQ(w.bytes, expected);
}

// The model is read by each open: two plots in one process follow the settings each output stream carries.
TEST_F(VersatecWriter, EachOpenReadsTheModelAgain) {
  std::vector<Runs> rows = {{{0, 9}}};
  const Written first = writePage("V8624", 50, 200, 200, rows);
  const Written second = writePage("V8944HR", 50, 200, 200, rows);
  const Written third = writePage("V8624", 50, 200, 200, rows);
  VbfPlot a, b;
  ASSERT_EQ(decodeVbf(first.bytes, &a), "");
  ASSERT_EQ(decodeVbf(second.bytes, &b), "");
  EXPECT_EQ(a.lineBytes, 576);
  EXPECT_EQ(b.lineBytes, 2152);
  EXPECT_EQ(first.bytes, third.bytes);
}

// A sink that takes nothing: the writers leave the loss to the stream, whose close reports it.
TEST_F(VersatecWriter, SinkAcceptingNothingStopsThePage) {
  std::vector<Runs> rows(40, Runs{{0, 5000}});
  Written w = writePage(nullptr, 5000, 200, 200, rows, refuseEverything);
  ASSERT_EQ(w.open, kRioOk);
  devicetest::expectStopsAtTheLoss(w.lineResults);
  EXPECT_EQ(w.streamOk, 0);
  EXPECT_TRUE(w.bytes.empty());
}

// A printer port is a sink in place of the file: it receives the same bytes.
TEST_F(VersatecWriter, SinkReceivesTheBytesOfTheFile) {
  std::vector<Runs> rows(60, Runs{{1, 3}, {100, 4000}});
  Sink port;
  Written viaSink = writePage("V8624", 4600, 200, 200, rows, Sink::write, &port);
  Written viaFile = writePage("V8624", 4600, 200, 200, rows);
  EXPECT_EQ(viaSink.streamOk, 1);
  EXPECT_TRUE(viaSink.bytes.empty());
  EXPECT_EQ(port.got, viaFile.text);
  EXPECT_GT(port.got.size(), size_t{kStreamBufferSize});
}

TEST_F(VersatecWriter, ReadingIsNotImplemented) {
  const std::string startOfPlot("\x18\x01\x00\x00\x18\x02", 6);
  EXPECT_EQ(testread::readBackBytes(startOfPlot, kFormatVersatec).open, kRioNotImplemented);
  EXPECT_EQ(kVersatecDriver.spare1(nullptr), kRioNotImplemented);
  EXPECT_EQ(kVersatecDriver.spare3(nullptr), kRioNotImplemented);
}

// Every allocation the open makes may fail: the open then answers -3 and leaks nothing.
TEST_F(VersatecWriter, FailedAllocationsInOpen) {
  EXPECT_GE(devicetest::checkFailedOpenAllocations(kFormatVersatec, 100, 1, 10), 0) << "the open never succeeded";
}

}  // namespace
}  // namespace vantrel
