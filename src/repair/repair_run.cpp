#include "repair/repair_run.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include <mutex>
#include <set>
#include <utility>

#include <optional>

#include "detect/folder_scan.h"
#include "platform/paths.h"
#include "platform/spool_file.h"
#include "refetch/download.h"
#include "refetch/httrack_cache.h"
#include "refetch/recorded_url.h"
#include "refetch/source_url.h"
#include "repair/archive_repair.h"
#include "repair/httrack_short_files.h"
#include "repair/ordered_worker.h"
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

  void AppendRow(DetectionRow row) override {
    std::string detail = row.stream.end == JpegEnd::Damaged ? row.stream.warning
                         : row.stream.end == JpegEnd::Trailing
                             ? std::to_string(row.stream.trailingBytes) + " bytes after the end marker" +
                                   (row.stream.trailingZero ? ", all zero" : "")
                             : std::string();
    RepairCandidate& file = result_.files.emplace_back();
    file.path = std::move(row.path);
    file.root = root_;
    file.state = row.stream.end;
    file.stateDetail = std::move(detail);
    file.format = row.format;
  }
  int64_t RowCount() const override { return int64_t(result_.files.size()); }
  void SetStatusText(const QString&) override {
    if (progress_) progress_(int64_t(result_.files.size()), result_.visited + run_.fileCount);
  }
  void ProcessMessages() override {}
  void ReportUnreadableFolder(const std::string& path, int error) override {
    result_.unreadable.push_back({path, error});
  }

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
    case Verdict::Same: return Outcome::Same;
    case Verdict::Smaller: return Outcome::Smaller;
    case Verdict::Changed: return Outcome::Changed;
    case Verdict::Incomplete: return Outcome::Incomplete;
    case Verdict::Corrupt: return Outcome::Corrupt;
  }
  return Outcome::NotJpeg;
}

// The one place the received bytes are checked, as the cut file's format:
// read from the temporary file a block at a time, never whole.
Verification CheckReceived(const FetchOutcome& fetched, bool acceptChanged, PictureFormat format) {
  if (!fetched.body) return {Verdict::NotJpeg, "temporary file: no body"};
  return VerifyFetchedFile(fetched.local, fetched.body->fd(), fetched.contentType, acceptChanged, format);
}

// Bodies received and waiting for their check, beyond which the transfers
// wait: each holds a temporary file and its cut file's bytes.
constexpr size_t kChecksWaiting = 16;
// Threads that check and save: a save mostly waits for the disk (fsync),
// so several at once keep up with the transfers where one does not.
constexpr int kCheckThreads = 4;

}  // namespace

class RepairSession::Impl {
 public:
  Impl(std::vector<RepairCandidate> files, const RepairOptions& options, RepairHooks hooks, const RepairTotals& initial)
      : files_(std::move(files)), options_(options), hooks_(std::move(hooks)), totals_(initial) {
    sources_.reserve(files_.size());
    places_.resize(files_.size());
    UrlRecords records;
    const QByteArray working = WorkingFolder();
    // Only cut files miss anything; the others are reported, not fetched.
    for (size_t i = 0; i < files_.size(); ++i) {
      const QByteArray path = QByteArray::fromStdString(files_[i].path);
      SourceUrl source = records.Lookup(ResolvedPath(path, working));
      // The folder rule reads the path as it was given, as it always has.
      source.folderUrl = SourceUrlOfPath(path);
      if (source.source == UrlSource::Folder) {
        source.url = source.folderUrl;
        source.request = WireUrl(source.folderUrl);
      }
      sources_.push_back(std::move(source));
      if (options_.allListed || files_[i].state == JpegEnd::Cut) wanted_.push_back(i);
    }
    std::vector<FetchItem> items;
    if (!options_.dryRun) {
      for (const size_t i : wanted_) {
        const SourceUrl& source = sources_[i];
        // The folder rule's URL is asked only when the recorded one fails.
        const std::string folderRequest = WireUrl(source.folderUrl);
        items.push_back({source.request, files_[i].path,
                         source.source != UrlSource::Folder && folderRequest != source.request ? folderRequest
                                                                                                : std::string()});
      }
    }
    FetchHooks fetchHooks;
    fetchHooks.finished = [this](size_t item, FetchOutcome&& outcome) { Finished(wanted_[item], std::move(outcome)); };
    // Bodies are checked and saved on threads of their own while the
    // transfers go on; their reports come back in the order the transfers
    // ended. Without those threads they are checked where they end.
    if (!items.empty()) {
      worker_ = std::make_unique<OrderedWorker>(kCheckThreads, kChecksWaiting);
      std::string ignored;
      if (worker_->Start(&ignored)) {
        fetchHooks.wakeFd = worker_->WakeFd();
        fetchHooks.collect = [this] { return worker_->Collect(); };
      } else {
        worker_.reset();
      }
    }
    fetchHooks.progress = hooks_.progress;
    fetchHooks.readLocal = [this](size_t item, std::string& bytes, std::string* error) {
      const size_t index = wanted_[item];
      return ReadCutFile(files_[index].root, files_[index].path, bytes, places_[index], error);
    };
    engine_ = std::make_unique<FetchEngine>(std::move(items), options_.fetch, std::move(fetchHooks));
  }

