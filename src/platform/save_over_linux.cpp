// Saving new bytes over a file so that the file keeps everything it had.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/random.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>

#include "platform/dir_handle.h"
#include "platform/file_identity.h"
#include "platform/output_file.h"
#include "platform/unique_fd.h"

namespace yuragi {

namespace {

// Marks our temporary files; together with the target's name, the owner,
// the age and the first bytes it is what lets a leftover be removed.
constexpr char kTempMarker[] = ".yuragimaru-save~";
constexpr size_t kTempRandom = 6;
constexpr size_t kNameMax = 255;
constexpr time_t kLeftoverAge = 24 * 60 * 60;
// How many of the first bytes a leftover must share with its target.
constexpr size_t kLeftoverProof = 4096;

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
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

// Reads up to size bytes from the start; fewer only at the end of the file.
bool ReadAll(int fd, size_t size, std::string* bytes) {
  bytes->resize(size);
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::pread(fd, bytes->data() + got, size - got, off_t(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += size_t(n);
  }
  bytes->resize(got);
  return true;
}

mode_t DefaultMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

bool IsRandomPart(const char* text) {
  for (size_t i = 0; i < kTempRandom; ++i) {
    if (!std::isalnum(static_cast<unsigned char>(text[i]))) return false;
  }
  return text[kTempRandom] == '\0';
}

// Temporary files of an earlier save of this very file that never finished
// (a crash, a power cut). Removed only when everything says they are ours:
// the name made from the target's, our owner, a day old, and a start equal
// to the target's own first bytes. A user's file is never taken for one.
void RemoveLeftovers(int folderFd, const std::string& name, int targetFd) {
  if (targetFd < 0) return;
  std::string targetHead;
  if (!ReadAll(targetFd, kLeftoverProof, &targetHead) || targetHead.empty()) return;
  const int listFd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listFd < 0) return;
  DirHandle dir(::fdopendir(listFd));
  if (!dir) {
    ::close(listFd);
    return;
  }
  const std::string stem = SaveTempStem(name);
  const time_t before = std::time(nullptr) - kLeftoverAge;
  while (const dirent* entry = ::readdir(dir.get())) {
    const char* found = entry->d_name;
    if (std::strncmp(found, stem.c_str(), stem.size()) != 0 || !IsRandomPart(found + stem.size())) continue;
    const UniqueFd file(::openat(folderFd, found, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!file || ::fstat(file.get(), &st) != 0) continue;
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_mtime >= before || st.st_size == 0) continue;
    std::string head;
    const size_t compared = std::min<size_t>(targetHead.size(), size_t(st.st_size));
    if (!ReadAll(file.get(), compared, &head) || head.size() != compared) continue;
    if (head.compare(0, compared, targetHead, 0, compared) != 0) continue;
    struct stat again {};
    if (::fstatat(folderFd, found, &again, AT_SYMLINK_NOFOLLOW) == 0 && again.st_dev == st.st_dev &&
        again.st_ino == st.st_ino) {
      ::unlinkat(folderFd, found, 0);
    }
  }
}

// A temporary file in an open folder, removed again unless it was renamed
// into place.
class TempFile {
 public:
  TempFile(int folderFd, const std::string& name) : folderFd_(folderFd) {
    const std::string stem = SaveTempStem(name);
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
      unsigned char random[kTempRandom];
      if (::getrandom(random, sizeof random, 0) != ssize_t(sizeof random)) return;
      name_ = stem;
      for (unsigned char byte : random) name_ += kAlphabet[byte % (sizeof kAlphabet - 1)];
      fd_ = ::openat(folderFd_, name_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd_ < 0 && errno != EEXIST) return;
    }
  }
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (fd_ >= 0 && !kept_) ::unlinkat(folderFd_, name_.c_str(), 0);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  int fd() const { return fd_; }
  int folderFd() const { return folderFd_; }
  const std::string& name() const { return name_; }
  void Keep() { kept_ = true; }

