#include "refetch/zip_block_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace yuragi {

namespace {

constexpr uint64_t kBlock = 64 * 1024;

ZipBlockReader* Self(voidpf opaque) { return static_cast<ZipBlockReader*>(opaque); }

}  // namespace

ZipBlockReader::ZipBlockReader(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
  struct stat st {};
  if (fd_ < 0) {
    openError_ = errno;
  } else if (::fstat(fd_, &st) == 0) {
    size_ = uint64_t(st.st_size);
  }
}

ZipBlockReader::~ZipBlockReader() {
  if (fd_ >= 0) ::close(fd_);
}

zlib_filefunc64_def ZipBlockReader::Functions() {
  zlib_filefunc64_def functions{};
  functions.zopen64_file = [](voidpf opaque, const void*, int) -> voidpf { return opaque; };
  functions.zread_file = [](voidpf opaque, voidpf, void* buffer, uLong size) -> uLong {
    return uLong(Self(opaque)->Read(static_cast<char*>(buffer), size));
  };
  functions.zwrite_file = [](voidpf, voidpf, const void*, uLong) -> uLong { return 0; };
  functions.ztell64_file = [](voidpf opaque, voidpf) -> ZPOS64_T { return Self(opaque)->pos_; };
  functions.zseek64_file = [](voidpf opaque, voidpf, ZPOS64_T offset, int origin) -> long {
    return Self(opaque)->Seek(offset, origin);
  };
  functions.zclose_file = [](voidpf, voidpf) -> int { return 0; };
  functions.zerror_file = [](voidpf opaque, voidpf) -> int { return Self(opaque)->error_.empty() ? 0 : 1; };
  functions.opaque = this;
  return functions;
}

size_t ZipBlockReader::Read(char* out, size_t wanted) {
  // minizip reads most fields a byte at a time: those come from the block in hand.
  if (last_ && pos_ >= last_->start && pos_ - last_->start + wanted <= last_->bytes.size()) {
    const char* from = last_->bytes.data() + (pos_ - last_->start);
    if (wanted == 1) {
      *out = *from;
    } else {
      std::memcpy(out, from, wanted);
    }
    pos_ += wanted;
    return wanted;
  }
  size_t done = 0;
  while (done < wanted && pos_ < size_) {
    const Block* block = BlockAt(pos_);
    if (!block) break;
    const uint64_t offset = pos_ - block->start;
    if (offset >= block->bytes.size()) break;
    const size_t take = std::min<uint64_t>(wanted - done, block->bytes.size() - offset);
    std::memcpy(out + done, block->bytes.data() + offset, take);
    done += take;
    pos_ += take;
  }
  return done;
}

long ZipBlockReader::Seek(uint64_t offset, int origin) {
  const uint64_t base = origin == ZLIB_FILEFUNC_SEEK_CUR ? pos_ : origin == ZLIB_FILEFUNC_SEEK_END ? size_ : 0;
  // Past the end is allowed, as a file allows it; reads there find nothing.
  if (offset > UINT64_MAX - base) return -1;
  pos_ = base + offset;
  return 0;
}

const ZipBlockReader::Block* ZipBlockReader::BlockAt(uint64_t position) {
  const uint64_t start = position / kBlock * kBlock;
  if (last_ && last_->start == start) return last_;
  for (const Block& block : blocks_) {
    if (block.start == start) return last_ = &block;
  }
  Block& block = blocks_[next_++ % blocks_.size()];
  block.start = UINT64_MAX;
  last_ = nullptr;
  block.bytes.resize(kBlock);
  const ssize_t got = ::pread(fd_, block.bytes.data(), kBlock, off_t(start));
  if (got < 0) {
    error_ = std::strerror(errno);
    return nullptr;
  }
  block.bytes.resize(size_t(got));
  block.start = start;
  return last_ = &block;
}

}  // namespace yuragi
