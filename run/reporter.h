// Every message of a translation run goes through a reporter that its front end supplies: the console's
// prints lines to standard output, the batch translator's shows message boxes, tests record them. The
// dialect has already made the text; the reporter only shows it.
#pragma once

#include <string>

namespace vantrel {

enum class Severity {
  kProgress,  // what the run is doing ("Generating file: ...", the outcome line, port dots)
  kError,     // why a run was refused or failed
  kResult,    // a result for scripts (the page digest); the console prints it on standard error
  kNotice,    // a note on what the run takes of the input (a document of several pages), or why it
              // refuses a page; the console prints it on standard error
  kDetail,    // which file and what happened to it, in words; the console prints it on standard error
};

class Reporter {
 public:
  virtual ~Reporter() = default;
  virtual void report(Severity severity, const std::string& text) = 0;
};

}  // namespace vantrel
