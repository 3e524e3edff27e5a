#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace yuragi {

// What a properties sheet shows, as display texts.
struct FileProperties {
  QString name;
  QString folder;
  QString type;
  QString size;  // in bytes
  QString modified;
  QString accessed;
  QString owner;        // user and group
  QString permissions;  // "rw-r--r-- (644)"
  std::optional<QString> pixelSize;  // JPEG only
  std::optional<QString> endMarker;  // JPEG only
};

// Reads the file's properties; nothing, with *error set, when it cannot be read.
std::optional<FileProperties> ReadFileProperties(const QByteArray& path, QString* error);

// Width and height from a JPEG's frame header; nothing when none is found.
std::optional<std::pair<int, int>> JpegPixelSize(const QByteArray& path);

}  // namespace yuragi
