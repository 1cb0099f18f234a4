// The command lines of both programs: which argument lists are accepted, what they set in the options of
// the run, and the messages reported (the console's before its usage text).
#include "run/parse.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "cli/console.h"
#include "formats/registry.h"
#include "tests/support/recording_reporter.h"
#include "tests/support/scratch_dir.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

const char* const kSameNames = "vantrel: Infile and outfile must have different names\n";
const char* const kPortRefused = "vantrel: Printer port only supported for large format plotters.\n";

struct Parsed {
  bool ok = false;
  ParseResult result = ParseResult::kOk;
  RunOptions job;
  std::string messages;
};

Parsed parse(const std::vector<std::string>& args, const Dialect& dialect = kConsoleDialect) {
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  Parsed p;
  testsupport::RecordingReporter reporter;
  p.result = parseArguments(dialect, static_cast<int>(argv.size()), argv.data(), &p.job, reporter);
  p.ok = p.result == ParseResult::kOk;
  p.messages = reporter.all;
  return p;
}

// ---- argument lists that must be refused (the usage text follows), with the message printed first

struct RefusedCase {
  const char* label;
  std::vector<std::string> args;
  const char* messages;
};

class RefusedCommandLine : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedCommandLine, PrintsItsMessageAndFails) {
  Parsed p = parse(GetParam().args);
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.messages, GetParam().messages);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, RefusedCommandLine,
    ::testing::Values(RefusedCase{"NoArguments", {}, ""}, RefusedCase{"OneName", {"in.rnl"}, ""},
                      RefusedCase{"ThreeNames", {"in.rnl", "out.rnl", "more.rnl"}, ""},
                      RefusedCase{"NameAfterPort", {"in.rnl", "lpt1", "x.rnl"}, ""},
                      RefusedCase{"OnlyOptions", {"-rof", "rnl"}, ""},
                      RefusedCase{"DpiTooLow", {"in.rnl", "out.rnl", "-dpi", "49.9"}, ""},
                      RefusedCase{"DpiTooHigh", {"in.rnl", "out.rnl", "-dpi", "10000.5"}, ""},
                      RefusedCase{"DpiNotANumber", {"in.rnl", "out.rnl", "-dpi", "abc"}, ""},
                      RefusedCase{"DpiEmpty", {"in.rnl", "out.rnl", "-dpi", ""}, ""},
                      RefusedCase{"DpiNan", {"in.rnl", "out.rnl", "-dpi", "nan"}, ""},
                      RefusedCase{"DpiNanWithPayload", {"in.rnl", "out.rnl", "-dpi", "NaN(123)"}, ""},
                      RefusedCase{"DpiInf", {"in.rnl", "out.rnl", "-dpi", "inf"}, ""},
                      RefusedCase{"DpiInfinity", {"in.rnl", "out.rnl", "-dpi", "Infinity"}, ""},
                      RefusedCase{"DpiOverflow", {"in.rnl", "out.rnl", "-dpi", "1e400"}, ""},
                      RefusedCase{"DpiNegative", {"in.rnl", "out.rnl", "-dpi", "-300"}, ""},
                      RefusedCase{"XDpiNan", {"in.rnl", "out.rnl", "-xdpi", "nan"}, ""},
                      RefusedCase{"YDpiInf", {"in.rnl", "out.rnl", "-ydpi", "-inf"}, ""},
                      RefusedCase{"ODpiTooLow", {"in.rnl", "out.rnl", "-odpi", "10"}, ""},
                      RefusedCase{"DpiWithoutValue", {"in.rnl", "out.rnl", "-dpi"}, ""},
                      RefusedCase{"RofWithoutValue", {"in.rnl", "out.rnl", "-rof"}, ""},
                      RefusedCase{"UnknownOption", {"in.rnl", "out.rnl", "-quiet", "1"}, ""},
                      RefusedCase{"LoneDash", {"in.rnl", "out.rnl", "-"}, ""},
                      RefusedCase{"Rot45", {"in.rnl", "out.rnl", "-rot", "45"}, ""},
                      RefusedCase{"Rot360", {"in.rnl", "out.rnl", "-rot", "360"}, ""},
                      RefusedCase{"RotNotANumber", {"in.rnl", "out.rnl", "-rot", "right"}, ""},
                      RefusedCase{"RotNan", {"in.rnl", "out.rnl", "-rot", "nan"}, ""},
                      RefusedCase{"RotHuge", {"in.rnl", "out.rnl", "-rot", "1e12"}, ""},
                      RefusedCase{"SizeB4", {"in.rnl", "out.rnl", "-size", "b4"}, ""},
                      RefusedCase{"SizeA5", {"in.rnl", "out.rnl", "-size", "a5"}, ""},
                      RefusedCase{"SizeA", {"in.rnl", "out.rnl", "-size", "a"}, ""},
                      RefusedCase{"SameName", {"in.rnl", "in.rnl"}, kSameNames},
                      RefusedCase{"PclBeforePort", {"-rof", "pcl", "in.rnl", "lpt2"}, kPortRefused},
                      RefusedCase{"PsBeforePort", {"-rof", "PS", "in.rnl", "LPT3"}, kPortRefused}),
    [](const auto& info) { return std::string(info.param.label); });

