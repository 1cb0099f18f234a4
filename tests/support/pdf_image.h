// The Group 4 image of a PDF page as our writer lays it out, taken out for our own CALS reader to decode:
// the first image XObject's /Columns, /Rows and stream data, wrapped in a CALS header.
#pragma once

#include <cstdio>
#include <string>

namespace vantrel::testpdf {

// The first image's data and size; false when the file holds no such image.
inline bool firstImage(const std::string& pdf, int* columns, int* rows, std::string* code) {
  const size_t image = pdf.find("/Subtype /Image");
  if (image == std::string::npos) return false;
  auto number = [&](const char* key) {
    const size_t at = pdf.find(key, image);
    return at == std::string::npos ? -1 : std::atoi(pdf.c_str() + at + std::string(key).size());
  };
  *columns = number("/Columns ");
  *rows = number("/Rows ");
  const size_t start = pdf.find("stream\n", image);
  if (start == std::string::npos) return false;
  const size_t end = pdf.find("\nendstream", start);
  if (end == std::string::npos || *columns <= 0 || *rows <= 0) return false;
  *code = pdf.substr(start + 7, end - start - 7);
  return true;
}

// A CALS Type 1 file of the code (200 dpi).
inline std::string calsOf(int columns, int rows, const std::string& code) {
  std::string file;
  auto record = [&](const std::string& text) { file += text + std::string(128 - text.size(), ' '); };
  for (const char* key : {"srcdocid", "dstdocid", "txtfilid", "figid", "srcgph", "doccls"})
    record(std::string(key) + ": NONE");
  record("rtype: 1");
  record("rorient: 000,270");
  char pels[64];
  std::snprintf(pels, sizeof pels, "rpelcnt: %06d,%06d", columns, rows);
  record(pels);
  record("rdensty: 0200");
  record("notes: NONE");
  for (int i = 0; i < 5; ++i) record("");
  return file + code;
}

}  // namespace vantrel::testpdf
