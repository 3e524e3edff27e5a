#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/file_identity.h"

namespace yuragi {

namespace {

void TakeStat(FileIdentity& id, const struct stat& st) {
  id.resolved = true;
  id.device = uint64_t(st.st_dev);
  id.inode = uint64_t(st.st_ino);
  id.size = uint64_t(st.st_size);
  id.modifiedSec = int64_t(st.st_mtim.tv_sec);
  id.modifiedNsec = int64_t(st.st_mtim.tv_nsec);
}

}  // namespace

FileIdentity IdentifyFile(const std::string& path) {
  FileIdentity id;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return id;
  id.exists = true;
  if (S_ISLNK(st.st_mode)) {
    id.isLink = true;
    std::vector<char> text(size_t(st.st_size > 0 ? st.st_size : 255) + 1);
    for (;;) {
      const ssize_t n = ::readlink(path.c_str(), text.data(), text.size());
      if (n < 0) break;
      if (size_t(n) < text.size()) {
        id.linkText.assign(text.data(), size_t(n));
        break;
      }
      text.resize(text.size() * 2);
    }
    if (::stat(path.c_str(), &st) != 0) return id;
  }
  TakeStat(id, st);
  return id;
}

FileIdentity IdentifyFileAt(int folderFd, const std::string& name) {
  FileIdentity id;
  struct stat st {};
  if (::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return id;
  id.exists = true;
  if (S_ISLNK(st.st_mode)) {
    id.isLink = true;
    return id;
  }
  TakeStat(id, st);
  return id;
}

FileChange CompareIdentity(const FileIdentity& before, const FileIdentity& now) {
  if (!now.exists) return FileChange::None;
  if (now.isLink && !now.resolved) return FileChange::DanglingLink;
  if (!before.exists) return FileChange::Appeared;
  if (before.isLink != now.isLink) return now.isLink ? FileChange::BecameLink : FileChange::NoLongerLink;
  if (before.isLink && before.linkText != now.linkText) return FileChange::LinkRetargeted;
  if (!before.resolved) return FileChange::Appeared;
  if (before.device != now.device || before.inode != now.inode) return FileChange::Replaced;
  if (before.size != now.size) return FileChange::Resized;
  if (before.modifiedSec != now.modifiedSec || before.modifiedNsec != now.modifiedNsec) return FileChange::Modified;
  return FileChange::None;
}

}  // namespace yuragi
