#include "repair/repair_url.h"

#include <QByteArray>
#include <QString>

#include "refetch/download.h"
#include "refetch/source_url.h"

namespace yuragi {

std::string SourceUrlOfPath(const std::string& nativePath) {
  return SourceUrlOfPath(QByteArray::fromStdString(nativePath)).toUtf8().toStdString();
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
