// The translation entry shared by both programs: the arguments of one run parsed in the front end's
// dialect, the files opened, the page copied (with the console's rotation, paper-size and resize
// branches, or the batch translator's resampling), every outcome reported, and the output put in place
// only when the run is complete (run/output_file.h).
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "rio/port.h"
#include "rio/settings.h"
#include "rio/stream.h"
#include "run/dialect.h"
#include "run/input.h"
#include "run/options.h"
#include "run/output_file.h"
#include "run/reporter.h"
#include "run/watch.h"

namespace vantrel {

class PageDigest;

// Where a run's output bytes go in place of the output file (the batch translator's printer jobs). No
// file is opened or deleted then; the output name only names the destination in messages.
struct OutputSink {
  StreamWriteFn write = nullptr;  // every byte the output stream writes; fewer units than given = lost
  // Called once after the last byte, with whether the run succeeded so far; answers whether the
  // destination took everything (a failed run's job is withdrawn here). None when null.
  bool (*finish)(void* context, bool succeeded) = nullptr;
  void* context = nullptr;
};

// What the front end hands the run besides the arguments.
struct RunEnvironment {
  const RioSettings* settings = nullptr;  // what it read from its environment; nullptr = all unset
  PortPrimitives ports{};                 // the printer-port primitives (a test gives its own)
  OutputSink output{};                    // set: the output goes to this sink, not to a file
  int64_t pictureBudget = 0;              // bytes a turned page's picture may take; 0: the default (2 GiB)
  // A descriptor (the console's standard output) whose file, when it is named as the output, is written in
  // place through it and never replaced or deleted; -1: none.
  int standardOutput = -1;
  int standardInput = -1;  // the console's standard input, read when the input is named "-"; -1: none
  TempNameWatch tempWatch{};  // told the names the run's temporary output file takes (run/output_file.h)
  RunWatch* watch = nullptr;  // rows counted and a stop request honoured between lines; none: unwatched
};

enum class RunOutcome {
  kUsage,     // console: the arguments were not acceptable; the front end shows its usage text
  kRefused,   // nothing was translated (the reason has been reported)
  kFailed,    // the translation failed; no partial output took the place of the target
  kComplete,  // the translation is complete
};

// Parses the arguments after the program's own name and runs the translation they ask for.
RunOutcome runTranslationEntry(const Dialect& dialect, int argc, const char* const argv[], Reporter& reporter,
                               const RunEnvironment& environment = {});

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// One run: its options and what it opens.
struct TranslateJob {
  RunOptions options;
  FilePtr inFile;
  FilePtr outFile;  // none for a port
  double scale = 0;  // set by the paper-size conversion; 0 = none
  // Words on the files beside the messages (the front end shows them as detail lines): what the reader and
  // the writer noted, the run's own cause, and the status reported as the cause of a failure.
  RioDetail inDetail;
  RioDetail outDetail;
  std::string causeFile;
  std::string causeText;
  std::string resolutionNote;  // the input stated no resolution and was taken as 200 dpi
  RioStatus failure = 0;
  bool inputCaused = false;  // the failure is the input's (its reader's, or the file's)
};

// The translation over a job whose input is open and whose output file is open (or which writes to a
// port): streams, RCBs, the line loop and the report of its cause when it fails. True on success, which
// still needs the output file to close cleanly.
[[nodiscard]] bool runTranslation(const Dialect& dialect, TranslateJob& job, Reporter& reporter,
                                  const RunEnvironment& environment = {});

// A stream failure while the input is read is the input's: reported as "unexpected input Stream EOF", never
// as a lost write.
constexpr RioStatus inputFailure(RioStatus status) {
  return status > 0 || status == kRioStreamIo ? kRioUnexpectedEof : status;
}

// The paper-size check of an mmr output: accepts (perhaps setting job.scale) or reports its refusal.
[[nodiscard]] bool checkPaperSize(const RCB* in, TranslateJob& job, const Dialect& dialect, Reporter& reporter);

// Writes the input scaled to the output resolutions or the paper-size factor; closes the input and the
// output RCB. The result is the run's status. Each row handed to the writer goes into `digest` too (none:
// nullptr).
[[nodiscard]] RioStatus resizeTranslate(RunInput& in, const TranslateJob& job, RasterStream* outStream,
                                        const Dialect& dialect, PageDigest* digest = nullptr);
// One page of that: the output RCB is opened for the first page (a document of `pages` pages) and takes
// the next page's size after that; the input and the output stay open.
[[nodiscard]] RioStatus resizePage(RunInput& in, const TranslateJob& job, RasterStream* outStream,
                                   RcbPtr& output, const Dialect& dialect, PageDigest* digest, int32_t pages);

}  // namespace vantrel
