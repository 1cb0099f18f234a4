// Times a batch run of vantrelw against the same files translated by separate vantrel runs, and the
// longest stall of the interface thread during the batch run (the largest gap between ticks of a 5 ms
// timer on that thread). Offscreen, with the real dialog and batch runner; the user's part is scripted.
//
//   vantrelw_timing VANTREL_EXE OUTDIR ROUNDS INPUT...
//
// Each round runs the vantrel commands and then the batch, alternating, into OUTDIR/cli and OUTDIR/gui
// (CALS Group 4, the list's first row), and checks that both wrote the same bytes. Prints each round and
// the medians.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "gui/batch.h"
#include "gui/main_dialog.h"
#include "gui/settings.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using vantrel::gui::BoxIcon;
using vantrel::gui::OverwriteAnswer;

class ScriptedUser : public vantrel::gui::UiServices {
 public:
  QStringList files;
  int messages = 0;
  void showMessage(BoxIcon, const QString&, const QString& text) override {
    ++messages;
    std::fprintf(stderr, "message: %s\n", text.toUtf8().constData());
  }
  bool confirm(const QString&, const QString&) override { return false; }
  void beep() override {}
  QStringList chooseFiles(const std::vector<vantrel::gui::FileFilter>&, int) override { return files; }
  std::optional<QString> choosePrinter() override { return std::nullopt; }
  bool printerAvailable() override { return false; }
  OverwriteAnswer askOverwrite(const QString&) override { return OverwriteAnswer::kYesToAll; }
  void showSummary(const vantrel::gui::BatchSummary&) override {}
  void showAbout() override {}
};

double seconds(const QElapsedTimer& t) {
  return static_cast<double>(t.nsecsElapsed()) / 1e9;
}

double runConsole(const std::string& vantrel, const std::vector<std::string>& inputs, const fs::path& out) {
  QElapsedTimer clock;
  clock.start();
  for (const std::string& input : inputs) {
    const std::string output = (out / fs::path(input).stem()).string() + ".cg4";
    std::vector<std::string> args{vantrel, input, output, "-rof", "calsg4"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid, vantrel.c_str(), &actions, nullptr, argv.data(), environ) != 0) return -1;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    waitpid(pid, &status, 0);
  }
  return seconds(clock);
}

struct BatchTiming {
  double wall = 0;
  double longestStall = 0;
};

BatchTiming runBatch(const std::vector<std::string>& inputs, const fs::path& out, const fs::path& profile) {
  QSettings store(QString::fromStdString(profile.string()), QSettings::IniFormat);
  store.setValue("Default/UseInputDir", 0);
  store.setValue("Default/OutputDir", QString::fromStdString(out.string() + "/"));
  store.setValue("Default/OutputFormat", 0);
  ScriptedUser user;
  for (const std::string& input : inputs) user.files << QString::fromStdString(input);
  vantrel::gui::MainDialog dialog(store, user, {});
  dialog.show();
  dialog.controls().addFiles->click();

  BatchTiming timing;
  QElapsedTimer sinceTick;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    timing.longestStall = std::max(timing.longestStall, seconds(sinceTick));
    sinceTick.restart();
  });
  QEventLoop loop;
  QObject::connect(&dialog, &vantrel::gui::MainDialog::runFinished, &loop, &QEventLoop::quit);
  QElapsedTimer clock;
  clock.start();
  sinceTick.start();
  ticker.start(5);
  dialog.controls().translate->click();
  loop.exec();
  timing.wall = seconds(clock);
  ticker.stop();
  dialog.done(0);
  return timing;
}

bool sameBytes(const fs::path& a, const fs::path& b) {
  std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
  return std::equal(std::istreambuf_iterator<char>(fa), {}, std::istreambuf_iterator<char>(fb), {});
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: vantrelw_timing VANTREL_EXE OUTDIR ROUNDS INPUT...\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const std::string vantrel = argv[1];
  const fs::path out = argv[2];
  const int rounds = std::max(1, std::atoi(argv[3]));
  const std::vector<std::string> inputs(argv + 4, argv + argc);
  fs::create_directories(out / "cli");
  fs::create_directories(out / "gui");

  std::vector<double> console, batch, stall;
  for (int round = 0; round < rounds; ++round) {
    for (const fs::path& dir : {out / "cli", out / "gui"})
      for (const auto& entry : fs::directory_iterator(dir)) fs::remove(entry.path());
    console.push_back(runConsole(vantrel, inputs, out / "cli"));
    const BatchTiming t = runBatch(inputs, out / "gui", out / "profile.conf");
    batch.push_back(t.wall);
    stall.push_back(t.longestStall);
    std::printf(
        "round %d: %zu vantrel runs %.3f s, vantrelw batch %.3f s (%.2fx), longest interface stall %.1f ms\n",
        round + 1, inputs.size(), console.back(), t.wall, t.wall / console.back(), t.longestStall * 1000);
  }
  for (const std::string& input : inputs) {
    const std::string name = fs::path(input).stem().string() + ".cg4";
    if (!sameBytes(out / "cli" / name, out / "gui" / name)) {
      std::printf("%s differs between vantrel and vantrelw\n", name.c_str());
      return 1;
    }
  }
  std::printf("median: vantrel %.3f s, vantrelw %.3f s, ratio %.2f, longest stall %.1f ms\n", median(console),
              median(batch), median(batch) / median(console), median(stall) * 1000);
  return 0;
}
