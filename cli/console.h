// The console front end: the usage text, the reporter that prints every message to a file handle, the
// settings read from the environment, and one invocation of the translator.
#pragma once

#include <cstdio>
#include <string>

#include "rio/settings.h"
#include "run/reporter.h"
#include "run/translate.h"

namespace vantrel {

const std::string& usageText();

// Prints each message as it comes; progress dots are flushed at once. Results (the page digest) and detail
// lines go to their own handle, standard error, so they never mix with the messages scripts already read.
class ConsoleReporter : public Reporter {
 public:
  explicit ConsoleReporter(std::FILE* out, std::FILE* results = stderr) : out_(out), results_(results) {}
  void report(Severity severity, const std::string& text) override;

 private:
  std::FILE* out_;
  std::FILE* results_;
};

// "ZEB_STRIPS", "ZEB_VBF", "ZEB_PCLMODE", "ZEB_MAXPAGE" and the temporary folder, as the process
// environment gives them.
RioSettings settingsFromEnvironment();

// Empty when the writer of the output the arguments name can take the environment's settings (or the
// arguments do not parse: the run says why); else why not. The console then refuses the run with it on
// standard error, before any file is opened.
std::string settingRefusal(int argc, const char* const argv[], const RunEnvironment& environment);

// Whether the output the arguments name is the file behind `stream` (same device and inode), as "-",
// /dev/stdout or a name of the file standard output was redirected to are for stdout. The console then
// prints its messages to standard error, so they never mix into the data.
bool outputIsStreamFile(int argc, const char* const argv[], std::FILE* stream);

// One invocation over the arguments after the program's own name; every message goes to `out` but a
// setting refusal, which goes to standard error. Returns
// the exit status: 1 when the translation completed, 0 in every other case.
int runConsoleTranslator(int argc, const char* const argv[], std::FILE* out, const RunEnvironment& environment);

}  // namespace vantrel
