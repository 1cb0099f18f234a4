// Where the library's diagnostic notes go. Nothing below the front ends prints or opens files of its own:
// a front end installs a sink for its thread (the console appends to "debug.out"; a test records), and
// without one the notes are dropped. The sink is per thread, so translations on other threads keep theirs.
#pragma once

namespace vantrel {

struct DiagnosticsSink {
  void (*write)(void* context, const char* text) = nullptr;
  void* context = nullptr;
};

// Installs `sink` for the calling thread and answers the one it replaces.
DiagnosticsSink rioSetDiagnostics(DiagnosticsSink sink);
// Formats a note (printf rules) and hands it to the calling thread's sink.
void rioDiagnostic(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vantrel
