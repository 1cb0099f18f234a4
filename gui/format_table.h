// The batch translator's output formats, in the order its format list shows them, and the filters of its
// Add Files dialog, both drawn from the format registry's entries.
#pragma once

#include <string>
#include <vector>

namespace vantrel::gui {

struct OutputFormatRow {
  const char* displayName;
  const char* extension;  // the default extension of an output file
  const char* rofName;    // the value of "-rof"
  bool device;            // the format can be sent to a printer
};

// The rows in their positions (built once, read-only afterwards).
const std::vector<OutputFormatRow>& outputFormatRows();
int formatRowCount();

// One filter of the Add Files dialog: what it is called and the patterns it matches.
struct FileFilter {
  std::string label;
  std::vector<std::string> patterns;
};

// The filter list in its stored form: label and patterns alternate, separated by "|", ended by "||";
// "All types" comes first.
const std::string& addFilesFilterText();

std::vector<FileFilter> parseFilterText(const char* text);
// A pattern that matches in either case: "*.CG4" becomes "*.[cC][gG]4".
std::string eitherCaseGlob(const std::string& pattern);

}  // namespace vantrel::gui
