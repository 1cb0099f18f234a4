// A reporter that keeps every message of a run, for tests to compare.
#pragma once

#include <string>
#include <vector>

#include "run/reporter.h"

namespace vantrel::testsupport {

class RecordingReporter : public Reporter {
 public:
  void report(Severity severity, const std::string& text) override {
    if (severity == Severity::kDetail) {
      details.push_back(text);
      return;
    }
    all += text;
    if (severity == Severity::kError) errors.push_back(text);
  }
  std::string all;                   // every text but the details, in order, as the console would print them
  std::vector<std::string> errors;   // the error texts one by one, as message boxes would show them
  std::vector<std::string> details;  // the detail lines (the console's standard error)
};

}  // namespace vantrel::testsupport
