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
  Same,        // the very bytes of the file
  Smaller,     // shorter than the cut file, and its beginning
  Changed,     // another picture under the same address
  Incomplete,  // a JPEG, but itself cut short
  Corrupt,     // complete length, but the decode was not clean
};

struct Verification {
  Verdict verdict = Verdict::Good;
  std::string detail;
};

// Whether fresh may replace the cut file local: a JPEG that starts with
// every byte of the cut file (unless another picture is accepted) and
// decodes cleanly: no warning of any kind, the end marker where the data
// ends, or followed only by bytes the cut file already had. Decoded at 1/8
// scale, which still reads every byte of the picture's data.
Verification VerifyFetched(const std::string& local, const std::string& fresh, const std::string& contentType,
                           bool acceptChanged);
// The same for a body in a file, read a block at a time through the
// decoder's own file reading, never whole into memory. The descriptor is
// read with pread and left open.
Verification VerifyFetchedFile(const std::string& local, int freshFd, const std::string& contentType,
                               bool acceptChanged);
Verification VerifyFetchedFile(const std::string& local, const std::string& freshPath, const std::string& contentType,
                               bool acceptChanged);

// The cut file with the end marker appended, when the closed picture
// decodes to the same pixels as the cut one; nothing otherwise.
std::optional<std::string> CloseWithEndMarker(const std::string& local, std::string* detail);

}  // namespace yuragi
