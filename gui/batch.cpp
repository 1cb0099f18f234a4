#include "gui/batch.h"

#include <unistd.h>

#include <filesystem>

#include "run/dialect.h"

namespace vantrel::gui {
namespace {

constexpr char kSeparator = '/';

// Every error of a translation in a box; the progress texts are the console's alone.
class BoxReporter : public Reporter {
 public:
  explicit BoxReporter(BatchUi& ui) : ui_(ui) {}
  void report(Severity severity, const std::string& text) override {
    if (severity == Severity::kError) ui_.showError(text);
  }

 private:
  BatchUi& ui_;
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

bool translate(const std::vector<std::string>& args, BatchUi& ui, const RunEnvironment& environment) {
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  BoxReporter reporter(ui);
  // The entry takes the arguments after the program's name.
  return runTranslationEntry(kBatchDialect, static_cast<int>(argv.size()) - 1, argv.data() + 1, reporter,
                             environment) == RunOutcome::kComplete;
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
  return args;
}

BatchSummary runBatch(const BatchPlan& plan, BatchUi& ui, const PrintJobFactory& printJobs,
                      bool* askBeforeOverwrite, const RunEnvironment& environment) {
  BatchSummary summary;
  const bool toPrinter = plan.printToDevice && plan.row.device;
  for (const std::string& input : plan.inputs) {
    RunEnvironment env = environment;
    std::string output;
    std::unique_ptr<PrintJob> job;
    if (toPrinter) {
      // A printer is chosen for each file; a cancelled choice skips the file. A printer is no file, so
      // neither the same-file nor the overwrite question applies.
      const std::optional<std::string> printer = ui.choosePrinter();
      if (!printer) continue;
      output = *printer;
      if (printJobs) job = printJobs(*printer, namePart(input));
      env.output = job ? job->sink() : OutputSink{refuseBytes, nullptr, nullptr};
      ui.showProgress(input, output);
    } else {
      output = outputPathFor(input, plan.useInputDir, plan.outputDir, plan.row.extension);
      if (kBatchDialect.sameFile(input, output)) {
        ui.showError(std::string(kSameFileMessage) + input);
        summary.stopped = true;
        break;
      }
      bool skip = false;
      if (*askBeforeOverwrite && existsWritable(output)) {
        switch (ui.askOverwrite(output)) {
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
      ui.showProgress(input, output);
      if (skip) continue;
    }
    ++summary.translated;
    if (translate(argumentVector(input, output, plan), ui, env)) ++summary.completed;
  }
  return summary;
}

}  // namespace vantrel::gui
