// The README's examples run as written: every command line of its sh blocks that calls vantrel or
// scripts/convert-tree.sh on files of its own (not a printer port, not an archive path of the reader's) runs
// in a scratch folder on pages drawgen makes, and must succeed.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/shell_folder.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

// The command lines of the README's sh blocks that run here, comments cut off.
std::vector<std::string> exampleCommands() {
  std::ifstream in(std::string(VANTREL_SOURCE_DIR) + "/README.md");
  std::vector<std::string> commands;
  bool inside = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("```", 0) == 0) {
      inside = line == "```sh";
      continue;
    }
    if (!inside) continue;
    const size_t comment = line.find("  #");
    if (comment != std::string::npos) line.erase(comment);
    const std::vector<std::string> w = words(line);
    if (w.empty()) continue;
    const bool program = w[0] == "vantrel" || w[0].rfind("VANTREL=", 0) == 0 || w[0] == "scripts/convert-tree.sh";
    // A port, the reader's own folders and placeholders cannot stand here.
    const bool foreign = line.find("lpt") != std::string::npos || line.find(" /") != std::string::npos ||
                         line.find("SRC") != std::string::npos || line.find("hosts.txt") != std::string::npos;
    if (program && !foreign) commands.push_back(line);
  }
  return commands;
}

// The format drawgen writes for a file name: its extension.
std::string extension(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? "" : name.substr(dot + 1);
}

class ReadmeExamples : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testshell::freshFolder("vantrel_readme_", "examples");
    fs::create_directories(dir_ / "bin");
    fs::create_directories(dir_ / "build");
    fs::create_symlink(VANTREL_EXE, dir_ / "bin" / "vantrel");
    fs::create_symlink(VANTREL_EXE, dir_ / "build" / "vantrel");
    fs::create_directory_symlink(fs::path(VANTREL_SOURCE_DIR) / "scripts", dir_ / "scripts");
    // A tree of scans for the scripts.
    ASSERT_EQ(run("mkdir -p scans/a && " + draw("scans/a/b.tif") + " && " + draw("scans/c.tif")), 0);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // An A4 page at 200 dpi in the format of the name's extension.
  static std::string draw(const std::string& name) {
    return std::string(DRAWGEN_EXE) + " -p a4 -dpi 200 -f " + extension(name) + " " + name + " 2>/dev/null";
  }
  int run(const std::string& command) { return testshell::runIn(dir_, command); }
  fs::path dir_;
};

TEST_F(ReadmeExamples, RunAsWritten) {
  const std::vector<std::string> commands = exampleCommands();
  ASSERT_GE(commands.size(), 6u) << "the README's examples were not found";
  for (const std::string& command : commands) {
    SCOPED_TRACE(command);
    const std::vector<std::string> w = words(command);
    const bool script = w[0] != "vantrel";
    // The input a vantrel line names is drawn unless an earlier example made it.
    // A -page example's input holds two pages, joined by tiffcp.
    if (!script && !fs::exists(dir_ / w[1])) {
      if (command.find(" -page ") == std::string::npos)
        ASSERT_EQ(run(draw(w[1])), 0);
      else
        ASSERT_EQ(run(draw("one.tif") + " && " + draw("two.tif") + " && tiffcp one.tif two.tif " + w[1]), 0);
    }
    // The printer of a pipe takes the bytes; vantrel's status 1 is its success, the scripts' is 0.
    const int status = run("set -o pipefail; lp() { cat >/dev/null; }; PATH=\"$PWD/bin:$PATH\"; { " + command +
                           "; } >example.out 2>example.err");
    EXPECT_EQ(status, script ? 0 : 1) << testshell::load(dir_ / "example.out")
                                      << testshell::load(dir_ / "example.err");
  }
}

}  // namespace
}  // namespace vantrel
