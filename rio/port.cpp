#include "rio/port.h"

namespace vantrel {

size_t portWriteCallback(const void* data, size_t size, size_t count, void* ctx) {
  auto* job = static_cast<PortJob*>(ctx);
  size_t total;
  if (!job || !data || size == 0 || __builtin_mul_overflow(size, count, &total) || total == 0) return 0;
  const PortPrimitives& p = job->primitives;
  auto* init = p.init ? p.init : portInit;
  auto* status = p.status ? p.status : portStatus;
  auto* write = p.write ? p.write : portWrite;
  if (!job->initialised) {
    job->device.port = job->port;
    job->device.pathPattern = p.pathPattern ? p.pathPattern : kPortDevicePattern;
    job->device.timeoutMs = p.timeoutMs;
    (void)init(job->device);
    job->initialised = true;
  }
  const int before = status(job->device);
  if (before & kPortStopMask) {
    job->status = before;
    return 0;
  }
  size_t sent = 0;
  const int after = write(job->device, static_cast<const uint8_t*>(data), total, &sent);
  if (sent > total) sent = total;
  if (sent < total) {
    // A short write always stops the output; one that names no cause is an I/O error.
    job->status = (after & kPortStopMask) ? after : (after | kPortIoError);
    return sent / size;
  }
  if (job->progress) job->progress(job->progressContext);
  return count;
}

}  // namespace vantrel
