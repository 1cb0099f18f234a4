#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "cli/console.h"
#include "rio/diagnostics.h"

namespace {

// The library's diagnostic notes are appended to "debug.out" in the working directory.
void appendToDebugFile(void*, const char* text) {
  if (std::FILE* f = std::fopen("debug.out", "a")) {
    std::fputs(text, f);
    std::fclose(f);
  }
}

}  // namespace

int main(int argc, char** argv) {
  vantrel::rioSetDiagnostics({appendToDebugFile, nullptr});
  const vantrel::RioSettings settings = vantrel::settingsFromEnvironment();
  vantrel::RunEnvironment environment;
  environment.settings = &settings;
  environment.standardOutput = STDOUT_FILENO;
  // A reader that goes away is a failed write, reported as such, not a signal that ends the program.
  std::signal(SIGPIPE, SIG_IGN);
  std::FILE* messages = vantrel::outputIsStreamFile(argc - 1, argv + 1, stdout) ? stderr : stdout;
  return vantrel::runConsoleTranslator(argc - 1, argv + 1, messages, environment);
}
