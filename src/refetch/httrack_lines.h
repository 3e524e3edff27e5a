#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace yuragi {

// What HTTrack's cache says about one URL.
struct HttrackRecord {
  std::string url;
  std::string local;  // X-Save, or the local file column of new.txt
  std::optional<uint64_t> size;  // the size HTTrack expected
  long status = 0;
};

// The header lines HTTrack keeps in a new.zip entry's local extra field
// ("X-Save: host_port/img/a.jpg\r\n", "X-Size: 336", "X-StatusCode: 200").
// The URL is the entry's name and is not set here.
HttrackRecord ParseHttrackHeaders(std::string_view lines);

// One line of new.txt: date, size/remote size, flags, status code, status,
// type, etag or date, URL, local file, referrer; TAB-separated. Nothing for
// the heading line and for broken lines.
std::optional<HttrackRecord> ParseHttrackLogLine(std::string_view line);

}  // namespace yuragi
