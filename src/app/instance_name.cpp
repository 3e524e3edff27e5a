#include "app/instance_name.h"

namespace yuragi {

QString InstanceName(const QString& executablePath) {
  const QString name = executablePath.mid(executablePath.lastIndexOf(QLatin1Char('/')) + 1);
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  return dot < 0 ? name : name.left(dot);
}

QString DefaultApplicationTitle(const QString& executablePath) {
  QString name = executablePath.mid(executablePath.lastIndexOf(QLatin1Char('/')) + 1);
  const qsizetype dot = name.indexOf(QLatin1Char('.'));
  if (dot >= 0) name.truncate(dot);
  if (name.size() > 1) name = name.left(1) + name.mid(1).toLower();
  return name;
}

}  // namespace yuragi
