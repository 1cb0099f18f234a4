// Fuzz target: the argument parser of both dialects, and the page-budget setting. The input is split at
// NUL bytes into the arguments; the first one also serves as the "ZEB_MAXPAGE" text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "rio/rcb.h"
#include "run/parse.h"

namespace {

class SilentReporter : public vantrel::Reporter {
 public:
  void report(vantrel::Severity, const std::string&) override {}
};

constexpr size_t kMaxArguments = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  std::vector<std::string> args(1);
  for (size_t i = 0; i < size && args.size() <= kMaxArguments; ++i) {
    if (data[i] == 0)
      args.emplace_back();
    else
      args.back().push_back(static_cast<char>(data[i]));
  }
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  SilentReporter silent;
  for (const Dialect* dialect : {&kConsoleDialect, &kBatchDialect}) {
    RunOptions options;
    (void)parseArguments(*dialect, static_cast<int>(argv.size()), argv.data(), &options, silent);
  }
  RioSettings settings;
  settings.maxPageSide = args[0];
  const int64_t side = rioMaxPageSide(&settings);
  if (side < kDefaultMaxPageSide || side > INT32_MAX) __builtin_trap();
  return 0;
}
