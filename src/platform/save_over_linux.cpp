// Saving new bytes over a file so that the file keeps everything it had.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "platform/output_file.h"
#include "platform/unique_fd.h"

namespace yuragi {

namespace {

// A short fixed-length name, whatever the length of the file's own name.
constexpr char kTempPrefix[] = ".yuragimaru-";
constexpr size_t kTempRandom = 6;  // the XXXXXX of mkostemp
constexpr time_t kLeftoverAge = 24 * 60 * 60;

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string WithSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

bool WriteAllAt(int fd, const char* data, size_t size, off_t offset) {
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, data, size, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= size_t(n);
    offset += n;
  }
  return true;
}

bool ReadAll(int fd, size_t size, std::string* bytes) {
  bytes->resize(size);
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::pread(fd, bytes->data() + got, size - got, off_t(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += size_t(n);
  }
  return true;
}

mode_t DefaultMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// Temporary files of an earlier save that never finished (a crash, a power
// cut): ours by name and owner, and old enough that no save still runs.
void RemoveLeftovers(const std::string& folder) {
  std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.empty() ? "." : folder.c_str()));
  if (!dir) return;
  const time_t before = std::time(nullptr) - kLeftoverAge;
  const size_t prefix = sizeof kTempPrefix - 1;
  while (const dirent* entry = ::readdir(dir.get())) {
    const char* name = entry->d_name;
    if (std::strlen(name) != prefix + kTempRandom || std::strncmp(name, kTempPrefix, prefix) != 0) continue;
    struct stat st {};
    if (::fstatat(::dirfd(dir.get()), name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_mtime < before) {
      ::unlinkat(::dirfd(dir.get()), name, 0);
    }
  }
}

// A temporary file that is removed again unless it was renamed into place.
class TempFile {
 public:
  explicit TempFile(const std::string& folder) : path_(folder + kTempPrefix + "XXXXXX") {
    fd_ = ::mkostemp(path_.data(), O_CLOEXEC);
  }
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (fd_ >= 0 && !kept_) ::unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  void Keep() { kept_ = true; }

 private:
  std::string path_;
  int fd_ = -1;
  bool kept_ = false;
};

// Extended attributes (a browser's user.xdg.origin.url, ACLs); false when
// one of them could not be carried over.
bool CopyAttributes(int from, int to) {
  ssize_t length = ::flistxattr(from, nullptr, 0);
  if (length < 0) return errno == ENOTSUP;
  if (length == 0) return true;
  std::string names(size_t(length), '\0');
  length = ::flistxattr(from, names.data(), names.size());
  if (length < 0) return false;
  names.resize(size_t(length));
  for (size_t at = 0; at < names.size(); at += std::strlen(names.c_str() + at) + 1) {
    const char* name = names.c_str() + at;
    if (!*name) continue;
    ssize_t size = ::fgetxattr(from, name, nullptr, 0);
    if (size < 0) return false;
    std::string value(size_t(size), '\0');
    size = ::fgetxattr(from, name, value.data(), value.size());
    if (size < 0 || ::fsetxattr(to, name, value.data(), size_t(size), 0) != 0) return false;
  }
  return true;
}

void SyncFolder(const std::string& folder) {
  const UniqueFd dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir) ::fsync(dir.get());
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

}  // namespace

