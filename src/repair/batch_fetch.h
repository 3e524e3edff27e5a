#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace yuragi {

struct FetchSettings {
  int jobs = 8;              // transfers at once
  int perHost = 2;           // of them to one host
  long connectTimeout = 30;  // seconds
  long stallTimeout = 60;    // seconds without a byte before a transfer is given up
  int retries = 2;           // extra tries after a broken transfer, a 429 or a 503
  bool acceptChanged = false;
  bool resume = true;                    // ask for the missing tail with Range
  uint64_t maxBody = uint64_t(256) << 20;  // far above any picture
  int maxRetryAfter = 120;               // seconds a 429/503 may ask us to wait
};

struct FetchItem {
  std::string url;   // as sent
  std::string path;  // the cut file, read when its transfer starts
};

enum class FetchEnd {
  Received,     // a 2xx body (for a resume: the whole new file)
  HttpStatus,   // an answer of 300 or more
  Failed,       // the transfer broke, timed out or was refused
  Changed,      // the body stopped matching the local file; dropped early
  TooLarge,
  Unreadable,   // the local file could not be read
  Interrupted,  // abandoned by the second interrupt
  NotStarted,   // never started because of an interrupt
};

struct FetchOutcome {
  FetchEnd end = FetchEnd::NotStarted;
  long status = 0;
  std::string local;  // the cut file as read when the transfer started
  std::string body;   // the new file's bytes
  uint64_t received = 0;  // body bytes over the wire, every attempt counted
  uint64_t saved = 0;     // bytes a Range request did not have to fetch again
  bool resumed = false;
  std::optional<std::time_t> lastModified;
  std::string contentType;
  std::string error;
};

struct FetchProgress {
  size_t finished = 0;
  size_t total = 0;
  uint64_t received = 0;
};

struct FetchHooks {
  // Called on the fetching thread as each item ends, in the order they end.
  std::function<void(size_t index, FetchOutcome&& outcome)> finished;
  // Called after every round of work (callers throttle what they show).
  std::function<void(const FetchProgress&)> progress;
  // 0 runs; 1 starts nothing new, lets running transfers end; 2 abandons them.
  const std::atomic<int>* interrupts = nullptr;
};

// Fetches every item over one libcurl multi handle. Returns false (with the
// reason) only when the HTTP library itself cannot start.
bool FetchAll(const std::vector<FetchItem>& items, const FetchSettings& settings, const FetchHooks& hooks,
              std::string* error);

}  // namespace yuragi
