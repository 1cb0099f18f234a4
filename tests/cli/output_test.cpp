// Output that never destroys, through the built program: a failed, refused or killed run leaves the file
// that was there as it was and nothing under a temporary name; a complete one replaces it (a symbolic
// link's target, with the old permissions); devices and FIFOs are written as they are, never deleted, and a
// failed write stops the run with its message.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/support/shell_folder.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

using testshell::load;
using testshell::save;

class OutputFileRun : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testshell::freshFolder("vantrel_output_",
                                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
    ASSERT_EQ(sh(std::string(DRAWGEN_EXE) + " -w 700 -h 500 -f rnl in.rnl"), 0);
    save(dir_ / "bad.rnl", load(dir_ / "in.rnl").substr(0, 200));  // a header and a little data
    save(dir_ / "text.txt", "no raster in here\n");
  }
  void TearDown() override { fs::remove_all(dir_); }

  // The exit status of a bash command run in the folder.
  int sh(const std::string& command) { return testshell::runIn(dir_, command); }
  int vantrel(const std::string& args) { return sh(std::string(VANTREL_EXE) + " " + args + " >msg 2>&1"); }

  // Every name in the folder besides the ones the test made: a temporary file left behind shows here.
  std::string strayFiles(std::initializer_list<const char*> known) {
    std::string stray;
    for (const auto& e : fs::directory_iterator(dir_)) {
      const std::string name = e.path().filename().string();
      bool listed = name == "in.rnl" || name == "bad.rnl" || name == "text.txt" || name == "msg";
      for (const char* k : known) listed = listed || name == k;
      if (!listed) stray += name + " ";
    }
    return stray;
  }
  fs::path dir_;
};

const std::string kOld = "the previous file\n";
const std::string kLostWrite = "vantrel: Unable to complete writing file.\nvantrel: Incomplete translation.\n";

struct FailureCase {
  const char* name;
  const char* args;     // after the output name
  const char* message;  // the cause, between the program's name and "Incomplete translation."
};

class FailedRun : public OutputFileRun, public ::testing::WithParamInterface<FailureCase> {};

// The target, reached by its name or through a symbolic link, keeps its content and its permissions.
TEST_P(FailedRun, LeavesTheExistingFileAsItWas) {
  const FailureCase& c = GetParam();
  for (const char* output : {"out.pcl", "link.pcl"}) {
    SCOPED_TRACE(output);
    save(dir_ / "out.pcl", kOld);
    fs::permissions(dir_ / "out.pcl", fs::perms(0640));
    if (std::string(output) == "link.pcl" && !fs::exists(dir_ / "link.pcl"))
      fs::create_symlink("out.pcl", dir_ / "link.pcl");
    EXPECT_EQ(vantrel(std::string(c.args) + " " + output), 0);
    EXPECT_NE(load(dir_ / "msg")
                  .find(std::string("vantrel: ") + c.message + "\nvantrel: Incomplete translation.\n"),
              std::string::npos)
        << load(dir_ / "msg");
    EXPECT_EQ(load(dir_ / "out.pcl"), kOld);
    EXPECT_EQ(fs::status(dir_ / "out.pcl").permissions(), fs::perms(0640));
    EXPECT_EQ(strayFiles({"out.pcl", "link.pcl"}), "");
  }
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.pcl"));
}

