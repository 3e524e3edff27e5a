#pragma once

#include <cstdint>
#include <string>

namespace yuragi {

// What was at a path when it was read: compared again before that path is
// saved over, so a file swapped or changed meanwhile is not overwritten.
struct FileIdentity {
  bool exists = false;   // anything at the path, a link included
  bool isLink = false;
  std::string linkText;  // where the link points, as written in it
  bool resolved = false; // the path leads to a file system object
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modifiedSec = 0;
  int64_t modifiedNsec = 0;
};

FileIdentity IdentifyFile(const std::string& path);
// What name in the open folder is, without following a link (nor reading it).
FileIdentity IdentifyFileAt(int folderFd, const std::string& name);

// How the file at a path differs from what was read there.
enum class FileChange {
  None,
  Appeared,        // nothing was there, now something is
  BecameLink,      // a link took the place of the file
  NoLongerLink,    // the link was replaced by a file
  LinkRetargeted,  // the link points somewhere else
  DanglingLink,    // the link points to nothing
  Replaced,        // another file is there (device or inode differ)
  Resized,
  Modified,        // same size, another modification time
};

// Removal is no change here: writing a new file where one was is harmless.
FileChange CompareIdentity(const FileIdentity& before, const FileIdentity& now);

}  // namespace yuragi
