#include "formats/time_format.h"

#include <QLocale>

namespace yuragi {

namespace {

// The locale's time with seconds: Qt's long formats carry the time zone
// and, for Japanese, kanji units, so seconds are added to the short form.
QString TimeWithSeconds(const QLocale& locale) {
  QString format = locale.timeFormat(QLocale::ShortFormat);
  if (format.contains(QLatin1Char('s'))) return format;
  const qsizetype minutes = format.lastIndexOf(QLatin1String("mm"));
  if (minutes < 0) return locale.timeFormat(QLocale::LongFormat);
  format.insert(minutes + 2, QLatin1String(":ss"));
  return format;
}

}  // namespace

QString FormatFileTime(const QDateTime& local) {
  const QLocale locale;
  QString text = locale.toString(local.date(), QLocale::ShortFormat);
  if (local.time() != QTime(0, 0, 0)) {
    text += QLatin1Char(' ');
    text += locale.toString(local.time(), TimeWithSeconds(locale));
  }
  return text;
}

QString FormatFileTime(std::time_t when) {
  return FormatFileTime(QDateTime::fromSecsSinceEpoch(qint64(when)));
}

QString FormatClock(const QDateTime& local) {
  return QLocale().toString(local, QStringLiteral("yyyy/MM/dd(ddd) HH:mm:ss"));
}

QString FormatTempStamp(const QDateTime& local) {
  return local.toString(QStringLiteral("'$'yyyyMMdd-HHmmsszzz"));
}

QString FormatIsoLocal(std::time_t when) {
  return QDateTime::fromSecsSinceEpoch(qint64(when)).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

}  // namespace yuragi
