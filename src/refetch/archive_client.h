#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace yuragi {

inline constexpr char kDefaultArchivePrefix[] = "https://web.archive.org/web/";

struct ArchiveSettings {
  std::string prefix;              // such as kDefaultArchivePrefix; empty: no archive
  double requestsPerSecond = 1;    // to one archive, the whole process counted
  int maxDownloads = 6;            // capture bodies fetched per file
  long stallSeconds = 60;          // slower than 1 KB/s for this long: the capture is given up
  uint64_t maxBody = uint64_t(256) << 20;
  int maxRetryAfter = 120;         // seconds a 429 may ask us to wait
};

// Why body may not replace the cut file although it starts with all its
// bytes and is longer; empty when it may.
using CaptureCheck = std::function<std::string(const std::string& body, const std::string& contentType)>;

struct ArchiveFind {
  bool found = false;
  std::string capture;  // the chosen capture's time, YYYYMMDDhhmmss
  std::string body;
  std::vector<std::string> skipped;  // "TIME reason" for each capture passed over, newest first
  std::string error;                 // why no capture was tried at all
  uint64_t received = 0;             // bytes over the wire, the TimeMap's included
  bool cancelled = false;
};

// Asks an archive PREFIX "timemap/link/" URL for the TimeMap (RFC 7089),
// then PREFIX TIME "id_/" URL for captures in raw form (the bytes as they
// were received, not rewritten for replay). One request at a time, spaced
// by the rate, with the agent "Quistrelle (+mailto:ADDRESS)": the About
// box's contact address lets an archive's operators reach us.
class ArchiveClient {
 public:
  using Step = std::function<void()>;
  using Check = std::function<bool()>;

  // wait is called while requests are waited for (the window processes
  // its messages there); cancelled ends the search as soon as it is true.
  explicit ArchiveClient(ArchiveSettings settings, Step wait = {}, Check cancelled = {});

  // Tries the newest captures of url (as sent) first and takes the first
  // whose body starts with every byte of local, is longer and passes
  // check. A body that stops matching local is dropped at once.
  ArchiveFind Find(const std::string& url, const std::string& local, const CaptureCheck& check);

 private:
  struct Answer;
  Answer Send(const std::string& url, uint64_t cap, ArchiveFind& find);
  bool WaitUntil(double seconds);
  bool Cancelled() const { return cancelled_ && cancelled_(); }
  std::string TryCapture(const std::string& time, const std::string& url, const std::string& local,
                         const CaptureCheck& check, ArchiveFind& find);

  ArchiveSettings settings_;
  Step wait_;
  Check cancelled_;
};

}  // namespace yuragi
