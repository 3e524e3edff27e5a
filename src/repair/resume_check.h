#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace yuragi {

// How many of the local file's last bytes a Range answer must repeat.
inline constexpr uint64_t kRangeOverlap = 4096;

// Where the Range request for the missing tail starts, a little before the
// local end; nothing when the local file is too small to be worth it.
std::optional<uint64_t> RangeStartFor(uint64_t localSize);

struct ContentRange {
  uint64_t first = 0;
  uint64_t last = 0;
  uint64_t total = 0;
};

// "bytes 100-199/200"; nothing for any other form (an unknown total too).
std::optional<ContentRange> ParseContentRange(std::string_view value);

// Whether a 206 answer to "Range: bytes=start-" continues the local file:
// it starts where asked, runs to the end of a file larger than the local
// one, and its first bytes equal the local file's last ones.
bool PartialFits(const std::string& local, uint64_t start, const ContentRange& range, const std::string& body);
// The same from the body's first bytes (at least the overlap) and its size.
bool PartialFits(const std::string& local, uint64_t start, const ContentRange& range, std::string_view head,
                 uint64_t bodySize);

}  // namespace yuragi
