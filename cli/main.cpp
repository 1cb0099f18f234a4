#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

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

// The name the run's temporary output file has now (empty: none), for the handler of the signals that end
// the process. Written only with those signals blocked, so the handler never sees half a name.
char tempName[PATH_MAX];
constexpr int kEndingSignals[] = {SIGTERM, SIGINT, SIGHUP};

void blockEndingSignals(int how) {
  sigset_t set;
  sigemptyset(&set);
  for (int s : kEndingSignals) sigaddset(&set, s);
  (void)sigprocmask(how, &set, nullptr);
}

void noteTempName(void*, const char* name) {
  blockEndingSignals(SIG_BLOCK);
  if (name && std::strlen(name) < sizeof tempName)
    std::memcpy(tempName, name, std::strlen(name) + 1);
  else
    tempName[0] = '\0';
  blockEndingSignals(SIG_UNBLOCK);
}

// Removes the temporary output, then ends the process by the same signal (async-signal-safe calls only).
// Spool files need nothing: they have no name once open.
void endBySignal(int signal) {
  if (tempName[0]) (void)unlink(tempName);
  struct sigaction plain {};
  plain.sa_handler = SIG_DFL;
  sigemptyset(&plain.sa_mask);
  (void)sigaction(signal, &plain, nullptr);
  (void)raise(signal);
}

void installEndingHandlers() {
  struct sigaction action {};
  action.sa_handler = endBySignal;
  sigemptyset(&action.sa_mask);
  for (int s : kEndingSignals) sigaddset(&action.sa_mask, s);
  for (int s : kEndingSignals) {
    struct sigaction previous {};
    // A signal the caller ignores (nohup, a background job's SIGINT) stays ignored.
    if (sigaction(s, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    (void)sigaction(s, &action, nullptr);
  }
}

}  // namespace

int main(int argc, char** argv) {
  vantrel::rioSetDiagnostics({appendToDebugFile, nullptr});
  const vantrel::RioSettings settings = vantrel::settingsFromEnvironment();
  vantrel::RunEnvironment environment;
  environment.settings = &settings;
  environment.standardOutput = STDOUT_FILENO;
  environment.standardInput = STDIN_FILENO;
  environment.tempWatch = {noteTempName, nullptr};
  installEndingHandlers();
  // A reader that goes away is a failed write, reported as such, not a signal that ends the program.
  signal(SIGPIPE, SIG_IGN);
  std::FILE* messages = vantrel::outputIsStreamFile(argc - 1, argv + 1, stdout) ? stderr : stdout;
  return vantrel::runConsoleTranslator(argc - 1, argv + 1, messages, environment);
}
