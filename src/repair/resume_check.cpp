#include "repair/resume_check.h"

#include <charconv>

namespace yuragi {

namespace {

bool ReadNumber(std::string_view& text, uint64_t& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end == text.data()) return false;
  text.remove_prefix(size_t(end - text.data()));
  return true;
}

bool Skip(std::string_view& text, char c) {
  if (text.empty() || text.front() != c) return false;
  text.remove_prefix(1);
  return true;
}

void TrimBlanks(std::string_view& text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n')) {
    text.remove_suffix(1);
  }
}

}  // namespace

std::optional<uint64_t> RangeStartFor(uint64_t localSize) {
  if (localSize <= kRangeOverlap) return std::nullopt;
  return localSize - kRangeOverlap;
}

std::optional<ContentRange> ParseContentRange(std::string_view value) {
  TrimBlanks(value);
  if (value.size() < 6 || value.substr(0, 6) != "bytes ") return std::nullopt;
  value.remove_prefix(6);
  TrimBlanks(value);
  ContentRange range;
  if (!ReadNumber(value, range.first) || !Skip(value, '-') || !ReadNumber(value, range.last) || !Skip(value, '/') ||
      !ReadNumber(value, range.total) || !value.empty()) {
    return std::nullopt;
  }
  if (range.first > range.last || range.last >= range.total) return std::nullopt;
  return range;
}

bool PartialFits(const std::string& local, uint64_t start, const ContentRange& range, const std::string& body) {
  return PartialFits(local, start, range, std::string_view(body), body.size());
}

bool PartialFits(const std::string& local, uint64_t start, const ContentRange& range, std::string_view head,
                 uint64_t bodySize) {
  const uint64_t localSize = local.size();
  if (start >= localSize || range.first != start) return false;
  if (range.total <= localSize || range.last + 1 != range.total) return false;
  if (bodySize != range.total - range.first) return false;
  const uint64_t overlap = localSize - start;
  if (head.size() < overlap) return false;
  return head.substr(0, size_t(overlap)) == std::string_view(local).substr(size_t(start), size_t(overlap));
}

}  // namespace yuragi
