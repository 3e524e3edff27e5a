#include "refetch/source_url.h"

#include <QList>

#include "platform/paths.h"

namespace yuragi {

namespace {

// Lead bytes of a two-byte Shift-JIS character, whose second byte may be
// the code of "\".
bool IsShiftJisLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

void AppendEscape(QString& text, unsigned char c) {
  static const char hex[] = "0123456789ABCDEF";
  text += QLatin1Char('%');
  text += QLatin1Char(hex[c >> 4]);
  text += QLatin1Char(hex[c & 15]);
}

}  // namespace

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

QString UrlTextOfPath(const QByteArray& path) {
  // A name that is not UTF-8 is escaped whole: decoding a part of it would
  // send characters the site never had.
  return PathText(path, [](QString& text, const QByteArray& name) {
    for (qsizetype i = 0; i < name.size(); ++i) {
      const auto c = static_cast<unsigned char>(name[i]);
      if (c < 0x80) {
        text += QLatin1Char(char(c));
        continue;
      }
      AppendEscape(text, c);
      // A Shift-JIS character such as 表 ends in the byte of a backslash:
      // it belongs to its character and must not become a separator.
      if (IsShiftJisLead(c) && i + 1 < name.size() && name[i + 1] == '\\') {
        AppendEscape(text, '\\');
        ++i;
      }
    }
  });
}

QString SourceUrlOfPath(const QByteArray& path) { return BuildSourceUrl(UrlTextOfPath(path)); }

}  // namespace yuragi
