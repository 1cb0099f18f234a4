#include "tests/support/scratch_dir.h"

#include <stdlib.h>

#include <system_error>

namespace vantrel::testsupport {

namespace fs = std::filesystem;

ScratchDir::ScratchDir(const std::string& prefix) {
  std::error_code ec;
  const fs::path base = fs::temp_directory_path(ec);
  if (ec) return;
  std::string pattern = (base / (prefix + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data())) path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  if (!path_.empty()) fs::remove_all(path_, ec);
}

}  // namespace vantrel::testsupport
