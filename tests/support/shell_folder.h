// A scratch folder for tests that run the built programs through bash (for pipefail, redirections and job
// control): made fresh for one test and removed after it, with its files read and written as text.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace vantrel::testshell {

namespace fs = std::filesystem;

inline std::string load(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void save(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

// An empty folder under the system's temporary folder, its name made of the prefix, this process and `name`.
inline fs::path freshFolder(const std::string& prefix, const std::string& name) {
  const fs::path dir = fs::temp_directory_path() / (prefix + std::to_string(::getpid()) + "_" + name);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// The exit status of a bash command run in `dir`; -1 when bash did not exit by itself.
inline int runIn(const fs::path& dir, const std::string& command) {
  const std::string script = "cd '" + dir.string() + "' || exit 99; " + command;
  std::string quoted;
  for (char c : script) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  const int status = std::system(("bash -c '" + quoted + "'").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace vantrel::testshell
