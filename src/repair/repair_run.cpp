#include "repair/repair_run.h"

#include <sys/stat.h>

#include <set>
#include <utility>

#include <optional>

#include "detect/folder_scan.h"
#include "repair/repair_save.h"
#include "repair/repair_url.h"
#include "repair/repair_verify.h"

namespace yuragi {

namespace {

// Collects the walk's rows without their thumbnails.
class Collector final : public ScanWindow {
 public:
  Collector(FindResult& result, const std::string& root, const std::function<void(int64_t, int64_t)>& progress,
            const ScanRun& run)
      : result_(result), root_(root), progress_(progress), run_(run) {}

  void AppendRow(DetectionRow row) override { result_.files.push_back({std::move(row.path), root_}); }
  int64_t RowCount() const override { return int64_t(result_.files.size()); }
  void SetStatusText(const QString&) override {
    if (progress_) progress_(int64_t(result_.files.size()), result_.visited + run_.fileCount);
  }
  void ProcessMessages() override {}

 private:
  FindResult& result_;
  const std::string& root_;
  const std::function<void(int64_t, int64_t)>& progress_;
  const ScanRun& run_;
};

Outcome OutcomeOf(Verdict verdict) {
  switch (verdict) {
    case Verdict::Good: return Outcome::Repaired;
    case Verdict::GoodChanged: return Outcome::ReplacedChanged;
    case Verdict::Empty: return Outcome::Empty;
    case Verdict::Html: return Outcome::Html;
    case Verdict::NotJpeg: return Outcome::NotJpeg;
    case Verdict::Smaller: return Outcome::Smaller;
    case Verdict::Changed: return Outcome::Changed;
    case Verdict::Incomplete: return Outcome::Incomplete;
  }
  return Outcome::NotJpeg;
}

class Repairer {
 public:
  Repairer(const std::vector<RepairCandidate>& files, const RepairOptions& options, const RepairHooks& hooks,
           RepairTotals& totals)
      : files_(files), options_(options), hooks_(hooks), totals_(totals) {
    urls_.reserve(files.size());
    stamps_.reserve(files.size());
    for (const RepairCandidate& file : files) {
      urls_.push_back(SourceUrlOfPath(file.path));
      stamps_.push_back(StampOf(file.path));
    }
  }

  bool Run(std::string* error) {
    totals_.found = int64_t(files_.size());
    totals_.dryRun = options_.dryRun;
    if (options_.dryRun) {
      for (size_t i = 0; i < files_.size(); ++i) Emit(Entry(i, Outcome::WouldFetch));
      return true;
    }
    std::vector<FetchItem> items;
    items.reserve(files_.size());
    for (size_t i = 0; i < files_.size(); ++i) items.push_back({RequestUrlOf(urls_[i]), files_[i].path});
    FetchHooks fetchHooks;
    fetchHooks.finished = [this](size_t index, FetchOutcome&& outcome) { Finished(index, std::move(outcome)); };
    fetchHooks.progress = hooks_.progress;
    fetchHooks.interrupts = hooks_.interrupts;
    return FetchAll(items, options_.fetch, fetchHooks, error);
  }

 private:
  ReportEntry Entry(size_t index, Outcome outcome) const {
    ReportEntry entry;
    entry.path = files_[index].path;
    entry.url = urls_[index];
    entry.outcome = outcome;
    return entry;
  }

  void Emit(const ReportEntry& entry) {
    Count(totals_, entry);
    if (hooks_.report) hooks_.report(entry);
  }

  void Finished(size_t index, FetchOutcome&& fetched) {
    ReportEntry entry = Entry(index, Outcome::TransferFailed);
    entry.bytes = fetched.received;
    entry.detail = fetched.error;
    switch (fetched.end) {
      case FetchEnd::Received:
        Received(index, fetched, entry);
        break;
      case FetchEnd::HttpStatus:
        entry.outcome = Outcome::HttpError;
        entry.detail = std::to_string(fetched.status);
        if (options_.closeUnfetchable && (fetched.status == 404 || fetched.status == 410)) Close(index, fetched, entry);
        break;
      case FetchEnd::Failed:
        entry.outcome = Outcome::TransferFailed;
        break;
      case FetchEnd::Changed:
        entry.outcome = Outcome::Changed;
        entry.detail = "changed on the server";
        break;
      case FetchEnd::TooLarge:
        entry.outcome = Outcome::TooLarge;
        break;
      case FetchEnd::Unreadable:
        entry.outcome = Outcome::Unreadable;
        break;
      case FetchEnd::Interrupted:
        entry.outcome = Outcome::Interrupted;
        break;
      case FetchEnd::NotStarted:
        entry.outcome = Outcome::NotStarted;
        break;
    }
    Emit(entry);
  }

