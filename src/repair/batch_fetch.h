#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/spool_file.h"

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
  uint64_t minSpeed = 1024;              // bytes a second, on average over each speedWindow
  long speedWindow = 60;                 // seconds
};

// The most transfers at once a caller may ask for.
inline constexpr int kMaxJobs = 64;
// How much of an error page is read before the transfer is stopped.
inline constexpr uint64_t kErrorBodyLimit = 4096;

struct FetchItem {
  std::string url;   // as sent
  std::string path;  // the cut file, read when its transfer starts
  // Asked instead when url answers 400 or more; empty: none.
  std::string fallbackUrl;
};

enum class FetchEnd {
  Received,     // a 2xx body (for a resume: the whole new file)
  HttpStatus,   // an answer of 300 or more
  Failed,       // the transfer broke, timed out or was refused
  Changed,      // the body stopped matching the local file; dropped early
  TooLarge,
  TooSlow,      // below the minimum speed, or past the file's deadline
  Unreadable,   // the local file could not be read
  Interrupted,  // abandoned by the second interrupt
  NotStarted,   // never started because of an interrupt
};

struct FetchOutcome {
  FetchEnd end = FetchEnd::NotStarted;
  long status = 0;
  std::string local;  // the cut file as read when the transfer started
  // The new file's bytes (for a resume: the whole new file), in a private
  // temporary file; set only for Received.
  std::unique_ptr<SpoolFile> body;
  uint64_t received = 0;  // body bytes over the wire, every attempt counted
  uint64_t saved = 0;     // bytes a Range request did not have to fetch again
  bool resumed = false;
  long firstStatus = 0;  // when the fallback URL was asked: what the first one answered
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
  // Called as each item ends, in the order they end, from inside the
  // engine's calls (Start, OnSocket, OnTimer, Interrupt). The engine must
  // not be destroyed from inside a hook.
  std::function<void(size_t index, FetchOutcome&& outcome)> finished;
  // When set, reads item index's cut file instead of a plain read of its
  // path (false with the reason in *error).
  std::function<bool(size_t index, std::string& bytes, std::string* error)> readLocal;
  // Called after every round of work (callers throttle what they show).
  std::function<void(const FetchProgress&)> progress;
  // Work that finished handed on to another thread comes back here: the
  // engine watches wakeFd (when not -1) beside its sockets and calls
  // collect when it is readable and after every round. The engine is not
  // finished while collect returns true (work still outstanding).
  int wakeFd = -1;
  std::function<bool()> collect;
  // Read by FetchAll only: 0 runs; 1 starts nothing new, lets running
  // transfers end; 2 abandons them. An engine driven from outside is told
  // through Interrupt.
  const std::atomic<int>* interrupts = nullptr;
};

// What FetchWatcher::socket is asked to watch (libcurl's CURL_POLL_*).
inline constexpr int kWatchIn = 1;
inline constexpr int kWatchOut = 2;
inline constexpr int kWatchInOut = 3;
inline constexpr int kWatchRemove = 4;
// What OnSocket is told happened (libcurl's CURL_CSELECT_*).
inline constexpr int kSocketIn = 1;
inline constexpr int kSocketOut = 2;
inline constexpr int kSocketError = 4;

// How the engine asks its driver to wait: for a socket, and for a time.
struct FetchWatcher {
  // what = kWatchIn/Out/InOut (CURL_POLL_IN/OUT/INOUT), or kWatchRemove
  // (CURL_POLL_REMOVE) when the socket is no longer to be watched.
  std::function<void(int fd, int what)> socket;
  // Call OnTimer after ms milliseconds (0: as soon as possible; -1: no
  // timer). Each call replaces the one before.
  std::function<void(long ms)> timer;
};

// Fetches every item over one libcurl multi handle, driven by an event
// loop: the driver watches what the watcher asks for and calls OnSocket
// and OnTimer. Everything runs on the driver's thread.
class FetchEngine {
 public:
  FetchEngine(std::vector<FetchItem> items, const FetchSettings& settings, FetchHooks hooks);
  // Abandons running transfers without reporting them; the watcher may
  // still be called here (kWatchRemove), so it must outlive the engine or
  // be replaced by an empty one first.
  ~FetchEngine();
  FetchEngine(const FetchEngine&) = delete;
  FetchEngine& operator=(const FetchEngine&) = delete;

  void SetWatcher(FetchWatcher watcher);  // before Start
  // False (with the reason) only when the HTTP library itself cannot start.
  bool Start(std::string* error);
  void OnSocket(int fd, int events);  // events: kSocketIn|Out|Error (CURL_CSELECT_*)
  void OnTimer();
  // 1 starts nothing new and lets running transfers end; 2 abandons them.
  // Levels only rise. Items not started are reported as NotStarted.
  void Interrupt(int level);
  // Every item has been reported (or Start failed).
  bool Finished() const;
  const FetchProgress& Progress() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// Drives an engine with poll() on the calling thread: set up before the
// engine's Start, then Run until every item is reported.
class FetchPollLoop {
 public:
  explicit FetchPollLoop(FetchEngine& engine);
  ~FetchPollLoop();
  FetchPollLoop(const FetchPollLoop&) = delete;
  FetchPollLoop& operator=(const FetchPollLoop&) = delete;
  // Passes the level of interrupts (when given) on to the engine. False
  // (with the reason) only when waiting itself fails.
  bool Run(const std::atomic<int>* interrupts, std::string* error);

 private:
  struct State;
  FetchEngine& engine_;
  std::unique_ptr<State> state_;
};

// A FetchEngine run to its end by a FetchPollLoop, watching
// hooks.interrupts. Returns false (with the reason) only when the HTTP
// library itself cannot start or waiting fails.
bool FetchAll(const std::vector<FetchItem>& items, const FetchSettings& settings, const FetchHooks& hooks,
              std::string* error);

}  // namespace yuragi
