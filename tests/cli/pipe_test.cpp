// Outputs that are not regular files: every written format through a pipe (/dev/stdout) and a FIFO gives
// the bytes a regular file gets, writers that go back over their output spooling through a temporary
// file; when the output is standard output's own file the messages go to standard error instead.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "formats/registry.h"
#include "tests/support/shell_folder.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

using testshell::load;

// One listed name per id whose driver writes.
std::vector<std::string> writtenFormats() {
  int count = 0;
  const FormatName* names = rioFormatNames(&count);
  std::set<RasterFormatId> seen;
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i)
    if (names[i].listed && rioFormatInfo(names[i].id).writes && seen.insert(names[i].id).second)
      out.push_back(names[i].name);
  return out;
}

class NonRegularOutput : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    setenv("SOURCE_DATE_EPOCH", "1700000000", 1);  // files that state their date state the same one each run
    dir_ = testshell::freshFolder("vantrel_pipe_", GetParam());
    ASSERT_EQ(run(std::string(DRAWGEN_EXE) + " -w 700 -h 500 -f rnl in.rnl"), 0);
  }
  void TearDown() override {
    unsetenv("SOURCE_DATE_EPOCH");
    fs::remove_all(dir_);
  }

  // bash, for pipefail: the program's exit status, not cat's.
  int run(const std::string& command) { return testshell::runIn(dir_, command); }
  fs::path dir_;
};

TEST_P(NonRegularOutput, GetsTheBytesOfARegularFile) {
  const std::string vantrel = VANTREL_EXE, format = GetParam();
  ASSERT_EQ(run(vantrel + " in.rnl file.out -rof " + format + " >file.msg 2>&1"), 1);
  const std::string expected = load(dir_ / "file.out");
  ASSERT_FALSE(expected.empty());

  // Standard output is a pipe and the output: the data alone on it, the messages on standard error.
  EXPECT_EQ(run("set -o pipefail; " + vantrel + " in.rnl /dev/stdout -rof " + format +
                " 2>pipe.msg | cat >pipe.out"), 1);
  EXPECT_TRUE(load(dir_ / "pipe.out") == expected) << "through a pipe";
  EXPECT_EQ(load(dir_ / "pipe.msg"), "Generating file: /dev/stdout\nvantrel: Translation is complete.\n");

  // A FIFO by name, standard output elsewhere: the messages stay on standard output.
  ASSERT_EQ(run("mkfifo fifo"), 0);
  EXPECT_EQ(run("timeout 60 cat fifo >fifo.out & " + vantrel + " in.rnl fifo -rof " + format +
                " >fifo.msg 2>fifo.err; s=$?; wait; exit $s"), 1);
  EXPECT_TRUE(load(dir_ / "fifo.out") == expected) << "through a FIFO";
  EXPECT_EQ(load(dir_ / "fifo.msg"), "Generating file: fifo\nvantrel: Translation is complete.\n");
  EXPECT_EQ(load(dir_ / "fifo.err"), "");
}

INSTANTIATE_TEST_SUITE_P(EveryWrittenFormat, NonRegularOutput, ::testing::ValuesIn(writtenFormats()));

// Standard output redirected to a file that is also named as the output: still no message in the data.
TEST(StandardOutputFile, RedirectedFileNamedAsOutputGetsNoMessages) {
  const fs::path dir = fs::temp_directory_path() / ("vantrel_stdout_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string cd = "cd '" + dir.string() + "' && ";
  ASSERT_EQ(std::system((cd + DRAWGEN_EXE + " -w 300 -h 200 -f rnl in.rnl").c_str()), 0);
  const int status = std::system((cd + VANTREL_EXE + " in.rnl out.cg4 >out.cg4 2>msg; test $? -eq 1").c_str());
  EXPECT_EQ(status, 0);
  EXPECT_EQ(load(dir / "out.cg4").find("Translation"), std::string::npos);
  EXPECT_NE(load(dir / "msg").find("Translation is complete"), std::string::npos);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace vantrel
