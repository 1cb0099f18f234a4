// The option table is what both parsers enforce and what the usage text, the README and the manual page
// state.
#include "run/option_table.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/console.h"
#include "run/parse.h"
#include "tests/support/recording_reporter.h"
#include "tests/support/source_text.h"

namespace vantrel {
namespace {

bool parses(const Dialect& dialect, const OptionSpec& option, const std::string& value) {
  const std::vector<const char*> argv = {"in.rnl", "out.rnl", option.name, value.c_str()};
  RunOptions options;
  testsupport::RecordingReporter reporter;
  return parseArguments(dialect, static_cast<int>(argv.size()), argv.data(), &options, reporter) ==
         ParseResult::kOk;
}

// The first line holding `key` (and starting with `start`).
std::string lineWith(const std::string& text, const std::string& key, const std::string& start = "") {
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(start, 0) == 0 && line.find(key) != std::string::npos) return line;
  return {};
}

// The text from the line holding `key` to the next line starting with `end`.
std::string paragraph(const std::string& text, const std::string& key, const std::string& end) {
  const size_t at = text.find(key);
  if (at == std::string::npos) return {};
  const size_t stop = text.find("\n" + end, at + key.size());
  return text.substr(at, stop == std::string::npos ? std::string::npos : stop - at);
}

class RangedOption : public ::testing::TestWithParam<OptionSpec> {};

TEST_P(RangedOption, IsWhatTheParsersTakeAndTheTextsSay) {
  const OptionSpec& o = GetParam();
  const std::string range = rangeText(o.range);
  for (const Dialect* dialect : {&kConsoleDialect, &kBatchDialect}) {
    if (!dialectHasOption(*dialect, o)) continue;
    SCOPED_TRACE(dialect->programName);
    EXPECT_TRUE(parses(*dialect, o, std::to_string(o.range.min)));
    EXPECT_TRUE(parses(*dialect, o, std::to_string(o.range.max)));
    EXPECT_FALSE(parses(*dialect, o, std::to_string(o.range.min - 1)));
    EXPECT_FALSE(parses(*dialect, o, std::to_string(o.range.max + 1)));
  }
  const std::string usageLine = lineWith(usageText(), "        " + std::string(o.name) + " ");
  EXPECT_NE(usageLine.find("(" + range + ")"), std::string::npos) << "usage text: " << usageLine;
  const std::string readmeRow =
      lineWith(testsupport::sourceText("README.md"), "`" + std::string(o.name) + "`", "| ");
  EXPECT_NE(readmeRow.find("| " + range + " |"), std::string::npos) << "README: " << readmeRow;
  if (o.defaultValue != 0) {
    EXPECT_NE(readmeRow.find(std::to_string(o.defaultValue) + " dpi"), std::string::npos) << readmeRow;
  }
  const std::string manEntry =
      paragraph(testsupport::sourceText("man/vantrel.1"), ".BI \\" + std::string(o.name), ".TP");
  EXPECT_NE(manEntry.find(range), std::string::npos) << "vantrel.1: " << manEntry;
}

std::vector<OptionSpec> rangedOptions() {
  std::vector<OptionSpec> ranged;
  for (const OptionSpec& o : kOptionTable)
    if (o.range.max > 0) ranged.push_back(o);
  return ranged;
}

INSTANTIATE_TEST_SUITE_P(Options, RangedOption, ::testing::ValuesIn(rangedOptions()),
                         [](const auto& info) { return std::string(info.param.name + 1); });

}  // namespace
}  // namespace vantrel
