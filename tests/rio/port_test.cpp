// Printer-port sink: a port job over fake primitives, and over the platform's when no device is there.
#include "rio/port.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "rio/stream.h"

namespace vantrel {
namespace {

using Bytes = std::vector<uint8_t>;

// The fake port: records what reaches it; once `stopAfter` bytes went out (-1: never) the status turns to
// `stopStatus`, and when that has a stop bit the write sends no further byte. Plain function pointers have
// no context, so the fake lives in one test-only record.
struct FakePort {
  int inits = 0;
  int statusReads = 0;
  int writes = 0;
  int lastPort = -1;
  Bytes sent;
  int64_t stopAfter = -1;
  int stopStatus = 0;
  int idleStatus = 0x90;  // not busy, selected: no stop bit
  bool shortWithoutCause = false;  // the write stops halfway and answers no stop bit
};
FakePort fake;

bool fakeStopped() { return fake.stopAfter >= 0 && static_cast<int64_t>(fake.sent.size()) >= fake.stopAfter; }

int fakeInit(PortDevice& device) {
  ++fake.inits;
  fake.lastPort = device.port;
  return fake.idleStatus;
}
int fakeStatus(PortDevice& device) {
  ++fake.statusReads;
  fake.lastPort = device.port;
  return fakeStopped() ? fake.stopStatus : fake.idleStatus;
}
int fakeWrite(PortDevice& device, const uint8_t* data, size_t size, size_t* sent) {
  ++fake.writes;
  fake.lastPort = device.port;
  size_t n = size;
  if (fake.shortWithoutCause) n = size / 2;
  if (fake.stopAfter >= 0 && (fake.stopStatus & kPortStopMask))
    n = std::min<size_t>(n, static_cast<size_t>(std::max<int64_t>(0, fake.stopAfter - static_cast<int64_t>(fake.sent.size()))));
  fake.sent.insert(fake.sent.end(), data, data + n);
  *sent = n;
  if (fake.shortWithoutCause) return fake.idleStatus;
  return fakeStopped() ? fake.stopStatus : fake.idleStatus;
}

// A device pattern under a folder that does not exist: the platform primitives find no port there.
constexpr const char* kNoDevicePattern = "/nonexistent-vantrel-port-folder/lp%d";

Bytes pattern(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>((i * 131 + i / 251) & 0xFF);
  return b;
}

class PortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake = FakePort{};
    progress_.clear();
  }

  std::string progressText() const { return progress_; }
  static void addDot(void* text) { static_cast<std::string*>(text)->push_back('.'); }
  void watch(PortJob& job) {
    job.progress = addDot;
    job.progressContext = &progress_;
  }

  PortJob fakeJob(int32_t port = 1) {
    PortJob job;
    job.port = port;
    job.primitives = PortPrimitives{fakeInit, fakeStatus, fakeWrite, kNoDevicePattern, 1000};
    watch(job);
    return job;
  }

  // Writes `data` through a port stream in uneven pieces; returns the close result.
  static int32_t sendThroughStream(PortJob* job, const Bytes& data) {
    RasterStream* s = streamOpen(nullptr, "w");
    EXPECT_NE(s, nullptr);
    EXPECT_EQ(streamSetWriteCallback(s, portWriteCallback, job), 1);
    for (size_t done = 0; done < data.size();) {
      const int32_t n = static_cast<int32_t>(std::min<size_t>(data.size() - done, 5000));
      (void)streamWrite(s, data.data() + done, n);
      done += static_cast<size_t>(n);
    }
    return streamClose(s);
  }

  std::string progress_;
};

TEST_F(PortTest, PlatformPrimitivesWithoutADeviceReportAnIoError) {
  for (int port : {0, 1, 2, 3}) {
    PortDevice device;
    device.port = port;
    device.pathPattern = kNoDevicePattern;
    EXPECT_EQ(portInit(device), kPortIoError);
    EXPECT_EQ(device.fd, -1);
    EXPECT_EQ(portStatus(device), kPortIoError);
    size_t sent = 99;
    const uint8_t byte = 0x41;
    EXPECT_EQ(portWrite(device, &byte, 1, &sent), kPortIoError);
    EXPECT_EQ(sent, 0u);
  }
}

