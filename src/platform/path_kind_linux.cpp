#include "platform/path_kind.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace yuragi {

namespace {

std::string KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISREG(mode)) return "a regular file";
  if (S_ISFIFO(mode)) return "a named pipe (FIFO)";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "neither a folder nor a file";
}

std::string Missing(int error) {
  return error == ENOENT ? std::string("no such folder or file") : std::string(std::strerror(error));
}

}  // namespace

std::string PathKindText(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return Missing(errno);
  if (!S_ISLNK(st.st_mode)) return KindOf(st.st_mode);
  if (::stat(path.c_str(), &st) == 0) return KindOf(st.st_mode) + " (through a link)";
  if (errno == ELOOP) return "a link that leads round in a loop";
  if (errno == ENOENT) return "a link to nothing";
  return Missing(errno);
}

}  // namespace yuragi
