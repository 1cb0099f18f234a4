#include "gui/presenter.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>

namespace vantrel::gui {

std::string dpiRangeMessage() {
  return "DPI must be between " + std::to_string(kMinDpi) + " and " + std::to_string(kMaxDpi);
}

int decimalValue(const std::string& text) {
  long long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') break;
    value = std::min<long long>(value * 10 + (c - '0'), std::numeric_limits<int>::max());
  }
  return static_cast<int>(value);
}

Presenter::Presenter(const DialogSettings& settings)
    : settings_(settings),
      dpiText_(std::to_string(settings.dpi)),
      xText_(std::to_string(settings.xResolution)),
      yText_(std::to_string(settings.yResolution)) {
  if (settings_.outputFormat < 0 || settings_.outputFormat >= formatRowCount()) settings_.outputFormat = 0;
}

DialogSettings Presenter::settings() const {
  DialogSettings s = settings_;
  s.dpi = decimalValue(dpiText_);
  s.xResolution = decimalValue(xText_);
  s.yResolution = decimalValue(yText_);
  return s;
}

ControlStates Presenter::controls() const {
  ControlStates c;
  const bool running = phase_ == RunPhase::kRunning;
  c.addEnabled = phase_ == RunPhase::kIdle;
  c.quitEnabled = !running;
  c.removeEnabled = !running && selectedCount_ > 0 && !files_.empty();
  c.translateVisible = phase_ == RunPhase::kIdle;
  c.translateEnabled = !files_.empty();
  c.restartVisible = phase_ == RunPhase::kDone;
  c.dpiEnabled = !settings_.useOrigDpi;
  c.resolutionsEnabled = !settings_.useOrigRes;
  c.printBoxVisible = !printerName_.empty();
  c.printBoxChecked = c.printBoxVisible && printToDevice_;
  c.printBoxCaption = c.printBoxVisible ? "Print to " + printerName_ : std::string();
  c.useInputDirEnabled = !c.printBoxChecked;
  c.outputDirEnabled = !c.printBoxChecked && !settings_.useInputDir;
  return c;
}

bool Presenter::selectFormat(int row) {
  if (row < 0 || row >= formatRowCount()) return false;
  settings_.outputFormat = row;
  if (outputFormatRows()[row].device) return true;
  // A hidden box cannot be unchecked by the user, so hiding it also ends printing.
  printerName_.clear();
  printToDevice_ = false;
  return false;
}

void Presenter::printerChosen(const std::string& name) {
  printerName_ = name;
  printToDevice_ = false;
}

bool Presenter::acceptsCharacter(char32_t c) {
  return (c >= U'0' && c <= U'9') || c == U'\b';
}

std::string& Presenter::text(NumberField field) {
  return field == NumberField::kDpi ? dpiText_ : field == NumberField::kXResolution ? xText_ : yText_;
}

const std::string& Presenter::text(NumberField field) const {
  return field == NumberField::kDpi ? dpiText_ : field == NumberField::kXResolution ? xText_ : yText_;
}

std::string Presenter::numberText(NumberField field) const {
  return text(field);
}

void Presenter::setNumberText(NumberField field, const std::string& value) {
  text(field) = value;
}

NumberCheck Presenter::leaveNumber(NumberField field, const std::string& value) {
  NumberCheck check{value, false};
  const int number = decimalValue(value);
  if (number > kMaxDpi || number < kMinDpi) {
    check.outOfRange = true;
    check.text = value.substr(0, 4);
  }
  text(field) = check.text;
  return check;
}

DirectoryCheck Presenter::leaveDirectory(const std::string& value) {
  DirectoryCheck check{value, DirectoryProblem::kNone};
  if (check.directory.empty() || check.directory.back() != '/') check.directory += '/';
  const std::string testFile = check.directory + kDirectoryTestName;
  errno = 0;
  std::FILE* f = std::fopen(testFile.c_str(), "w");
  if (f == nullptr) {
    check.problem = errno == EACCES || errno == EPERM || errno == EROFS ? DirectoryProblem::kAccessDenied
                                                                        : DirectoryProblem::kInvalidPath;
    return check;
  }
  std::fclose(f);
  std::remove(testFile.c_str());
  settings_.outputDir = check.directory;
  return check;
}

int Presenter::addFiles(const std::vector<std::string>& paths) {
  int added = 0;
  for (const std::string& path : paths) {
    if (path.empty() || std::find(files_.begin(), files_.end(), path) != files_.end()) continue;
    files_.push_back(path);
    ++added;
  }
  return added;
}

void Presenter::removeFiles(std::vector<int> rows) {
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  for (auto it = rows.rbegin(); it != rows.rend(); ++it)
    if (*it >= 0 && *it < static_cast<int>(files_.size())) files_.erase(files_.begin() + *it);
  selectedCount_ = 0;
}

BatchPlan Presenter::startRun() {
  BatchPlan plan;
  plan.inputs = files_;
  plan.row = outputFormatRows()[settings_.outputFormat];
  plan.useInputDir = settings_.useInputDir;
  plan.outputDir = settings_.outputDir;
  plan.printToDevice = controls().printBoxChecked;
  if (!settings_.useOrigDpi) plan.dpi = dpiText_;
  if (!settings_.useOrigRes) {
    plan.xResolution = xText_;
    plan.yResolution = yText_;
  }
  phase_ = RunPhase::kRunning;
  return plan;
}

void Presenter::restart() {
  files_.clear();
  selectedCount_ = 0;
  phase_ = RunPhase::kIdle;
}

}  // namespace vantrel::gui
