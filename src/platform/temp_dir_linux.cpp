#include "platform/temp_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/paths.h"

namespace yuragi {

namespace {

bool IsPrivateFolder(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 0077) == 0;
}

QString WithSlash(QString path) {
  if (!path.endsWith(QLatin1Char('/'))) path += QLatin1Char('/');
  return path;
}

}  // namespace

QString PrivateTempDir() {
  static const QString dir = [] {
    const QString base = QDir::tempPath();
    const QString wanted = WithSlash(base) + QStringLiteral("yuragimaru-") + QString::number(::getuid());
    const std::string native = NativePath(wanted);
    if (::mkdir(native.c_str(), 0700) != 0 && errno != EEXIST) {
      // fall through to the check, which then fails
    }
    if (IsPrivateFolder(native)) return WithSlash(wanted);
    // Someone else owns the usual name: take a fresh one.
    std::string pattern = native + "-XXXXXX";
    if (::mkdtemp(pattern.data())) return WithSlash(DisplayPath(pattern));
    return WithSlash(base);
  }();
  return dir;
}

QString RuntimeDir() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime && IsPrivateFolder(runtime)) return WithSlash(QString::fromLocal8Bit(runtime));
  return PrivateTempDir();
}

}  // namespace yuragi
