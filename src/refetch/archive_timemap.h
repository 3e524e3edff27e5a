#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace yuragi {

inline constexpr size_t kTimeMapCap = size_t(4) << 20;  // bytes of a TimeMap read at most
inline constexpr size_t kCapturesConsidered = 50;

// The captures a TimeMap in link format (RFC 7089) lists, that is the
// links whose rel holds "memento", as 14-digit UTC times YYYYMMDDhhmmss:
// newest first, each time once, at most `most` of them. A link without a
// datetime that reads as an HTTP date is left out. With cut, the text
// stopped at a size cap and an entry that runs into its end is dropped.
std::vector<std::string> ParseTimeMap(std::string_view text, bool cut, size_t most = kCapturesConsidered);

// "Tue, 20 Jun 2000 18:02:59 GMT" as "20000620180259"; empty when it is no date.
std::string CaptureTimeOf(std::string_view httpDate);

}  // namespace yuragi
