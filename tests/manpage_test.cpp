// The manual pages stay true: their format tables agree with the registry, and they pass mandoc's lint.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "formats/registry.h"
#include "tests/support/source_text.h"

namespace vantrel {
namespace {

std::string manPage(const std::string& name) {
  return testsupport::sourceText("man/" + name);
}

std::vector<std::string> split(const std::string& s, char separator) {
  std::vector<std::string> out;
  std::string part;
  std::istringstream in(s);
  while (std::getline(in, part, separator)) out.push_back(part);
  return out;
}

// The data rows of the page's tables: the lines between a table's "_" rule and its ".TE", split at '@'.
std::vector<std::vector<std::string>> tableRows(const std::string& page) {
  std::vector<std::vector<std::string>> rows;
  bool inData = false;
  for (const std::string& line : split(page, '\n')) {
    if (line == ".TE") inData = false;
    if (inData) rows.push_back(split(line, '@'));
    if (line == "_") inData = true;
  }
  return rows;
}

const char* yesNo(bool b) { return b ? "yes" : "no"; }

TEST(ManPage, ConsoleFormatTableAgreesWithTheRegistry) {
  const auto rows = tableRows(manPage("vantrel.1"));
  int count = 0;
  const FormatName* names = rioFormatNames(&count);
  std::map<int, std::string> consoleNames;
  for (int i = 0; i < count; ++i)
    if (names[i].listed)
      consoleNames[names[i].id] += (consoleNames[names[i].id].empty() ? "" : ", ") + std::string(names[i].name);

  ASSERT_EQ(rows.size(), static_cast<size_t>(kMaxFormatId)) << "one row per format id in vantrel.1";
  for (RasterFormatId id = 1; id <= kMaxFormatId; ++id) {
    const std::vector<std::string>& row = rows[id - 1];
    SCOPED_TRACE("format id " + std::to_string(id));
    ASSERT_EQ(row.size(), 5u);
    EXPECT_EQ(row[0], std::to_string(id));
    const FormatInfo& info = rioFormatInfo(id);
    EXPECT_EQ(row[1], consoleNames.count(id) ? consoleNames[id] : "\\(em") << "names, in registry order";
    EXPECT_EQ(row[2], info.title);
    EXPECT_EQ(row[3], yesNo(info.reads));
    EXPECT_EQ(row[4], yesNo(info.writes));
  }
}

TEST(ManPage, BatchFormatTableNamesKnownFormats) {
  const auto rows = tableRows(manPage("vantrelw.1"));
  std::map<int, std::pair<RasterFormatId, BatchRowSpec>> registryRows;
  for (RasterFormatId id = 1; id <= kMaxFormatId; ++id)
    for (const BatchRowSpec& row : rioFormatInfo(id).rows)
      if (row.position >= 0) registryRows[row.position] = {id, row};
  ASSERT_EQ(rows.size(), registryRows.size()) << "the rows of the batch translator's format list";
  for (size_t i = 0; i < rows.size(); ++i) {
    const std::vector<std::string>& row = rows[i];
    SCOPED_TRACE("row " + std::to_string(i));
    ASSERT_EQ(row.size(), 7u);
    EXPECT_EQ(row[0], std::to_string(i));
    const auto& [id, entry] = registryRows[static_cast<int>(i)];
    EXPECT_EQ(row[1], entry.text ? entry.text : "");
    EXPECT_EQ(row[2], entry.extension ? entry.extension : "");
    EXPECT_EQ(row[3], entry.name ? entry.name : "");
    EXPECT_EQ(row[4], std::to_string(id)) << "the id the name " << row[3] << " selects";
    const FormatInfo& info = rioFormatInfo(id);
    EXPECT_EQ(row[5], yesNo(info.reads));
    EXPECT_EQ(row[6], yesNo(info.writes));
  }
}

// mandoc -Tlint prints nothing for a page without errors, warnings or style notes.
TEST(ManPage, PagesPassMandocLint) {
  for (const char* page : {"vantrel.1", "vantrelw.1"}) {
    const std::string command = "mandoc -Tlint -W all " + std::string(VANTREL_SOURCE_DIR) + "/man/" + page + " 2>&1";
    FILE* p = popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    const int status = pclose(p);
    EXPECT_EQ(out, "") << page;
    EXPECT_EQ(status, 0) << page << ": mandoc missing or failing (scripts/setup.sh installs it)";
  }
}

}  // namespace
}  // namespace vantrel
