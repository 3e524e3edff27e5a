#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "formats/picture_format.h"
#include "refetch/archive_client.h"
#include "formats/jpeg_decoder.h"
#include "repair/batch_fetch.h"
#include "repair/repair_report.h"

namespace yuragi {

struct RepairCandidate {
  std::string path;
  // The folder whose walk found it: the save walks down from here again.
  // A path not below it is saved from the folder holding it.
  std::string root;
  JpegEnd state = JpegEnd::Cut;  // as the walk's decode found it; undecodable files count as cut
  std::string stateDetail;       // what follows the end marker, or the decoder's warning
  std::string note;  // why a file that ends in its end marker counts as cut
  PictureFormat format = PictureFormat::Jpeg;  // as its content's signature says
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
// includeUndecodable also the ones without the end marker that do not decode;
// then the JPEGs HTTrack's cache says should be longer than they are.
// formats as the walk takes them (JPEG alone by default).
FindResult FindCutFiles(const std::vector<std::string>& folders, bool includeUndecodable,
                        const std::atomic<bool>& stop, const std::function<void(int64_t found, int64_t visited)>& progress,
                        FormatSet formats = kJpegOnly);

struct RepairOptions {
  FetchSettings fetch;
  bool dryRun = false;
  bool allListed = false;         // fetch files that are not cut too (trailing data, damaged)
  bool closeUnfetchable = false;  // append the end marker where the server says 404 or 410
  std::string backupDir;          // empty: no copies of the cut files
  // Files the origin failed are looked for here afterwards; an empty
  // prefix sends nothing to any archive.
  ArchiveSettings archive;
};

struct RepairHooks {
  std::function<void(const ReportEntry&)> report;
  std::function<void(const FetchProgress&)> progress;
  const std::atomic<int>* interrupts = nullptr;
};

// One repair of a list of files: fetches, checks and replaces every
// candidate, reporting each as it ends. Driven by its engine's event loop
// (see FetchEngine): set the engine's watcher, then Start. Received bodies
// are checked and saved on threads of the session's own; their reports
// still come on the loop's thread, in the order the transfers ended, and
// the engine finishes only after the last of them.
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
  // Every file has been reported; with an archive, only after RunArchiveRound.
  bool Finished() const;
  // After the engine has finished: searches the archive (when one is set) for
  // each file the origin failed, one file after the other. Blocks.
  void RunArchiveRound();
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
