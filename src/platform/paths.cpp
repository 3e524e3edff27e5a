#include "platform/paths.h"

#include <QFile>

namespace yuragi {

QString FolderPart(const QString& path) {
  return path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString FileNamePart(const QString& path) {
  return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString ExtensionPart(const QString& path) {
  const QString name = FileNamePart(path);
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  return dot < 0 ? QString() : name.mid(dot);
}

QString ChangeExtension(const QString& path, const QString& extension) {
  const QString name = FileNamePart(path);
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  const QString stem = dot < 0 ? path : path.left(path.size() - name.size() + dot);
  return stem + extension;
}

std::string NativePath(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

QString DisplayPath(const std::string& nativePath) {
  return QFile::decodeName(QByteArray::fromStdString(nativePath));
}

}  // namespace yuragi
