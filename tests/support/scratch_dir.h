// The one scratch folder of the tests and the benchmarks: a unique folder under the system's temporary
// directory, removed with everything in it when the object goes.
#pragma once

#include <filesystem>
#include <string>

namespace vantrel::testsupport {

class ScratchDir {
 public:
  // "<temporary directory>/<prefix>-XXXXXX"; ok() is false when it could not be made.
  explicit ScratchDir(const std::string& prefix);
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  bool ok() const { return !path_.empty(); }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace vantrel::testsupport
