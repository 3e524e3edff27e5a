#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/output_file.h"

namespace yuragi {

namespace {

constexpr size_t kBlock = 1024 * 1024;

}  // namespace

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

bool WriteNewFile(const QByteArray& path, const QByteArray& bytes, QString* error) {
  std::string reason;
  std::unique_ptr<OutputFile> file = OutputFile::Create(path.toStdString(), &reason);
  if (!file) {
    if (error) *error = QString::fromLocal8Bit(reason.c_str());
    return false;
  }
  if (file->Write(bytes.constData(), size_t(bytes.size())) && file->Close()) return true;
  if (error) *error = QString::fromLocal8Bit(file->LastError().c_str());
  return false;
}

bool MakeFolders(const std::string& folder, mode_t mode) {
  for (size_t slash = folder.find('/', 1); slash != std::string::npos; slash = folder.find('/', slash + 1)) {
    if (::mkdir(folder.substr(0, slash).c_str(), mode) != 0 && errno != EEXIST) return false;
  }
  if (::mkdir(folder.c_str(), mode) != 0 && errno != EEXIST) return false;
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) return true;
  errno = ENOTDIR;
  return false;
}

bool ReplaceFileAtomically(const QByteArray& path, const QByteArray& bytes, QString* error) {
  const SaveResult saved = SaveOverFile(path.toStdString(), bytes.constData(), size_t(bytes.size()));
  if (!saved.ok() && error) {
    if (saved.end != SaveEnd::Changed) {
      *error = QString::fromLocal8Bit(saved.error.c_str());
    } else if (saved.change == FileChange::DanglingLink) {
      *error = QStringLiteral("リンク先のファイルがありません。");
    } else {
      *error = QStringLiteral("保存の途中で別のファイルに置き換えられました。");
    }
  }
  return saved.ok();
}

bool ReplaceFileAtomically(const std::string& nativePath, const char* data, size_t size, std::string* error) {
  const SaveResult saved = SaveOverFile(nativePath, data, size);
  if (!saved.ok() && error) *error = saved.error.empty() ? std::string("the file changed meanwhile") : saved.error;
  return saved.ok();
}

}  // namespace yuragi
