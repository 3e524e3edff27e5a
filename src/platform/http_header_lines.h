#pragma once

#include <ctime>
#include <optional>
#include <string_view>

namespace yuragi {

// The status of a status line ("HTTP/1.1 404 Not Found"), 0 when it is none.
long StatusLineCode(std::string_view line);

// Follows the header lines of one transfer, interim answers and redirects
// included, one line at a time as the HTTP library hands them over.
class HeaderBlocks {
 public:
  // True when this line is the blank one ending the final response's headers.
  bool Take(std::string_view line);

 private:
  long status_ = 0;  // status line of the block now arriving
  bool sawLocation_ = false;
};

// "Name: value" with the blanks around the value and the line end dropped.
struct HeaderField {
  std::string_view name;
  std::string_view value;
};
std::optional<HeaderField> SplitHeaderLine(std::string_view line);

// Header names match without regard to ASCII case.
bool HeaderNameIs(std::string_view name, std::string_view wanted);

// An HTTP date (RFC 1123, and the older forms RFC 9110 asks to accept);
// nothing when it is none.
std::optional<time_t> HttpDate(std::string_view text);

// Retry-After as seconds from now: a number of seconds (longer ones held at
// 999,999,999), or an HTTP date (a past one gives 0); nothing when absent
// or unreadable.
std::optional<long> RetryAfterSeconds(std::string_view value);

}  // namespace yuragi
