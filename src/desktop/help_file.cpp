#include "desktop/help_file.h"

#include <sys/stat.h>

#include <QFile>

namespace yuragi {
namespace {

bool IsFile(const QByteArray& path) {
  struct stat info {};
  return !path.isEmpty() && ::stat(path.constData(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

QByteArray HelpFileBeside(const QByteArray& executable) {
  const qsizetype slash = executable.lastIndexOf('/');
  const qsizetype dot = executable.lastIndexOf('.');
  const QByteArray stem = dot > slash ? executable.left(dot) : executable;
  return stem + ".html";
}

QByteArray FindHelpFile(const QByteArray& executable) {
  const QByteArray beside = HelpFileBeside(executable);
  if (IsFile(beside)) return beside;
  // The installed tree relative to the program first: a package may put
  // the tree under another prefix than the build was configured for.
  const QByteArray folder = executable.left(executable.lastIndexOf('/') + 1);
  if (!folder.isEmpty()) {
    const QByteArray relative = folder + YURAGI_DOC_FROM_BIN "/yuragimaru.html";
    if (IsFile(relative)) return relative;
  }
  const QByteArray installed = QByteArrayLiteral(YURAGI_DOC_DIR "/yuragimaru.html");
  if (IsFile(installed)) return installed;
  return {};
}

}  // namespace yuragi
