#include "detect/fit_path.h"

namespace yuragi {

QString FitPathToWidth(const QString& path, const std::function<int(const QString&)>& measure, int maxWidth) {
  const QString ellipsis = QStringLiteral(".../");
  const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  QString folder = path.left(slash + 1);
  const QString name = path.mid(slash + 1);
  QString result = path;
  while (!folder.isEmpty() && measure(result) > maxWidth) {
    if (folder == QLatin1String("/.../")) {
      folder = ellipsis;
    } else if (folder == QLatin1String("/")) {
      folder.clear();
    } else {
      const bool rooted = folder.startsWith(QLatin1Char('/'));
      if (rooted) folder.remove(0, 1);
      if (folder.startsWith(QLatin1Char('.'))) folder.remove(0, 4);
      const qsizetype next = folder.indexOf(QLatin1Char('/'));
      folder = next < 0 ? QString() : ellipsis + folder.mid(next + 1);
      if (rooted) folder.prepend(QLatin1Char('/'));
    }
    result = folder + name;
  }
  return result;
}

}  // namespace yuragi
