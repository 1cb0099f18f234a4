// The built console translator, run as a program in a scratch working directory: its standard output
// byte for byte, its exit status and the files it leaves behind. Inputs are native run-length files built
// by hand here (or made by drawgen), outputs are read back through the library.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/console.h"
#include "run/translate.h"
#include "tests/support/recording_reporter.h"
#include "rio/alloc.h"
#include "formats/open.h"
#include "rio/rcb.h"
#include "rio/stream.h"
#include "tests/support/read_back.h"
#include "tests/support/scratch_dir.h"

extern char** environ;

namespace vantrel {
namespace {

namespace fs = std::filesystem;

const std::string kUsage =
    "\n"
    "VANTREL v5.0b107\n"
    "\nusage: vantrel infilename {outfilename|lpt1|lpt2|lpt3}"
    "\n [-rof {calsg4|zebg3|zebg4|tiffg4|tiffg3|tiffu|tiled|rnl|rlc|jdl|crf|rtl|pcl"
    "\n        |vbf|ps|opt|pcx|rle|nkk|grphtec|hpg}]"
    "\n [-dpi input resolution]"
    "\n"
    "\n where: infilename       is the raster input filename"
    "\n        outfilename      is the raster output filename"
    "\n        -rof format      optionally specifies the output file format type"
    "\n        -dpi resolution  optional input resolution (50 to 10000)"
    "\n        -xdpi resolution optional output x resolution (50 to 10000)"
    "\n        -ydpi resolution optional output y resolution (50 to 10000)"
    "\n        -odpi resolution optional output x and y resolution (50 to 10000)"
    "\n        -rot rotation    optional rotation of 90, 180, or 270"
    "\n        -size definition optional output size of A0 - A4, A0L - A4L"
    "\n        -digest          print the page's SHA-256 on standard error"
    "\n        -page number     optional page to translate (1, 2, ...), or all"
    "\n"
    "\nInput file types are autodetected independent of file extension (except rlc)"
    "\nInput file types recognized are zebrnl, zebg3, zebg4, calsg4, tiffg3, tiffg4, "
    "\n     tiff packbit, tiff uncompressed, tiled tiff, rlc, rlc2, dsig4, pcx,"
    "\n     filenet img, mmr"
    "\n";

const std::string kComplete = "vantrel: Translation is complete.\n";
const std::string kIncomplete = "vantrel: Incomplete translation.\n";
const std::string kNotImplemented = "vantrel: internal error 5\n";
const std::string kSameNames = "vantrel: Infile and outfile must have different names\n";
const std::string kPortRefused = "vantrel: Printer port only supported for large format plotters.\n";
const std::string kInvalidFormat = "vantrel: Invalid output format type.\n";
const std::string kNoInput = "vantrel: Cannot open input file.\n";
const std::string kNoOutput = "vantrel: Cannot open output file.\n";
const std::string kUnableToWrite = "vantrel: Unable to complete writing file.\n";

std::string generating(const std::string& name) {
  return "Generating file: " + name + "\n";
}

using testread::PageRecord;
using testread::readBack;
using testread::Runs;

// ---- native run-length files built byte by byte

void putBE16(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  v[at] = static_cast<uint8_t>(x >> 8);
  v[at + 1] = static_cast<uint8_t>(x);
}
void putBE32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  putBE16(v, at, x >> 16);
  putBE16(v, at + 2, x & 0xFFFF);
}

struct NativeImage {
  int32_t width = 64;
  int32_t xDpiTenths = 3000;
  int32_t yDpiTenths = 3000;
  std::vector<Runs> lines;

