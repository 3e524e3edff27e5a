#include "refetch/source_url.h"

namespace yuragi {

QString NormalizeSlashes(const QString& path) {
  QString text = path;
  text.replace(QChar(0xFF0F), QLatin1Char('/'));
  text.replace(QLatin1Char('\\'), QLatin1Char('/'));
  return text;
}

QString BuildSourceUrl(const QString& path) {
  QString rest = NormalizeSlashes(path);
  QString segment = QStringLiteral("/");
  while (!segment.contains(QLatin1Char('.')) && !segment.isEmpty()) {
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    const qsizetype take = slash < 0 ? 0 : slash + 1;
    segment = rest.left(take);
    rest.remove(0, take);
    if (rest.startsWith(QLatin1Char('/'))) rest.remove(0, 1);
  }
  QString url = QStringLiteral("http://") + segment + rest;
  if (url.endsWith(QLatin1Char('/'))) url.chop(1);
  return url;
}

}  // namespace yuragi
