#include "gui/format_table.h"

#include <cctype>
#include <string_view>

namespace vantrel::gui {

const OutputFormatRow kOutputFormatRows[kFormatRowCount] = {
    {"CALS G4 (MIL-STD-1840A)", "cg4", "calsg4", false},
    {"ZEB Uncompressed RNL", "rnl", "rnl", false},
    {"CCITT G3-ZEB Header", "g3", "zebg3", false},
    {"CCITT G4-ZEB Header", "g4", "zebg4", false},
    {"FileNET Group IV Tiled", "img", "img", false},
    {"PC Paint Format", "pcx", "pcx", false},
    {"Image Systems Runlength", "rlc", "rlc", false},
    {"CCITT G3-TIFF", "tif", "tiffg3", false},
    {"CCITT G4-TIFF", "tif", "tiffg4", false},
    {"TIFF Uncompressed", "tif", "tiffu", false},
    {"TIFF Version 6 tiled", "tif", "tiled", false},
    {"Adobe PostScript", "ps", "ps", true},
    {"CalComp Raster Format", "crf", "crf", true},
    {"GraphTEC RLC", "rlc", "grphtec", false},
    {"HP PCL", "pcl", "pcl", true},
    {"HP RTL", "rtl", "rtl", true},
    {"HP GL/2", "hpg", "hpg", true},
    {"Japan Digital Labs 4000E", "jd4", "jd4", true},
    {"Japan Digital Labs", "jdl", "jdl", true},
    {"Oce Graphics/NKK (Japan)", "oce", "nkk", false},
    {"Optigraphics TIFF", "opt", "opt", false},
    {"Raster Graphics", "rle", "rle", false},
    {"Versatec Block Format", "vbf", "vbf", true},
    {"JEDMICSTiled G4 Format", "c4", "c4", true},
    {"Boeing EDMICS G4 Format", "b4", "b4", true},
    {"Intergraph CIT Format", "cit", "cit", true},
    {"Fuji/Xerox MMr Format", "mmr", "mmr", true},
    {"PDF/A (Group 4)", "pdf", "pdf", false},
};

const char kAddFilesFilterText[] =
    "All types(*.*)|*.*|CALS G4 file(*.CG4;*.GP4;*.CAL;*.MIL;*.NKK)|*.CG4;*.GP4;*.CAL;*.MIL;*.NKK|"
    "Jedmics Tiled G4(*.C4)|*.C4|TIFF Formats(*.TIF)|*.TIF|CCITT G4-ZEB(*.G4)|*.G4|CCITT G3-ZEB(*.G3)|*.G3|"
    "ZEB runlgth file(*.RNL)|*.RNL|Image Sys runlgth(*.RLC)|*.RLC|FileNET Group IV Tiled (*.img)|*.IMG|"
    "PC Paint format(*.PCX)|*.pcx|Boeing Edmics(*.B4)|*.B4|Intergraph CIT(*.CIT)|*.CIT|"
    "Fuji/Xerox MMR(*.MMR)|*.MMR||";

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