  std::vector<uint8_t> bytes() const {
    std::vector<uint8_t> v(128, 0);
    v[0] = 'Z', v[1] = 'E', v[2] = 'B', v[3] = ' ';
    v[4] = 0, v[5] = 1, v[6] = 3, v[7] = 2;
    putBE32(v, 10, 128);
    putBE32(v, 18, static_cast<uint32_t>(yDpiTenths));
    putBE32(v, 22, static_cast<uint32_t>(xDpiTenths));
    putBE32(v, 26, static_cast<uint32_t>(lines.size()));
    putBE32(v, 30, static_cast<uint32_t>(width));
    v[41] = 126;
    // Records: last pixel and length, end-of-line on the line's last record, end-of-image on the file's.
    auto record = [&v](uint32_t last, uint32_t length) {
      v.resize(v.size() + 4);
      putBE16(v, v.size() - 4, last);
      putBE16(v, v.size() - 2, length);
    };
    for (const Runs& line : lines) {
      for (size_t i = 0; i < line.size(); ++i) {
        auto [s, e] = line[i];
        bool edge = i + 1 == line.size() && e == width;
        record(static_cast<uint32_t>(e - 1), static_cast<uint32_t>(e - s) | (edge ? 0x8000u : 0));
      }
      if (line.empty() || line.back().second != width) record(static_cast<uint32_t>(width - 1), 0x8000);
    }
    v[v.size() - 4] |= 0x80;
    return v;
  }
};

NativeImage smallImage() {
  NativeImage img;
  img.lines = {{{0, 3}, {10, 20}}, {}, {{5, 64}}, {{1, 2}, {4, 8}, {60, 63}}};
  return img;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

void writeFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
  writeFile(path, std::string(bytes.begin(), bytes.end()));
}

// ---- running a program

struct RunResult {
  std::string out;
  std::string err;
  int exitStatus = -1;
};

RunResult runProgram(const std::string& exe, const std::vector<std::string>& args, const fs::path& cwd,
                     const fs::path& errFile) {
  RunResult result;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(exe.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc == 0) {
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) result.out.append(buffer, static_cast<size_t>(n));
    int status = 0;
    if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  }
  ::close(fds[0]);
  result.err = readFile(errFile);
  return result;
}

// A scratch directory: `work/` is the program's working directory, its standard error goes beside it.
class CliProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.ok());
    root_ = scratch_.path();
    work_ = root_ / "work";
    fs::create_directory(work_);
    input_ = smallImage().bytes();
    writeFile(work_ / "in.rnl", input_);
  }
  RunResult run(const std::vector<std::string>& args) {
    RunResult r = runProgram(VANTREL_EXE, args, work_, root_ / "stderr.txt");
    // Standard error holds detail lines alone, never the messages scripts read.
    std::istringstream lines(r.err);
    for (std::string line; std::getline(lines, line);) EXPECT_EQ(line.rfind("vantrel: ", 0), 0u) << r.err;
    return r;
  }
  fs::path at(const std::string& name) const { return work_ / name; }
  bool exists(const std::string& name) const {
    std::error_code ec;
    return fs::exists(fs::symlink_status(at(name), ec));
  }
  // The files of the working directory, by name.
  std::vector<std::string> listing() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(work_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  testsupport::ScratchDir scratch_{"vantrel-cli"};
  fs::path root_;
  fs::path work_;
  std::vector<uint8_t> input_;
};

// ---- the table: arguments, standard output, exit status, files afterwards

struct CliCase {
  const char* label;
  std::vector<std::string> args;
  std::string out;
  int exitStatus;
  std::vector<std::string> present;  // beside the fixture's files
  std::vector<std::string> absent;
};

// An EDMICS B4 header of a version the reader does not know (1 at offset 28 is the only one): refused as
// "read or write function not implemented", reached by the extension.
std::string oldB4() {
  std::string h(128, '\0');
  h[0] = static_cast<char>(128);
  h[4] = h[6] = 1;
  h[29] = 2;
  return h;
}

class CliRuns : public CliProgram, public ::testing::WithParamInterface<CliCase> {
 protected:
  void SetUp() override {
    CliProgram::SetUp();
    writeFile(at("CASE.RNL"), input_);
    writeFile(at("in.tif"), input_);  // a native file under a TIFF name: recognised by its bytes
    writeFile(at("empty.rnl"), std::string());
    writeFile(at("text.txt"), std::string("no raster in here\n"));
    writeFile(at("existing.rnl"), std::string("keep me"));
    writeFile(at("old.b4"), oldB4());
    fs::create_directory(at("taken.rnl"));
  }
};

