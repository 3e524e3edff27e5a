#pragma once

#include <QString>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "platform/rgb_image.h"

namespace yuragi {

inline constexpr int kThumbnailSize = 96;

// One listed file: a JPEG without its end marker that still decodes.
struct DetectionRow {
  std::string path;
  uint64_t size = 0;
  std::optional<std::time_t> modified;  // empty when it could not be read
  RgbImage thumbnail;                   // kThumbnailSize square, stretched
};

// The only ways the walk touches a window, so it also runs headless.
class ScanWindow {
 public:
  virtual ~ScanWindow() = default;
  virtual void AppendRow(DetectionRow row) = 0;
  virtual int64_t RowCount() const = 0;
  virtual void SetStatusText(const QString& text) = 0;
  virtual void ProcessMessages() = 0;
};

struct ScanRun {
  explicit ScanRun(const std::atomic<bool>& cancel) : cancelRequested(cancel) {}
  const std::atomic<bool>& cancelRequested;
  int64_t fileCount = 0;  // every non-folder entry visited
  // When set, files without the end marker that do not decode at all (never
  // listed) are collected here.
  std::vector<std::string>* undecodable = nullptr;
};

// Walks depth first in the file system's order; never raises.
void ScanFolder(const std::string& folder, ScanRun& run, ScanWindow& window);

// Whether the walk tests a file of this name (".jpg"/".jpeg", ASCII case folded).
bool IsJpegName(const char* name);

QString ProgressText(int64_t rows, int64_t files);  // "3 / 1,204"
QString FinalText(int64_t rows, int64_t files);     // "2 / 5 検出しました"

}  // namespace yuragi
