#include "detect/folder_scan.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "detect/end_marker.h"
#include "platform/file_info.h"
#include "platform/jpeg_decoder.h"
#include "platform/number_format.h"

namespace yuragi {

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

struct FolderId {
  dev_t device;
  ino_t inode;
  bool operator==(const FolderId&) const = default;
};

class Walker {
 public:
  Walker(ScanRun& run, ScanWindow& window) : run_(run), window_(window) {}

  void Walk(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    DirHandle dir(::opendir(folder.c_str()));
    if (!dir) return;
    struct stat self {};
    if (::fstat(::dirfd(dir.get()), &self) != 0) return;
    // A folder link back to a folder on the current path would never end.
    const FolderId id{self.st_dev, self.st_ino};
    for (const FolderId& open : path_) {
      if (open == id) return;
    }
    path_.push_back(id);
    WalkEntries(dir.get(), folder);
    path_.pop_back();
  }

 private:
  void WalkEntries(DIR* dir, const std::string& folder) {
    std::string full;
    while (!run_.cancelRequested.load(std::memory_order_relaxed)) {
      const dirent* entry = ::readdir(dir);
      if (!entry) break;
      const char* name = entry->d_name;
      full.assign(folder).append(name);
      if (IsFolderEntry(*entry, full)) {
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        Walk(full);
        window_.ProcessMessages();
        continue;
      }
      ++run_.fileCount;
      if (IsJpegName(name) && !HasJpegEndMarker(full)) AddRow(full);
      window_.SetStatusText(ProgressText(window_.RowCount(), run_.fileCount));
      window_.ProcessMessages();
    }
  }

  static bool IsFolderEntry(const dirent& entry, const std::string& full) {
    if (entry.d_type == DT_DIR) return true;
    if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN) return false;
    return IsFolder(full);  // follows links: a link to a folder is a folder
  }

  void AddRow(const std::string& path) {
    try {
      std::optional<RgbImage> thumbnail = MakeThumbnail(path, kThumbnailSize, kThumbnailSize);
      if (!thumbnail) {
        if (run_.undecodable) run_.undecodable->push_back(path);
        window_.ProcessMessages();
        return;
      }
      DetectionRow row;
      row.path = path;
      row.size = FileSizeOf(path);
      row.modified = ModificationTime(path);
      row.thumbnail = std::move(*thumbnail);
      window_.AppendRow(std::move(row));
    } catch (...) {
      // One bad file never ends the walk.
      window_.ProcessMessages();
    }
  }

  ScanRun& run_;
  ScanWindow& window_;
  std::vector<FolderId> path_;
};

}  // namespace

bool IsJpegName(const char* name) {
  const char* dot = std::strrchr(name, '.');
  if (!dot) return false;
  char ext[6];
  size_t n = 0;
  for (const char* p = dot; *p; ++p) {
    if (n == sizeof ext - 1) return false;
    const char c = *p;
    ext[n++] = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
  }
  ext[n] = '\0';
  return std::strcmp(ext, ".jpg") == 0 || std::strcmp(ext, ".jpeg") == 0;
}

void ScanFolder(const std::string& folder, ScanRun& run, ScanWindow& window) {
  Walker(run, window).Walk(folder);
}

QString ProgressText(int64_t rows, int64_t files) {
  return FormatNumber(rows) + FormatNumber(files, NumberPattern::OfTotal);
}

QString FinalText(int64_t rows, int64_t files) {
  return ProgressText(rows, files) +
         (rows > 0 ? QStringLiteral(" 検出しました") : QStringLiteral(" 該当ありません"));
}

}  // namespace yuragi