TEST_P(CliRuns, PrintsExitsAndLeavesFiles) {
  const CliCase& c = GetParam();
  RunResult r = run(c.args);
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(r.exitStatus, c.exitStatus);
  for (const std::string& name : c.present) EXPECT_TRUE(exists(name)) << name << " should exist";
  for (const std::string& name : c.absent) EXPECT_FALSE(exists(name)) << name << " should not exist";
  // What the fixture made is never touched.
  EXPECT_EQ(readFile(at("in.rnl")), std::string(input_.begin(), input_.end()));
  EXPECT_EQ(readFile(at("existing.rnl")), "keep me");
  EXPECT_TRUE(fs::is_directory(at("taken.rnl")));
  EXPECT_TRUE(fs::is_character_file("/dev/full"));
}

const std::string kDone = generating("out.rnl") + kComplete;

INSTANTIATE_TEST_SUITE_P(
    Cli, CliRuns,
    ::testing::Values(
        // The command line.
        CliCase{"NoArguments", {}, kUsage, 0, {}, {}}, CliCase{"OneName", {"in.rnl"}, kUsage, 0, {}, {}},
        CliCase{"ThreeNames", {"in.rnl", "a.rnl", "b.rnl"}, kUsage, 0, {}, {"a.rnl", "b.rnl"}},
        CliCase{"UnknownOption", {"in.rnl", "out.rnl", "-v", "1"}, kUsage, 0, {}, {"out.rnl"}},
        CliCase{"DpiWithoutValue", {"in.rnl", "out.rnl", "-dpi"}, kUsage, 0, {}, {"out.rnl"}},
        CliCase{"Dpi49_9", {"in.rnl", "out.rnl", "-dpi", "49.9"}, kUsage, 0, {}, {"out.rnl"}},
        CliCase{"Dpi10000_5", {"in.rnl", "out.rnl", "-dpi", "10000.5"}, kUsage, 0, {}, {"out.rnl"}},
        CliCase{"DpiAbc", {"in.rnl", "out.rnl", "-dpi", "abc"}, kUsage, 0, {}, {"out.rnl"}},
        CliCase{"DpiNan", {"in.rnl", "out.rnl", "-dpi", "nan"}, kUsage, 0, {}, {"out.rnl"}},
        CliCase{"DpiInf", {"in.rnl", "out.rnl", "-dpi", "inf"}, kUsage, 0, {}, {"out.rnl"}},
        CliCase{"ODpiNan", {"in.rnl", "out.rnl", "-odpi", "NAN"}, kUsage, 0, {}, {"out.rnl"}},
        CliCase{"Dpi10000", {"in.rnl", "out.rnl", "-dpi", "10000"}, kDone, 1, {"out.rnl"}, {}},
        CliCase{"UpperCaseDpi", {"in.rnl", "out.rnl", "-DPI", "300"}, kDone, 1, {"out.rnl"}, {}},
        CliCase{
            "OptionsFirst", {"-rof", "rnl", "-dpi", "300", "in.rnl", "out.rnl"}, kDone, 1, {"out.rnl"}, {}},
        CliCase{"Rot45", {"in.rnl", "out.rnl", "-rot", "45"}, kUsage, 0, {}, {"out.rnl"}},
        CliCase{"SizeB4", {"in.rnl", "out.rnl", "-size", "b4"}, kUsage, 0, {}, {"out.rnl"}},
        // Geometry options.
        CliCase{"Rot90_9", {"in.rnl", "out.rnl", "-rot", "90.9"}, kDone, 1, {"out.rnl"}, {}},
        CliCase{"Rot270", {"in.rnl", "out.rnl", "-rot", "270"}, kDone, 1, {"out.rnl"}, {}},
        CliCase{"XDpi", {"in.rnl", "out.rnl", "-xdpi", "300"}, kDone, 1, {"out.rnl"}, {}},
        CliCase{"YDpi", {"in.rnl", "out.rnl", "-ydpi", "150"}, kDone, 1, {"out.rnl"}, {}},
        CliCase{"ODpi", {"in.rnl", "out.rnl", "-odpi", "400"}, kDone, 1, {"out.rnl"}, {}},
        CliCase{"SizeForMmr",
                {"in.rnl", "out.mmr", "-size", "A2L"},
                generating("out.mmr") + "vantrel: Input file must be a standard size (A0-A4 or A0L - A4L)\n" +
                    kIncomplete,
                0,
                {},
                {"out.mmr"}},
        // The paper size applies to every output: a page of no standard size is refused.
        CliCase{"SizeA4xForRnl",
                {"in.rnl", "out.rnl", "-size", "a4x"},
                generating("out.rnl") + "vantrel: Input file must be a standard size (A0-A4 or A0L - A4L)\n" +
                    kIncomplete,
                0,
                {},
                {"out.rnl"}},
        // Names.
        CliCase{"SameName", {"in.rnl", "in.rnl"}, kSameNames + kUsage, 0, {}, {}},
        CliCase{"DotSlashOutput", {"in.rnl", "./in.rnl"}, kSameNames + kUsage, 0, {}, {}},
        CliCase{"DotSlashInput", {"./in.rnl", "in.rnl"}, kSameNames + kUsage, 0, {}, {}},
        CliCase{"NamesDifferInCase",
                {"CASE.RNL", "case.rnl"},
                generating("case.rnl") + kComplete,
                1,
                {"case.rnl", "CASE.RNL"},
                {}},
        CliCase{"OutputNameKeepsItsCase",
                {"in.rnl", "OUT.RNL"},
                generating("OUT.RNL") + kComplete,
                1,
                {"OUT.RNL"},
                {"out.rnl"}},
        CliCase{"RecognisedByBytesNotName", {"in.tif", "out.rnl"}, kDone, 1, {"out.rnl"}, {}},
        CliCase{
            "UnknownRofLeavesTheExtension", {"in.rnl", "out.rnl", "-rof", "xyz"}, kDone, 1, {"out.rnl"}, {}},
        CliCase{"UnknownOutputFormat", {"in.rnl", "out.xyz"}, kInvalidFormat, 0, {}, {"out.xyz"}},
        CliCase{"OutputWithoutExtension", {"in.rnl", "out"}, kInvalidFormat, 0, {}, {"out"}},
        CliCase{"VariantNotRead",
                {"old.b4", "out.rnl"},
                generating("out.rnl") + kNotImplemented + kIncomplete,
                0,
                {},
                {"out.rnl"}},
        // Ports.
        CliCase{"PclBeforeLpt2", {"-rof", "pcl", "in.rnl", "lpt2"}, kPortRefused + kUsage, 0, {}, {"lpt2"}},
        CliCase{"Lpt2BeforePs", {"in.rnl", "lpt2", "-rof", "ps"}, kPortRefused, 0, {}, {"lpt2"}},
        CliCase{"PortNeedsAFormat", {"in.rnl", "lpt1"}, kInvalidFormat, 0, {}, {"lpt1"}},
        CliCase{"UpperCaseLpt1",
                {"in.rnl", "LPT1", "-rof", "rnl"},
                "Writing to port: lpt1\nvantrel: printer I/O error\n" + kIncomplete,
                0,
                {},
                {"LPT1", "lpt1"}},
        CliCase{"Lpt3",
                {"-rof", "rnl", "in.rnl", "lpt3"},
                "Writing to port: lpt3\nvantrel: printer I/O error\n" + kIncomplete,
                0,
                {},
                {"lpt3"}},
        // Files that cannot be had.
        CliCase{"MissingInput", {"missing.rnl", "existing.rnl"}, kNoInput, 0, {}, {}},
        CliCase{"DirectoryAsInput", {"taken.rnl", "existing.rnl"}, kNoInput, 0, {}, {}},
        CliCase{"InputIsOpenedBeforeTheFormatIsChecked", {"missing.rnl", "out.xyz"}, kNoInput, 0, {}, {}},
        CliCase{"OutputDirectoryMissing", {"in.rnl", "nodir/out.rnl"}, kNoOutput, 0, {}, {"nodir"}},
        CliCase{"OutputIsADirectory", {"in.rnl", "taken.rnl"}, kNoOutput, 0, {}, {}},
        // Failures inside the run delete the output.
        CliCase{"NotARaster",
                {"text.txt", "out.rnl"},
                generating("out.rnl") + "vantrel: unknown raster format type\n" + kIncomplete,
                0,
                {},
                {"out.rnl"}},
        CliCase{"EmptyInput",
                {"empty.rnl", "out.rnl"},
                generating("out.rnl") + "vantrel: unexpected input Stream EOF\n" + kIncomplete,
                0,
                {},
                {"out.rnl"}},
        CliCase{"DeviceFull",
                {"in.rnl", "/dev/full", "-rof", "rnl"},
                generating("/dev/full") + kUnableToWrite + kIncomplete,
                0,
                {},
                {}}),
    [](const auto& info) { return std::string(info.param.label); });

