// The printer-port write sink of the console translator. The three port primitives take the port number
// and answer the printer status byte; a job may carry its own primitives (tests), else the platform's,
// which on this system have no port access and answer 8 (I/O error).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantrel {

inline constexpr int kPortTimedOut = 0x01;
inline constexpr int kPortIoError = 0x08;
inline constexpr int kPortOutOfPaper = 0x20;
inline constexpr int kPortStopMask = kPortTimedOut | kPortIoError | kPortOutOfPaper;

int portInit(int port);
int portStatus(int port);
int portWrite(int port, uint8_t byte);

struct PortPrimitives {
  int (*init)(int port) = portInit;
  int (*status)(int port) = portStatus;
  int (*write)(int port, uint8_t byte) = portWrite;
};

struct PortJob {
  int32_t port = 0;        // 0 for lpt1, 1 for lpt2, 3 for lpt3
  int32_t status = 0;      // the last printer status that stopped output
  bool initialised = false;
  PortPrimitives primitives{};
  // Called once per buffer sent in full (the console prints a dot); none when null.
  void (*progress)(void* context) = nullptr;
  void* progressContext = nullptr;
};

// StreamWriteFn for a PortJob (ctx): sends the bytes one by one while the status allows, one "." to
// progress call per buffer that went out in full. Returns the units sent (bytes, as the stream calls it).
size_t portWriteCallback(const void* data, size_t size, size_t count, void* job);

}  // namespace vantrel
