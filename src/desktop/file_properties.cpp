// The facts behind our own properties sheet.
#include "desktop/file_properties.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <vector>

#include "detect/end_marker.h"
#include "platform/desktop_apps.h"
#include "formats/number_format.h"
#include "formats/time_format.h"
#include "platform/unique_fd.h"
#include "platform/paths.h"

namespace yuragi {
namespace {

QString UserName(uid_t uid) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
    return QString::fromLocal8Bit(found->pw_name);
  }
  return QString::number(uid);
}

QString GroupName(gid_t gid) {
  std::vector<char> buffer(16384);
  group entry{};
  group* found = nullptr;
  if (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
    return QString::fromLocal8Bit(found->gr_name);
  }
  return QString::number(gid);
}

QString PermissionText(mode_t mode) {
  static const char kLetters[] = "rwxrwxrwx";
  QString text;
  for (int bit = 0; bit < 9; ++bit) text += (mode & (0400 >> bit)) ? QLatin1Char(kLetters[bit]) : QLatin1Char('-');
  return QStringLiteral("%1 (%2)").arg(text).arg(mode & 07777, 3, 8, QLatin1Char('0'));
}

QString TimeText(const timespec& when) {
  return FormatFileTime(QDateTime::fromSecsSinceEpoch(when.tv_sec));
}

bool IsSof(unsigned char marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

}  // namespace

std::optional<std::pair<int, int>> JpegPixelSize(const QByteArray& path) {
  UniqueFd fd(::open(path.constData(), O_RDONLY | O_CLOEXEC));
  if (!fd) return std::nullopt;
  // The frame header sits before the scan; 1 MiB covers any real header.
  std::vector<unsigned char> head(1 << 20);
  ssize_t got = 0;
  size_t filled = 0;
  while (filled < head.size() && (got = ::read(fd.get(), head.data() + filled, head.size() - filled)) > 0) {
    filled += size_t(got);
  }
  if (filled < 4 || head[0] != 0xFF || head[1] != 0xD8) return std::nullopt;
  size_t at = 2;
  while (at + 9 < filled) {
    if (head[at] != 0xFF) return std::nullopt;
    const unsigned char marker = head[at + 1];
    if (marker == 0xFF) {
      ++at;
      continue;
    }
    const size_t length = size_t(head[at + 2]) << 8 | head[at + 3];
    if (IsSof(marker)) {
      const int height = head[at + 5] << 8 | head[at + 6];
      const int width = head[at + 7] << 8 | head[at + 8];
      return std::pair{width, height};
    }
    if (marker == 0xDA || length < 2) return std::nullopt;
    at += 2 + length;
  }
  return std::nullopt;
}

std::optional<FileProperties> ReadFileProperties(const QByteArray& path, QString* error) {
  struct stat status {};
  if (::stat(path.constData(), &status) != 0) {
    if (error) *error = QString::fromLocal8Bit(std::strerror(errno));
    return std::nullopt;
  }
  FileProperties properties;
  const int slash = path.lastIndexOf('/');
  properties.name = DisplayPath(path.mid(slash + 1));
  properties.folder = DisplayPath(path.left(slash + 1));
  const std::string bytes = path.toStdString();
  const std::string type = S_ISDIR(status.st_mode) ? std::string("inode/directory") : ContentTypeOf(bytes);
  const QString description = QString::fromStdString(ContentTypeDescription(type));
  properties.type = description.isEmpty() ? QString::fromStdString(type)
                                          : QStringLiteral("%1 (%2)").arg(description, QString::fromStdString(type));
  properties.size = FormatByteSize(int64_t(status.st_size));
  properties.modified = TimeText(status.st_mtim);
  properties.accessed = TimeText(status.st_atim);
  properties.owner = QStringLiteral("%1 / %2").arg(UserName(status.st_uid), GroupName(status.st_gid));
  properties.permissions = PermissionText(status.st_mode);
  if (type == "image/jpeg") {
    const auto size = JpegPixelSize(path);
    properties.pixelSize = size ? QStringLiteral("%1 × %2 ピクセル").arg(size->first).arg(size->second)
                                : QStringLiteral("不明");
    properties.endMarker = HasJpegEndMarker(bytes) ? QStringLiteral("あり") : QStringLiteral("なし（途中で切れています）");
  }
  return properties;
}

}  // namespace yuragi
