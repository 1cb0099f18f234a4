#include "gui/summary.h"

#include <cstdio>

namespace vantrel::gui {
namespace {

struct Section {
  FileResult result;
  const char* title;
};

// Failures first: in a batch of hundreds they are what the user reads the summary for.
constexpr Section kSections[] = {
    {FileResult::kFailed, "Failed"},
    {FileResult::kSkipped, "Skipped"},
    {FileResult::kCancelled, "Cancelled (output removed)"},
    {FileResult::kNotTranslated, "Not translated"},
    {FileResult::kTranslated, "Translated"},
};

}  // namespace

std::string summaryHeadline(const BatchSummary& s) {
  char line[160];
  std::snprintf(line, sizeof line,
                "Translated %d, failed %d, skipped %d, cancelled %d, not translated %d in %.1f s",
                s.count(FileResult::kTranslated), s.count(FileResult::kFailed), s.count(FileResult::kSkipped),
                s.count(FileResult::kCancelled), s.count(FileResult::kNotTranslated), s.seconds);
  return line;
}

std::string summaryText(const BatchSummary& s) {
  std::string text = summaryHeadline(s) + "\n";
  for (const Section& section : kSections) {
    if (s.count(section.result) == 0) continue;
    text += std::string("\n") + section.title + ":\n";
    for (const FileOutcome& file : s.files) {
      if (file.result != section.result) continue;
      text += "  " + file.input;
      if (!file.cause.empty())
        text += ": " + file.cause;
      else if (section.result == FileResult::kTranslated)
        text += " -> " + file.output;
      if (section.result == FileResult::kTranslated && !file.note.empty()) text += " (" + file.note + ")";
      text += "\n";
    }
  }
  return text;
}

}  // namespace vantrel::gui
