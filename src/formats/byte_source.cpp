#include "formats/byte_source.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace yuragi {

size_t ByteSource::ReadAt(uint64_t offset, uint8_t* out, size_t n, std::string* error) const {
  if (offset >= size_) return 0;
  n = size_t(std::min<uint64_t>(n, size_ - offset));
  if (data_) {
    std::memcpy(out, data_ + offset, n);
    return n;
  }
  size_t got = 0;
  while (got < n) {
    const ssize_t r = ::pread(fd_, out + got, n - got, off_t(offset + got));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      if (error) *error = std::strerror(errno);
      break;
    }
    if (r == 0) break;  // the file shrank since it was measured
    got += size_t(r);
  }
  return got;
}

bool BlockReader::Fill() {
  if (used_ < filled_) return true;
  used_ = 0;
  filled_ = source_.ReadAt(position_, block_.data(), block_.size(), &error_);
  return filled_ > 0;
}

size_t BlockReader::Read(uint8_t* out, size_t n) {
  size_t got = 0;
  Pass(n, [&](const uint8_t* data, size_t count) {
    std::memcpy(out + got, data, count);
    got += count;
  });
  return got;
}

bool BlockReader::Skip(uint64_t n) {
  // Past the buffered block a skip costs no read.
  const uint64_t buffered = filled_ - used_;
  if (n <= buffered) {
    used_ += size_t(n);
    position_ += n;
    return true;
  }
  used_ = filled_ = 0;
  position_ += n;
  if (position_ > source_.size()) {
    position_ = source_.size();
    return false;
  }
  return true;
}

bool AllZeroFrom(const ByteSource& source, uint64_t offset) {
  std::vector<uint8_t> block(BlockReader::kBlock);
  while (offset < source.size()) {
    const size_t got = source.ReadAt(offset, block.data(), block.size(), nullptr);
    if (got == 0) return false;
    if (std::any_of(block.begin(), block.begin() + long(got), [](uint8_t b) { return b != 0; })) return false;
    offset += got;
  }
  return true;
}

}  // namespace yuragi
