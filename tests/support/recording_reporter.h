// A reporter that keeps every message of a run, for tests to compare.
#pragma once

#include <string>
#include <vector>

#include "run/reporter.h"

namespace vantrel::testsupport {

class RecordingReporter : public Reporter {
 public:
  void report(Severity severity, const std::string& text) override {
    all += text;
    if (severity == Severity::kError) errors.push_back(text);
  }
  std::string all;                  // every text, in order, as the console would print them
  std::vector<std::string> errors;  // the error texts one by one, as message boxes would show them
};

}  // namespace vantrel::testsupport
