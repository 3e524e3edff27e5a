#include "detect/end_marker.h"

#include "platform/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace yuragi {

namespace {

constexpr long kWindow = 18;

}  // namespace

bool HasJpegEndMarker(const std::string& path) noexcept {
  // Only the tail decides the answer, so only the tail is read.
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!file) return false;
  struct stat st {};
  if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  return HasJpegEndMarker(file.get(), st.st_size);
}

bool HasJpegEndMarker(int fd, off_t size) noexcept {
  const long count = size < kWindow ? static_cast<long>(size) : kWindow;
  if (count < 2) return false;
  uint8_t tail[kWindow];
  long got = 0;
  while (got < count) {
    const ssize_t n = ::pread(fd, tail + got, size_t(count - got), size - count + got);
    if (n < 0 && errno == EINTR) continue;  // a signal (Ctrl-C in the command-line walk) is no read error
    if (n <= 0) return false;
    got += n;
  }
  return HasJpegEndMarker(tail, size_t(count));
}

bool HasJpegEndMarker(const uint8_t* data, size_t size) noexcept {
  const size_t count = size < size_t(kWindow) ? size : size_t(kWindow);
  const uint8_t* tail = data + (size - count);
  // tail[count - k] is the byte at size - k.
  for (size_t k = 2; k <= count; ++k) {
    if (tail[count - k] == 0xFF && tail[count - k + 1] == 0xD9) return true;
  }
  return false;
}

}  // namespace yuragi
