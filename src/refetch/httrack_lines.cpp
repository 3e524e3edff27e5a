#include "refetch/httrack_lines.h"

#include <algorithm>
#include <charconv>
#include <vector>

#include "platform/http_header_lines.h"

namespace yuragi {

namespace {

template <typename T>
std::optional<T> NumberOf(std::string_view text) {
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

}  // namespace

HttrackRecord ParseHttrackHeaders(std::string_view lines) {
  HttrackRecord record;
  while (!lines.empty()) {
    const size_t end = lines.find('\n');
    const std::string_view line = lines.substr(0, end);
    lines.remove_prefix(end == std::string_view::npos ? lines.size() : end + 1);
    const std::optional<HeaderField> field = SplitHeaderLine(line);
    if (!field) continue;
    if (HeaderNameIs(field->name, "X-Save")) {
      // HTTrack writes no control bytes into a name; a value holding one
      // is damage and names no file.
      const bool damaged = std::any_of(field->value.begin(), field->value.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
      record.local = damaged ? std::string() : std::string(field->value);
    } else if (HeaderNameIs(field->name, "X-Size")) {
      record.size = NumberOf<uint64_t>(field->value);
    } else if (HeaderNameIs(field->name, "X-StatusCode")) {
      record.status = NumberOf<long>(field->value).value_or(0);
    }
  }
  return record;
}

std::optional<HttrackRecord> ParseHttrackLogLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::vector<std::string_view> columns;
  while (columns.size() < 10) {
    const size_t tab = line.find('\t');
    columns.push_back(line.substr(0, tab));
    if (tab == std::string_view::npos) break;
    line.remove_prefix(tab + 1);
  }
  if (columns.size() < 9) return std::nullopt;
  const std::optional<long> status = NumberOf<long>(columns[3]);
  if (!status || columns[7].empty()) return std::nullopt;
  HttrackRecord record;
  record.status = *status;
  record.url = std::string(columns[7]);
  record.local = std::string(columns[8]);
  // "size/remote size"; a remote size of 0 or less means the server gave none.
  const std::string_view sizes = columns[1];
  const size_t slash = sizes.find('/');
  if (slash != std::string_view::npos) {
    const std::optional<int64_t> remote = NumberOf<int64_t>(sizes.substr(slash + 1));
    if (remote && *remote > 0) record.size = uint64_t(*remote);
  }
  return record;
}

}  // namespace yuragi