// ---- accepted argument lists and what they set

struct AcceptedCase {
  const char* label;
  std::vector<std::string> args;
  std::function<void(const RunOptions&)> check;
};

class AcceptedCommandLine : public ::testing::TestWithParam<AcceptedCase> {};

TEST_P(AcceptedCommandLine, FillsTheJob) {
  Parsed p = parse(GetParam().args);
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.messages, "");
  GetParam().check(p.job);
}

void plainFile(const RunOptions& j) {
  EXPECT_EQ(j.inName, "in.rnl");
  EXPECT_EQ(j.outName, "out.rnl");
  EXPECT_EQ(j.port, kNoPort);
  EXPECT_EQ(j.outFormat, 0);
  EXPECT_EQ(j.inFormat, 0);
  EXPECT_EQ(j.inDpi, 0);
  EXPECT_EQ(j.outXDpi, 0);
  EXPECT_EQ(j.outYDpi, 0);
  EXPECT_EQ(j.sizeCode, 0);
  EXPECT_EQ(j.rotation, 0);
  EXPECT_FALSE(j.inFormatFromExtension);
  EXPECT_FALSE(j.digest);
}

INSTANTIATE_TEST_SUITE_P(Cli, AcceptedCommandLine,
                         ::testing::
                             Values(AcceptedCase{"TwoNames", {"in.rnl", "out.rnl"}, plainFile},
                                    AcceptedCase{"Digest",
                                                 {"in.rnl", "-DIGEST", "out.rnl"},
                                                 [](const RunOptions& j) {
                                                   EXPECT_TRUE(j.digest);
                                                   EXPECT_EQ(j.outName, "out.rnl");
                                                 }},
                                    AcceptedCase{"Dpi10000",
                                                 {"in.rnl", "out.rnl", "-dpi", "10000"},
                                                 [](const RunOptions& j) { EXPECT_EQ(j.inDpi, 10000); }},
                                    AcceptedCase{"Dpi50",
                                                 {"in.rnl", "out.rnl", "-dpi", "50"},
                                                 [](const RunOptions& j) { EXPECT_EQ(j.inDpi, 50); }},
                                    AcceptedCase{"UpperCaseOption",
                                                 {"in.rnl", "out.rnl", "-DPI", "300"},
                                                 [](const RunOptions& j) { EXPECT_EQ(j.inDpi, 300); }},
                                    AcceptedCase{"DpiFraction",
                                                 {"-dpi", "299.5", "in.rnl", "out.rnl"},
                                                 [](const RunOptions& j) {
                                                   EXPECT_EQ(j.inDpi, 299.5);
                                                   EXPECT_EQ(j.inName, "in.rnl");
                                                   EXPECT_EQ(j.outName, "out.rnl");
                                                 }},
                                    AcceptedCase{"DpiLongestNumericPrefix",
                                                 {"in.rnl", "out.rnl", "-dpi", "300dpi"},
                                                 [](const RunOptions& j) { EXPECT_EQ(j.inDpi, 300); }},
                                    AcceptedCase{"DpiLeadingSpaceAndSign",
                                                 {"in.rnl", "out.rnl", "-dpi", " +4e2"},
                                                 [](const RunOptions& j) { EXPECT_EQ(j.inDpi, 400); }},
                                    AcceptedCase{"DpiHexadecimal",
                                                 {"in.rnl", "out.rnl", "-dpi", "0x12C"},
                                                 [](const RunOptions& j) { EXPECT_EQ(j.inDpi, 300); }},
                                    AcceptedCase{"XDpiAlone",
                                                 {"in.rnl", "out.rnl", "-xdpi", "300"},
                                                 [](const RunOptions& j) {
                                                   EXPECT_EQ(j.outXDpi, 300);
                                                   EXPECT_EQ(j.outYDpi, 0);
                                                   EXPECT_EQ(j.inDpi, 0);
                                                 }},
                                    AcceptedCase{"YDpiAlone",
                                                 {"in.rnl", "out.rnl", "-Ydpi", "150"},
                                                 [](const RunOptions& j) {
                                                   EXPECT_EQ(j.outXDpi, 0);
                                                   EXPECT_EQ(j.outYDpi, 150);
                                                 }},
                                    AcceptedCase{"ODpiSetsBoth",
                                                 {"in.rnl", "out.rnl", "-odpi", "600"},
                                                 [](const RunOptions& j) {
                                                   EXPECT_EQ(j.outXDpi, 600);
                                                   EXPECT_EQ(j.outYDpi, 600);
                                                 }},
                                    AcceptedCase{"Rot90",
                                                 {"in.rnl", "out.rnl", "-rot", "90"},
                                                 [](const RunOptions& j) { EXPECT_EQ(j.rotation, 90); }},
                                    AcceptedCase{"Rot90Point9IsTruncated",
                                                 {"in.rnl", "out.rnl", "-rot", "90.9"},
                                                 [](const RunOptions& j) { EXPECT_EQ(j.rotation, 90); }},
                                    AcceptedCase{"Rot180",
                                                 {"in.rnl", "out.rnl", "-rot", "180"},
                                                 [](const RunOptions& j) { EXPECT_EQ(j.rotation, 180); }},
                                    AcceptedCase{"Rot270",
                                                 {"in.rnl", "out.rnl", "-rot", "270.99"},
                                                 [](const RunOptions& j) { EXPECT_EQ(j.rotation, 270); }},
                                    AcceptedCase{"Rot0",
                                                 {"in.rnl", "out.rnl", "-rot", "-0.5"},
                                                 [](const RunOptions& j) { EXPECT_EQ(j.rotation, 0); }},
                                    AcceptedCase{"SizeA2L",
                                                 {"in.rnl", "out.rnl", "-size", "A2L"},
                                                 [](const RunOptions& j) { EXPECT_EQ(j.sizeCode, 11); }},
                                    AcceptedCase{"SizeA0",
                                                 {"in.rnl", "out.rnl", "-size", "a0"},
                                                 [](const RunOptions& j) { EXPECT_EQ(j.sizeCode, 1); }},
                                    AcceptedCase{"SizeA4l",
                                                 {"in.rnl", "out.rnl", "-SIZE", "a4l"},
                                                 [](const RunOptions& j) { EXPECT_EQ(j.sizeCode, 13); }},
                                    AcceptedCase{"SizeA4xIsA4",
                                                 {"in.rnl", "out.rnl", "-size", "a4x"},
                                                 [](const RunOptions& j) { EXPECT_EQ(j.sizeCode, 5); }},
                                    AcceptedCase{"SizeA10IsA1",
                                                 {"in.rnl", "out.rnl", "-size", "a10"},
                                                 [](const RunOptions& j) { EXPECT_EQ(j.sizeCode, 2); }},
                                    AcceptedCase{"RofPcl",
                                                 {"in.rnl", "out.rnl", "-rof", "pcl"},
                                                 [](const RunOptions& j) { EXPECT_EQ(j.outFormat, 14); }},
                                    AcceptedCase{"RofAnyCase",
                                                 {"in.rnl", "out.rnl", "-ROF", "RNL"},
                                                 [](const RunOptions& j) { EXPECT_EQ(j.outFormat, 3); }},
                                    AcceptedCase{"RofUnknownLeavesNone",
                                                 {"in.rnl", "out.rnl", "-rof", "xyz"},
                                                 [](const RunOptions& j) { EXPECT_EQ(j.outFormat, 0); }},
                                    AcceptedCase{"RofLastWins",
                                                 {"-rof", "pcl", "-rof", "nonsense", "in.rnl", "out.rnl"},
                                                 [](const RunOptions& j) { EXPECT_EQ(j.outFormat, 0); }},
                                    AcceptedCase{"OutputNameKeepsItsCase",
                                                 {"in.tif", "OUT.RTL", "-rof", "pcl"},
                                                 [](const RunOptions& j) {
                                                   EXPECT_EQ(j.outName, "OUT.RTL");
                                                   EXPECT_EQ(j.outFormat, 14);
                                                   EXPECT_EQ(j.port, kNoPort);
                                                 }},
                                    AcceptedCase{"NamesDifferingInCase",
                                                 {"IN.TIF", "in.tif"},
                                                 [](const RunOptions& j) {
                                                   EXPECT_EQ(j.inName, "IN.TIF");
                                                   EXPECT_EQ(j.outName, "in.tif");
                                                 }},
                                    AcceptedCase{"Lpt1",
                                                 {"in.rnl", "lpt1", "-rof", "rtl"},
                                                 [](const RunOptions& j) {
                                                   EXPECT_EQ(j.port, 0);
                                                   EXPECT_EQ(j.outName, "lpt1");
                                                   EXPECT_EQ(j.outFormat, 8);
                                                 }},
                                    AcceptedCase{"UpperCaseLpt1",
                                                 {"in.rnl", "LPT1"},
                                                 [](const RunOptions& j) {
                                                   EXPECT_EQ(j.port, 0);
                                                   EXPECT_EQ(j.outName, "lpt1");
                                                 }},
                                    AcceptedCase{"MixedCaseLpt2",
                                                 {"in.rnl", "Lpt2"},
                                                 [](const RunOptions& j) {
                                                   EXPECT_EQ(j.port, 1);
                                                   EXPECT_EQ(j.outName, "lpt2");
                                                 }},
                                    AcceptedCase{"Lpt3IsPort3",
                                                 {"in.rnl", "lpt3"},
                                                 [](const RunOptions& j) { EXPECT_EQ(j.port, 3); }},
                                    AcceptedCase{"Lpt4IsAFile",
                                                 {"in.rnl", "lpt4"},
                                                 [](const RunOptions& j) {
                                                   EXPECT_EQ(j.port, kNoPort);
                                                   EXPECT_EQ(j.outName, "lpt4");
                                                 }},
                                    // The port check of the command line sees only a -rof given before the
                                    // port name; the run refuses a later one.
                                    AcceptedCase{"PsAfterPort",
                                                 {"in.rnl", "lpt2", "-rof", "ps"},
                                                 [](const RunOptions& j) {
                                                   EXPECT_EQ(j.port, 1);
                                                   EXPECT_EQ(j.outFormat, 9);
                                                 }},
                                    AcceptedCase{"RtlBeforePort",
                                                 {"-rof", "rtl", "in.rnl", "lpt2"},
                                                 [](const RunOptions& j) { EXPECT_EQ(j.port, 1); }}),
                         [](const auto& info) { return std::string(info.param.label); });

