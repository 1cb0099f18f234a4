// A file of the source tree (README.md, man/vantrel.1, ...) as text; empty when it cannot be read.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace vantrel::testsupport {

inline std::string sourceText(const std::string& relativePath) {
  std::ifstream in(std::string(VANTREL_SOURCE_DIR) + "/" + relativePath);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace vantrel::testsupport
