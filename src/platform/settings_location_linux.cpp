#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cstdlib>

#include "platform/settings_location.h"

namespace yuragi {

namespace {

QByteArray WithSlash(QByteArray path) {
  if (!path.endsWith('/')) path += '/';
  return path;
}

// Root can write the system's program folders, yet a program installed
// there keeps its settings per user like any installed program.
bool IsSystemProgramFolder(const QByteArray& folder) {
  for (const char* system : {"/usr/bin/", "/usr/local/bin/", "/bin/", "/usr/sbin/", "/usr/local/sbin/", "/sbin/",
                             "/usr/games/", "/usr/local/games/", YURAGI_BIN_DIR "/"}) {
    if (folder == system) return true;
  }
  return false;
}

// A program unpacked into a folder of its own keeps its files there.
bool KeepsFilesBeside(const QByteArray& folder) {
  return !folder.isEmpty() && !IsSystemProgramFolder(folder) && ::access(folder.constData(), W_OK) == 0;
}

}  // namespace

QByteArray DefaultStartFolder(const QByteArray& executable) {
  const QByteArray folder = executable.left(executable.lastIndexOf('/') + 1);
  if (KeepsFilesBeside(folder)) return folder;
  // An installed program's folder holds no pictures: the user's own folders do.
  for (const QString& candidate :
       {QStandardPaths::writableLocation(QStandardPaths::PicturesLocation), QDir::homePath()}) {
    if (!candidate.isEmpty() && QFileInfo(candidate).isDir()) return WithSlash(QFile::encodeName(candidate));
  }
  return folder;
}

QByteArray ConfigHome() {
  // The base directory rules: a relative value is invalid and ignored.
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') return WithSlash(config);
  const char* home = std::getenv("HOME");
  const QByteArray base = home && home[0] == '/' ? QByteArray(home) : QFile::encodeName(QDir::homePath());
  return WithSlash(base) + ".config/";
}

QByteArray SettingsFilePath(const QByteArray& executable) {
  const qsizetype slash = executable.lastIndexOf('/');
  const QByteArray folder = executable.left(slash + 1);
  QByteArray name = executable.mid(slash + 1);
  const qsizetype dot = name.lastIndexOf('.');
  if (dot >= 0) name.truncate(dot);
  name += ".ini";
  if (KeepsFilesBeside(folder)) return folder + name;
  return ConfigHome() + "yuragimaru/" + name;
}

}  // namespace yuragi
