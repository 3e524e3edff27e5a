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

bool SameStamp(const FileStamp& a, const FileStamp& b) {
  return a.size == b.size && a.modified.tv_sec == b.modified.tv_sec && a.modified.tv_nsec == b.modified.tv_nsec;
}

bool SetModified(const std::string& path, const struct timespec& modified) {
  const struct timespec times[2] = {{0, UTIME_NOW}, modified};
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

bool ReadLocalFile(const std::string& path, std::string& bytes) {
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!file) return false;
  struct stat st {};
  if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    errno = EINVAL;
    return false;
  }
  bytes.resize(size_t(st.st_size));
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(file.get(), bytes.data() + got, bytes.size() - got);
    if (n < 0) return false;
    if (n == 0) break;
    got += size_t(n);
  }
  bytes.resize(got);
  return true;
}

std::optional<FileStamp> StampOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileStamp{uint64_t(st.st_size), st.st_mtim};
}

bool ReplaceCutFile(const std::string& path, const FileStamp& expected, const std::string& bytes,
                    std::optional<std::time_t> modified, std::string* error) {
  const std::optional<FileStamp> now = StampOf(path);
  if (!now || !SameStamp(*now, expected)) {
    if (error) *error = "the file changed on disk meanwhile";
    return false;
  }
  if (!ReplaceFileAtomically(path, bytes.data(), bytes.size(), error)) return false;
  const struct timespec time = modified ? timespec{*modified, 0} : expected.modified;
  // The bytes are in place: a time the file system refuses (a file of
  // another owner in a shared folder) does not undo the repair.
  if (!SetModified(path, time) && error) *error = std::string("its time could not be set: ") + std::strerror(errno);
  return true;
}

bool BackupCutFile(const std::string& path, const std::string& root, const std::string& backupDir,
                   const std::string& bytes, const FileStamp& stamp, std::string* error) {
  std::string relative;
  std::string base = root;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  if (path.size() > base.size() + 1 && path.compare(0, base.size(), base) == 0 && path[base.size()] == '/') {
    const size_t slash = base.rfind('/');
    relative = path.substr(slash == std::string::npos ? 0 : slash + 1);
  } else {
    relative = path.substr(path.rfind('/') + 1);
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
  SetModified(name, stamp.modified);
  return true;
}

bool CloseCutFile(const std::string& path, std::string* error) {
  const std::optional<FileStamp> stamp = StampOf(path);
  std::string local;
  if (!stamp || !ReadLocalFile(path, local)) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  const std::optional<std::string> closed = CloseWithEndMarker(local, error);
  if (!closed) return false;
  return ReplaceCutFile(path, *stamp, *closed, std::nullopt, error);
}

}  // namespace yuragi
