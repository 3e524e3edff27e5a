#include "refetch/source_url.h"

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
  const auto* p = reinterpret_cast<const unsigned char*>(path.constData());
  const size_t size = size_t(path.size());
  QString text;
  size_t start = 0;  // of the UTF-8 run not yet decoded
  for (size_t i = 0; i < size;) {
    const size_t length = Utf8SequenceLength(p + i, size - i);
    if (length > 0) {
      i += length;
      continue;
    }
    text += QString::fromUtf8(path.constData() + start, qsizetype(i - start));
    AppendEscape(text, p[i]);
    // A Shift-JIS character such as 表 ends in the byte of "\": it belongs
    // to its character and must not become a separator.
    if (IsShiftJisLead(p[i]) && i + 1 < size && p[i + 1] == '\\') AppendEscape(text, p[++i]);
    start = ++i;
  }
  text += QString::fromUtf8(path.constData() + start, qsizetype(size - start));
  return text;
}

QString SourceUrlOfPath(const QByteArray& path) { return BuildSourceUrl(UrlTextOfPath(path)); }

}  // namespace yuragi