// ---- number reading

TEST(CliNumbers, ReadTheLongestNumericPrefixLikeStrtod) {
  const char* const texts[] = {"300",  "  12.5e1x", "-7",  "+0.25",    "1e-3", ".5",   "5.", "0x1p4",
                               "0X10", "1e",        "2e+", "3.0e-1.5", "12,5", "0x.8", "0x", "-0x1"};
  for (const char* t : texts) {
    std::optional<double> v = parseLeadingNumber(t);
    ASSERT_TRUE(v.has_value()) << t;
    EXPECT_EQ(*v, std::strtod(t, nullptr)) << t;
  }
  EXPECT_FALSE(parseLeadingNumber("").has_value());
  EXPECT_FALSE(parseLeadingNumber("   ").has_value());
  EXPECT_FALSE(parseLeadingNumber("x1").has_value());
  EXPECT_FALSE(parseLeadingNumber("-").has_value());
  EXPECT_FALSE(parseLeadingNumber(".").has_value());
  EXPECT_FALSE(parseLeadingNumber("--5").has_value());
  EXPECT_FALSE(parseLeadingNumber("+-5").has_value());
  EXPECT_EQ(parseLeadingNumber("0x-5"), 0.0);
  EXPECT_EQ(parseLeadingNumber("0xg"), 0.0);  // "0" is the number, "xg" the rest
  EXPECT_TRUE(std::isnan(*parseLeadingNumber("nan")));
  EXPECT_TRUE(std::isinf(*parseLeadingNumber("-INF")));
  EXPECT_TRUE(std::isinf(*parseLeadingNumber("1e999")));
  EXPECT_EQ(parseLeadingNumber("1e-999"), 0.0);
}

