#include "platform/temp_dir.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstdlib>
#include <mutex>
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

int RemoveEntry(const char* path, const struct stat*, int kind, struct FTW*) {
  // Failures are left be: the walk goes on with the rest.
  if (kind == FTW_DP) {
    ::rmdir(path);
  } else {
    ::unlink(path);
  }
  return 0;
}

// The folder taken when someone else holds the usual name: one per
// process, made when first needed (again if it was cleaned away) and
// removed with everything in it when the process ends.
class FallbackFolder {
 public:
  ~FallbackFolder() {
    if (!path_.empty()) ::nftw(path_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  }
  std::string Get(const std::string& base) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!path_.empty() && IsPrivateFolder(path_)) return path_;
    if (!path_.empty() && ::mkdir(path_.c_str(), 0700) == 0 && IsPrivateFolder(path_)) return path_;
    std::string pattern = base + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) return std::string();
    path_ = pattern;
    return path_;
  }

 private:
  std::mutex mutex_;
  std::string path_;
};

}  // namespace

QByteArray PrivateTempDir() {
  // Checked on every use: the system may clean the temporary folder while
  // the program runs.
  const QByteArray base = QFile::encodeName(QDir::tempPath());
  const QByteArray wanted = WithSlash(base) + "yuragimaru-" + QByteArray::number(::getuid());
  const std::string native = wanted.toStdString();
  if (::mkdir(native.c_str(), 0700) != 0 && errno != EEXIST) {
    // fall through to the check, which then fails
  }
  if (IsPrivateFolder(native)) return WithSlash(wanted);
  static FallbackFolder fallback;
  const std::string other = fallback.Get(native);
  if (!other.empty()) return WithSlash(QByteArray::fromStdString(other));
  return WithSlash(base);
}

QString RuntimeDir() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime && IsPrivateFolder(runtime)) return QFile::decodeName(WithSlash(runtime));
  return QFile::decodeName(PrivateTempDir());
}

}  // namespace yuragi
