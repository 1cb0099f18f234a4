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
  // The message lines on standard output; the detail lines go to standard error.
  int vantrel(const std::string& args) { return sh(std::string(VANTREL_EXE) + " " + args + " >msg 2>detail"); }

  // Every name in the folder besides the ones the test made: a temporary file left behind shows here.
  std::string strayFiles(std::initializer_list<const char*> known) {
    std::string stray;
    for (const auto& e : fs::directory_iterator(dir_)) {
      const std::string name = e.path().filename().string();
      bool listed = name == "in.rnl" || name == "bad.rnl" || name == "text.txt" || name == "msg" ||
                    name == "detail";
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
    ::testing::Values(FailureCase{"InputEndsEarly", "bad.rnl", "unexpected input Stream EOF"},
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

// The replacement keeps the replaced file's owner and group (as the superuser, who may set them) and mode.
TEST_F(OutputFileRun, ReplacementKeepsOwnerGroupAndMode) {
  save(dir_ / "out.pcl", kOld);
  const bool root = ::geteuid() == 0;
  const uid_t owner = root ? 12345 : ::geteuid();
  const gid_t group = root ? 23456 : ::getegid();
  ASSERT_EQ(::chown((dir_ / "out.pcl").c_str(), owner, group), 0);
  ASSERT_EQ(::chmod((dir_ / "out.pcl").c_str(), 02640), 0);
  ASSERT_EQ(vantrel("in.rnl out.pcl"), 1) << load(dir_ / "msg");
  struct stat st {};
  ASSERT_EQ(::stat((dir_ / "out.pcl").c_str(), &st), 0);
  EXPECT_NE(load(dir_ / "out.pcl"), kOld);
  EXPECT_EQ(st.st_uid, owner);
  EXPECT_EQ(st.st_gid, group);
  EXPECT_EQ(st.st_mode & 07777, 02640u);
}

// Runs ended at random points by SIGTERM, SIGINT, SIGHUP or SIGKILL leave nothing in the output folder or
// the temporary folder: not the output's temporary file, not the spool of a seeking writer whose output is
// a FIFO, not the spool of an input read from a pipe.
class KilledAnywhere : public OutputFileRun, public ::testing::WithParamInterface<const char*> {};

TEST_P(KilledAnywhere, LeavesNothingBehind) {
  ASSERT_EQ(sh(std::string(DRAWGEN_EXE) + " -w 5000 -h 5000 -f tif big.tif && mkdir tmp && mkfifo fifo"), 0);
  save(dir_ / "out.tif", kOld);
  const std::string run = "TMPDIR=$PWD/tmp " + std::string(VANTREL_EXE);
  const std::string kill = "sleep 0.$((RANDOM % 40)); kill -" + std::string(GetParam()) + " $run; wait $run; ";
  for (int round = 0; round < 4; ++round) {
    // Job control, so that the background runs do not start with SIGINT ignored.
    EXPECT_EQ(sh("set -m; { " + run + " big.tif new.rnl >msg 2>&1 & run=$!; " + kill + "}; " +  //
                 "{ " + run + " big.tif out.tif >msg 2>&1 & run=$!; " + kill + "}; " +  //
                 "{ cat fifo >/dev/null & reader=$!; " + run + " big.tif fifo -rof tif >msg 2>&1 & run=$!; " +
                 kill + "kill $reader 2>/dev/null; wait; }; " +  //
                 "{ cat big.tif | " + run + " /dev/stdin piped.rnl >msg 2>&1 & run=$!; " + kill + "wait; }; exit 0"),
              0);
    EXPECT_TRUE(fs::is_empty(dir_ / "tmp")) << "round " << round;
    EXPECT_EQ(strayFiles({"big.tif", "tmp", "fifo", "out.tif", "new.rnl", "piped.rnl"}), "") << "round " << round;
    const std::string out = load(dir_ / "out.tif");
    EXPECT_TRUE(out == kOld || out.compare(0, 2, "II") == 0 || out.compare(0, 2, "MM") == 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Signals, KilledAnywhere, ::testing::Values("TERM", "INT", "HUP", "KILL"));

// A spool that cannot be made for a piped input is the input's failure, not a lost write.
TEST_F(OutputFileRun, InputSpoolThatCannotBeMadeIsTheInputsFailure) {
  ASSERT_EQ(sh(std::string(DRAWGEN_EXE) + " -w 300 -h 200 -f tif in.tif"), 0);
  EXPECT_EQ(sh("cat in.tif | TMPDIR=/nonexistent " + std::string(VANTREL_EXE) + " /dev/stdin out.rnl >msg 2>&1"), 0);
  EXPECT_EQ(load(dir_ / "msg"),
            "Generating file: out.rnl\nvantrel: unexpected input Stream EOF\nvantrel: Incomplete translation.\n"
            "vantrel: /dev/stdin: reading: unexpected input Stream EOF\n");
}

TEST_F(OutputFileRun, FolderOrUnwritableFileIsNotAnOutput) {
  fs::create_directory(dir_ / "folder.pcl");
  EXPECT_EQ(vantrel("in.rnl folder.pcl"), 0);
  EXPECT_EQ(load(dir_ / "msg"), "vantrel: Cannot open output file.\n");
  EXPECT_EQ(load(dir_ / "detail"),
            "vantrel: folder.pcl: cannot be written: a folder, or a file or folder that may not be written\n");
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
               " big.rnl fifo -rof pcl >msg 2>detail; s=$?; wait; exit $s"),
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
            "vantrel: Incomplete translation.\nvantrel: /dev/stdout: writing: unable to complete writing file\n");
}

}  // namespace
}  // namespace vantrel
