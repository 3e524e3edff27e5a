#include "formats/number_format.h"

#include <QLocale>

namespace yuragi {

namespace {

QString Grouped(int64_t value) {
  const QString separator = QLocale().groupSeparator();
  const bool negative = value < 0;
  // Work on the unsigned magnitude so INT64_MIN does not overflow.
  uint64_t magnitude = negative ? uint64_t(0) - uint64_t(value) : uint64_t(value);
  QString digits = QString::number(magnitude);
  QString out;
  out.reserve(digits.size() + digits.size() / 3 * separator.size() + 1);
  const qsizetype lead = digits.size() % 3 == 0 ? 3 : digits.size() % 3;
  out += digits.left(lead);
  for (qsizetype i = lead; i < digits.size(); i += 3) {
    out += separator;
    out += digits.mid(i, 3);
  }
  return negative ? QLatin1Char('-') + out : out;
}

}  // namespace

QString FormatNumber(int64_t value, NumberPattern pattern) {
  switch (pattern) {
    case NumberPattern::LeadingBlank:
      return QLatin1Char(' ') + Grouped(value);
    case NumberPattern::OfTotal:
      return QStringLiteral(" / ") + Grouped(value);
    case NumberPattern::Grouped:
    case NumberPattern::Bytes:
      break;
  }
  return Grouped(value);
}

QString FormatByteSize(int64_t bytes) {
  return FormatNumber(bytes, NumberPattern::Bytes) + QStringLiteral("バイト");
}

}  // namespace yuragi
