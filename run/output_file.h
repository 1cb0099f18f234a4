// The output file of a run, written so that a failure never destroys anything. A regular file, or a name
// that does not exist yet, is written as a temporary file in the target's own folder (unnamed where the
// system offers that) and put in place of the target only when the run is complete: a failed or killed run
// leaves the previous file as it was and nothing partial under the target's name. A symbolic link is
// followed and its target replaced. Devices, pipes and the file of the front end's standard output are
// written directly, as they are, and never deleted.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>

namespace vantrel {

// Told each time the run's temporary output file gets a name in the file system (the name) and when it has
// none any more (nullptr), so that a front end can remove it when a signal ends the process.
struct TempNameWatch {
  void (*named)(void* context, const char* name) = nullptr;
  void* context = nullptr;
};

class OutputFile {
 public:
  OutputFile() = default;
  explicit OutputFile(TempNameWatch watch) : watch_(watch) {}
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() { discard(); }

  // Opens `name` for writing; nullptr when it cannot be written (a folder, a file that may not be
  // written, a folder that takes no new file). `standardOutput` names a descriptor (-1: none) whose file,
  // when it is the output, is written through that descriptor.
  [[nodiscard]] std::FILE* open(const std::string& name, int standardOutput);

  // Closes the handle open() gave. With `complete`, the file is put in place; the answer says whether
  // every byte arrived and the file is in place. Without, a temporary file is dropped (the target stays
  // as it was) and a direct output is left as far as it got; the answer is then false.
  bool close(std::FILE* file, bool complete);

  // Whether the output goes straight to its destination (a device, a pipe, standard output's file).
  bool direct() const { return direct_; }

 private:
  void discard();
  void setTemp(std::string name);  // the temporary name, told to the watch

  std::string target_;   // the file that is replaced: the name with its symbolic links followed
  std::string temp_;     // the temporary file's name; empty for an unnamed one
  int descriptor_ = -1;  // of the temporary file while it is open
  bool direct_ = false;
  bool unnamed_ = false;
  bool replacing_ = false;  // a file exists under the target's name: its owner and permissions carry over
  mode_t mode_ = 0;
  uid_t owner_ = 0;
  gid_t group_ = 0;
  TempNameWatch watch_;
};

}  // namespace vantrel