 private:
  int folderFd_;
  std::string name_;
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

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

class Saver {
 public:
  Saver(int folderFd, const std::string& name, const SaveOptions& options)
      : folderFd_(folderFd), name_(name), options_(options) {}

  SaveResult Save(const FileIdentity& now, const char* data, size_t size) {
    const bool exists = now.resolved;
    struct stat old {};
    const UniqueFd oldFile(exists ? ::openat(folderFd_, name_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)
                                  : -1);
    if (exists) {
      if (!oldFile) return errno == ELOOP ? Changed(FileChange::BecameLink) : Failed(errno);
      if (::fstat(oldFile.get(), &old) != 0) return Failed(errno);
      if (S_ISDIR(old.st_mode)) return Failed(EISDIR);
      if (!S_ISREG(old.st_mode)) return Failed(EINVAL);
      if (old.st_dev != dev_t(now.device) || old.st_ino != ino_t(now.inode)) return Changed(FileChange::Replaced);
      // The rename would get past a file the user made read-only: refuse,
      // as a write into it would.
      if (::faccessat(folderFd_, name_.c_str(), W_OK, 0) != 0) return Failed(errno);
    }

    RemoveLeftovers(folderFd_, name_, oldFile.get());
    // A file with several names keeps them all only when written in place.
    bool inPlace = exists && old.st_nlink > 1;
    std::unique_ptr<UniqueFd> spareFd;  // outlives the temporary file made in it
    std::unique_ptr<TempFile> temp = std::make_unique<TempFile>(folderFd_, name_);
    if (temp->fd() < 0) {
      const int code = errno;
      const bool folderRefuses = code == EACCES || code == EPERM;
      if (!exists || !folderRefuses || options_.spareFolder.empty()) return Failed(code);
      spareFd = std::make_unique<UniqueFd>(::open(options_.spareFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      if (!*spareFd) return Failed(code);
      temp = std::make_unique<TempFile>(spareFd->get(), name_);
      if (temp->fd() < 0) return Failed(code);
      inPlace = true;
    }
    if (!WriteAllAt(temp->fd(), data, size, 0) || ::fsync(temp->fd()) != 0) return Failed(errno);

    if (!inPlace) {
      const mode_t mode = exists ? (old.st_mode & 07777) : DefaultMode();
      if (::fchmod(temp->fd(), mode) != 0) return Failed(errno);
      if (exists) {
        struct stat mine {};
        if (::fstat(temp->fd(), &mine) != 0) return Failed(errno);
        if (mine.st_uid != old.st_uid || mine.st_gid != old.st_gid) {
          // An owner or group this user may not give: the file keeps its own.
          if (::fchown(temp->fd(), old.st_uid, old.st_gid) != 0 || ::fchmod(temp->fd(), mode) != 0) inPlace = true;
        }
        if (!inPlace && !CopyAttributes(oldFile.get(), temp->fd())) inPlace = true;
      }
    }

    if (!inPlace) {
      if (exists) {
        // Last look before the rename: the name must still lead to that
        // file, and the file must still hold what was read.
        struct stat again {};
        if (::fstatat(folderFd_, name_.c_str(), &again, AT_SYMLINK_NOFOLLOW) != 0 || !SameFile(again, old)) {
          return Changed(FileChange::Replaced);
        }
        if (const std::optional<SaveResult> differs = BytesDiffer(oldFile.get())) return *differs;
      }
      if (::renameat(temp->folderFd(), temp->name().c_str(), folderFd_, name_.c_str()) != 0) return Failed(errno);
      temp->Keep();
      ::fsync(folderFd_);
      result_.end = SaveEnd::Replaced;
      return result_;
    }

    // The new bytes are complete on disk; now the file itself is rewritten,
    // its old bytes kept to put back should the write fail half-way.
    const UniqueFd out(::openat(folderFd_, name_.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!out) return errno == ELOOP ? Changed(FileChange::BecameLink) : Failed(errno);
    struct stat opened {};
    if (::fstat(out.get(), &opened) != 0) return Failed(errno);
    if (!SameFile(opened, old)) return Changed(FileChange::Replaced);
    std::string previous;
    if (!ReadAll(oldFile.get(), size_t(old.st_size), &previous)) return Failed(errno);
    if (options_.expectedBytes && previous != *options_.expectedBytes) return Changed(FileChange::Modified);
    if (!WriteAllAt(out.get(), data, size, 0) || ::ftruncate(out.get(), off_t(size)) != 0 || ::fsync(out.get()) != 0) {
      const int code = errno;
      if (WriteAllAt(out.get(), previous.data(), previous.size(), 0)) {
        if (::ftruncate(out.get(), off_t(previous.size())) == 0) ::fsync(out.get());
      }
      return Failed(code);
    }
    result_.end = SaveEnd::WrittenInPlace;
    return result_;
  }

  SaveResult Failed(int code) {
    result_.end = SaveEnd::Failed;
    result_.errorCode = code;
    result_.error = std::strerror(code);
    return result_;
  }

  SaveResult Changed(FileChange change) {
    result_.end = SaveEnd::Changed;
    result_.change = change;
    return result_;
  }

 private:
  std::optional<SaveResult> BytesDiffer(int oldFd) {
    if (!options_.expectedBytes) return std::nullopt;
    struct stat st {};
    if (::fstat(oldFd, &st) != 0) return Failed(errno);
    if (uint64_t(st.st_size) != options_.expectedBytes->size()) return Changed(FileChange::Resized);
    std::string now;
    if (!ReadAll(oldFd, options_.expectedBytes->size(), &now)) return Failed(errno);
    if (now != *options_.expectedBytes) return Changed(FileChange::Modified);
    return std::nullopt;
  }

  int folderFd_;
  const std::string& name_;
  const SaveOptions& options_;
  SaveResult result_;
};

// A short hash of a long name, so its cut stem still belongs to it alone.
std::string NameHash(const std::string& name) {
  uint64_t hash = 1469598103934665603ULL;
  for (unsigned char c : name) hash = (hash ^ c) * 1099511628211ULL;
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

}  // namespace

std::string SaveTempStem(const std::string& name) {
  const size_t fixed = 1 + (sizeof kTempMarker - 1) + kTempRandom;
  std::string stem(1, '.');
  if (fixed + name.size() <= kNameMax) {
    stem.append(name);
  } else {
    const std::string hash = NameHash(name);
    stem.append(name, 0, kNameMax - fixed - 1 - hash.size());
    stem.push_back('~');
    stem.append(hash);
  }
  stem.append(kTempMarker);
  return stem;
}

SaveResult SaveOverFileAt(int folderFd, const std::string& name, const char* data, size_t size,
                          const SaveOptions& options) {
  Saver saver(folderFd, name, options);
  const FileIdentity now = IdentifyFileAt(folderFd, name);
  if (now.isLink) return saver.Changed(FileChange::BecameLink);
  if (options.expected) {
    const FileChange change = CompareIdentity(*options.expected, now);
    if (change != FileChange::None) return saver.Changed(change);
  }
  return saver.Save(now, data, size);
}

SaveResult SaveOverFile(const std::string& path, const char* data, size_t size, const SaveOptions& options) {
  SaveResult result;
  const FileIdentity now = IdentifyFile(path);
  const FileChange change = options.expected ? CompareIdentity(*options.expected, now)
                                             : (now.isLink && !now.resolved ? FileChange::DanglingLink : FileChange::None);
  if (change != FileChange::None) {
    result.end = SaveEnd::Changed;
    result.change = change;
    return result;
  }
  std::string target = path;
  if (now.isLink) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    if (!real) {
      result.errorCode = errno;
      result.error = std::strerror(errno);
      return result;
    }
    target = real.get();
  }
  const std::string folder = FolderOf(target);
  const UniqueFd folderFd(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folderFd) {
    result.errorCode = errno;
    result.error = std::strerror(errno);
    return result;
  }
  const std::string name = NameOf(target);
  Saver saver(folderFd.get(), name, options);
  // The identity checked is the one the path led to; the folder is now held open.
  return saver.Save(now, data, size);
}

}  // namespace yuragi
