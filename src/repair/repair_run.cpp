#include "repair/repair_run.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>
#include <utility>

#include "detect/folder_scan.h"
#include "platform/file_info.h"
#include "platform/paths.h"
#include "refetch/download.h"
#include "refetch/httrack_cache.h"
#include "refetch/recorded_url.h"
#include "refetch/source_url.h"
#include "repair/repair_save.h"
#include "repair/repair_verify.h"

namespace yuragi {

namespace {

// Collects the walk's rows without their thumbnails.
class Collector final : public ScanWindow {
 public:
  Collector(FindResult& result, const std::string& root, const std::function<void(int64_t, int64_t)>& progress,
            const ScanRun& run)
      : result_(result), root_(root), progress_(progress), run_(run) {}

  void AppendRow(DetectionRow row) override { result_.files.push_back({std::move(row.path), root_, {}}); }
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

bool IsJpegName(const std::string& name) {
  const size_t dot = name.find_last_of("./");
  if (dot == std::string::npos || name[dot] != '.') return false;
  std::string extension = name.substr(dot + 1);
  for (char& c : extension) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return extension == "jpg" || extension == "jpeg";
}

// The mirror folders below folder: those holding hts-cache/. Links to
// folders are not followed, so the walk ends.
std::vector<std::string> MirrorsBelow(const std::string& folder) {
  namespace fs = std::filesystem;
  std::vector<std::string> found;
  std::error_code error;
  for (fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error), end;
       !error && it != end; it.increment(error)) {
    if (it->path().filename() != "hts-cache" || !it->is_directory(error)) continue;
    found.push_back(it->path().parent_path().string());
    it.disable_recursion_pending();
  }
  return found;
}

// HTTrack knew each file's full size: a JPEG shorter than that was cut,
// even where the cut fell right behind an end marker.
void AddShortHttrackFiles(const std::string& folder, HttrackCaches& caches, std::vector<RepairCandidate>& files) {
  const std::string absolute = ResolvedPath(QByteArray::fromStdString(folder), WorkingFolder()).toStdString();
  std::vector<HttrackMirror*> mirrors;
  if (HttrackMirror* above = caches.MirrorOf(absolute)) mirrors.push_back(above);
  for (const std::string& below : MirrorsBelow(absolute)) {
    HttrackMirror* mirror = caches.MirrorOf(below);
    if (mirror && mirror->Folder() != absolute) mirrors.push_back(mirror);
  }
  const std::string base = folder.ends_with('/') ? folder : folder + '/';
  std::vector<RepairCandidate> found;
  for (HttrackMirror* mirror : mirrors) {
    // The mirror's files as paths below folder: "" or "sub/" in front of each record's own.
    std::string inside;  // what a record must start with
    std::string prefix;  // what goes in front of the rest
    const std::string& mirrorFolder = mirror->Folder();
    if (mirrorFolder.size() > absolute.size()) {
      prefix = mirrorFolder.substr(absolute.size() + (absolute == "/" ? 0 : 1)) + '/';
    } else if (mirrorFolder != absolute) {
      inside = absolute.substr(mirrorFolder.size() + 1) + '/';
    }
    for (const auto& [local, record] : mirror->All()) {
      if (!record.size || record.status != 200 || !IsJpegName(local) || !local.starts_with(inside)) continue;
      std::string path = base + prefix + local.substr(inside.size());
      const uint64_t size = FileSizeOf(path);
      if (size == 0 || size >= *record.size || !IsRegularFile(path)) continue;
      found.push_back(
          {std::move(path), folder, "shorter than the " + std::to_string(*record.size) + " bytes HTTrack recorded"});
    }
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
  std::move(found.begin(), found.end(), std::back_inserter(files));
}

class Repairer {
 public:
  Repairer(const std::vector<RepairCandidate>& files, const RepairOptions& options, const RepairHooks& hooks,
           RepairTotals& totals)
      : files_(files), options_(options), hooks_(hooks), totals_(totals) {
    sources_.reserve(files.size());
    stamps_.reserve(files.size());
    UrlRecords records;
    const QByteArray working = WorkingFolder();
    for (const RepairCandidate& file : files) {
      SourceUrl source = records.Lookup(ResolvedPath(QByteArray::fromStdString(file.path), working));
      // The folder rule reads the path as it was given, as it always has.
      source.folderUrl = SourceUrlOfPath(QByteArray::fromStdString(file.path));
      if (source.source == UrlSource::Folder) {
        source.url = source.folderUrl;
        source.request = WireUrl(source.folderUrl);
      }
      sources_.push_back(std::move(source));
      stamps_.push_back(StampOf(file.path));
    }
  }

  bool Run(std::string* error) {
    totals_.found = int64_t(files_.size());
    totals_.dryRun = options_.dryRun;
    if (options_.dryRun) {
      for (size_t i = 0; i < files_.size(); ++i) Emit(Entry(i, Outcome::WouldFetch), i);
      return true;
    }
    std::vector<FetchItem> items;
    items.reserve(files_.size());
    for (size_t i = 0; i < files_.size(); ++i) items.push_back({sources_[i].request, files_[i].path});
    FetchHooks fetchHooks;
    fetchHooks.finished = [this](size_t index, FetchOutcome&& outcome) { Finished(index, std::move(outcome)); };
    fetchHooks.progress = hooks_.progress;
    fetchHooks.interrupts = hooks_.interrupts;
    return FetchAll(items, options_.fetch, fetchHooks, error) && FetchFallbacks(fetchHooks, error);
  }

 private:
  // A recorded URL that answered with an error, to be tried again by the
  // folder rule's URL.
  struct Retry {
    size_t index;
    long status;
    uint64_t received;
  };

  // The second round, over the files whose recorded URL gave an HTTP error.
  bool FetchFallbacks(FetchHooks& fetchHooks, std::string* error) {
    if (retries_.empty()) return true;
    std::vector<FetchItem> items;
    for (const Retry& retry : retries_) items.push_back({WireUrl(sources_[retry.index].folderUrl), files_[retry.index].path});
    fetchHooks.finished = [this](size_t k, FetchOutcome&& outcome) {
      outcome.received += retries_[k].received;
      Finished(retries_[k].index, std::move(outcome), &retries_[k]);
    };
    return FetchAll(items, options_.fetch, fetchHooks, error);
  }

  ReportEntry Entry(size_t index, Outcome outcome) const {
    ReportEntry entry;
    entry.path = files_[index].path;
    entry.url = sources_[index].url.toUtf8().toStdString();
    entry.urlSource = UrlSourceName(sources_[index].source);
    entry.outcome = outcome;
    return entry;
  }

  void Emit(ReportEntry entry, size_t index) {
    const std::string& note = files_[index].note;
    if (!note.empty()) entry.detail = note + (entry.detail.empty() ? "" : "; " + entry.detail);
    Count(totals_, entry);
    if (hooks_.report) hooks_.report(entry);
  }

  void Finished(size_t index, FetchOutcome&& fetched, const Retry* first = nullptr) {
    const SourceUrl& source = sources_[index];
    if (!first && fetched.end == FetchEnd::HttpStatus && source.source != UrlSource::Folder &&
        WireUrl(source.folderUrl) != source.request) {
      retries_.push_back({index, fetched.status, fetched.received});
      return;
    }
    ReportEntry entry = Entry(index, Outcome::TransferFailed);
    if (first) {
      entry.url = source.folderUrl.toUtf8().toStdString();
      entry.urlSource = UrlSourceName(UrlSource::Folder);
    }
    entry.bytes = fetched.received;
    entry.detail = fetched.error;
    Settle(index, fetched, entry);
    if (first) {
      const std::string why = "the recorded URL " + source.url.toUtf8().toStdString() + " answered " +
                              std::to_string(first->status) + ", the folder rule's URL was used";
      entry.detail = why + (entry.detail.empty() ? "" : "; " + entry.detail);
    }
    Emit(std::move(entry), index);
  }

  void Settle(size_t index, const FetchOutcome& fetched, ReportEntry& entry) {
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
  std::vector<SourceUrl> sources_;
  std::vector<std::optional<FileStamp>> stamps_;
  std::vector<Retry> retries_;
};

}  // namespace

FindResult FindCutFiles(const std::vector<std::string>& folders, bool includeUndecodable, const std::atomic<bool>& stop,
                        const std::function<void(int64_t found, int64_t visited)>& progress) {
  FindResult found;
  std::vector<std::string> undecodable;
  HttrackCaches caches;
  for (const std::string& folder : folders) {
    if (stop.load()) break;
    ScanRun run(stop);
    if (includeUndecodable) run.undecodable = &undecodable;
    Collector collector(found, folder, progress, run);
    ScanFolder(folder, run, collector);
    found.visited += run.fileCount;
    for (std::string& path : undecodable) found.files.push_back({std::move(path), folder, {}});
    undecodable.clear();
    if (!stop.load()) AddShortHttrackFiles(folder, caches, found.files);
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
