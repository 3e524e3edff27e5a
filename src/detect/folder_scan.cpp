#include "detect/folder_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "detect/end_marker.h"
#include "platform/file_info.h"
#include "platform/jpeg_decoder.h"
#include "platform/number_format.h"
#include "platform/pseudo_file_systems.h"

namespace yuragi {

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

struct Entry {
  std::string name;
  unsigned char type;
};

class Walker {
 public:
  Walker(ScanRun& run, ScanWindow& window) : run_(run), window_(window) {
    if (!run_.pseudoDevices) run_.pseudoDevices = PseudoFileSystemDevices();
  }

  void Walk(std::string folder, bool root) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    std::vector<Entry> entries;
    if (!ReadFolder(folder, root, entries)) return;
    WalkEntries(entries, folder);
  }

  // A file named by the caller counts and is tested as one met in a folder.
  void TestFile(const std::string& path) {
    ++run_.fileCount;
    const size_t slash = path.rfind('/');
    const char* name = path.c_str() + (slash == std::string::npos ? 0 : slash + 1);
    if (IsJpegName(name) && !HasJpegEndMarker(path)) AddRow(path);
    window_.SetStatusText(ProgressText(window_.RowCount(), run_.fileCount));
  }

 private:
  // The whole listing is read and the folder closed before anything below
  // it is entered, so open descriptors do not grow with the depth.
  bool ReadFolder(const std::string& folder, bool root, std::vector<Entry>& entries) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
      // A chosen folder that does not exist is the caller's business.
      if (!(root && (errno == ENOENT || errno == ENOTDIR))) Unreadable(folder, errno);
      return false;
    }
    DirHandle dir(::fdopendir(fd));
    if (!dir) {
      const int error = errno;
      ::close(fd);
      Unreadable(folder, error);
      return false;
    }
    struct stat self {};
    if (::fstat(fd, &self) != 0) {
      Unreadable(folder, errno);
      return false;
    }
    if (run_.pseudoDevices->count(self.st_dev) != 0 || IsOnPseudoFileSystem(fd)) return false;
    // Links may lead here again (a cycle, a ladder of links): once is enough.
    if (!run_.entered.emplace(self.st_dev, self.st_ino).second) return false;
    errno = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
      const char* name = entry->d_name;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
      entries.push_back(Entry{name, entry->d_type});
    }
    if (errno != 0) Unreadable(folder, errno);  // what was listed is still walked
    return true;
  }

  void WalkEntries(const std::vector<Entry>& entries, const std::string& folder) {
    std::string full;
    for (const Entry& entry : entries) {
      if (run_.cancelRequested.load(std::memory_order_relaxed)) break;
      full.assign(folder).append(entry.name);
      if (IsFolderEntry(entry, full)) {
        Walk(full, false);
        window_.ProcessMessages();
        continue;
      }
      ++run_.fileCount;
      if (IsJpegName(entry.name.c_str()) && !HasJpegEndMarker(full)) AddRow(full);
      window_.SetStatusText(ProgressText(window_.RowCount(), run_.fileCount));
      window_.ProcessMessages();
    }
  }

  static bool IsFolderEntry(const Entry& entry, const std::string& full) {
    if (entry.type == DT_DIR) return true;
    if (entry.type != DT_LNK && entry.type != DT_UNKNOWN) return false;
    return IsFolder(full);  // follows links: a link to a folder is a folder
  }

  void Unreadable(const std::string& folder, int error) {
    ++run_.unreadableFolders;
    window_.ReportUnreadableFolder(folder, error);
  }

  void AddRow(const std::string& path) {
    try {
      // A big file keeps the window alive and the cancel button working.
      const auto keepGoing = [this] {
        window_.ProcessMessages();
        return !run_.cancelRequested.load(std::memory_order_relaxed);
      };
      JpegCheck stream;
      std::optional<RgbImage> thumbnail =
          MakeThumbnail(path, kThumbnailSize, kThumbnailSize, nullptr, keepGoing, &stream);
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
      row.stream = std::move(stream);
      window_.AppendRow(std::move(row));
    } catch (...) {
      // One bad file never ends the walk.
      window_.ProcessMessages();
    }
  }

  ScanRun& run_;
  ScanWindow& window_;
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

const char* StateWord(JpegEnd end) {
  switch (end) {
    case JpegEnd::Cut: return "cut";
    case JpegEnd::Trailing: return "trailing";
    case JpegEnd::Damaged: return "damaged";
    case JpegEnd::Complete: return "complete";
  }
  return "cut";
}

void ScanFolder(const std::string& folder, ScanRun& run, ScanWindow& window) {
  Walker(run, window).Walk(folder, true);
}

void ScanFile(const std::string& path, ScanRun& run, ScanWindow& window) { Walker(run, window).TestFile(path); }

QString ProgressText(int64_t rows, int64_t files) {
  return FormatNumber(rows) + FormatNumber(files, NumberPattern::OfTotal);
}

QString FinalText(int64_t rows, int64_t files) {
  return ProgressText(rows, files) +
         (rows > 0 ? QStringLiteral(" 検出しました") : QStringLiteral(" 該当ありません"));
}

QString UnreadableFoldersText(int64_t folders) {
  if (folders <= 0) return {};
  return QStringLiteral("（開けないフォルダ ") + FormatNumber(folders) + QStringLiteral("）");
}

}  // namespace yuragi
