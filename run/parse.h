// One argument parser for both dialects: options and names, in any order, into a RunOptions.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "run/dialect.h"
#include "run/option_table.h"
#include "run/options.h"
#include "run/reporter.h"

namespace vantrel {

enum class ParseResult {
  kOk,
  kUsage,    // console: the arguments are not acceptable; the front end shows its usage text
  kRefused,  // batch: a message has been reported and this file is not translated
};

// Reads the arguments after the program's own name. The console reports the different-names and port
// messages before answering kUsage; the batch translator reports each problem in its own words.
[[nodiscard]] ParseResult parseArguments(const Dialect& dialect, int argc, const char* const argv[],
                                         RunOptions* options, Reporter& reporter);

// Whether the dialect has the option (run/option_table.h).
bool dialectHasOption(const Dialect& dialect, const OptionSpec& option);

// strtod-style reading of the longest numeric prefix, independent of the locale: leading white space, an
// optional sign, decimal or hexadecimal digits with exponent, "inf", "infinity", "nan". None when no
// number starts the text.
std::optional<double> parseLeadingNumber(std::string_view text);
// Resolution option values: a finite number within kResolutionRange (run/option_table.h).
std::optional<double> parseResolution(std::string_view text);
// -rot: truncated to an integer, one of 0, 90, 180, 270.
std::optional<int32_t> parseRotation(std::string_view text);
// -size: "a0".."a4" give 1..5, with a third character 'l' 9..13; any case; further characters ignored.
std::optional<int32_t> parseSizeCode(std::string_view text);
// -page: "all" in any case gives kAllPages; else a decimal page number from 1 to 999999999.
std::optional<int32_t> parsePage(std::string_view text);
// The port number of "lpt1", "lpt2" or "lpt3" in any case; kNoPort for every other name.
int32_t portFromName(std::string_view name);

}  // namespace vantrel