  bool Start(std::string* error) {
    totals_.found = int64_t(files_.size());
    totals_.dryRun = options_.dryRun;
    for (size_t i = 0; i < files_.size(); ++i) {
      const JpegEnd state = files_[i].state;
      if (options_.allListed || state == JpegEnd::Cut) continue;
      ReportEntry entry = Entry(i, state == JpegEnd::Damaged ? Outcome::Damaged : Outcome::Complete);
      entry.detail = files_[i].stateDetail;
      Emit(entry, i);
    }
    if (options_.dryRun) {
      for (const size_t i : wanted_) Emit(Entry(i, Outcome::WouldFetch), i);
    }
    return engine_->Start(error);
  }

  FetchEngine& Engine() { return *engine_; }
  bool Finished() const { return engine_->Finished() && deferred_.empty(); }
  const RepairTotals& Totals() const { return totals_; }

 private:
  ReportEntry Entry(size_t index, Outcome outcome) const {
    ReportEntry entry;
    entry.path = files_[index].path;
    entry.url = sources_[index].url.toUtf8().toStdString();
    entry.urlSource = UrlSourceName(sources_[index].source);
    entry.outcome = outcome;
    entry.cut = files_[index].state == JpegEnd::Cut;
    return entry;
  }

  void Emit(ReportEntry entry, size_t index) {
    const std::string& note = files_[index].note;
    if (!note.empty()) entry.detail = note + (entry.detail.empty() ? "" : "; " + entry.detail);
    Count(totals_, entry);
    if (hooks_.report) hooks_.report(entry);
  }

  void Finished(size_t index, FetchOutcome&& fetched) {
    if (!worker_) return Conclude(Check(index, std::move(fetched)));
    // A std::function is copied: the outcome, which owns its temporary file, is shared.
    auto outcome = std::make_shared<FetchOutcome>(std::move(fetched));
    worker_->Submit([this, index, outcome]() -> std::function<void()> {
      auto checked = std::make_shared<Checked>(Check(index, std::move(*outcome)));
      outcome->body.reset();
      return [this, checked] { Conclude(std::move(*checked)); };
    });
  }

  // What a finished transfer comes to; touches nothing of the session but
  // the file on disk, so it may run on a check thread.
  struct Checked {
    size_t index = 0;
    ReportEntry entry;
    bool deferred = false;  // left to the archive round
    std::string local;
    long status = 0;
  };

  void Conclude(Checked&& checked) {
    if (checked.deferred) {
      deferred_.push_back({checked.index, std::move(checked.entry), std::move(checked.local), checked.status});
      return;
    }
    Emit(std::move(checked.entry), checked.index);
  }

  Checked Check(size_t index, FetchOutcome&& fetched) const {
    ReportEntry entry = Entry(index, Outcome::TransferFailed);
    entry.bytes = fetched.received;
    entry.detail = fetched.error;
    if (fetched.firstStatus) {
      entry.url = sources_[index].folderUrl.toUtf8().toStdString();
      entry.urlSource = UrlSourceName(UrlSource::Folder);
    }
    Settle(index, fetched, entry);
    if (fetched.firstStatus) {
      const std::string why = "the recorded URL " + sources_[index].url.toUtf8().toStdString() + " answered " +
                              std::to_string(fetched.firstStatus) + ", the folder rule's URL was used";
      entry.detail = why + (entry.detail.empty() ? "" : "; " + entry.detail);
    }
    if (ArchiveOn() && OriginFailed(fetched.end, fetched.status, entry.outcome)) {
      return {index, std::move(entry), true, std::move(fetched.local), fetched.status};
    }
    return {index, std::move(entry), false, {}, 0};
  }