INSTANTIATE_TEST_SUITE_P(
    Causes, FailedRun,
    ::testing::Values(FailureCase{"InputEndsEarly", "bad.rnl", "unable to complete writing file"},
                      FailureCase{"InputUnreadable", "text.txt", "unknown raster format type"},
                      FailureCase{"PageBeyondTheBudget", "in.rnl -rof pcl -dpi 50 -odpi 10000",
                                  "too many or too few rows"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(OutputFileRun, CompleteRunReplacesTheFileAndKeepsItsPermissions) {
  ASSERT_EQ(vantrel("in.rnl fresh.pcl"), 1);
  const std::string expected = load(dir_ / "fresh.pcl");
  ASSERT_FALSE(expected.empty());

  save(dir_ / "out.pcl", kOld);
  fs::permissions(dir_ / "out.pcl", fs::perms(0604));
  fs::create_symlink("out.pcl", dir_ / "link.pcl");
  EXPECT_EQ(vantrel("in.rnl link.pcl"), 1) << load(dir_ / "msg");
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.pcl"));
  EXPECT_EQ(load(dir_ / "out.pcl") == expected, true);
  EXPECT_EQ(fs::status(dir_ / "out.pcl").permissions(), fs::perms(0604));

  // A dangling link: its target is made.
  fs::create_symlink("made.pcl", dir_ / "dangling.pcl");
  EXPECT_EQ(vantrel("in.rnl dangling.pcl"), 1) << load(dir_ / "msg");
  EXPECT_EQ(load(dir_ / "made.pcl") == expected, true);
  EXPECT_EQ(strayFiles({"fresh.pcl", "out.pcl", "link.pcl", "made.pcl", "dangling.pcl"}), "");
}

TEST_F(OutputFileRun, KilledRunLeavesNothingBehind) {
  save(dir_ / "out.pcl", kOld);
  // The input is a FIFO that gives the header and then nothing: the run waits inside the page.
  ASSERT_EQ(sh("mkfifo feed"), 0);
  EXPECT_EQ(sh("(head -c 300 in.rnl; sleep 5) >feed & feeder=$!; " + std::string(VANTREL_EXE) +
               " feed out.pcl >msg 2>&1 & run=$!; sleep 1; kill -9 $run; wait $run; kill $feeder; exit 0"),
            0);
  EXPECT_EQ(load(dir_ / "out.pcl"), kOld);
  EXPECT_EQ(strayFiles({"out.pcl", "feed"}), "");
}

TEST_F(OutputFileRun, FolderOrUnwritableFileIsNotAnOutput) {
  fs::create_directory(dir_ / "folder.pcl");
  EXPECT_EQ(vantrel("in.rnl folder.pcl"), 0);
  EXPECT_EQ(load(dir_ / "msg"), "vantrel: Cannot open output file.\n");
  if (::geteuid() == 0) return;  // the superuser may write any file
  save(dir_ / "locked.pcl", kOld);
  fs::permissions(dir_ / "locked.pcl", fs::perms(0444));
  EXPECT_EQ(vantrel("in.rnl locked.pcl"), 0);
  EXPECT_EQ(load(dir_ / "msg"), "vantrel: Cannot open output file.\n");
  EXPECT_EQ(load(dir_ / "locked.pcl"), kOld);
}

// Devices and FIFOs are written as they are: a full device and a reader that goes away stop the run with
// the lost-write message, and the device or FIFO is still there afterwards.
TEST_F(OutputFileRun, FailedDeviceWritesStopTheRunAndDeleteNothing) {
  ASSERT_EQ(sh(std::string(DRAWGEN_EXE) + " -w 6000 -h 6000 -f rnl big.rnl"), 0);
  for (const char* format : {"pcl", "crf", "vbf", "rtl", "hpg", "ps", "jdl", "rle", "cg4", "tif"}) {
    SCOPED_TRACE(format);
    EXPECT_EQ(vantrel(std::string("big.rnl /dev/full -rof ") + format), 0);
    EXPECT_EQ(load(dir_ / "msg"), "Generating file: /dev/full\n" + kLostWrite);
  }
  struct stat st {};
  ASSERT_EQ(::stat("/dev/full", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));

  ASSERT_EQ(sh("mkfifo fifo"), 0);
  EXPECT_EQ(sh("head -c 100 fifo >/dev/null & " + std::string(VANTREL_EXE) +
               " big.rnl fifo -rof pcl >msg 2>&1; s=$?; wait; exit $s"),
            0);
  EXPECT_EQ(load(dir_ / "msg"), "Generating file: fifo\n" + kLostWrite);
  EXPECT_TRUE(fs::is_fifo(dir_ / "fifo"));
}

// A spool file that cannot be made is a failed write, not a system error text.
TEST_F(OutputFileRun, SpoolThatCannotBeMadeIsALostWrite) {
  EXPECT_EQ(sh("set -o pipefail; TMPDIR=/nonexistent " + std::string(VANTREL_EXE) +
               " in.rnl /dev/stdout -rof mmr 2>msg | cat >/dev/null"),
            0);
  EXPECT_EQ(load(dir_ / "msg"),
            "Generating file: /dev/stdout\nvantrel: unable to complete writing file\n"
            "vantrel: Incomplete translation.\n");
}

}  // namespace
}  // namespace vantrel
