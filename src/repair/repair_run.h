#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "repair/batch_fetch.h"
#include "repair/repair_report.h"

namespace yuragi {

struct RepairCandidate {
  std::string path;
  std::string root;  // the folder whose walk found it
  std::string note;  // why a file that ends in its end marker counts as cut
};

struct FindResult {
  std::vector<RepairCandidate> files;
  int64_t visited = 0;
};

// The files a detection run lists below each folder, in its order; with
// includeUndecodable also the ones without the end marker that do not decode;
// then the JPEGs HTTrack's cache says should be longer than they are.
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

// Fetches, checks and replaces every candidate; reports each as it ends.
// False only when the HTTP library cannot start (error says why).
bool RepairFiles(const std::vector<RepairCandidate>& files, const RepairOptions& options, const RepairHooks& hooks,
                 RepairTotals& totals, std::string* error);

}  // namespace yuragi