TEST_F(PortTest, PlatformPrimitivesWithoutADeviceStopAtTheFirstByte) {
  PortJob job;  // this system's own primitives
  job.primitives.pathPattern = kNoDevicePattern;
  watch(job);
  const Bytes data = pattern(100);
  testing::internal::CaptureStdout();
  EXPECT_EQ(sendThroughStream(&job, data), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(job.status, kPortIoError);
  EXPECT_TRUE(job.initialised);
  EXPECT_EQ(progressText(), "");
}

TEST_F(PortTest, PlatformPrimitivesWithoutADeviceCalledDirectly) {
  PortJob job;
  job.primitives.pathPattern = kNoDevicePattern;
  const Bytes data = pattern(10);
  EXPECT_EQ(portWriteCallback(data.data(), 1, data.size(), &job), 0u);
  EXPECT_EQ(job.status, kPortIoError);
}

TEST_F(PortTest, BytesGoOutInOrderWithOneDotPerBuffer) {
  PortJob job = fakeJob(3);
  const Bytes data = pattern(40000);  // 16384 + 16384 + 7232
  testing::internal::CaptureStdout();
  EXPECT_EQ(sendThroughStream(&job, data), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // progress goes to the job's callback only
  EXPECT_EQ(fake.sent, data);
  EXPECT_EQ(fake.inits, 1);
  EXPECT_EQ(fake.lastPort, 3);
  // A buffer at a time: one status read and one write per buffer, never one per byte.
  EXPECT_EQ(fake.statusReads, 3);
  EXPECT_EQ(fake.writes, 3);
  EXPECT_EQ(progressText(), "...");
  EXPECT_EQ(job.status, 0);
}

TEST_F(PortTest, NoProgressFileNoOutput) {
  PortJob job = fakeJob();
  job.progress = nullptr;
  testing::internal::CaptureStdout();
  EXPECT_EQ(sendThroughStream(&job, pattern(20000)), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(fake.sent.size(), 20000u);
}

TEST_F(PortTest, EmptyWritesTouchNothing) {
  PortJob job = fakeJob();
  EXPECT_EQ(portWriteCallback("x", 1, 0, &job), 0u);
  EXPECT_EQ(portWriteCallback("x", 0, 5, &job), 0u);
  EXPECT_EQ(sendThroughStream(&job, {}), 1);  // closing with nothing buffered makes no sink write
  EXPECT_FALSE(job.initialised);
  EXPECT_EQ(fake.inits, 0);
  EXPECT_EQ(fake.statusReads, 0);
  EXPECT_EQ(progressText(), "");
}

TEST_F(PortTest, CountsUnitsOfTheGivenSize) {
  PortJob job = fakeJob();
  const Bytes data = pattern(12);
  EXPECT_EQ(portWriteCallback(data.data(), 4, 3, &job), 3u);
  EXPECT_EQ(fake.sent, data);
  fake.stopAfter = 18;  // 6 more bytes: one whole unit of 4 and half of the next
  fake.stopStatus = kPortOutOfPaper;
  EXPECT_EQ(portWriteCallback(data.data(), 4, 3, &job), 1u);
  EXPECT_EQ(fake.sent.size(), 18u);
}

struct StopCase {
  int status;
  int64_t stopAfter;
  bool stops;
};

class PortStopTest : public PortTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(PortStopTest, StopBitsEndTheOutputPartway) {
  const StopCase c = GetParam();
  fake.stopAfter = c.stopAfter;
  fake.stopStatus = c.status;
  PortJob job = fakeJob();
  const Bytes data = pattern(40000);
  const int32_t closed = sendThroughStream(&job, data);
  if (!c.stops) {
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(fake.sent, data);
    EXPECT_EQ(job.status, 0);
    EXPECT_EQ(progressText(), "...");
    return;
  }
  EXPECT_EQ(closed, 0);
  EXPECT_EQ(job.status, c.status);
  EXPECT_EQ(fake.inits, 1);
  ASSERT_GE(fake.sent.size(), static_cast<size_t>(c.stopAfter));
  EXPECT_EQ(Bytes(fake.sent.begin(), fake.sent.begin() + c.stopAfter), Bytes(data.begin(), data.begin() + c.stopAfter));
  // The port stays stopped: nothing more goes out, and only buffers sent in full left a dot.
  EXPECT_EQ(fake.sent.size(), static_cast<size_t>(c.stopAfter));
  EXPECT_EQ(progressText(), std::string(static_cast<size_t>(c.stopAfter / kStreamBufferSize), '.'));
}

INSTANTIATE_TEST_SUITE_P(Statuses, PortStopTest,
                         ::testing::Values(StopCase{kPortOutOfPaper, 20000, true}, StopCase{kPortOutOfPaper, 0, true},
                                           StopCase{kPortTimedOut, 5, true}, StopCase{kPortIoError, 16384, true},
                                           StopCase{kPortOutOfPaper | 0x80, 39999, true},
                                           StopCase{0x10, 100, false}, StopCase{0x80, 100, false},
                                           StopCase{0x46, 100, false}));

TEST_F(PortTest, ShortWriteWithoutACauseIsAnIoError) {
  PortJob job = fakeJob();
  fake.shortWithoutCause = true;
  const Bytes data = pattern(100);
  EXPECT_EQ(portWriteCallback(data.data(), 1, data.size(), &job), 50u);
  EXPECT_EQ(job.status, fake.idleStatus | kPortIoError);
  EXPECT_EQ(progressText(), "");
}

TEST_F(PortTest, StopStatusIsKeptAcrossLaterCalls) {
  PortJob job = fakeJob();
  fake.stopAfter = 3;
  fake.stopStatus = kPortOutOfPaper;
  const Bytes data = pattern(10);
  EXPECT_EQ(portWriteCallback(data.data(), 1, data.size(), &job), 3u);
  EXPECT_EQ(job.status, kPortOutOfPaper);
  fake.stopAfter = -1;  // paper back in: later output goes on, the stop stays recorded
  EXPECT_EQ(portWriteCallback(data.data(), 1, data.size(), &job), 10u);
  EXPECT_EQ(job.status, kPortOutOfPaper);
  EXPECT_EQ(fake.inits, 1);
  EXPECT_EQ(progressText(), ".");
}

}  // namespace
}  // namespace vantrel