  void Received(size_t index, const FetchOutcome& fetched, ReportEntry& entry) {
    const Verification check =
        VerifyFetched(fetched.local, fetched.body, fetched.contentType, options_.fetch.acceptChanged);
    entry.outcome = OutcomeOf(check.verdict);
    entry.detail = check.detail;
    if (entry.outcome != Outcome::Repaired && entry.outcome != Outcome::ReplacedChanged) return;
    entry.resumed = fetched.resumed;
    entry.saved = fetched.saved;
    if (!Save(index, fetched.local, fetched.body, fetched.lastModified, entry)) {
      entry.resumed = false;
      entry.saved = 0;
    }
  }

  void Close(size_t index, const FetchOutcome& fetched, ReportEntry& entry) {
    std::string why;
    const std::optional<std::string> closed = CloseWithEndMarker(fetched.local, &why);
    if (!closed) {
      entry.detail += "; not closed: " + why;
      return;
    }
    const Outcome before = entry.outcome;
    entry.outcome = Outcome::Closed;
    if (!Save(index, fetched.local, *closed, std::nullopt, entry)) {
      entry.outcome = before;
      entry.detail = std::to_string(fetched.status) + "; not closed: " + entry.detail;
    }
  }

  bool Save(size_t index, const std::string& old, const std::string& bytes, std::optional<std::time_t> modified,
            ReportEntry& entry) {
    const RepairCandidate& file = files_[index];
    std::string why;
    const bool sameAsRead = stamps_[index] && stamps_[index]->size == old.size();
    if (!sameAsRead) {
      why = "the file changed on disk meanwhile";
    } else if (!options_.backupDir.empty() &&
               !BackupCutFile(file.path, file.root, options_.backupDir, old, *stamps_[index], &why)) {
      why = "no backup: " + why;
    } else if (ReplaceCutFile(file.path, *stamps_[index], bytes, modified, &why)) {
      if (!why.empty()) entry.detail += (entry.detail.empty() ? "" : "; ") + why;
      return true;
    }
    entry.outcome = Outcome::SaveFailed;
    entry.detail = why;
    return false;
  }

  const std::vector<RepairCandidate>& files_;
  const RepairOptions& options_;
  const RepairHooks& hooks_;
  RepairTotals& totals_;
  std::vector<std::string> urls_;
  std::vector<std::optional<FileStamp>> stamps_;
};

}  // namespace

FindResult FindCutFiles(const std::vector<std::string>& folders, bool includeUndecodable, const std::atomic<bool>& stop,
                        const std::function<void(int64_t found, int64_t visited)>& progress) {
  FindResult found;
  std::vector<std::string> undecodable;
  for (const std::string& folder : folders) {
    if (stop.load()) break;
    ScanRun run(stop);
    run.jobs = DefaultScanJobs();
    if (includeUndecodable) run.undecodable = &undecodable;
    Collector collector(found, folder, progress, run);
    ScanFolder(folder, run, collector);
    found.visited += run.fileCount;
    for (std::string& path : undecodable) found.files.push_back({std::move(path), folder});
    undecodable.clear();
  }
  // Folders given twice, or links, can reach one file by two paths: it is
  // fetched and replaced once.
  FindResult result;
  result.visited = found.visited;
  std::set<std::pair<dev_t, ino_t>> seen;
  for (RepairCandidate& file : found.files) {
    struct stat st {};
    if (::stat(file.path.c_str(), &st) == 0 && !seen.insert({st.st_dev, st.st_ino}).second) continue;
    result.files.push_back(std::move(file));
  }
  return result;
}

bool RepairFiles(const std::vector<RepairCandidate>& files, const RepairOptions& options, const RepairHooks& hooks,
                 RepairTotals& totals, std::string* error) {
  return Repairer(files, options, hooks, totals).Run(error);
}

}  // namespace yuragi
