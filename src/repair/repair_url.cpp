#include "repair/repair_url.h"

#include <QString>
#include <cstdio>

#include "detect/scan_report.h"
#include "refetch/download.h"
#include "refetch/source_url.h"

namespace yuragi {

std::string SourceUrlOfPath(const std::string& nativePath) {
  std::string text;
  text.reserve(nativePath.size());
  const auto* p = reinterpret_cast<const unsigned char*>(nativePath.data());
  size_t i = 0;
  while (i < nativePath.size()) {
    const size_t length = Utf8Length(p + i, nativePath.size() - i);
    if (length == 0) {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", p[i]);
      text += escaped;
      ++i;
    } else {
      text.append(nativePath, i, length);
      i += length;
    }
  }
  return BuildSourceUrl(QString::fromUtf8(text.data(), qsizetype(text.size()))).toUtf8().toStdString();
}

std::string RequestUrlOf(const std::string& sourceUrl) {
  return WireUrl(QString::fromUtf8(sourceUrl.data(), qsizetype(sourceUrl.size())));
}

std::string HostKeyOf(const std::string& url) {
  const size_t scheme = url.find("://");
  const size_t start = scheme == std::string::npos ? 0 : scheme + 3;
  const size_t end = url.find_first_of("/?#", start);
  std::string host = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
  for (char& c : host) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return host;
}

}  // namespace yuragi
