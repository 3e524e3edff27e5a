#include "repair/repair_save.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/output_file.h"
#include "platform/unique_fd.h"
#include "repair/repair_verify.h"

namespace yuragi {

namespace {

constexpr char kChanged[] = "the file changed on disk meanwhile";
// A Last-Modified further ahead than this is no modification time.
constexpr std::time_t kClockSlack = 24 * 60 * 60;

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

bool ReadAllFrom(int fd, std::string& bytes) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  if (!S_ISREG(st.st_mode)) {
    errno = EINVAL;
    return false;
  }
  bytes.resize(size_t(st.st_size));
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += size_t(n);
  }
  bytes.resize(got);
  return true;
}

std::string LinkText(int folderFd, const std::string& name) {
  std::string text(256, '\0');
  for (;;) {
    const ssize_t n = ::readlinkat(folderFd, name.c_str(), text.data(), text.size());
    if (n < 0) return std::string();
    if (size_t(n) < text.size()) return text.substr(0, size_t(n));
    text.resize(text.size() * 2);
  }
}

bool IsLinkAt(int folderFd, const std::string& name) {
  struct stat st {};
  return ::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

int OpenFlags(bool folder) { return O_RDONLY | O_CLOEXEC | (folder ? O_DIRECTORY : O_NONBLOCK); }

// Opens name below folderFd without following a link; a link is followed
// only when noted so in step.
int OpenStep(int folderFd, const std::string& name, bool folder, PathStep& step) {
  int fd = ::openat(folderFd, name.c_str(), OpenFlags(folder) | O_NOFOLLOW);
  if (fd < 0 && (errno == ELOOP || errno == ENOTDIR) && IsLinkAt(folderFd, name)) {
    step.isLink = true;
    step.linkText = LinkText(folderFd, name);
    fd = ::openat(folderFd, name.c_str(), OpenFlags(folder));
  }
  struct stat st {};
  if (fd >= 0 && ::fstat(fd, &st) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  step.name = name;
  step.device = uint64_t(st.st_dev);
  step.inode = uint64_t(st.st_ino);
  return fd;
}

// Opens name again as it was opened for step; -1 with *why when it no
// longer leads there.
int ReopenStep(int folderFd, const PathStep& step, bool folder, std::string* why) {
  PathStep now;
  const int fd = OpenStep(folderFd, step.name, folder, now);
  const auto refuse = [&](const std::string& what) {
    if (fd >= 0) ::close(fd);
    *why = std::string(kChanged) + ": " + step.name + " " + what;
    return -1;
  };
  if (fd < 0) return refuse(errno == ENOENT ? "is gone" : std::string("cannot be opened: ") + std::strerror(errno));
  if (now.isLink != step.isLink) return refuse(now.isLink ? "became a link" : "is no longer a link");
  if (now.linkText != step.linkText) return refuse("points elsewhere");
  if (now.device != step.device || now.inode != step.inode) return refuse("was replaced");
  return fd;
}

// The names below root that lead to path; empty when path is not below it.
std::vector<std::string> NamesBelow(const std::string& root, const std::string& path) {
  std::string base = root;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  std::vector<std::string> names;
  if (path.compare(0, base.size(), base) != 0) return names;
  size_t at = base.size();
  if (base != "/" && (at >= path.size() || path[at] != '/')) return names;
  while (at < path.size()) {
    while (at < path.size() && path[at] == '/') ++at;
    const size_t end = std::min(path.find('/', at), path.size());
    if (end > at) names.push_back(path.substr(at, end - at));
    at = end;
  }
  return names;
}

// Gives the file its new time, or keeps the old one where the new one is
// no real time or the file system cannot hold it; a note says which.
std::string SetTime(int folderFd, const PathStep& file, const struct timespec& old, std::optional<std::time_t> wanted) {
  const int flags = file.isLink ? 0 : AT_SYMLINK_NOFOLLOW;
  const auto set = [&](const struct timespec& when) {
    const struct timespec times[2] = {{0, UTIME_NOW}, when};
    return ::utimensat(folderFd, file.name.c_str(), times, flags) == 0;
  };
  std::string note;
  if (wanted && *wanted > std::time(nullptr) + kClockSlack) {
    note = "the server's time " + std::to_string(*wanted) + " lies in the future: the old time stays";
    wanted.reset();
  }
  if (wanted) {
    if (!set({*wanted, 0})) return std::string("its time could not be set: ") + std::strerror(errno);
    struct stat st {};
    if (::fstatat(folderFd, file.name.c_str(), &st, flags) == 0 && st.st_mtim.tv_sec == *wanted) return note;
    note = "the file system cannot hold the server's time " + std::to_string(*wanted) + ": the old time stays";
  }
  // The bytes are in place: a time the file system refuses (a file of
  // another owner in a shared folder) does not undo the repair.
  if (!set(old)) return std::string("its time could not be set: ") + std::strerror(errno);
  return note;
}

}  // namespace

bool ReadLocalFile(const std::string& path, std::string& bytes) {
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  return file && ReadAllFrom(file.get(), bytes);
}

bool ReadCutFile(const std::string& root, const std::string& path, std::string& bytes, CutFilePlace& place,
                 std::string* error) {
  place = CutFilePlace();
  place.path = path;
  place.root = root;
  std::vector<std::string> names = NamesBelow(root, path);
  if (names.empty()) {
    // Not below its folder (a file named on its own): from the folder holding it.
    const size_t slash = path.rfind('/');
    place.root = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    names = {path.substr(slash == std::string::npos ? 0 : slash + 1)};
  }
  const auto fail = [&](const std::string& where) {
    if (error) *error = where + ": " + std::strerror(errno);
    return false;
  };
  auto folder = std::make_unique<UniqueFd>(::open(place.root.c_str(), OpenFlags(true)));
  struct stat st {};
  if (!*folder || ::fstat(folder->get(), &st) != 0) return fail(place.root);
  place.rootDevice = uint64_t(st.st_dev);
  place.rootInode = uint64_t(st.st_ino);
  for (size_t i = 0; i < names.size(); ++i) {
    PathStep step;
    const bool isFolder = i + 1 < names.size();
    auto next = std::make_unique<UniqueFd>(OpenStep(folder->get(), names[i], isFolder, step));
    if (!*next) return fail("cannot read the file: " + names[i]);
    place.steps.push_back(std::move(step));
    folder = std::move(next);
  }
  if (!ReadAllFrom(folder->get(), bytes) || ::fstat(folder->get(), &st) != 0) return fail("cannot read the file");
  place.size = uint64_t(st.st_size);
  place.modified = st.st_mtim;
  return true;
}

bool ReplaceCutFile(const CutFilePlace& place, const std::string& old, std::string_view bytes,
                    std::optional<std::time_t> modified, std::string* error) {
  std::string why;
  auto folder = std::make_unique<UniqueFd>(::open(place.root.c_str(), OpenFlags(true)));
  struct stat st {};
  if (!*folder || ::fstat(folder->get(), &st) != 0) {
    if (error) *error = std::string(kChanged) + ": " + place.root + ": " + std::strerror(errno);
    return false;
  }
  if (uint64_t(st.st_dev) != place.rootDevice || uint64_t(st.st_ino) != place.rootInode || place.steps.empty()) {
    if (error) *error = std::string(kChanged) + ": " + place.root + " was replaced";
    return false;
  }
  for (size_t i = 0; i + 1 < place.steps.size(); ++i) {
    auto next = std::make_unique<UniqueFd>(ReopenStep(folder->get(), place.steps[i], true, &why));
    if (!*next) {
      if (error) *error = why;
      return false;
    }
    folder = std::move(next);
  }
  const PathStep& file = place.steps.back();
  FileIdentity expected;
  expected.exists = expected.resolved = true;
  expected.isLink = file.isLink;
  expected.linkText = file.linkText;
  expected.device = file.device;
  expected.inode = file.inode;
  expected.size = place.size;
  expected.modifiedSec = int64_t(place.modified.tv_sec);
  expected.modifiedNsec = int64_t(place.modified.tv_nsec);
  SaveOptions options;
  options.expected = &expected;
  options.expectedBytes = &old;
  SaveResult saved;
  if (!file.isLink) {
    saved = SaveOverFileAt(folder->get(), file.name, bytes.data(), bytes.size(), options);
  } else {
    // A link the walk went through is kept, and the file it leads to saved over.
    const UniqueFd check(ReopenStep(folder->get(), file, false, &why));
    if (!check) {
      if (error) *error = why;
      return false;
    }
    saved = SaveOverFile("/proc/self/fd/" + std::to_string(folder->get()) + "/" + file.name, bytes.data(),
                         bytes.size(), options);
  }
  if (saved.end == SaveEnd::Changed) {
    if (error) *error = kChanged;
    return false;
  }
  if (!saved.ok()) {
    if (error) *error = saved.error;
    return false;
  }
  if (error) *error = SetTime(folder->get(), file, place.modified, modified);
  return true;
}

bool BackupCutFile(const std::string& path, const std::string& root, const std::string& backupDir,
                   const std::string& bytes, const struct timespec& modified, std::string* error) {
  std::string relative;
  const std::vector<std::string> names = NamesBelow(root, path);
  if (!names.empty()) {
    std::string base = root;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    relative = base.substr(base.rfind('/') + 1);
    for (const std::string& name : names) relative += (relative.empty() ? "" : "/") + name;
  } else {
    relative = path.substr(path.rfind('/') + 1);
  }
  for (size_t at = 0; at <= relative.size();) {
    const size_t end = std::min(relative.find('/', at), relative.size());
    const std::string name = relative.substr(at, end - at);
    if (name.empty() || name == "." || name == "..") {
      if (error) *error = "no safe name below the backup folder for " + path;
      return false;
    }
    at = end + 1;
  }
  std::string target = backupDir;
  if (target.empty() || target.back() != '/') target += '/';
  target += relative;
  const std::string folder = target.substr(0, target.rfind('/'));
  if (!MakeFolders(folder)) {
    if (error) *error = folder + ": " + std::strerror(errno);
    return false;
  }
  std::string name = target;
  for (int n = 1; Exists(name); ++n) name = target + "." + std::to_string(n);
  std::unique_ptr<OutputFile> file = OutputFile::Create(name, error);
  if (!file) return false;
  if (!file->Write(bytes.data(), bytes.size()) || !file->Close()) {
    if (error) *error = file->LastError();
    ::unlink(name.c_str());
    return false;
  }
  const struct timespec times[2] = {{0, UTIME_NOW}, modified};
  ::utimensat(AT_FDCWD, name.c_str(), times, AT_SYMLINK_NOFOLLOW);
  return true;
}

bool CloseCutFile(const std::string& path, std::string* error) {
  CutFilePlace place;
  std::string local;
  if (!ReadCutFile(path, path, local, place, error)) return false;
  const std::optional<std::string> closed = CloseWithEndMarker(local, error);
  if (!closed) return false;
  return ReplaceCutFile(place, local, *closed, std::nullopt, error);
}

}  // namespace yuragi
