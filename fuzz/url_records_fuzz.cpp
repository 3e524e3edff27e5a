// What mirroring tools record beside a file: HTTrack's cache header lines
// and log lines, a Windows download mark, a recorded URL.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include <QString>

#include "refetch/download.h"
#include "refetch/httrack_lines.h"
#include "refetch/recorded_url.h"

namespace {

bool IsHex(char c) { return c != '\0' && std::strchr("0123456789ABCDEFabcdef", c) != nullptr; }

// Printable ASCII a URL may carry as it is; "%" only before two hex digits.
bool UrlSafe(const std::string& url) {
  for (size_t i = 0; i < url.size(); ++i) {
    const auto c = static_cast<unsigned char>(url[i]);
    if (c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}#", c) != nullptr) return false;
    if (c == '%' && (i + 2 >= url.size() || !IsHex(url[i + 1]) || !IsHex(url[i + 2]))) return false;
  }
  return true;
}

bool Holds(std::string_view text, const char* bytes) { return text.find_first_of(bytes) != std::string_view::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  const yuragi::HttrackRecord headers = yuragi::ParseHttrackHeaders(all);
  if (Holds(headers.local, "\r\n")) std::abort();
  for (size_t at = 0; at < all.size();) {
    size_t end = all.find('\n', at);
    if (end == std::string_view::npos) end = all.size();
    if (const auto line = yuragi::ParseHttrackLogLine(all.substr(at, end - at))) {
      if (Holds(line->url, "\t\n") || Holds(line->local, "\t\n") || line->url.empty()) std::abort();
    }
    at = end + 1;
  }
  if (const auto host = yuragi::ZoneHostUrl(all); host && Holds(*host, "\n")) std::abort();
  if (!UrlSafe(yuragi::RecordedRequestUrl(all))) std::abort();
  if (yuragi::IsUsableRecordedUrl(all)) {
    const QString shown = yuragi::ReadableUrl(all);
    if (shown.isEmpty() || !UrlSafe(yuragi::WireUrl(shown))) std::abort();
  }
  return 0;
}
