#include "platform/http_header_lines.h"

#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <string>

namespace yuragi {

long StatusLineCode(std::string_view line) {
  if (line.size() < 12 || !line.starts_with("HTTP/")) return 0;
  const size_t space = line.find(' ');
  if (space == std::string_view::npos || space + 4 > line.size()) return 0;
  long code = 0;
  for (size_t i = 1; i <= 3; ++i) {
    const char digit = line[space + i];
    if (digit < '0' || digit > '9') return 0;
    code = code * 10 + (digit - '0');
  }
  return code;
}

bool HeaderBlocks::Take(std::string_view line) {
  if (const long status = StatusLineCode(line)) {
    status_ = status;
    sawLocation_ = false;
  }
  if (line.size() >= 9 && strncasecmp(line.data(), "location:", 9) == 0) sawLocation_ = true;
  const bool blank = line == "\r\n" || line == "\n";
  if (!blank) return false;
  const long code = status_;
  status_ = 0;
  const bool interim = code >= 100 && code < 200;
  const bool redirect = code >= 300 && code < 400 && sawLocation_;
  return code != 0 && !interim && !redirect;
}

std::optional<HeaderField> SplitHeaderLine(std::string_view line) {
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::string_view value = line.substr(colon + 1);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' ')) {
    value.remove_suffix(1);
  }
  return HeaderField{line.substr(0, colon), value};
}

bool HeaderNameIs(std::string_view name, std::string_view wanted) {
  return name.size() == wanted.size() && strncasecmp(name.data(), wanted.data(), name.size()) == 0;
}

std::optional<time_t> HttpDate(std::string_view text) {
  if (text.empty() || text.size() > 64) return std::nullopt;
  const std::string terminated(text);
  const time_t when = curl_getdate(terminated.c_str(), nullptr);
  if (when < 0) return std::nullopt;
  return when;
}

std::optional<long> RetryAfterSeconds(std::string_view value) {
  if (value.empty()) return std::nullopt;
  if (value.find_first_not_of("0123456789") == std::string_view::npos) {
    return value.size() > 9 ? 999'999'999L : std::stol(std::string(value));
  }
  const std::optional<time_t> when = HttpDate(value);
  if (!when) return std::nullopt;
  return std::max<long>(0, long(*when - std::time(nullptr)));
}

}  // namespace yuragi
