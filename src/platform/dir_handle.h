#pragma once

#include <dirent.h>

#include <memory>

namespace yuragi {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
// Owns an open folder listing and closes it on every path.
using DirHandle = std::unique_ptr<DIR, DirCloser>;

}  // namespace yuragi
