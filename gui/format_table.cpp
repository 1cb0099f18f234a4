#include "gui/format_table.h"

#include <cctype>
#include <string_view>

#include "formats/registry.h"

namespace vantrel::gui {

const std::vector<OutputFormatRow>& outputFormatRows() {
  static const std::vector<OutputFormatRow> rows = [] {
    std::vector<OutputFormatRow> all;
    for (RasterFormatId id = 1; id <= kMaxFormatId; ++id) {
      const FormatInfo& info = rioFormatInfo(id);
      for (const BatchRowSpec& row : info.rows) {
        if (row.position < 0) continue;
        if (all.size() <= static_cast<size_t>(row.position)) all.resize(row.position + 1);
        all[row.position] = {row.text, row.extension, row.name, info.device};
      }
    }
    return all;
  }();
  return rows;
}

int formatRowCount() {
  return static_cast<int>(outputFormatRows().size());
}

const std::string& addFilesFilterText() {
  static const std::string text = [] {
    std::vector<const DialogFilterSpec*> filters;
    for (RasterFormatId id = 1; id <= kMaxFormatId; ++id) {
      const DialogFilterSpec& filter = rioFormatInfo(id).filter;
      if (filter.position < 0) continue;
      if (filters.size() <= static_cast<size_t>(filter.position)) filters.resize(filter.position + 1);
      filters[filter.position] = &filter;
    }
    std::string all = "All types(*.*)|*.*|";
    for (const DialogFilterSpec* f : filters)
      if (f) all += std::string(f->label) + "|" + f->patterns + "|";
    return all + "|";
  }();
  return text;
}

namespace {

std::vector<std::string> split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == separator) {
      parts.emplace_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

}  // namespace

std::vector<FileFilter> parseFilterText(const char* text) {
  std::string_view all(text);
  // The list ends at the first empty label ("||").
  const size_t end = all.find("||");
  if (end != std::string_view::npos) all = all.substr(0, end);
  const std::vector<std::string> fields = split(all, '|');
  std::vector<FileFilter> filters;
  for (size_t i = 0; i + 1 < fields.size(); i += 2) filters.push_back({fields[i], split(fields[i + 1], ';')});
  return filters;
}

std::string eitherCaseGlob(const std::string& pattern) {
  std::string glob;
  for (const char c : pattern) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (std::isalpha(u)) {
      glob += '[';
      glob += static_cast<char>(std::tolower(u));
      glob += static_cast<char>(std::toupper(u));
      glob += ']';
    } else {
      glob += c;
    }
  }
  return glob;
}

}  // namespace vantrel::gui
