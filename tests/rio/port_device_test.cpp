// The platform's printer-port primitives: port numbers to device names, the status register and write
// errors to the printer status byte, and the write path against a FIFO standing in for the device.
#include <fcntl.h>
#include <linux/lp.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "rio/port.h"
#include "rio/stream.h"
#include "run/dialect.h"
#include "run/translate.h"
#include "tests/support/file_fixture.h"
#include "tests/support/recording_reporter.h"

namespace vantrel {
namespace {

using testfiles::Bytes;
namespace fs = std::filesystem;

struct PathCase {
  int port;
  const char* pattern;
  const char* path;
};

class PortPathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(PortPathTest, NamesTheDeviceOfAPort) {
  const PathCase c = GetParam();
  EXPECT_EQ(portDevicePath(c.pattern, c.port), c.path);
}

INSTANTIATE_TEST_SUITE_P(Ports, PortPathTest,
                         ::testing::Values(PathCase{0, kPortDevicePattern, "/dev/lp0"},
                                           PathCase{1, kPortDevicePattern, "/dev/lp1"},
                                           PathCase{3, kPortDevicePattern, "/dev/lp2"},  // lpt3
                                           PathCase{2, kPortDevicePattern, ""}, PathCase{4, kPortDevicePattern, ""},
                                           PathCase{-1, kPortDevicePattern, ""},
                                           PathCase{3, "/run/plot/%d-%d", "/run/plot/2-%d"},
                                           PathCase{0, "/dev/usb/lp0", "/dev/usb/lp0"}, PathCase{0, "", ""},
                                           PathCase{0, nullptr, ""}));

struct StatusCase {
  int input;
  int status;
};

class PortRegisterTest : public ::testing::TestWithParam<StatusCase> {};

TEST_P(PortRegisterTest, MapsTheStatusRegister) {
  EXPECT_EQ(portStatusFromRegister(GetParam().input), GetParam().status);
}

// The register as the kernel reads it: busy 0x80 (inverted), ack 0x40, paper out 0x20, selected 0x10,
// error 0x08 (active low).
INSTANTIATE_TEST_SUITE_P(
    Registers, PortRegisterTest,
    ::testing::Values(StatusCase{LP_PBUSY | LP_PACK | LP_PSELECD | LP_PERRORP, 0},  // idle printer
                      StatusCase{LP_PSELECD | LP_PERRORP, 0},                      // busy, no fault
                      StatusCase{LP_PERRORP, 0},                                   // off line: the write tells
                      StatusCase{LP_PBUSY | LP_PSELECD, kPortIoError},             // error line low
                      StatusCase{0x00, kPortIoError},
                      StatusCase{LP_POUTPA | LP_PSELECD | LP_PERRORP, kPortOutOfPaper},
                      StatusCase{LP_POUTPA | LP_PSELECD, kPortOutOfPaper | kPortIoError},
                      StatusCase{0xFF, kPortOutOfPaper}));

class PortWriteErrorTest : public ::testing::TestWithParam<StatusCase> {};

TEST_P(PortWriteErrorTest, MapsTheWriteError) {
  EXPECT_EQ(portStatusFromWriteError(GetParam().input), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(Errors, PortWriteErrorTest,
                         ::testing::Values(StatusCase{ENOSPC, kPortOutOfPaper}, StatusCase{ETIMEDOUT, kPortTimedOut},
                                           StatusCase{EAGAIN, kPortTimedOut}, StatusCase{EIO, kPortIoError},
                                           StatusCase{EPIPE, kPortIoError}, StatusCase{ENXIO, kPortIoError},
                                           StatusCase{EBADF, kPortIoError}));

Bytes pattern(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>((i * 167 + i / 509) & 0xFF);
  return b;
}

// A FIFO named lp1 in the scratch folder stands in for lpt2 (device 1); a reader thread drains it.
class PortFifoTest : public testfiles::FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    fifo_ = dir_ / "lp1";
    ASSERT_EQ(::mkfifo(fifo_.c_str(), 0600), 0);
    pattern_ = (dir_ / "lp%d").string();
  }
  void TearDown() override {
    if (reader_.joinable()) reader_.join();
    if (holder_ >= 0) ::close(holder_);
    if (readEnd_ >= 0) ::close(readEnd_);
    FileTest::TearDown();
  }

  PortJob job(int32_t timeoutMs = 5000) {
    PortJob j;
    j.port = 1;
    j.primitives.pathPattern = pattern_.c_str();
    j.primitives.timeoutMs = timeoutMs;
    j.progress = [](void* dots) { ++*static_cast<int*>(dots); };
    j.progressContext = &dots_;
    return j;
  }

  // Opens the read end (so the port's non-blocking open finds a reader) and a write end of the test's own,
  // which keeps the reader from seeing the end of data before the port opens.
  void openReader() {
    readEnd_ = ::open(fifo_.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(readEnd_, 0);
    ASSERT_EQ(::fcntl(readEnd_, F_SETFL, 0), 0);
    holder_ = ::open(fifo_.c_str(), O_WRONLY);
    ASSERT_GE(holder_, 0);
  }
  // Drains the FIFO into received_ until the end of data or `limit` bytes, then closes the read end.
  void startReader(size_t limit = SIZE_MAX) {
    reader_ = std::thread([this, limit] {
      uint8_t chunk[4096];
      while (received_.size() < limit) {
        const ssize_t n = ::read(readEnd_, chunk, std::min(sizeof chunk, limit - received_.size()));
        if (n <= 0) break;
        received_.insert(received_.end(), chunk, chunk + n);
      }
      ::close(readEnd_);
      readEnd_ = -1;
    });
  }
  void releaseHolder() {
    ::close(holder_);
    holder_ = -1;
  }

  static int32_t send(PortJob* j, const Bytes& data) {
    RasterStream* s = streamOpen(nullptr, "w");
    EXPECT_NE(s, nullptr);
    EXPECT_EQ(streamSetWriteCallback(s, portWriteCallback, j), 1);
    (void)streamWrite(s, data.data(), static_cast<int32_t>(data.size()));
    return streamClose(s);
  }

  static bool pipeSignalPendingOrBlocked() {
    sigset_t set;
    sigemptyset(&set);
    if (sigpending(&set) == 0 && sigismember(&set, SIGPIPE)) return true;
    sigemptyset(&set);
    pthread_sigmask(SIG_BLOCK, nullptr, &set);
    return sigismember(&set, SIGPIPE) == 1;
  }

  fs::path fifo_;
  std::string pattern_;
  int readEnd_ = -1;
  int holder_ = -1;
  std::thread reader_;
  Bytes received_;
  int dots_ = 0;
};

TEST_F(PortFifoTest, EveryByteReachesTheReader) {
  openReader();
  startReader();
  const Bytes data = pattern(200000);  // three times what the pipe holds
  {
    PortJob j = job();
    EXPECT_EQ(send(&j, data), 1);
    EXPECT_EQ(j.status, 0);
  }  // the job closes the device
  releaseHolder();
  reader_.join();
  EXPECT_EQ(received_, data);
  EXPECT_EQ(dots_, 13);  // one per stream buffer
}

TEST_F(PortFifoTest, NoReaderIsAnIoError) {
  PortJob j = job();
  EXPECT_EQ(send(&j, pattern(100)), 0);
  EXPECT_EQ(j.status, kPortIoError);
  EXPECT_EQ(dots_, 0);
}

TEST_F(PortFifoTest, ReaderThatGoesAwayIsAnIoError) {
  openReader();
  startReader(20000);  // stops by itself: then the FIFO has no reader left
  PortJob j = job();
  EXPECT_EQ(send(&j, pattern(400000)), 0);
  EXPECT_EQ(j.status, kPortIoError);
  EXPECT_FALSE(pipeSignalPendingOrBlocked());
  reader_.join();
  EXPECT_EQ(received_, pattern(20000));
}

TEST_F(PortFifoTest, ReaderThatStallsTimesOut) {
  openReader();  // opened, never read
  PortJob j = job(100);
  EXPECT_EQ(send(&j, pattern(200000)), 0);
  EXPECT_EQ(j.status, kPortTimedOut);
}

// The console's port output through the run: the bytes on lpt2 are those of the same run into a file.
TEST_F(PortFifoTest, ConsoleRunToAPortSendsWhatItWritesToAFile) {
  std::vector<testfiles::Runs> lines;
  for (int y = 0; y < 300; ++y) lines.push_back({{y, y + 40}, {500 - y, 520}});
  const fs::path page = dir_ / "page.rnl";
  (void)testfiles::writeWithDriver(page, kFormatRunLength, 600, 300, lines);
  const fs::path file = dir_ / "page.rtl";

  testsupport::RecordingReporter toFile;
  const char* fileArgs[] = {page.c_str(), file.c_str()};
  ASSERT_EQ(runTranslationEntry(kConsoleDialect, 2, fileArgs, toFile), RunOutcome::kComplete) << toFile.all;

  openReader();
  startReader();
  RunEnvironment environment;
  environment.ports.pathPattern = pattern_.c_str();
  testsupport::RecordingReporter toPort;
  const char* portArgs[] = {page.c_str(), "lpt2", "-rof", "rtl"};
  EXPECT_EQ(runTranslationEntry(kConsoleDialect, 4, portArgs, toPort, environment), RunOutcome::kComplete)
      << toPort.all;
  releaseHolder();
  reader_.join();
  EXPECT_EQ(toPort.all.rfind("Writing to port: lpt2\n", 0), 0u) << toPort.all;
  EXPECT_GT(received_.size(), 1000u);
  EXPECT_EQ(received_, load(file));
}

}  // namespace
}  // namespace vantrel
