#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace yuragi {

// A file's bytes or a buffer's, read at an offset: tests never need the
// whole of a large file in memory.
class ByteSource {
 public:
  ByteSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  // Reads with pread; the descriptor is left open and its offset as it was.
  ByteSource(int fd, uint64_t size) : fd_(fd), size_(size) {}

  uint64_t size() const { return size_; }
  // Up to n bytes at offset; fewer only at the end or on a read error
  // (then error holds its text).
  size_t ReadAt(uint64_t offset, uint8_t* out, size_t n, std::string* error) const;

 private:
  const uint8_t* data_ = nullptr;
  int fd_ = -1;
  uint64_t size_ = 0;
};

// Reads a source from front to back through one block of memory.
class BlockReader {
 public:
  static constexpr size_t kBlock = 64 * 1024;
  explicit BlockReader(const ByteSource& source) : source_(source), block_(kBlock) {}

  uint64_t position() const { return position_; }
  bool AtEnd() const { return position_ >= source_.size(); }
  // Fewer than n bytes only at the end of the data or on a read error.
  size_t Read(uint8_t* out, size_t n);
  bool ReadByte(uint8_t& byte) { return Read(&byte, 1) == 1; }
  // Passes n bytes on to visit (when given) block by block; false when the
  // data ends first.
  template <typename Visit>
  bool Pass(uint64_t n, Visit&& visit) {
    while (n > 0) {
      if (!Fill()) return false;
      const size_t take = size_t(std::min<uint64_t>(n, filled_ - used_));
      visit(block_.data() + used_, take);
      used_ += take;
      position_ += take;
      n -= take;
    }
    return true;
  }
  bool Skip(uint64_t n);
  const std::string& error() const { return error_; }

 private:
  bool Fill();

  const ByteSource& source_;
  std::vector<uint8_t> block_;
  size_t filled_ = 0;
  size_t used_ = 0;
  uint64_t position_ = 0;
  std::string error_;
};

// Whether every byte from offset to the end is zero, read a block at a time.
bool AllZeroFrom(const ByteSource& source, uint64_t offset);

}  // namespace yuragi
