// What the batch translator's tests share: a scratch folder, pages written and read through the
// library, and stand-ins for the user (the dialog's services and the run's questions) that answer from
// a script and record what they were shown.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gui/batch.h"
#include "gui/ui_services.h"
#include "tests/support/read_back.h"
#include "tests/support/run_pages.h"
#include "tests/support/scratch_dir.h"

namespace vantrel::gui::testing {

namespace fs = std::filesystem;

class ScratchFolder {
 public:
  ScratchFolder() : scratch_("vantrelw"), dir_(scratch_.path()) {
    if (!scratch_.ok()) ADD_FAILURE() << "no scratch folder";
  }
  std::string at(const std::string& name) const { return (dir_ / name).string(); }
  std::string slash() const { return dir_.string() + "/"; }
  const fs::path& path() const { return dir_; }

 private:
  testsupport::ScratchDir scratch_;
  fs::path dir_;
};

using testruns::framedPage;

// Twenty drawgen A0 drawings as Group 4 TIFF at 100 dpi (3311 x 4681), made once per test program: a
// batch long enough to cancel in the middle of, quick enough to run whole.
inline const std::vector<std::string>& a0Drawings() {
  static ScratchFolder folder;
  static std::vector<std::string> pages;
  if (pages.empty()) {
    for (int seed = 1; seed <= 20; ++seed) {
      const std::string page = folder.at("a0-" + std::to_string(seed) + ".tif");
      const std::string command = std::string(DRAWGEN_EXE) + " -p a0 -dpi 100 -f tif -seed " +
                                  std::to_string(seed) + " '" + page + "'";
      if (std::system(command.c_str()) != 0) ADD_FAILURE() << command;
      pages.push_back(page);
    }
  }
  return pages;
}

// The files a folder holds, by name.
inline std::vector<std::string> filesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// One message box as the user saw it.
struct Shown {
  BoxIcon icon;
  std::string title;
  std::string text;
  bool operator==(const Shown&) const = default;
};

inline void PrintTo(const Shown& s, std::ostream* os) {
  *os << (s.icon == BoxIcon::kWarning ? "warning " : "information ") << s.title << ": " << s.text;
}

// The dialog's services, answered from queues.
class FakeServices : public UiServices {
 public:
  void showMessage(BoxIcon icon, const QString& title, const QString& text) override {
    shown.push_back({icon, title.toStdString(), text.toStdString()});
  }
  bool confirm(const QString& title, const QString& text) override {
    questions.push_back({BoxIcon::kInformation, title.toStdString(), text.toStdString()});
    return confirmAnswer;
  }
  void beep() override { ++beeps; }
  QStringList chooseFiles(const std::vector<FileFilter>& filters, int first) override {
    filterCount = static_cast<int>(filters.size());
    firstFilter = first;
    if (files.empty()) return {};
    QStringList next = files.front();
    files.pop_front();
    return next;
  }
  std::optional<QString> choosePrinter() override {
    ++printerQuestions;
    if (printers.empty()) return std::nullopt;
    const QString next = printers.front();
    printers.pop_front();
    if (next.isEmpty()) return std::nullopt;
    return next;
  }
  bool printerAvailable() override { return !noPrinters; }
  void showSummary(const BatchSummary& summary) override { summaries.push_back(summary); }
  OverwriteAnswer askOverwrite(const QString& output) override {
    overwriteQuestions.push_back(output.toStdString());
    if (overwriteAnswers.empty()) return OverwriteAnswer::kNo;
    const OverwriteAnswer next = overwriteAnswers.front();
    overwriteAnswers.pop_front();
    return next;
  }
  void showAbout() override { ++abouts; }

  std::vector<std::string> texts() const {
    std::vector<std::string> all;
    for (const Shown& s : shown) all.push_back(s.text);
    return all;
  }

  std::vector<Shown> shown;
  std::vector<Shown> questions;  // Yes/No questions, answered with confirmAnswer
  bool confirmAnswer = false;
  bool noPrinters = false;
  std::vector<BatchSummary> summaries;
  int beeps = 0;
  int abouts = 0;
  int filterCount = 0;
  int firstFilter = 0;
  int printerQuestions = 0;
  std::deque<QStringList> files;
  std::deque<QString> printers;  // an empty name: the dialog was cancelled
  std::vector<std::string> overwriteQuestions;
  std::deque<OverwriteAnswer> overwriteAnswers;
};

// The run's questions answered from queues, on the calling thread.
class FakeBatchUi : public BatchUi {
 public:
  void showProgress(int index, int count, const std::string& input, const std::string& output) override {
    progress.push_back(input + " -> " + output);
    if (onProgress) onProgress(index, count);
  }
  OverwriteAnswer askOverwrite(const std::string& output) override {
    questions.push_back(output);
    if (answers.empty()) return OverwriteAnswer::kNo;
    const OverwriteAnswer next = answers.front();
    answers.pop_front();
    return next;
  }
  std::optional<std::string> choosePrinter() override {
    if (printers.empty()) return std::nullopt;
    std::optional<std::string> next = printers.front();
    printers.pop_front();
    return next;
  }

  std::function<void(int index, int count)> onProgress;
  std::vector<std::string> progress;
  std::vector<std::string> questions;
  std::deque<OverwriteAnswer> answers;
  std::deque<std::optional<std::string>> printers;
};

// The timer lives as long as the test holds it, so a box that never came answers no later test.
inline std::unique_ptr<QTimer> answerNextModal(std::function<void(QWidget*)> act) {
  auto timer = std::make_unique<QTimer>();
  QTimer* t = timer.get();
  QObject::connect(t, &QTimer::timeout, [t, act] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      t->stop();
      act(modal);
    }
  });
  t->start(10);
  return timer;
}

}  // namespace vantrel::gui::testing
