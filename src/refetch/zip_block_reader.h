#pragma once

#include <ioapi.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace yuragi {

// A zip file's bytes for minizip, through a few blocks kept in memory: the
// central directory and the local headers are each read front to back, so
// nearly every read is served without a system call, and a file of any size
// costs the same few blocks of memory.
class ZipBlockReader {
 public:
  explicit ZipBlockReader(const std::string& path);
  ~ZipBlockReader();
  ZipBlockReader(const ZipBlockReader&) = delete;
  ZipBlockReader& operator=(const ZipBlockReader&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  int OpenError() const { return openError_; }
  // Why a read failed; empty while none did.
  const std::string& Error() const { return error_; }

  // The functions unzOpen2_64 reads through; valid while this lives.
  zlib_filefunc64_def Functions();

 private:
  struct Block {
    uint64_t start = UINT64_MAX;
    std::vector<char> bytes;
  };

  size_t Read(char* out, size_t wanted);
  long Seek(uint64_t offset, int origin);
  const Block* BlockAt(uint64_t position);

  int fd_ = -1;
  int openError_ = 0;
  uint64_t size_ = 0;
  uint64_t pos_ = 0;
  std::array<Block, 4> blocks_;
  const Block* last_ = nullptr;
  size_t next_ = 0;
  std::string error_;
};

}  // namespace yuragi
