#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "repair/batch_fetch.h"
#include "repair/repair_report.h"

namespace yuragi {

struct RepairCandidate {
  std::string path;
  // The folder whose walk found it: the save walks down from here again.
  // A path not below it is saved from the folder holding it.
  std::string root;
};

struct UnreadableFolder {
  std::string path;
  int error = 0;  // errno
};

struct FindResult {
  std::vector<RepairCandidate> files;
  int64_t visited = 0;
  std::vector<UnreadableFolder> unreadable;  // folders the walk could not enter
};

// The files a detection run lists below each folder, in its order; with
// includeUndecodable also the ones without the end marker that do not decode.
FindResult FindCutFiles(const std::vector<std::string>& folders, bool includeUndecodable,
                        const std::atomic<bool>& stop, const std::function<void(int64_t found, int64_t visited)>& progress);

struct RepairOptions {
  FetchSettings fetch;
  bool dryRun = false;
  bool closeUnfetchable = false;  // append the end marker where the server says 404 or 410
  std::string backupDir;          // empty: no copies of the cut files
};

struct RepairHooks {
  std::function<void(const ReportEntry&)> report;
  std::function<void(const FetchProgress&)> progress;
  const std::atomic<int>* interrupts = nullptr;
};

// One repair of a list of files: fetches, checks and replaces every
// candidate, reporting each as it ends. Driven by its engine's event loop
// (see FetchEngine): set the engine's watcher, then Start.
class RepairSession {
 public:
  // The totals start from initial (what the walk counted).
  RepairSession(std::vector<RepairCandidate> files, const RepairOptions& options, RepairHooks hooks,
                const RepairTotals& initial = {});
  ~RepairSession();
  RepairSession(const RepairSession&) = delete;
  RepairSession& operator=(const RepairSession&) = delete;

  // False only when the HTTP library cannot start (error says why).
  bool Start(std::string* error);
  FetchEngine& Engine();
  bool Finished() const;
  const RepairTotals& Totals() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// A RepairSession run to its end on the calling thread, watching
// hooks.interrupts. False only when the HTTP library cannot start.
bool RepairFiles(const std::vector<RepairCandidate>& files, const RepairOptions& options, const RepairHooks& hooks,
                 RepairTotals& totals, std::string* error);

}  // namespace yuragi
