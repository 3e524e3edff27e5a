#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace yuragi::testing {

// Creates depth nested folders named "d" below base without ever passing a
// long path to the kernel; calls at(level, fd of that folder) on the way.
inline void NestFolders(const std::string& base, int depth, const std::function<void(int, int)>& at) {
  int fd = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  for (int level = 1; level <= depth; ++level) {
    ASSERT_EQ(::mkdirat(fd, "d", 0755), 0) << level;
    const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    ASSERT_GE(next, 0) << level;
    fd = next;
    at(level, fd);
  }
  ::close(fd);
}

// Removes what NestFolders made, bottom up, again without long paths.
inline void RemoveNested(const std::string& base, int depth) {
  int fd = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  int reached = 0;
  for (; fd >= 0 && reached < depth; ++reached) {
    const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (next < 0) break;
    ::close(fd);
    fd = next;
  }
  for (; fd >= 0 && reached > 0; --reached) {
    for (const char* name : {"cut.jpg", "page.html"}) ::unlinkat(fd, name, 0);
    const int parent = ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    fd = parent;
    if (fd >= 0) ::unlinkat(fd, "d", AT_REMOVEDIR);
  }
  if (fd >= 0) ::close(fd);
}

inline void WriteAt(int folder, const char* name, const std::vector<uint8_t>& bytes) {
  const int fd = ::openat(folder, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
  ::close(fd);
}

}  // namespace yuragi::testing