// ---- outputs read back

TEST_F(CliProgram, TranslatesNativeToNativeLineForLine) {
  RunResult r = run({"in.rnl", "out.rnl"});
  EXPECT_EQ(r.out, generating("out.rnl") + kComplete);
  EXPECT_EQ(r.exitStatus, 1);
  const PageRecord in = readBack(at("in.rnl"));
  const PageRecord out = readBack(at("out.rnl"));
  ASSERT_EQ(out.open, 0);
  EXPECT_EQ(out.end, kRioEndOfPage);
  EXPECT_EQ(out.width, 64);
  EXPECT_EQ(out.height, 4);
  EXPECT_EQ(out.xDpi, 300);
  EXPECT_EQ(out.yDpi, 300);
  EXPECT_EQ(out.lines, smallImage().lines);
  EXPECT_EQ(out.lines, in.lines);
  EXPECT_EQ(listing(), (std::vector<std::string>{"in.rnl", "out.rnl"}));
}

TEST_F(CliProgram, CalsIdentificationRecordsReachACalsOutput) {
  {
    std::FILE* f = std::fopen(at("in.cg4").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    RasterStream* s = streamOpen(f, "w");
    RioStatus st = 0;
    RCB* rcb = rioOpenRasterWrite(s, 40, 3, 6, &st);
    ASSERT_NE(rcb, nullptr);
    ASSERT_EQ(rioSetCalsText(rcb, CalsText::kSrcdocid, "DRAWING-42"), 0);
    ASSERT_EQ(rioSetCalsText(rcb, CalsText::kNotes, "REV B"), 0);
    rcb->xDpi = rcb->yDpi = 200;
    for (int i = 0; i < 3; ++i) {
      rcb->curSline[0] = i;
      rcb->curSline[1] = i + 5;
      rcb->curSline[2] = rcb->curSline[3] = kSlineEnd;
      ASSERT_EQ(rioWriteRasterSline(rcb), 0);
      rioSwapSlines(rcb);
    }
    EXPECT_EQ(rioCloseRaster(rcb), 0);
    EXPECT_EQ(streamClose(s), 1);
    std::fclose(f);
  }
  RunResult r = run({"in.cg4", "out.cg4"});
  EXPECT_EQ(r.exitStatus, 1) << r.out;
  const std::string out = readFile(at("out.cg4"));
  ASSERT_GE(out.size(), 2048u);
  EXPECT_EQ(out.substr(0, 20), std::string("srcdocid: DRAWING-42"));
  EXPECT_EQ(out.substr(10 * 128, 12), std::string("notes: REV B"));
  EXPECT_EQ(out, readFile(at("in.cg4")));  // the same page, the same records
}

TEST_F(CliProgram, RofWinsOverTheOutputExtension) {
  RunResult r = run({"in.rnl", "OUT.TIF", "-rof", "rnl"});
  EXPECT_EQ(r.out, generating("OUT.TIF") + kComplete);
  const PageRecord out = readBack(at("OUT.TIF"));
  ASSERT_EQ(out.open, 0);
  EXPECT_EQ(readFile(at("OUT.TIF")).substr(0, 5), std::string("ZEB \0", 5));
  EXPECT_EQ(out.lines, smallImage().lines);
}

struct ResolutionCase {
  const char* label;
  int32_t xTenths;  // of the input
  int32_t yTenths;
  std::vector<std::string> options;
  double xDpi;  // of the output
  double yDpi;
};

class CliResolution : public CliProgram, public ::testing::WithParamInterface<ResolutionCase> {};

TEST_P(CliResolution, ReachesTheOutput) {
  const ResolutionCase& c = GetParam();
  NativeImage img = smallImage();
  img.xDpiTenths = c.xTenths;
  img.yDpiTenths = c.yTenths;
  writeFile(at("res.rnl"), img.bytes());
  std::vector<std::string> args = {"res.rnl", "out.rnl"};
  args.insert(args.end(), c.options.begin(), c.options.end());
  RunResult r = run(args);
  ASSERT_EQ(r.out, generating("out.rnl") + kComplete);
  const PageRecord out = readBack(at("out.rnl"));
  ASSERT_EQ(out.open, 0);
  EXPECT_EQ(out.xDpi, c.xDpi);
  EXPECT_EQ(out.yDpi, c.yDpi);
}

INSTANTIATE_TEST_SUITE_P(Cli, CliResolution,
                         ::testing::Values(ResolutionCase{"Kept", 3000, 4000, {}, 300, 400},
                                           ResolutionCase{"NoneGets200", 0, 0, {}, 200, 200},
                                           ResolutionCase{"NoneWithDpi", 0, 0, {"-dpi", "150"}, 150, 150},
                                           ResolutionCase{
                                               "DpiOverridesBoth", 3000, 4000, {"-dpi", "600"}, 600, 600},
                                           // Only x known: both stay as read (200 would show here
                                           // if the front end replaced it); the writer stores 200 for y.
                                           ResolutionCase{"OnlyXKnown", 3000, 0, {}, 300, 200}),
                         [](const auto& info) { return std::string(info.param.label); });

// The native writer holds at most 32767 columns. A wider input (in the run-list dump, which no name
// selects, so the run is started in this process) is refused before anything is written, never cut.
TEST_F(CliProgram, PageWiderThanTheWriterIsRefused) {
  constexpr int32_t kWidth = 40000;
  std::vector<Runs> lines = {{{100, 200}, {32000, 32768}, {39000, 40000}}, {}, {}};
  for (int32_t x = 0; x < kWidth; x += 2) lines[1].emplace_back(x, x + 1);
  std::string dump = "RUN1";
  auto put = [&dump](int32_t v) {
    for (int i = 0; i < 4; ++i) dump.push_back(static_cast<char>(static_cast<uint32_t>(v) >> (8 * i)));
  };
  put(kWidth);
  put(static_cast<int32_t>(lines.size()));
  for (const Runs& line : lines) {
    put(static_cast<int32_t>(line.size()));
    for (auto [s, e] : line) put(s), put(e);
  }
  writeFile(at("wide.dump"), dump);

  TranslateJob job;
  job.options.inName = at("wide.dump").string();
  job.options.outName = at("out.rnl").string();
  job.options.inFormat = 1;
  job.options.outFormat = 3;
  job.inFile.reset(std::fopen(job.options.inName.c_str(), "rb"));
  job.outFile.reset(std::fopen(job.options.outName.c_str(), "wb"));
  ASSERT_TRUE(job.inFile && job.outFile);
  testsupport::RecordingReporter messages;
  EXPECT_FALSE(runTranslation(kConsoleDialect, job, messages));
  EXPECT_EQ(messages.all, "vantrel: too many or too few columns\n");
  ASSERT_EQ(std::fclose(job.outFile.release()), 0);
  EXPECT_EQ(fs::file_size(at("out.rnl")), 0u);
}

TEST_F(CliProgram, HardLinkToTheInputIsRefused) {
  fs::create_hard_link(at("in.rnl"), at("link.rnl"));
  RunResult r = run({"in.rnl", "link.rnl"});
  EXPECT_EQ(r.out, kSameNames + kUsage);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(readFile(at("in.rnl")), std::string(input_.begin(), input_.end()));
}

TEST_F(CliProgram, UnreadableInputLeavesTheOutputAlone) {
  writeFile(at("existing.rnl"), std::string("keep me"));
  fs::permissions(at("in.rnl"), fs::perms::none);
  if (::access(at("in.rnl").c_str(), R_OK) == 0) GTEST_SKIP() << "permissions do not stop this user";
  RunResult r = run({"in.rnl", "existing.rnl"});
  EXPECT_EQ(r.out, kNoInput);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(readFile(at("existing.rnl")), "keep me");
}

// A drawing from drawgen: several hundred kilobytes, so output blocks go through the stream's sink.
class CliDrawing : public CliProgram {
 protected:
  void SetUp() override {
    CliProgram::SetUp();
    RunResult g =
        runProgram(DRAWGEN_EXE, {"-w", "2400", "-h", "1700", "-dpi", "200", "-f", "rnl", "page.rnl"}, work_,
                   root_ / "drawgen-stderr.txt");
    ASSERT_EQ(g.exitStatus, 0) << g.err;
    ASSERT_GT(fs::file_size(at("page.rnl")), 100000u);
  }
};

TEST_F(CliDrawing, TranslatesEveryLine) {
  RunResult r = run({"page.rnl", "copy.rnl"});
  EXPECT_EQ(r.out, generating("copy.rnl") + kComplete);
  EXPECT_EQ(r.exitStatus, 1);
  const PageRecord in = readBack(at("page.rnl"));
  const PageRecord out = readBack(at("copy.rnl"));
  ASSERT_EQ(in.open, 0);
  ASSERT_EQ(out.open, 0);
  EXPECT_EQ(out.width, 2400);
  EXPECT_EQ(out.height, 1700);
  EXPECT_EQ(out.xDpi, 200);
  EXPECT_EQ(out.yDpi, 200);
  ASSERT_EQ(out.lines.size(), 1700u);
  EXPECT_EQ(out.lines, in.lines);
}

TEST_F(CliDrawing, DeviceFullIsAnIncompleteTranslation) {
  RunResult r = run({"page.rnl", "/dev/full", "-rof", "rnl"});
  EXPECT_EQ(r.out, generating("/dev/full") + kUnableToWrite + kIncomplete);
  EXPECT_EQ(r.exitStatus, 0);
}

TEST_F(CliDrawing, PortStopsAtTheFirstByte) {
  RunResult r = run({"page.rnl", "lpt2", "-rof", "RNL"});
  EXPECT_EQ(r.out, "Writing to port: lpt2\nvantrel: printer I/O error\n" + kIncomplete);
  EXPECT_EQ(r.exitStatus, 0);
}

// ---- in the test's own process: every allocation that can fail, fails once

TEST_F(CliProgram, EveryAllocationFailureEndsCleanly) {
  const std::string in = at("in.rnl").string();
  const std::string out = at("out.rnl").string();
  const std::vector<const char*> argv = {in.c_str(), out.c_str()};
  const int64_t baseline = rioBytesInUse();
  bool completed = false;
  for (int64_t n = 0; n < 200 && !completed; ++n) {
    std::FILE* messages = std::tmpfile();
    ASSERT_NE(messages, nullptr);
    rioFailAllocationAfter(n);
    int status = runConsoleTranslator(static_cast<int>(argv.size()), argv.data(), messages, {});
    rioFailAllocationAfter(-1);
    std::rewind(messages);
    std::string text;
    for (int c; (c = std::fgetc(messages)) != EOF;) text.push_back(static_cast<char>(c));
    std::fclose(messages);
    EXPECT_EQ(rioBytesInUse(), baseline) << "after failing allocation " << n;
    if (status == 1) {
      completed = true;
      EXPECT_EQ(text, generating(out) + kComplete);
      break;
    }
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(exists("out.rnl")) << "after failing allocation " << n;
    // Streams that cannot be made, or an RCB that cannot: one message, then the end of the run.
    EXPECT_TRUE(text == generating(out) + "Out of memory.\n" + kIncomplete ||
                text == generating(out) + "vantrel: out of memory\n" + kIncomplete)
        << "after failing allocation " << n << ":\n"
        << text;
  }
  EXPECT_TRUE(completed);
}

}  // namespace
}  // namespace vantrel
