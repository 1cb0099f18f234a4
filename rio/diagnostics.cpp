#include "rio/diagnostics.h"

#include <cstdarg>
#include <cstdio>

namespace vantrel {
namespace {

thread_local DiagnosticsSink tSink;

}  // namespace

DiagnosticsSink rioSetDiagnostics(DiagnosticsSink sink) {
  DiagnosticsSink previous = tSink;
  tSink = sink;
  return previous;
}

void rioDiagnostic(const char* format, ...) {
  if (!tSink.write) return;
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  tSink.write(tSink.context, text);
}

}  // namespace vantrel
