#include "app/repair_all_run.h"

#include <QMetaObject>
#include <QThread>
#include <QWidget>

#include "app/fetch_engine_driver.h"
#include "platform/paths.h"
#include "repair/repair_url.h"
#include "widgets/repair_progress_dialog.h"

namespace yuragi {

namespace {

constexpr qint64 kShowInterval = 100;  // ms between two repaints of the counts

}  // namespace

RepairAllRun::RepairAllRun(QWidget* window, std::vector<RepairCandidate> files, const RepairOptions& options,
                           std::vector<RepairResult> skipped)
    : files_(std::move(files)), options_(options), results_(std::move(skipped)) {
  done_.assign(files_.size(), false);
  hostOf_.reserve(files_.size());
  for (size_t i = 0; i < files_.size(); ++i) {
    indexOf_.emplace(files_[i].path, i);
    hostOf_.push_back(HostKeyOf(SourceUrlOfPath(files_[i].path)));
  }
  dialog_ = new RepairProgressDialog(window);
  dialog_->setAttribute(Qt::WA_DeleteOnClose);
  connect(dialog_, &RepairProgressDialog::StopPressed, this, &RepairAllRun::Stop);
}

RepairAllRun::~RepairAllRun() {
  if (archive_.joinable()) {
    // Abandons the archive's request under way; the file stays as it was.
    interrupts_.store(2);
    archive_.join();
  }
  // The driver lets go of the engine before the session ends it.
  driver_.reset();
  session_.reset();
  if (dialog_) dialog_->close();
}

bool RepairAllRun::Start(std::string* error) {
  RepairHooks hooks;
  // The archive round reports from its own thread: what it says is handed
  // to the window's loop, in order.
  hooks.report = [this](const ReportEntry& entry) {
    if (QThread::currentThread() == thread()) return Reported(entry);
    QMetaObject::invokeMethod(this, [this, entry] { Reported(entry); }, Qt::QueuedConnection);
  };
  hooks.progress = [this](const FetchProgress& progress) {
    if (QThread::currentThread() == thread()) return Progressed(progress, false);
    QMetaObject::invokeMethod(this, [this, progress] { Progressed(progress, false); }, Qt::QueuedConnection);
  };
  hooks.interrupts = &interrupts_;
  session_ = std::make_unique<RepairSession>(files_, options_, std::move(hooks));
  driver_ = std::make_unique<FetchEngineDriver>(session_->Engine());
  connect(driver_.get(), &FetchEngineDriver::Finished, this, &RepairAllRun::EngineFinished);
  shown_.start();
  FetchProgress start;
  start.total = files_.size();
  Progressed(start, true);
  dialog_->show();
  if (!session_->Start(error)) return false;
  driver_->Started();
  return true;
}

void RepairAllRun::EngineFinished() {
  if (session_->Finished()) return Finish();
  archive_ = std::thread([this] {
    session_->RunArchiveRound();
    QMetaObject::invokeMethod(this, [this] { Finish(); }, Qt::QueuedConnection);
  });
}

void RepairAllRun::Finish() {
  if (archive_.joinable()) archive_.join();
  ended_ = true;
  Progressed(last_, true);
  emit Ended();
}

void RepairAllRun::Stop() {
  if (ended_ || stopLevel_ >= 2) return;
  if (++stopLevel_ == 1) stoppedWith_ = InTransfer();
  interrupts_.store(stopLevel_);
  if (dialog_) dialog_->SetStopLevel(stopLevel_);
  if (driver_) driver_->Interrupt(stopLevel_);
}

int64_t RepairAllRun::RepairedCount() const {
  int64_t count = 0;
  for (const RepairResult& result : results_) {
    count += result.entry.outcome == Outcome::Repaired || result.entry.outcome == Outcome::ReplacedChanged;
  }
  return count;
}

void RepairAllRun::Reported(const ReportEntry& entry) {
  const auto found = indexOf_.find(entry.path);
  if (found != indexOf_.end()) done_[found->second] = true;
  results_.push_back({entry, false});
}

void RepairAllRun::Progressed(const FetchProgress& progress, bool now) {
  last_ = progress;
  if (!dialog_ || (!now && shown_.elapsed() < kShowInterval)) return;
  shown_.restart();
  dialog_->SetProgress(int64_t(progress.finished), int64_t(progress.total), progress.received);
  dialog_->SetCurrentFiles(ended_ ? QStringList() : CurrentFiles());
}

std::vector<size_t> RepairAllRun::InTransfer() const {
  // The engine does not say which files are in transfer. It starts them in
  // list order, skipping a host at its limit, so the first unfinished files
  // within those limits are the ones being fetched. After 中止 nothing new
  // starts: only those of that moment can still be running.
  std::vector<size_t> running;
  if (stopLevel_ >= 2) return running;
  if (stopLevel_ == 1) {
    for (const size_t i : stoppedWith_) {
      if (!done_[i]) running.push_back(i);
    }
    return running;
  }
  std::map<std::string, int> perHost;
  for (size_t i = 0; i < files_.size() && int(running.size()) < options_.fetch.jobs; ++i) {
    if (done_[i]) continue;
    int& onHost = perHost[hostOf_[i]];
    if (onHost >= options_.fetch.perHost) continue;
    ++onHost;
    running.push_back(i);
  }
  return running;
}

QStringList RepairAllRun::CurrentFiles() const {
  QStringList paths;
  for (const size_t i : InTransfer()) paths << DisplayPath(QByteArray::fromStdString(files_[i].path));
  return paths;
}

}  // namespace yuragi
