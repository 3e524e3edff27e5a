#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "repair/repair_run.h"
#include "widgets/repair_progress_dialog.h"
#include "widgets/repair_results_dialog.h"

class QWidget;

namespace yuragi {

class FetchEngineDriver;

// One run of 一覧をすべて修復 on the window's thread: the batch repair's
// session, driven by the event loop, and its progress dialog.
class RepairAllRun : public QObject {
  Q_OBJECT
 public:
  // skipped: files decided before the run (already complete), listed first.
  RepairAllRun(QWidget* window, std::vector<RepairCandidate> files, const RepairOptions& options,
               std::vector<RepairResult> skipped);
  ~RepairAllRun() override;

  // False (with the reason) when the HTTP library cannot start.
  bool Start(std::string* error);
  // 中止: the first starts nothing new, the second abandons running transfers.
  void Stop();
  int StopLevel() const { return stopLevel_; }

  RepairProgressDialog* Dialog() const { return dialog_; }
  const std::vector<RepairResult>& Results() const { return results_; }
  int64_t RepairedCount() const;

 signals:
  // Every file has its result; emitted from the event loop.
  void Ended();

 private:
  void EngineFinished();
  void Finish();
  void Reported(const ReportEntry& entry);
  void Progressed(const FetchProgress& progress, bool now);
  std::vector<size_t> InTransfer() const;
  QStringList CurrentFiles() const;

  std::vector<RepairCandidate> files_;
  RepairOptions options_;
  std::unique_ptr<RepairSession> session_;
  std::unique_ptr<FetchEngineDriver> driver_;
  QPointer<RepairProgressDialog> dialog_;
  std::vector<RepairResult> results_;
  std::map<std::string, size_t> indexOf_;  // path -> position in files_
  std::vector<bool> done_;
  std::vector<std::string> hostOf_;
  std::vector<size_t> stoppedWith_;  // the files in transfer when 中止 was first pressed
  FetchProgress last_;
  QElapsedTimer shown_;
  int stopLevel_ = 0;
  bool ended_ = false;
  // The archive round after the transfers: one file after the other at one
  // request a second, so it runs beside the window, never on its thread.
  std::thread archive_;
  std::atomic<int> interrupts_{0};
};

}  // namespace yuragi
