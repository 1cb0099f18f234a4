// The batch run: every file of the list translated in turn by the batch dialect's translation entry,
// with the output names, the same-file refusal, the overwrite question and the printer jobs around it,
// each file's outcome recorded for the summary. It runs on a worker thread; everything it asks of the
// user goes through BatchUi, and the environment's watch stops it between lines.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gui/format_table.h"
#include "run/translate.h"

namespace vantrel::gui {

inline constexpr char kErrorTitle[] = "Vantrel Error";
inline constexpr char kSameFileMessage[] = "Output file cannot be the same as input file:";
inline constexpr char kProgramArgument[] = "Vantrel";

struct BatchPlan {
  std::vector<std::string> inputs;
  OutputFormatRow row{};
  bool useInputDir = true;
  std::string outputDir;                   // ends in the separator
  bool printToDevice = false;              // honoured for a device row only
  std::optional<std::string> dpi;          // "-dpi" and this text, when Use Original DPI is off
  std::optional<std::string> xResolution;  // "-xdpi" and "-ydpi", when Use Original Resolutions is off
  std::optional<std::string> yResolution;
  bool stopAtFirstError = false;  // a failed file ends the run; else the run goes on
  bool allPages = true;           // every page of a document into a row that holds several ("-page all")
};

enum class OverwriteAnswer { kNo = 0, kYes = 1, kYesToAll = 2 };

// What the run asks of the user. Called on the worker thread; each call returns once answered.
class BatchUi {
 public:
  virtual ~BatchUi() = default;
  // File `index` (from 1) of `count` begins, or is skipped.
  virtual void showProgress(int index, int count, const std::string& input, const std::string& output) = 0;
  virtual OverwriteAnswer askOverwrite(const std::string& output) = 0;
  // The printer for one file; none when the dialog was cancelled.
  virtual std::optional<std::string> choosePrinter() = 0;
};

// A raw print job that takes one file's output.
class PrintJob {
 public:
  virtual ~PrintJob() = default;
  virtual OutputSink sink() = 0;
};
using PrintJobFactory =
    std::function<std::unique_ptr<PrintJob>(const std::string& printer, const std::string& title)>;

// The output path of one input: its own directory (or the output directory) with its base name and the
// row's extension. The base name is the name after the last separator up to its last dot.
std::string outputPathFor(const std::string& input, bool useInputDir, const std::string& outputDir,
                          const char* extension);

// The argument vector of one file, the program's name first (at most 13 strings).
std::vector<std::string> argumentVector(const std::string& input, const std::string& output,
                                        const BatchPlan& plan);

enum class FileResult {
  kTranslated,
  kFailed,
  kSkipped,        // the overwrite question answered No, or no printer chosen
  kCancelled,      // stopped by Cancel while it was translated; its output removed
  kNotTranslated,  // not reached: the run was cancelled or stopped at an error before it
};

struct FileOutcome {
  std::string input;
  std::string output;  // the file or printer it went to, when one was named
  FileResult result = FileResult::kNotTranslated;
  std::string cause;  // why it failed or was skipped, one line
  std::string note;   // what the translation took of the input (page 1 of several), one line
};

struct BatchSummary {
  int translated = 0;    // files handed to the translation entry
  int completed = 0;     // of which complete
  bool stopped = false;  // a failure ended the run (Stop at the first error)
  bool cancelled = false;
  double seconds = 0;              // the run's elapsed time
  std::vector<FileOutcome> files;  // every input of the plan, in list order
  int count(FileResult result) const;
};

// Runs the plan. *askBeforeOverwrite is the program-wide flag that Yes to All clears.
BatchSummary runBatch(const BatchPlan& plan, BatchUi& ui, const PrintJobFactory& printJobs,
                      bool* askBeforeOverwrite, const RunEnvironment& environment = {});

}  // namespace vantrel::gui
