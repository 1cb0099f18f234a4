#include "gui/batch.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "formats/pages.h"
#include "formats/registry.h"
#include "run/dialect.h"

namespace vantrel::gui {
namespace {

constexpr char kSeparator = '/';

constexpr char kSkippedByAnswer[] = "output exists, not overwritten";
constexpr char kSkippedNoPrinter[] = "no printer chosen";

// Keeps a translation's first error, its cause, its first notice and the run's words on it; the progress
// texts are the console's alone.
class CauseReporter : public Reporter {
 public:
  void report(Severity severity, const std::string& text) override {
    if (severity == Severity::kError && cause.empty()) cause = text;
    if (severity == Severity::kNotice && note.empty()) note = text;
    if (severity == Severity::kDetail && detail.empty()) detail = text;
  }
  std::string cause;
  std::string note;
  std::string detail;
};

// The destination of a print job that could not be made: it takes nothing.
size_t refuseBytes(const void*, size_t, size_t, void*) {
  return 0;
}

std::string namePart(const std::string& path) {
  const size_t slash = path.rfind(kSeparator);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool existsWritable(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec) && ::access(path.c_str(), W_OK) == 0;
}

// Translates one file; the outcome's result and cause are set.
void translate(const std::vector<std::string>& args, const RunEnvironment& environment, FileOutcome* file) {
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  CauseReporter reporter;
  // The entry takes the arguments after the program's name.
  const RunOutcome outcome = runTranslationEntry(kBatchDialect, static_cast<int>(argv.size()) - 1,
                                                 argv.data() + 1, reporter, environment);
  if (outcome == RunOutcome::kComplete) {
    file->result = FileResult::kTranslated;
    file->note = reporter.note;
  } else if (environment.watch != nullptr && environment.watch->stopped.load()) {
    file->result = FileResult::kCancelled;
  } else {
    file->result = FileResult::kFailed;
    file->cause = !reporter.cause.empty() ? reporter.cause
                  : !reporter.note.empty() ? reporter.note
                                           : "Incomplete translation";
    if (!reporter.detail.empty()) file->cause += ": " + reporter.detail;
  }
}

bool cancelRequested(const RunEnvironment& environment) {
  return environment.watch != nullptr && environment.watch->cancel.load();
}

}  // namespace

std::string outputPathFor(const std::string& input, bool useInputDir, const std::string& outputDir,
                          const char* extension) {
  const size_t slash = input.rfind(kSeparator);
  const std::string name = slash == std::string::npos ? input : input.substr(slash + 1);
  const size_t dot = name.rfind('.');
  const std::string base = dot == std::string::npos ? name : name.substr(0, dot);
  const std::string directory =
      useInputDir ? (slash == std::string::npos ? "" : input.substr(0, slash + 1)) : outputDir;
  return directory + base + "." + extension;
}

std::vector<std::string> argumentVector(const std::string& input, const std::string& output,
                                        const BatchPlan& plan) {
  std::vector<std::string> args{kProgramArgument, input, output, "-rof", plan.row.rofName};
  if (plan.dpi) {
    args.push_back("-dpi");
    args.push_back(*plan.dpi);
  }
  if (plan.xResolution && plan.yResolution) {
    args.push_back("-xdpi");
    args.push_back(*plan.xResolution);
    args.push_back("-ydpi");
    args.push_back(*plan.yResolution);
  }
  if (plan.allPages && rioWritesPages(rioFormatFromName(plan.row.rofName))) {
    args.push_back("-page");
    args.push_back("all");
  }
  return args;
}

int BatchSummary::count(FileResult result) const {
  return static_cast<int>(std::count_if(files.begin(), files.end(),
                                        [result](const FileOutcome& f) { return f.result == result; }));
}

BatchSummary runBatch(const BatchPlan& plan, BatchUi& ui, const PrintJobFactory& printJobs,
                      bool* askBeforeOverwrite, const RunEnvironment& environment) {
  const auto began = std::chrono::steady_clock::now();
  BatchSummary summary;
  for (const std::string& input : plan.inputs)
    summary.files.push_back({input, {}, FileResult::kNotTranslated, {}, {}});
  const int count = static_cast<int>(plan.inputs.size());
  const bool toPrinter = plan.printToDevice && plan.row.device;
  for (int index = 0; index < count; ++index) {
    if (cancelRequested(environment)) {
      summary.cancelled = true;
      break;
    }
    FileOutcome& file = summary.files[index];
    const std::string& input = file.input;
    RunEnvironment env = environment;
    std::unique_ptr<PrintJob> job;
    if (toPrinter) {
      // A printer is chosen for each file; a cancelled choice skips the file. A printer is no file, so
      // neither the same-file nor the overwrite question applies.
      const std::optional<std::string> printer = ui.choosePrinter();
      if (!printer) {
        file.result = FileResult::kSkipped;
        file.cause = kSkippedNoPrinter;
        continue;
      }
      file.output = *printer;
      if (printJobs) job = printJobs(*printer, namePart(input));
      env.output = job ? job->sink() : OutputSink{refuseBytes, nullptr, nullptr};
      ui.showProgress(index + 1, count, input, file.output);
    } else {
      file.output = outputPathFor(input, plan.useInputDir, plan.outputDir, plan.row.extension);
      if (kBatchDialect.sameFile(input, file.output)) {
        // The message names the file: a refusal of this file, not of the run.
        file.result = FileResult::kFailed;
        file.cause = std::string(kSameFileMessage) + input;
        if (plan.stopAtFirstError) {
          summary.stopped = true;
          break;
        }
        continue;
      }
      bool skip = false;
      if (*askBeforeOverwrite && existsWritable(file.output)) {
        switch (ui.askOverwrite(file.output)) {
          case OverwriteAnswer::kNo:
            skip = true;
            break;
          case OverwriteAnswer::kYes:
            break;
          case OverwriteAnswer::kYesToAll:
            *askBeforeOverwrite = false;
            break;
        }
      }
      ui.showProgress(index + 1, count, input, file.output);
      if (skip) {
        file.result = FileResult::kSkipped;
        file.cause = kSkippedByAnswer;
        continue;
      }
    }
    ++summary.translated;
    translate(argumentVector(input, file.output, plan), env, &file);
    if (file.result == FileResult::kTranslated) ++summary.completed;
    if (file.result == FileResult::kCancelled) {
      summary.cancelled = true;
      break;
    }
    if (file.result == FileResult::kFailed && plan.stopAtFirstError) {
      summary.stopped = true;
      break;
    }
  }
  summary.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  return summary;
}

}  // namespace vantrel::gui
