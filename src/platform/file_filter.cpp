#include "platform/file_filter.h"

namespace yuragi {

QStringList ToNameFilters(const QString& filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList out;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString& description = parts[i];
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    const QString tail = QLatin1Char('(') + patterns + QLatin1Char(')');
    out << (description.endsWith(tail) ? description : description + QLatin1Char(' ') + tail);
  }
  return out;
}

}  // namespace yuragi
