#include "platform/temp_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstdlib>
#include <string>

namespace yuragi {

namespace {

bool IsPrivateFolder(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 0077) == 0;
}

QByteArray WithSlash(QByteArray path) {
  if (!path.endsWith('/')) path += '/';
  return path;
}

}  // namespace

QByteArray PrivateTempDir() {
  static const QByteArray dir = [] {
    const QByteArray base = QFile::encodeName(QDir::tempPath());
    const QByteArray wanted = WithSlash(base) + "yuragimaru-" + QByteArray::number(::getuid());
    const std::string native = wanted.toStdString();
    if (::mkdir(native.c_str(), 0700) != 0 && errno != EEXIST) {
      // fall through to the check, which then fails
    }
    if (IsPrivateFolder(native)) return WithSlash(wanted);
    // Someone else owns the usual name: take a fresh one.
    std::string pattern = native + "-XXXXXX";
    if (::mkdtemp(pattern.data())) return WithSlash(QByteArray::fromStdString(pattern));
    return WithSlash(base);
  }();
  return dir;
}

QString RuntimeDir() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime && IsPrivateFolder(runtime)) return QFile::decodeName(WithSlash(runtime));
  return QFile::decodeName(PrivateTempDir());
}

}  // namespace yuragi
