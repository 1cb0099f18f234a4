// The printer-port write sink of the console translator and the platform's port primitives. Ports
// lpt1, lpt2 and lpt3 (port numbers 0, 1 and 3) are the kernel's parallel printer devices, named by a
// pattern ("/dev/lp%d": %d is 0, 1, 2). The primitives answer the printer status byte; a job may carry its
// own (tests), else the platform's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantrel {

inline constexpr int kPortTimedOut = 0x01;
inline constexpr int kPortIoError = 0x08;
inline constexpr int kPortOutOfPaper = 0x20;
inline constexpr int kPortStopMask = kPortTimedOut | kPortIoError | kPortOutOfPaper;

inline constexpr const char* kPortDevicePattern = "/dev/lp%d";
inline constexpr int32_t kPortWriteTimeoutMs = 30000;

// The device number of a port number (0 -> 0, 1 -> 1, 3 -> 2); -1 for a number that names no port.
int portDeviceNumber(int port);
// The pattern with its first "%d" replaced by the port's device number; empty when the port has none.
std::string portDevicePath(const char* pattern, int port);
// The printer status byte of the parallel port's status register as the kernel reads it: the error line
// (0x08, active low) becomes 0x08, paper out (0x20) becomes 0x20.
int portStatusFromRegister(int statusRegister);
// The printer status byte of a failed write's errno: 0x20 for a printer out of paper, 0x01 for a time-out,
// else 0x08.
int portStatusFromWriteError(int error);

// The device one port job drives: opened by the initialise primitive, closed with the job.
struct PortDevice {
  int32_t port = 0;
  const char* pathPattern = kPortDevicePattern;
  int32_t timeoutMs = kPortWriteTimeoutMs;  // a write that makes no progress this long has timed out
  int fd = -1;

  PortDevice() = default;
  PortDevice(const PortDevice&) = delete;
  PortDevice& operator=(const PortDevice&) = delete;
  PortDevice(PortDevice&& other) noexcept;
  PortDevice& operator=(PortDevice&& other) noexcept;
  ~PortDevice();
};

// The platform primitives. Initialise opens the device; status reads its status register (a device
// without one, such as a pipe, reports nothing); write sends `size` bytes, waiting for a slow printer up to
// the time-out, and tells in `sent` how many went out. Each answers the printer status byte.
int portInit(PortDevice& device);
int portStatus(PortDevice& device);
int portWrite(PortDevice& device, const uint8_t* data, size_t size, size_t* sent);

struct PortPrimitives {
  int (*init)(PortDevice& device) = portInit;
  int (*status)(PortDevice& device) = portStatus;
  int (*write)(PortDevice& device, const uint8_t* data, size_t size, size_t* sent) = portWrite;
  const char* pathPattern = kPortDevicePattern;  // where the platform primitives find the devices
  int32_t timeoutMs = kPortWriteTimeoutMs;
};

struct PortJob {
  int32_t port = 0;        // 0 for lpt1, 1 for lpt2, 3 for lpt3
  int32_t status = 0;      // the last printer status that stopped output
  bool initialised = false;
  PortPrimitives primitives{};
  // Called once per buffer sent in full (the console prints a dot); none when null.
  void (*progress)(void* context) = nullptr;
  void* progressContext = nullptr;
  PortDevice device{};  // set up from port and primitives on the first write
};

// StreamWriteFn for a PortJob (ctx): sends each buffer with one write primitive once the status allows,
// one progress call per buffer that went out in full. Returns the units sent (bytes, as the stream calls it).
size_t portWriteCallback(const void* data, size_t size, size_t count, void* job);

}  // namespace vantrel
