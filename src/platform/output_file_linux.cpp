#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/output_file.h"
#include "platform/paths.h"

namespace yuragi {

namespace {

constexpr size_t kBlock = 1024 * 1024;

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= size_t(n);
  }
  return true;
}

mode_t DefaultMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::unique_ptr<OutputFile> OutputFile::Create(const std::string& path, std::string* error) {
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::open(path.c_str(), flags, 0600);
  if (fd < 0 && errno == EEXIST && ::unlink(path.c_str()) == 0) fd = ::open(path.c_str(), flags, 0600);
  if (fd < 0) {
    if (error) *error = std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<OutputFile>(new OutputFile(fd));
}

bool OutputFile::Write(const char* data, size_t size) {
  if (fd_ < 0) return false;
  buffer_.append(data, size);
  return buffer_.size() < kBlock || Flush();
}

bool OutputFile::Flush() {
  if (WriteAll(fd_, buffer_.data(), buffer_.size())) {
    buffer_.clear();
    return true;
  }
  error_ = std::strerror(errno);
  return false;
}

bool OutputFile::Close() {
  if (fd_ < 0) return error_.empty();
  const bool flushed = Flush();
  const bool closed = ::close(fd_) == 0;
  if (!closed && error_.empty()) error_ = std::strerror(errno);
  fd_ = -1;
  return flushed && closed;
}

bool WriteNewFile(const QString& path, const QByteArray& bytes, QString* error) {
  std::string reason;
  std::unique_ptr<OutputFile> file = OutputFile::Create(NativePath(path), &reason);
  if (!file) {
    if (error) *error = QString::fromLocal8Bit(reason.c_str());
    return false;
  }
  if (file->Write(bytes.constData(), size_t(bytes.size())) && file->Close()) return true;
  if (error) *error = QString::fromLocal8Bit(file->LastError().c_str());
  return false;
}

bool ReplaceFileAtomically(const QString& path, const QByteArray& bytes, QString* error) {
  std::string reason;
  if (ReplaceFileAtomically(NativePath(path), bytes.constData(), size_t(bytes.size()), &reason)) return true;
  if (error) *error = QString::fromLocal8Bit(reason.c_str());
  return false;
}

bool ReplaceFileAtomically(const std::string& nativePath, const char* data, size_t size, std::string* error) {
  std::string target = nativePath;
  // A link is kept: the file it points to is the one replaced.
  char resolved[PATH_MAX];
  struct stat link {};
  if (::lstat(target.c_str(), &link) == 0 && S_ISLNK(link.st_mode) && ::realpath(target.c_str(), resolved)) {
    target = resolved;
  }
  // The rename would get past a file the user made read-only: refuse, as a
  // write into it would.
  if (::access(target.c_str(), F_OK) == 0 && ::access(target.c_str(), W_OK) != 0) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string temp = folder + "." + name + ".yuragimaru-XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  struct stat old {};
  const mode_t mode = ::stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : DefaultMode();
  bool ok = WriteAll(fd, data, size) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
  int code = ok ? 0 : errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    code = errno;
  }
  if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    code = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    if (error) *error = std::strerror(code);
  }
  return ok;
}

}  // namespace yuragi
