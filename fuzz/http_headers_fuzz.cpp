// A server's response headers, every block of them in one buffer, taken a
// line at a time as the HTTP library hands them over.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/http_header_lines.h"
#include "repair/resume_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  yuragi::HeaderBlocks blocks;
  std::string contentRange;
  size_t at = 0;
  while (at < all.size()) {
    size_t end = all.find('\n', at);
    end = end == std::string_view::npos ? all.size() : end + 1;
    const std::string_view line = all.substr(at, end - at);
    at = end;
    blocks.Take(line);
    if (const long status = yuragi::StatusLineCode(line); status < 0 || status > 999) std::abort();
    if (const auto field = yuragi::SplitHeaderLine(line)) {
      if (field->name.size() + field->value.size() >= line.size()) std::abort();
      if (yuragi::HeaderNameIs(field->name, "Content-Range")) contentRange.assign(field->value);
    }
  }
  const auto range = yuragi::ParseContentRange(contentRange);
  if (range && (range->first > range->last || range->last >= range->total)) std::abort();
  if (range) {
    // The body and the local file are the buffer itself: any sizes at all.
    const std::string local(all);
    const uint64_t start = yuragi::RangeStartFor(local.size()).value_or(0);
    yuragi::PartialFits(local, start, *range, local);
  }
  return 0;
}
