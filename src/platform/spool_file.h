#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace yuragi {

// A file without a name in this user's private temporary folder, for bytes
// too many to hold in memory; it is gone once closed, whatever happens.
class SpoolFile {
 public:
  ~SpoolFile();
  SpoolFile(const SpoolFile&) = delete;
  SpoolFile& operator=(const SpoolFile&) = delete;

  // Nothing, with the system's reason in *error, when no file can be made.
  static std::unique_ptr<SpoolFile> Create(std::string* error);

  bool Append(const char* data, size_t size);  // false with errno set
  uint64_t size() const { return size_; }
  int fd() const { return fd_; }
  // Every byte written, read back; false with errno set.
  bool ReadAll(std::string& bytes) const;
  // Every byte written, mapped read-only for as long as this lives, so a
  // large body is never copied whole.
  class Mapping {
   public:
    explicit Mapping(const SpoolFile& file);
    ~Mapping();
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    // Nothing, with errno set, when the file could not be mapped.
    std::optional<std::string_view> Bytes() const;

   private:
    size_t size_;
    const char* data_ = nullptr;
    bool mapped_ = false;
  };

 private:
  explicit SpoolFile(int fd) : fd_(fd) {}
  int fd_;
  uint64_t size_ = 0;
};

}  // namespace yuragi