TEST(CliNumbers, DoNotDependOnTheLocaleDecimalPoint) {
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  // Whichever comma-decimal locale this machine has; the C locale is checked in any case.
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "nl_NL.UTF-8", "C"}) {
    if (!std::setlocale(LC_NUMERIC, name)) continue;
    EXPECT_EQ(parseResolution("300.5"), 300.5) << name;
    EXPECT_EQ(parseResolution("300,5"), 300.0) << name;
  }
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(CliNumbers, ResolutionBoundsAreInclusive) {
  EXPECT_EQ(parseResolution("50"), 50.0);
  EXPECT_EQ(parseResolution("10000"), 10000.0);
  EXPECT_FALSE(parseResolution("49.999999").has_value());
  EXPECT_FALSE(parseResolution("10000.000001").has_value());
}

TEST(CliNumbers, PortNamesInAnyCase) {
  EXPECT_EQ(portFromName("lpt1"), 0);
  EXPECT_EQ(portFromName("LPT2"), 1);
  EXPECT_EQ(portFromName("lPt3"), 3);
  EXPECT_EQ(portFromName("lpt"), kNoPort);
  EXPECT_EQ(portFromName("lpt1.rnl"), kNoPort);
  EXPECT_EQ(portFromName("./lpt1"), kNoPort);
}

