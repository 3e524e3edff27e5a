#pragma once

#include <sys/types.h>

#include <QString>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "formats/picture_check.h"
#include "formats/picture_format.h"
#include "formats/jpeg_decoder.h"
#include "formats/rgb_image.h"

namespace yuragi {

inline constexpr int kThumbnailSize = 96;

// One listed file: a JPEG without its end marker that still decodes (or,
// for the command-line tools, a PNG, GIF or WebP that is not complete).
struct DetectionRow {
  std::string path;
  uint64_t size = 0;
  std::optional<std::time_t> modified;  // empty when it could not be read
  RgbImage thumbnail;                   // kThumbnailSize square, stretched
  JpegCheck stream;                     // cut, trailing data or damaged: found by the thumbnail's decode
  // As the content's signature says; other formats leave the thumbnail
  // empty, keep their test's answer in picture and its end in stream.end.
  PictureFormat format = PictureFormat::Jpeg;
  bool extensionMismatch = false;  // the name's extension stands for another format
  PictureCheck picture;
};

// "cut", "trailing", "damaged" ("complete" for a file that needs nothing).
const char* StateWord(JpegEnd end);
// The same four ends for the other formats' tests.
JpegEnd JpegEndOf(PictureEnd end);

// The only ways the walk touches a window, so it also runs headless.
class ScanWindow {
 public:
  virtual ~ScanWindow() = default;
  virtual void AppendRow(DetectionRow row) = 0;
  virtual int64_t RowCount() const = 0;
  virtual void SetStatusText(const QString& text) = 0;
  virtual void ProcessMessages() = 0;
  // A folder the walk could not enter (error is an errno value).
  virtual void ReportUnreadableFolder(const std::string& /*path*/, int /*error*/) {}
};

struct ScanRun {
  explicit ScanRun(const std::atomic<bool>& cancel) : cancelRequested(cancel) {}
  const std::atomic<bool>& cancelRequested;
  int64_t fileCount = 0;          // every non-folder entry visited
  int64_t unreadableFolders = 0;  // folders that could not be entered

  // The walk's own memory: every folder entered (device, inode), so each is
  // walked once per run however many links lead to it.
  std::set<std::pair<dev_t, ino_t>> entered;
  std::optional<std::set<dev_t>> pseudoDevices;
  // When set, files without the end marker that do not decode at all (never
  // listed) are collected here.
  std::vector<std::string>* undecodable = nullptr;
  // When set, every folder met that holds hts-cache/ (an HTTrack mirror),
  // as the walk names it, with its trailing "/".
  std::vector<std::string>* mirrorFolders = nullptr;
  // The formats tested. JPEG alone (the window's walk) tests .jpg/.jpeg
  // names only; with others, every file named as a picture is tested as the
  // format its content's signature says, when that format is in the set.
  FormatSet formats = kJpegOnly;
  // Threads that decode listed files while the walk goes on testing tails.
  // 1: the walk decodes them itself and keeps the window alive meanwhile
  // (the window's way). More: rows still reach the window in the walk's
  // order and on the walk's thread, so what is listed does not change.
  int jobs = 1;
};

// The number of cores, at least 1: the decode threads of a headless walk.
int DefaultScanJobs();

// Walks depth first in the file system's order. Holds no folder open while
// it descends, enters no kernel pseudo file system (proc, sysfs, ...) and
// never raises for file-system or picture problems.
void ScanFolder(const std::string& folder, ScanRun& run, ScanWindow& window);

// Counts and tests one file as the walk would.
void ScanFile(const std::string& path, ScanRun& run, ScanWindow& window);

// Whether the walk tests a file of this name (".jpg"/".jpeg", ASCII case folded).
bool IsJpegName(const char* name);

QString ProgressText(int64_t rows, int64_t files);  // "3 / 1,204"
QString FinalText(int64_t rows, int64_t files);     // "2 / 5 検出しました"
// Appended to the final text when folders could not be entered:
// "（開けないフォルダ 3）"; empty for 0.
QString UnreadableFoldersText(int64_t folders);

}  // namespace yuragi