SaveResult SaveOverFile(const std::string& path, const char* data, size_t size, const SaveOptions& options) {
  SaveResult result;
  const auto failed = [&result](int code) {
    result.end = SaveEnd::Failed;
    result.errorCode = code;
    result.error = std::strerror(code);
    return result;
  };
  const auto changed = [&result](FileChange change) {
    result.end = SaveEnd::Changed;
    result.change = change;
    return result;
  };

  const FileIdentity now = IdentifyFile(path);
  const FileChange change = options.expected ? CompareIdentity(*options.expected, now)
                                             : (now.isLink && !now.resolved ? FileChange::DanglingLink : FileChange::None);
  if (change != FileChange::None) return changed(change);

  std::string target = path;
  if (now.isLink) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    if (!real) return failed(errno);
    target = real.get();
  }
  const std::string folder = FolderOf(target);

  const bool exists = now.resolved;
  struct stat old {};
  UniqueFd oldFile(exists ? ::open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC) : -1);
  if (exists) {
    if (!oldFile) return failed(errno);
    if (::fstat(oldFile.get(), &old) != 0) return failed(errno);
    if (S_ISDIR(old.st_mode)) return failed(EISDIR);
    if (!S_ISREG(old.st_mode)) return failed(EINVAL);
    if (old.st_dev != now.device || old.st_ino != now.inode) return changed(FileChange::Replaced);
    // The rename would get past a file the user made read-only: refuse,
    // as a write into it would.
    if (::access(target.c_str(), W_OK) != 0) return failed(errno);
  }

  RemoveLeftovers(folder);
  // A file with several names keeps them all only when written in place.
  bool inPlace = exists && old.st_nlink > 1;
  std::unique_ptr<TempFile> temp = std::make_unique<TempFile>(folder);
  if (temp->fd() < 0) {
    const int code = errno;
    const bool folderRefuses = code == EACCES || code == EPERM;
    if (!exists || !folderRefuses || options.spareFolder.empty()) return failed(code);
    temp = std::make_unique<TempFile>(WithSlash(options.spareFolder));
    if (temp->fd() < 0) return failed(code);
    inPlace = true;
  }
  if (!WriteAllAt(temp->fd(), data, size, 0) || ::fsync(temp->fd()) != 0) return failed(errno);

  if (!inPlace) {
    const mode_t mode = exists ? (old.st_mode & 07777) : DefaultMode();
    if (::fchmod(temp->fd(), mode) != 0) return failed(errno);
    if (exists) {
      struct stat mine {};
      if (::fstat(temp->fd(), &mine) != 0) return failed(errno);
      if (mine.st_uid != old.st_uid || mine.st_gid != old.st_gid) {
        // An owner or group this user may not give: the file keeps its own.
        if (::fchown(temp->fd(), old.st_uid, old.st_gid) != 0 || ::fchmod(temp->fd(), mode) != 0) inPlace = true;
      }
      if (!inPlace && !CopyAttributes(oldFile.get(), temp->fd())) inPlace = true;
    }
  }

  if (!inPlace) {
    if (exists) {
      // Last look before the rename: the name must still lead to that file.
      struct stat again {};
      if (::lstat(target.c_str(), &again) != 0 || !SameFile(again, old)) return changed(FileChange::Replaced);
    }
    if (::rename(temp->path().c_str(), target.c_str()) != 0) return failed(errno);
    temp->Keep();
    SyncFolder(folder);
    result.end = SaveEnd::Replaced;
    return result;
  }

  // The new bytes are complete on disk; now the file itself is rewritten,
  // its old bytes kept to put back should the write fail half-way.
  const UniqueFd out(::open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!out) return failed(errno);
  struct stat opened {};
  if (::fstat(out.get(), &opened) != 0) return failed(errno);
  if (!SameFile(opened, old)) return changed(FileChange::Replaced);
  std::string previous;
  if (!ReadAll(oldFile.get(), size_t(old.st_size), &previous)) return failed(errno ? errno : EIO);
  if (!WriteAllAt(out.get(), data, size, 0) || ::ftruncate(out.get(), off_t(size)) != 0 || ::fsync(out.get()) != 0) {
    const int code = errno;
    if (WriteAllAt(out.get(), previous.data(), previous.size(), 0)) {
      if (::ftruncate(out.get(), off_t(previous.size())) == 0) ::fsync(out.get());
    }
    return failed(code);
  }
  result.end = SaveEnd::WrittenInPlace;
  return result;
}

}  // namespace yuragi