// The format an input's extension names, kept by a dialect (0 = recognise from the data).
RasterFormatId keptInputFormat(const Dialect& dialect, const char* path, bool extOption = false) {
  const RasterFormatId format = rioFormatFromPath(path);
  return dialect.keepsInputFormat(format, extOption) ? format : 0;
}

TEST(CliInputFormat, OnlyFormatsWithoutMagicAreTakenFromTheName) {
  for (const Dialect* d : {&kConsoleDialect, &kBatchDialect}) {
    EXPECT_EQ(keptInputFormat(*d, "scan.rlc"), 7);
    EXPECT_EQ(keptInputFormat(*d, "dir.v2/SCAN.RLC"), 7);
    EXPECT_EQ(keptInputFormat(*d, "scan.tif"), 0);
    EXPECT_EQ(keptInputFormat(*d, "scan.rnl"), 0);
    EXPECT_EQ(keptInputFormat(*d, "scan.c4"), 32);
    EXPECT_EQ(keptInputFormat(*d, "scan.B4"), 33);
    EXPECT_EQ(keptInputFormat(*d, "scan.grphtec"), 0);
    EXPECT_EQ(keptInputFormat(*d, "rlc"), 0);
    EXPECT_EQ(keptInputFormat(*d, ".rlc"), 0);
  }
  // -ext keeps whatever the batch translator's extension names; the console has no such option.
  EXPECT_EQ(keptInputFormat(kBatchDialect, "scan.tif", true), 10);
  EXPECT_EQ(keptInputFormat(kConsoleDialect, "scan.tif", true), 0);
}

// ---- the batch translator's dialect: each problem reported in its own words, no usage text

struct BatchCase {
  const char* label;
  std::vector<std::string> args;
  const char* message;  // nullptr: accepted
};

class BatchCommandLine : public ::testing::TestWithParam<BatchCase> {};

