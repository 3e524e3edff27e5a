#pragma once

#include <optional>
#include <string>

namespace yuragi {

enum class Verdict {
  Good,        // a complete JPEG that continues the cut file
  GoodChanged, // a complete JPEG, another picture (accepted on request)
  Empty,
  Html,
  NotJpeg,
  Smaller,     // no longer than the cut file
  Changed,     // another picture under the same address
  Incomplete,  // a JPEG, but itself cut short
};

struct Verification {
  Verdict verdict = Verdict::Good;
  std::string detail;
};

// Whether fresh may replace the cut file local: a JPEG that ends in the end
// marker, decodes without running out of data, and starts with every byte
// of the cut file (unless another picture is accepted).
Verification VerifyFetched(const std::string& local, const std::string& fresh, const std::string& contentType,
                           bool acceptChanged);

// The cut file with the end marker appended, when the closed picture
// decodes to the same pixels as the cut one; nothing otherwise.
std::optional<std::string> CloseWithEndMarker(const std::string& local, std::string* detail);

}  // namespace yuragi
