// A mirrored file's path bytes: the URL rule and the URL as it is sent.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <QByteArray>
#include <QString>

#include "refetch/download.h"
#include "refetch/source_url.h"

namespace {

bool IsHex(char c) { return std::strchr("0123456789ABCDEFabcdef", c) != nullptr && c != '\0'; }

// Printable ASCII a URL may carry as it is; "%" only before two hex digits.
bool UrlSafe(const std::string& url) {
  for (size_t i = 0; i < url.size(); ++i) {
    const auto c = static_cast<unsigned char>(url[i]);
    if (c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}", c) != nullptr) return false;
    if (c == '%' && (i + 2 >= url.size() || !IsHex(url[i + 1]) || !IsHex(url[i + 2]))) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray path(reinterpret_cast<const char*>(data), qsizetype(size));
  const QString url = yuragi::SourceUrlOfPath(path);
  if (!UrlSafe(yuragi::WireUrl(url))) std::abort();
  // The URL box may hold any text the user typed, too.
  const QString typed = QString::fromUtf8(path);
  if (!UrlSafe(yuragi::WireUrl(yuragi::DownloadUrl(typed)))) std::abort();
  yuragi::UrlFileNameOf(url);
  return 0;
}