TEST_P(BatchCommandLine, ReportsEachProblem) {
  Parsed p = parse(GetParam().args, kBatchDialect);
  if (!GetParam().message) {
    EXPECT_TRUE(p.ok) << p.messages;
    EXPECT_EQ(p.messages, "");
  } else {
    EXPECT_EQ(p.result, ParseResult::kRefused);
    EXPECT_EQ(p.messages, GetParam().message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Batch, BatchCommandLine,
    ::testing::Values(
        BatchCase{"Plain", {"in.tif", "out.cg4", "-rof", "cg4"}, nullptr},
        BatchCase{"GuiNames", {"in.tif", "out.x", "-rof", "GP4", "-ext"}, nullptr},
        BatchCase{"ThirdName", {"in.tif", "out.cg4", "more"}, "Too many filenames"},
        BatchCase{"Rotation", {"in.tif", "out.cg4", "-rot", "90"}, "Unrecognized argument"},
        BatchCase{"Size", {"in.tif", "out.mmr", "-size", "a4"}, "Unrecognized argument"},
        BatchCase{"Digest", {"in.tif", "out.cg4", "-digest"}, "Unrecognized argument"},
        BatchCase{"RofLast", {"in.tif", "out.cg4", "-rof"}, "-rof option requires a format name"},
        BatchCase{"DpiLast", {"in.tif", "out.cg4", "-DPI"}, "-dpi option requires a resolution"},
        BatchCase{"XDpiLow", {"in.tif", "out.cg4", "-xdpi", "49"}, "-xdpi option requires a resolution from 50 to 10000"},
        BatchCase{"ODpiText", {"in.tif", "out.cg4", "-odpi", "x"}, "-odpi option requires a resolution from 50 to 10000"},
        BatchCase{"SameName", {"in.tif", "in.tif"}, "Infile and outfile must have different names"},
        // A port is an ordinary output name to the batch translator.
        BatchCase{"PortName", {"in.tif", "LPT1", "-rof", "pcl"}, nullptr}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(BatchCommandLine, TakesTheOutputNameAsGivenAndCaseMatters) {
  Parsed p = parse({"IN.TIF", "in.tif", "-ext"}, kBatchDialect);
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(p.job.outName, "in.tif");
  EXPECT_EQ(p.job.port, kNoPort);
  EXPECT_TRUE(p.job.inFormatFromExtension);
}

// ---- the output is the input under another name

class CliSameFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.ok());
    dir_ = scratch_.path();
    std::ofstream(dir_ / "in.rnl") << "input";
    std::ofstream(dir_ / "other.rnl") << "other";
  }
  std::string path(const char* name) const { return (dir_ / name).string(); }
  testsupport::ScratchDir scratch_{"vantrel-options"};
  fs::path dir_;
};

TEST_F(CliSameFile, DotSlashSpellingIsRefused) {
  Parsed p = parse({path("in.rnl"), (dir_ / "." / "in.rnl").string()});
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.messages, kSameNames);
}

TEST_F(CliSameFile, HardLinkIsRefused) {
  fs::create_hard_link(dir_ / "in.rnl", dir_ / "link.rnl");
  Parsed p = parse({path("in.rnl"), path("link.rnl")});
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.messages, kSameNames);
}

TEST_F(CliSameFile, SymbolicLinkIsRefused) {
  fs::create_symlink(dir_ / "in.rnl", dir_ / "sym.rnl");
  Parsed p = parse({path("sym.rnl"), path("in.rnl")});
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.messages, kSameNames);
}

TEST_F(CliSameFile, OtherFilesAndNewNamesAreAccepted) {
  EXPECT_TRUE(parse({path("in.rnl"), path("other.rnl")}).ok);
  EXPECT_TRUE(parse({path("in.rnl"), path("new.rnl")}).ok);
  EXPECT_TRUE(parse({path("missing.rnl"), path("new.rnl")}).ok);
}

TEST(CliUsage, IsTheFullText) {
  const std::string& u = usageText();
  EXPECT_EQ(u.rfind("\nVANTREL v5.0b107\n\nusage: vantrel infilename {outfilename|lpt1|lpt2|lpt3}\n", 0), 0u);
  EXPECT_TRUE(u.ends_with("\n     filenet img, mmr\n"));
}

}  // namespace
}  // namespace vantrel
