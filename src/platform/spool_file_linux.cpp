#include "platform/spool_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/output_file.h"
#include "platform/temp_dir.h"

namespace yuragi {

SpoolFile::~SpoolFile() { ::close(fd_); }

std::unique_ptr<SpoolFile> SpoolFile::Create(std::string* error) {
  const std::string folder = PrivateTempDir().toStdString();
  int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    // A file system without unnamed files: a named one, unlinked at once.
    std::string name = folder + "spool-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(name.c_str());
  }
  if (fd < 0) {
    if (error) *error = folder + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<SpoolFile>(new SpoolFile(fd));
}

bool SpoolFile::Append(const char* data, size_t size) {
  if (!WriteAll(fd_, data, size)) return false;
  size_ += size;
  return true;
}

bool SpoolFile::ReadAll(std::string& bytes) const {
  bytes.resize(size_t(size_));
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::pread(fd_, bytes.data() + got, bytes.size() - got, off_t(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    got += size_t(n);
  }
  return true;
}

SpoolFile::Mapping::Mapping(const SpoolFile& file) : size_(size_t(file.size())) {
  if (size_ == 0) {  // nothing to map, and mmap refuses a length of 0
    mapped_ = true;
    return;
  }
  void* at = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, file.fd(), 0);
  if (at == MAP_FAILED) return;
  data_ = static_cast<const char*>(at);
  mapped_ = true;
}

SpoolFile::Mapping::~Mapping() {
  if (data_) ::munmap(const_cast<char*>(data_), size_);
}

std::optional<std::string_view> SpoolFile::Mapping::Bytes() const {
  if (!mapped_) return std::nullopt;
  return std::string_view(data_ ? data_ : "", size_);
}

}  // namespace yuragi
