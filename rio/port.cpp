#include "rio/port.h"

namespace vantrel {

// This system has no printer-port access: every primitive reports an I/O error.
int portInit(int /*port*/) { return kPortIoError; }
int portStatus(int /*port*/) { return kPortIoError; }
int portWrite(int /*port*/, uint8_t /*byte*/) { return kPortIoError; }

size_t portWriteCallback(const void* data, size_t size, size_t count, void* ctx) {
  auto* job = static_cast<PortJob*>(ctx);
  size_t total;
  if (!job || !data || size == 0 || __builtin_mul_overflow(size, count, &total) || total == 0) return 0;
  const PortPrimitives& p = job->primitives;
  auto* init = p.init ? p.init : portInit;
  auto* status = p.status ? p.status : portStatus;
  auto* write = p.write ? p.write : portWrite;
  if (!job->initialised) {
    (void)init(job->port);
    job->initialised = true;
  }
  const auto* bytes = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < total; ++i) {
    const int st = status(job->port);
    if (st & kPortStopMask) {
      job->status = st;
      return i / size;
    }
    (void)write(job->port, bytes[i]);
  }
  if (job->progress) job->progress(job->progressContext);
  return count;
}

}  // namespace vantrel
