// The platform's port primitives over the kernel's parallel printer devices (or any character device or
// FIFO the device pattern names): non-blocking writes that wait for a slow printer up to the time-out,
// and the status register read with ioctl(LPGETSTATUS).
#include <fcntl.h>
#include <linux/lp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "rio/port.h"

namespace vantrel {
namespace {

// Blocks SIGPIPE in the calling thread while it writes, so a printer pipe whose reader went away answers
// EPIPE instead of ending the process; a SIGPIPE the writes raised is taken back before the mask returns.
class PipeSignalBlock {
 public:
  PipeSignalBlock() {
    sigemptyset(&pipeSet_);
    sigaddset(&pipeSet_, SIGPIPE);
    sigset_t pending;
    sigemptyset(&pending);
    wasPending_ = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    blocked_ = pthread_sigmask(SIG_BLOCK, &pipeSet_, &previous_) == 0;
  }
  ~PipeSignalBlock() {
    if (!blocked_) return;
    if (raised && !wasPending_) {
      const timespec now{};
      while (sigtimedwait(&pipeSet_, nullptr, &now) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  PipeSignalBlock(const PipeSignalBlock&) = delete;
  PipeSignalBlock& operator=(const PipeSignalBlock&) = delete;

  bool raised = false;

 private:
  sigset_t pipeSet_;
  sigset_t previous_;
  bool wasPending_ = false;
  bool blocked_ = false;
};

constexpr int kPollSliceMs = 10;

}  // namespace

int portDeviceNumber(int port) {
  switch (port) {
    case 0:
      return 0;
    case 1:
      return 1;
    case 3:
      return 2;
    default:
      return -1;
  }
}

std::string portDevicePath(const char* pattern, int port) {
  const int number = portDeviceNumber(port);
  if (pattern == nullptr || *pattern == '\0' || number < 0) return {};
  std::string path(pattern);
  const size_t at = path.find("%d");
  if (at != std::string::npos) path.replace(at, 2, std::to_string(number));
  return path;
}

int portStatusFromRegister(int statusRegister) {
  int status = 0;
  if (!(statusRegister & LP_PERRORP)) status |= kPortIoError;
  if (statusRegister & LP_POUTPA) status |= kPortOutOfPaper;
  return status;
}

int portStatusFromWriteError(int error) {
  switch (error) {
    case ENOSPC:
      return kPortOutOfPaper;
    case ETIMEDOUT:
    case EAGAIN:
      return kPortTimedOut;
    default:
      return kPortIoError;
  }
}

PortDevice::PortDevice(PortDevice&& other) noexcept
    : port(other.port), pathPattern(other.pathPattern), timeoutMs(other.timeoutMs), fd(other.fd) {
  other.fd = -1;
}

PortDevice& PortDevice::operator=(PortDevice&& other) noexcept {
  if (this != &other) {
    if (fd >= 0) ::close(fd);
    port = other.port;
    pathPattern = other.pathPattern;
    timeoutMs = other.timeoutMs;
    fd = other.fd;
    other.fd = -1;
  }
  return *this;
}

PortDevice::~PortDevice() {
  if (fd >= 0) ::close(fd);
}

int portInit(PortDevice& device) {
  if (device.fd >= 0) {
    ::close(device.fd);
    device.fd = -1;
  }
  const std::string path = portDevicePath(device.pathPattern, device.port);
  if (path.empty()) return kPortIoError;
  // Non-blocking: a FIFO without a reader or a missing printer is refused at once, and a busy printer
  // makes a write return instead of holding it for good.
  device.fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (device.fd < 0) return kPortIoError;
  return portStatus(device);
}

int portStatus(PortDevice& device) {
  if (device.fd < 0) return kPortIoError;
  int statusRegister = 0;
  if (::ioctl(device.fd, LPGETSTATUS, &statusRegister) == 0) return portStatusFromRegister(statusRegister);
  // A pipe or a device without a status register has nothing to report.
  return (errno == ENOTTY || errno == EINVAL) ? 0 : kPortIoError;
}

int portWrite(PortDevice& device, const uint8_t* data, size_t size, size_t* sent) {
  *sent = 0;
  if (device.fd < 0) return kPortIoError;
  using Clock = std::chrono::steady_clock;
  PipeSignalBlock pipeSignal;
  auto lastProgress = Clock::now();
  int readyButBlocked = 0;
  while (*sent < size) {
    const ssize_t n = ::write(device.fd, data + *sent, size - *sent);
    if (n > 0) {
      *sent += static_cast<size_t>(n);
      lastProgress = Clock::now();
      readyButBlocked = 0;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      const int error = errno;
      if (error == EPIPE) pipeSignal.raised = true;
      return portStatusFromWriteError(error);
    }
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastProgress).count();
    if (waited >= device.timeoutMs) return kPortTimedOut;
    pollfd ready{device.fd, POLLOUT, 0};
    const int polled = ::poll(&ready, 1, kPollSliceMs);
    if (polled < 0 && errno != EINTR) return kPortIoError;
    // A printer device answers poll at once whether it takes bytes or not: pause between its retries.
    if (polled > 0 && ++readyButBlocked > 1) {
      const timespec pause{0, 2'000'000};
      ::nanosleep(&pause, nullptr);
    }
  }
  return 0;
}

}  // namespace vantrel
