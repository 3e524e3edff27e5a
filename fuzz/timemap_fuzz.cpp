// An archive's TimeMap in link format, as the archive client reads it.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <limits>
#include <string>
#include <string_view>

#include "refetch/archive_timemap.h"

namespace {

void CheckTimes(const std::vector<std::string>& times, size_t most) {
  if (times.size() > most) std::abort();
  for (const std::string& time : times) {
    if (time.size() != 14 || !std::all_of(time.begin(), time.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      std::abort();
    }
  }
  // Newest first, each time once.
  if (std::adjacent_find(times.begin(), times.end(), std::less_equal<>()) != times.end()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const size_t all = std::numeric_limits<size_t>::max();
  const std::vector<std::string> whole = yuragi::ParseTimeMap(text, false, all);
  const std::vector<std::string> cut = yuragi::ParseTimeMap(text, true, all);
  const std::vector<std::string> fifty = yuragi::ParseTimeMap(text, false);
  CheckTimes(whole, all);
  CheckTimes(cut, all);
  CheckTimes(fifty, yuragi::kCapturesConsidered);
  // A cut text only loses links; the fifty are the newest of all.
  if (!std::includes(whole.begin(), whole.end(), cut.begin(), cut.end(), std::greater<>())) std::abort();
  if (!std::equal(fifty.begin(), fifty.end(), whole.begin())) std::abort();
  const std::string time = yuragi::CaptureTimeOf(text.substr(0, 80));
  if (!time.empty()) CheckTimes({time}, 1);
  return 0;
}