  void Settle(size_t index, const FetchOutcome& fetched, ReportEntry& entry) const {
    switch (fetched.end) {
      case FetchEnd::Received:
        Received(index, fetched, entry);
        break;
      case FetchEnd::HttpStatus:
        entry.outcome = Outcome::HttpError;
        entry.detail = std::to_string(fetched.status);
        if (!ArchiveOn() && Closable(fetched.status)) Close(index, fetched.local, fetched.status, entry);
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
      case FetchEnd::TooSlow:
        entry.outcome = Outcome::TooSlow;
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

  void Progress() const {
    if (!hooks_.progress) return;
    const int64_t done = totals_.repaired + totals_.closed + totals_.left;
    hooks_.progress(FetchProgress{size_t(done), files_.size(), totals_.received});
  }

  bool ArchiveOn() const { return !options_.archive.prefix.empty(); }
  bool Closable(long status) const { return options_.closeUnfetchable && (status == 404 || status == 410); }

  // An error status, no connection, or a body that failed the checks.
  static bool OriginFailed(FetchEnd end, long status, Outcome outcome) {
    if (end == FetchEnd::HttpStatus) return status >= 400;
    if (end == FetchEnd::Failed || end == FetchEnd::Changed || end == FetchEnd::TooLarge) return true;
    return end == FetchEnd::Received && outcome != Outcome::Repaired && outcome != Outcome::ReplacedChanged &&
           outcome != Outcome::SaveFailed;
  }

  // The files the origin failed, one archive search each, after the origin
  // round; an interrupt leaves the rest as the origin left them. Blocks: the
  // archive is asked at most once a second anyway.
 public:
  void ArchiveRound() {
    if (deferred_.empty()) return;
    const auto interrupted = [this] { return hooks_.interrupts && hooks_.interrupts->load() > 0; };
    ArchiveClient client(options_.archive, {}, [this] { return hooks_.interrupts && hooks_.interrupts->load() > 1; });
    for (Deferred& file : deferred_) {
      ReportEntry& entry = file.entry;
      if (!interrupted()) {
        ArchiveRepair found =
            RepairFromArchive(client, sources_[file.index].request, file.local, files_[file.index].format);
        entry.bytes += found.received;
        if (found.found) {
          entry.outcome = Outcome::Repaired;
          entry.detail = found.detail;
          entry.capture = found.capture;
          entry.resumed = false;
          entry.saved = 0;
          if (Save(file.index, file.local, found.body, std::nullopt, entry)) {
            Emit(entry, file.index);
            Progress();
            continue;
          }
          entry.capture.clear();
        } else {
          entry.detail += (entry.detail.empty() ? "" : "; ") + found.detail;
        }
      }
      if (entry.outcome == Outcome::HttpError && Closable(file.status)) Close(file.index, file.local, file.status, entry);
      Emit(entry, file.index);
      Progress();
    }
    deferred_.clear();
  }

 private:

  void Received(size_t index, const FetchOutcome& fetched, ReportEntry& entry) const {
    const Verification check = CheckReceived(fetched, options_.fetch.acceptChanged, files_[index].format);
    entry.outcome = OutcomeOf(check.verdict);
    entry.detail = check.detail;
    if (entry.outcome != Outcome::Repaired && entry.outcome != Outcome::ReplacedChanged) return;
    entry.resumed = fetched.resumed;
    entry.saved = fetched.saved;
    const SpoolFile::Mapping mapped(*fetched.body);
    const std::optional<std::string_view> body = mapped.Bytes();
    if (!body) {
      entry.outcome = Outcome::SaveFailed;
      entry.detail = std::string("temporary file: ") + std::strerror(errno);
    }
    if (!body || !Save(index, fetched.local, *body, fetched.lastModified, entry)) {
      entry.resumed = false;
      entry.saved = 0;
    }
  }

  void Close(size_t index, const std::string& local, long status, ReportEntry& entry) const {
    std::string why = "only a JPEG can be closed";
    const std::optional<std::string> closed =
        files_[index].format == PictureFormat::Jpeg ? CloseWithEndMarker(local, &why) : std::nullopt;
    if (!closed) {
      entry.detail += "; not closed: " + why;
      return;
    }
    const Outcome before = entry.outcome;
    entry.outcome = Outcome::Closed;
    if (!Save(index, local, *closed, std::nullopt, entry)) {
      entry.outcome = before;
      entry.detail = std::to_string(status) + "; not closed: " + entry.detail;
    }
  }

  bool Save(size_t index, const std::string& old, std::string_view bytes, std::optional<std::time_t> modified,
            ReportEntry& entry) const {
    const RepairCandidate& file = files_[index];
    const CutFilePlace& place = places_[index];
    std::string why;
    bool backedUp = true;
    if (!options_.backupDir.empty()) {
      // Two cut files may want one backup name: the second takes ".1", which
      // needs the first one's copy to be there.
      const std::lock_guard lock(backupMutex_);
      backedUp = BackupCutFile(file.path, file.root, options_.backupDir, old, place.modified, &why);
    }
    if (!backedUp) {
      why = "no backup: " + why;
    } else if (ReplaceCutFile(place, old, bytes, modified, &why)) {
      if (!why.empty()) entry.detail += (entry.detail.empty() ? "" : "; ") + why;
      return true;
    }
    entry.outcome = Outcome::SaveFailed;
    entry.detail = why;
    return false;
  }

  std::vector<RepairCandidate> files_;
  RepairOptions options_;
  RepairHooks hooks_;
  RepairTotals totals_;
  std::vector<SourceUrl> sources_;
  std::vector<CutFilePlace> places_;
  std::vector<size_t> wanted_;  // the files fetched, by the engine's item number
  std::unique_ptr<FetchEngine> engine_;
  struct Deferred {
    size_t index;
    ReportEntry entry;
    std::string local;
    long status;
  };
  std::vector<Deferred> deferred_;
  mutable std::mutex backupMutex_;
  // Last, so that it is gone (its thread ended) before anything it uses.
  std::unique_ptr<OrderedWorker> worker_;
};

RepairSession::RepairSession(std::vector<RepairCandidate> files, const RepairOptions& options, RepairHooks hooks,
                             const RepairTotals& initial)
    : impl_(std::make_unique<Impl>(std::move(files), options, std::move(hooks), initial)) {}
RepairSession::~RepairSession() = default;
bool RepairSession::Start(std::string* error) { return impl_->Start(error); }
FetchEngine& RepairSession::Engine() { return impl_->Engine(); }
bool RepairSession::Finished() const { return impl_->Finished(); }
void RepairSession::RunArchiveRound() { impl_->ArchiveRound(); }
const RepairTotals& RepairSession::Totals() const { return impl_->Totals(); }

FindResult FindCutFiles(const std::vector<std::string>& folders, bool includeUndecodable, const std::atomic<bool>& stop,
                        const std::function<void(int64_t found, int64_t visited)>& progress, FormatSet formats) {
  FindResult found;
  std::vector<std::string> undecodable;
  HttrackCaches caches;
  for (const std::string& folder : folders) {
    if (stop.load()) break;
    ScanRun run(stop);
    run.jobs = DefaultScanJobs();
    if (includeUndecodable) run.undecodable = &undecodable;
    std::vector<std::string> mirrorsBelow;
    run.mirrorFolders = &mirrorsBelow;
    run.formats = formats;
    Collector collector(found, folder, progress, run);
    ScanFolder(folder, run, collector);
    found.visited += run.fileCount;
    for (std::string& path : undecodable) {
      RepairCandidate& file = found.files.emplace_back();
      file.format = formats == kJpegOnly ? PictureFormat::Jpeg : SniffPictureFile(path);
      if (file.format == PictureFormat::None) file.format = PictureFormatOfName(path.c_str());
      if (file.format == PictureFormat::None) file.format = PictureFormat::Jpeg;
      file.path = std::move(path);
      file.root = folder;
    }
    undecodable.clear();
    if (!stop.load()) AddShortHttrackFiles(folder, mirrorsBelow, caches, found.files);
  }
  // Folders given twice, or links, can reach one file by two paths: it is
  // fetched and replaced once.
  FindResult result;
  result.visited = found.visited;
  result.unreadable = std::move(found.unreadable);
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
  RepairSession session(files, options, hooks, totals);
  FetchPollLoop loop(session.Engine());
  const bool ran = session.Start(error) && loop.Run(hooks.interrupts, error);
  if (ran) session.RunArchiveRound();
  totals = session.Totals();
  return ran;
}

}  // namespace yuragi
