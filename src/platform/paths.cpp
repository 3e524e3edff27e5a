#include "platform/paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QList>
#include <QUrl>
#include <cerrno>
#include <memory>
#include <utility>
#include <vector>

#include "platform/dir_handle.h"

namespace yuragi {

namespace {

bool Exists(const QByteArray& path) {
  struct stat st {};
  return ::lstat(path.constData(), &st) == 0;
}

// The entry of folder whose name shows as shown, when exactly one does.
QByteArray MatchEntry(const QByteArray& folder, const QString& shown) {
  const DirHandle dir(::opendir(folder.isEmpty() ? "." : folder.constData()));
  if (!dir) return {};
  QByteArray found;
  int matches = 0;
  while (const dirent* entry = ::readdir(dir.get())) {
    const QByteArray name(entry->d_name);
    if (DisplayPath(name) == shown || QString::fromUtf8(name) == shown) {
      found = name;
      ++matches;
    }
  }
  return matches == 1 ? found : QByteArray();
}

}  // namespace

QByteArray FolderPart(const QByteArray& path) { return path.left(path.lastIndexOf('/') + 1); }

QByteArray FileNamePart(const QByteArray& path) { return path.mid(path.lastIndexOf('/') + 1); }

QByteArray ExtensionPart(const QByteArray& path) {
  const QByteArray name = FileNamePart(path);
  const qsizetype dot = name.lastIndexOf('.');
  return dot < 0 ? QByteArray() : name.mid(dot);
}

QByteArray ChangeExtension(const QByteArray& path, const QByteArray& extension) {
  const QByteArray name = FileNamePart(path);
  const qsizetype dot = name.lastIndexOf('.');
  const QByteArray stem = dot < 0 ? path : path.left(path.size() - name.size() + dot);
  return stem + extension;
}

size_t Utf8SequenceLength(const unsigned char* p, size_t left) {
  const unsigned char c = p[0];
  size_t length;
  unsigned min;
  unsigned code;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2, code = c & 0x1F, min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3, code = c & 0x0F, min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4, code = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (left < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    code = (code << 6) | (p[i] & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

bool IsUtf8(const QByteArray& bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
  const size_t size = size_t(bytes.size());
  for (size_t i = 0; i < size;) {
    const size_t length = Utf8SequenceLength(p + i, size - i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

QString PathText(const QByteArray& path, void (*escapeName)(QString& text, const QByteArray& name)) {
  QString text;
  bool first = true;
  for (const QByteArray& name : path.split('/')) {
    if (!std::exchange(first, false)) text += QLatin1Char('/');
    if (IsUtf8(name)) {
      text += QString::fromUtf8(name);
    } else {
      escapeName(text, name);
    }
  }
  return text;
}

QString DisplayPath(const QByteArray& path) {
  return PathText(path, [](QString& text, const QByteArray& name) {
    for (const char c : name) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 0x80) {
        text += QLatin1Char(c);
      } else {
        text += QStringLiteral("\\x") + QString::number(byte, 16).toUpper();
      }
    }
  });
}

QByteArray PathFromText(const QString& text) {
  const QByteArray typed = text.toUtf8();
  if (typed.isEmpty() || Exists(typed)) return typed;
  // Rebuild the path one name at a time from the real entries.
  const QStringList names = text.split(QLatin1Char('/'));
  QByteArray path;
  for (qsizetype i = 0; i < names.size(); ++i) {
    const QString& name = names[i];
    QByteArray next = name.toUtf8();
    if (!name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") && !Exists(path + next)) {
      // A name not found stays as typed: a file yet to be made.
      const QByteArray match = MatchEntry(path, name);
      if (!match.isEmpty()) next = match;
    }
    path += next;
    if (i + 1 < names.size()) path += '/';
  }
  return path;
}

QByteArray ResolvedPath(const QByteArray& path, const QByteArray& workingFolder) {
  const QByteArray whole = path.startsWith('/') ? path : workingFolder + '/' + path;
  QList<QByteArray> kept;
  for (const QByteArray& name : whole.split('/')) {
    if (name.isEmpty() || name == ".") continue;
    if (name == "..") {
      if (!kept.isEmpty()) kept.removeLast();
      continue;
    }
    kept.append(name);
  }
  QByteArray resolved = '/' + kept.join('/');
  if (path.endsWith('/') && !kept.isEmpty()) resolved += '/';
  return resolved;
}

QByteArray WorkingFolder() {
  std::vector<char> buffer(4096);
  while (!::getcwd(buffer.data(), buffer.size())) {
    if (errno != ERANGE) return {};
    buffer.resize(buffer.size() * 2);
  }
  return QByteArray(buffer.data());
}

QByteArray ExecutablePath() {
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return QFile::encodeName(QCoreApplication::applicationFilePath());
    if (size_t(length) < buffer.size()) {
      const QByteArray path(buffer.data(), length);
      // A program file removed while it runs reads as "... (deleted)".
      if (path.endsWith(" (deleted)")) return QFile::encodeName(QCoreApplication::applicationFilePath());
      return path;
    }
    buffer.resize(buffer.size() * 2);
  }
}

QByteArray PathFromFileUrl(const QUrl& url) {
  if (!url.isLocalFile()) return {};
  // The fully encoded form keeps escapes of bytes that are not UTF-8.
  return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
}

}  // namespace yuragi
