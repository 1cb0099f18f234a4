#include "run/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <random>
#include <utility>

namespace vantrel {
namespace {

constexpr int kMaxLinks = 40;       // symbolic links followed before the name counts as a loop
constexpr int kNameAttempts = 100;  // temporary names tried before giving up
constexpr size_t kMaxBaseInTemp = 200;
constexpr char kProcFd[] = "/proc/self/fd/";

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a name stands for: its symbolic links followed, a relative link read from the link's folder.
// The result may not exist yet (a new file, or a dangling link's target). False for a loop.
bool followLinks(std::string path, std::string* out) {
  for (int hops = 0; hops <= kMaxLinks; ++hops) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      *out = path;
      return true;
    }
    char link[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), link, sizeof link - 1);
    if (n < 0) return false;
    const std::string next(link, static_cast<size_t>(n));
    path = next[0] == '/' ? next : folderOf(path) + "/" + next;
  }
  return false;
}

// A fresh name beside the target: hidden, carrying the target's name, with a random tail.
std::string candidateName(const std::string& target, std::mt19937_64& rng) {
  const std::string folder = folderOf(target);
  const size_t slash = target.rfind('/');
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  if (base.size() > kMaxBaseInTemp) base.resize(kMaxBaseInTemp);
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string tail(8, 'x');
  for (char& c : tail) c = kLetters[rng() % (sizeof kLetters - 1)];
  return folder + "/." + base + "." + tail;
}

// Temporary names only need to differ between runs that meet in one folder.
std::mt19937_64 nameSource(const void* owner) {
  const auto now = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  return std::mt19937_64(now ^ (static_cast<uint64_t>(::getpid()) << 40) ^
                         reinterpret_cast<uintptr_t>(owner));
}

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

std::FILE* OutputFile::open(const std::string& name, int standardOutput) {
  struct stat byName {};
  const bool exists = ::stat(name.c_str(), &byName) == 0;
  struct stat byDescriptor {};
  if (exists && standardOutput >= 0 && ::fstat(standardOutput, &byDescriptor) == 0 &&
      sameFile(byName, byDescriptor)) {
    // Standard output's own file: written through the descriptor, where it stands.
    const int fd = ::dup(standardOutput);
    std::FILE* f = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (!f && fd >= 0) ::close(fd);
    direct_ = f != nullptr;
    return f;
  }
  if (exists && S_ISDIR(byName.st_mode)) return nullptr;
  if (exists && !S_ISREG(byName.st_mode)) {
    // A device, a pipe: there is nothing to keep, and its bytes go out as they are made.
    std::FILE* f = std::fopen(name.c_str(), "wb");
    direct_ = f != nullptr;
    return f;
  }

  if (!followLinks(name, &target_)) return nullptr;
  replacing_ = exists;
  mode_ = byName.st_mode & 07777;
  owner_ = byName.st_uid;
  group_ = byName.st_gid;
  // A file that may not be written is not replaced behind its owner's back.
  if (replacing_ && ::access(target_.c_str(), W_OK) != 0) return nullptr;

  int fd = -1;
#ifdef O_TMPFILE
  // Unnamed until it is complete, so a killed run leaves nothing behind. Naming it later goes through
  // /proc, so it is used only where /proc is there.
  if (::access(kProcFd, X_OK) == 0) {
    fd = ::open(folderOf(target_).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    unnamed_ = fd >= 0;
  }
#endif
  std::mt19937_64 rng = nameSource(this);
  for (int i = 0; fd < 0 && i < kNameAttempts; ++i) {
    const std::string name = candidateName(target_, rng);
    fd = ::open(name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
    if (fd >= 0) setTemp(name);  // told once it is ours, never a name another process made
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return nullptr;
  // The replacement keeps the owner, group and permissions of the file it replaces, as far as the process
  // may set them (the owner only as root; the group where the process belongs to it); a new file gets the
  // usual ones. The owner goes first, since a change of owner clears set-id bits.
  if (replacing_) {
    if (::fchown(fd, owner_, group_) != 0) (void)::fchown(fd, static_cast<uid_t>(-1), group_);
    (void)::fchmod(fd, mode_);
  }
  std::FILE* f = ::fdopen(fd, "wb");
  if (!f) {
    ::close(fd);
    discard();
    return nullptr;
  }
  descriptor_ = fd;
  return f;
}

bool OutputFile::close(std::FILE* file, bool complete) {
  if (!file) {
    discard();
    return false;
  }
  if (direct_ || !complete) {
    const bool closed = std::fclose(file) == 0;
    discard();
    return complete && closed;
  }
  bool ok = std::fflush(file) == 0 && !std::ferror(file);
  if (ok && unnamed_) {
    // A name for the finished file, in the target's folder, so that a rename can put it in place: by the
    // descriptor itself where the process may, else through /proc.
    const std::string self = kProcFd + std::to_string(descriptor_);
    std::mt19937_64 rng = nameSource(this);
    ok = false;
    for (int i = 0; !ok && i < kNameAttempts; ++i) {
      const std::string name = candidateName(target_, rng);
#ifdef AT_EMPTY_PATH
      ok = ::linkat(descriptor_, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0;
      if (!ok && errno != EEXIST)
#endif
        ok = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
      if (ok) setTemp(name);
      if (!ok && errno != EEXIST) break;
    }
  }
  ok = std::fclose(file) == 0 && ok;
  descriptor_ = -1;
  if (ok) ok = ::rename(temp_.c_str(), target_.c_str()) == 0;
  if (ok) setTemp({});
  discard();
  return ok;
}

void OutputFile::discard() {
  if (!temp_.empty()) ::unlink(temp_.c_str());
  setTemp({});
  descriptor_ = -1;
}

void OutputFile::setTemp(std::string name) {
  temp_ = std::move(name);
  if (watch_.named) watch_.named(watch_.context, temp_.empty() ? nullptr : temp_.c_str());
}

}  // namespace vantrel
