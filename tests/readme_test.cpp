// The README stays true: its format table agrees with the registry, and its usage text is the program's.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "formats/registry.h"

namespace vantrel {
namespace {

std::string readmeText() {
  std::ifstream in(std::string(VANTREL_SOURCE_DIR) + "/README.md");
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::string trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

std::string rtrim(const std::string& s) {
  const size_t e = s.find_last_not_of(" \t\r");
  return e == std::string::npos ? "" : s.substr(0, e + 1);
}

std::vector<std::string> split(const std::string& s, char separator) {
  std::vector<std::string> out;
  std::string part;
  std::istringstream in(s);
  while (std::getline(in, part, separator)) out.push_back(trim(part));
  return out;
}

struct TableRow {
  std::string names, title, reads, writes;
};

// Rows of the README's format table: "| id | names | format | reads | writes | ... |".
std::map<int, std::vector<TableRow>> formatTable(const std::string& readme) {
  std::map<int, std::vector<TableRow>> rows;
  for (const std::string& line : lines(readme)) {
    if (line.empty() || line[0] != '|') continue;
    std::vector<std::string> cells = split(line.substr(1), '|');
    if (cells.size() < 5 || cells[0].empty() || cells[0].find_first_not_of("0123456789") != std::string::npos)
      continue;
    rows[std::stoi(cells[0])].push_back({cells[1], cells[2], cells[3], cells[4]});
  }
  return rows;
}

TEST(Readme, FormatTableAgreesWithTheRegistry) {
  const std::string readme = readmeText();
  ASSERT_FALSE(readme.empty()) << "README.md not found in " << VANTREL_SOURCE_DIR;
  const auto table = formatTable(readme);

  int count = 0;
  const FormatName* names = rioFormatNames(&count);
  std::map<int, std::vector<std::string>> consoleNames;
  for (int i = 0; i < count; ++i)
    if (names[i].listed) consoleNames[names[i].id].push_back(names[i].name);

  EXPECT_EQ(table.size(), static_cast<size_t>(kMaxFormatId));
  for (RasterFormatId id = 1; id <= kMaxFormatId; ++id) {
    SCOPED_TRACE("format id " + std::to_string(id));
    const auto it = table.find(id);
    ASSERT_NE(it, table.end()) << "no row in the README's format table";
    ASSERT_EQ(it->second.size(), 1u) << "more than one row";
    const TableRow& row = it->second[0];
    const FormatInfo& info = rioFormatInfo(id);
    EXPECT_EQ(row.title, info.title) << "format column";
    EXPECT_EQ(row.reads, info.reads ? "yes" : "no") << "reads column";
    EXPECT_EQ(row.writes, info.writes ? "yes" : "no") << "writes column";
    std::vector<std::string> listed;
    if (row.names != "—" && row.names != "-")
      for (const std::string& n : split(row.names, ',')) listed.push_back(n);
    EXPECT_EQ(listed, consoleNames[id]) << "names, in registry order";
  }
}

// The program's usage text: what it prints when run without arguments.
std::string programUsage() {
  std::string out;
  FILE* p = popen(VANTREL_EXE " 2>/dev/null", "r");
  if (!p) return out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  pclose(p);
  return out;
}

// The fenced block of the README that holds the usage text.
std::vector<std::string> readmeUsageBlock(const std::string& readme) {
  std::vector<std::string> block, current;
  bool inside = false;
  for (const std::string& line : lines(readme)) {
    if (line.rfind("```", 0) == 0) {
      if (inside) {
        for (const std::string& l : current)
          if (l.find("usage:") != std::string::npos) block = current;
        current.clear();
      }
      inside = !inside;
      continue;
    }
    if (inside) current.push_back(line);
  }
  return block;
}

// The names between "[-rof {" and "}]".
std::set<std::string> rofNames(const std::string& text) {
  const size_t b = text.find("[-rof {");
  const size_t e = text.find("}]", b);
  if (b == std::string::npos || e == std::string::npos) return {};
  std::string list;
  for (char c : text.substr(b + 7, e - b - 7))
    if (c != '\n' && c != ' ') list += c;
  std::set<std::string> names;
  for (const std::string& n : split(list, '|')) names.insert(n);
  return names;
}

TEST(Readme, UsageTextIsTheProgramsOwn) {
  const std::string usage = programUsage();
  ASSERT_NE(usage.find("usage:"), std::string::npos) << "no usage text from " << VANTREL_EXE;
  const std::vector<std::string> block = readmeUsageBlock(readmeText());
  ASSERT_FALSE(block.empty()) << "no usage block in the README";

  std::vector<std::string> expected, documented;
  for (const std::string& l : lines(usage)) expected.push_back(rtrim(l));
  for (const std::string& l : block) documented.push_back(rtrim(l));
  while (!expected.empty() && expected.front().empty()) expected.erase(expected.begin());
  while (!documented.empty() && documented.front().empty()) documented.erase(documented.begin());
  while (!expected.empty() && expected.back().empty()) expected.pop_back();
  while (!documented.empty() && documented.back().empty()) documented.pop_back();
  EXPECT_EQ(documented, expected);

  std::string blockText;
  for (const std::string& l : block) blockText += l + "\n";
  const std::set<std::string> fromProgram = rofNames(usage), fromReadme = rofNames(blockText);
  EXPECT_FALSE(fromProgram.empty());
  EXPECT_EQ(fromReadme, fromProgram);
  for (const std::string& name : fromProgram) EXPECT_NE(rioFormatFromName(name.c_str()), 0) << name;
}

}  // namespace
}  // namespace vantrel
