#include "picture/rast_error.h"

namespace vantrel {
namespace {

thread_local RastError tLastError = kRastNoError;

thread_local RastErrorHook tErrorHook = nullptr;

}  // namespace

RastError rastGetLastError() {
  return tLastError;
}

bool rastIsLastError(RastError code) {
  return tLastError == code;
}

void rastClearLastError() {
  tLastError = kRastNoError;
}

void rastSetError(RastError code, const char* routine) {
  tLastError = code;
  if (tErrorHook) tErrorHook(code, routine);
}

RastErrorHook rastSetErrorHook(RastErrorHook hook) {
  RastErrorHook old = tErrorHook;
  tErrorHook = hook;
  return old;
}

RastError rastErrorFromStatus(RioStatus status) {
  switch (status) {
    case kRioOk:
    case kRioEndOfPage:
      return kRastNoError;
    case kRioNotImplemented:
      return kRastNotSupported;
    case kRioBadRows:
    case kRioBadColumns:
      return kRastBadSize;
    case kRioBadData:
      return kRastBadData;
    case kRioBadHeader:
    case kRioUnknownFormat:
      return kRastBadFormat;
    case kRioUnexpectedEof:
    case kRioStreamIo:
      return kRastInputEnded;
    case kRioOutOfMemory:
      return kRastOutOfMemory;
    default:
      return kRastRasterStatus;
  }
}

}  // namespace vantrel
