// A detection run in the window: the walk with the list as its output.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <functional>
#include <utility>

#include "app/globals.h"
#include "app/main_window.h"
#include "detect/detection_list_view.h"
#include "detect/detection_model.h"
#include "detect/fit_path.h"
#include "detect/folder_scan.h"
#include "widgets/folder_tree.h"
#include "formats/number_format.h"
#include "platform/paths.h"
#include "widgets/picture_loader.h"
#include "formats/time_format.h"

using namespace yuragi;

namespace {

// Repainting a status text 10,000 times a second helps nobody: the text is
// shown at most every 40 ms, and messages are processed every 8 ms.
constexpr qint64 kStatusInterval = 40;
constexpr qint64 kMessageInterval = 8;

class WindowScan final : public ScanWindow {
 public:
  explicit WindowScan(TForm1& form) : form_(form) {
    statusClock_.start();
    messageClock_.start();
  }

  ~WindowScan() override {
    if (!pending_.isEmpty()) form_.StatusPanel1->setText(pending_);
    ScrollToNewest();
  }

  void AppendRow(DetectionRow row) override {
    form_.ImageList1.push_back(ToPixmap(row.thumbnail));
    form_.ImageList3.push_back(form_.ImageList2.front());
    DetectionModel::Row entry;
    entry.path = QByteArray::fromStdString(row.path);
    entry.caption = DisplayPath(entry.path);
    entry.sizeText = FormatNumber(int64_t(row.size), NumberPattern::LeadingBlank);
    if (row.modified) entry.timeText = FormatFileTime(*row.modified);
    entry.stateText = DetectionModel::StateText(row.stream);
    entry.state = row.stream.end;
    entry.stateOrder = DetectionModel::StateOrder(row.stream);
    entry.icon.addPixmap(form_.ImageList1.back());
    entry.icon.addPixmap(form_.ImageList3.back());
    form_.ListModel->Append(std::move(entry));
    // Scrolling lays the list out; doing it per row made a long run
    // quadratic. The newest row is scrolled into view before the window
    // is next painted, which looks the same.
    scrollPending_ = true;
  }

  int64_t RowCount() const override { return form_.ListModel->rowCount(); }

  void SetStatusText(const QString& text) override {
    pending_ = text;
    if (statusClock_.elapsed() < kStatusInterval) return;
    form_.StatusPanel1->setText(pending_);
    pending_.clear();
    statusClock_.restart();
  }

  void ProcessMessages() override {
    if (messageClock_.elapsed() < kMessageInterval) return;
    ScrollToNewest();
    QCoreApplication::processEvents();
    messageClock_.restart();
  }

 private:
  void ScrollToNewest() {
    if (!std::exchange(scrollPending_, false)) return;
    form_.ListView1->ScrollToRow(form_.ListModel->rowCount() - 1);
  }

  TForm1& form_;
  QString pending_;
  bool scrollPending_ = false;
  QElapsedTimer statusClock_;
  QElapsedTimer messageClock_;
};

// Holds the "run in progress" state for exactly the run's extent, also when
// a failure ends the run early: the next run and a waiting close must work.
class RunScope {
 public:
  RunScope(TForm1& form, bool& running, std::function<void()> after)
      : form_(form), running_(running), after_(std::move(after)) {
    running_ = true;
  }
  ~RunScope() {
    running_ = false;
    form_.CancelBtn1->hide();
    form_.ListView1->setEnabled(true);
    after_();
  }
  RunScope(const RunScope&) = delete;
  RunScope& operator=(const RunScope&) = delete;

 private:
  TForm1& form_;
  bool& running_;
  std::function<void()> after_;
};

}  // namespace

void TForm1::StartDetection() {
  // A second double-click while a run is going must not start a nested run,
  // nor may a run hold up a transfer, whose data would go unread meanwhile.
  if (detectionRunning_ || downloadRunning_ || repairRun_ || !FolderTree) return;
  QByteArray folder = FolderTree->SelectedPath();
  if (folder.isEmpty()) return;
  if (!folder.endsWith('/')) folder += '/';

  const RunScope scope(*this, detectionRunning_, [this] { FinishPendingClose(); });
  ListModel->Clear();
  ListView1->SetFaceColour(false);
  ListView1->setEnabled(false);
  FileCount = 0;
  PlaceCancelButtons();
  CancelBtn1->show();
  CancelRequested = false;
  ImageList1.clear();
  ImageList3.clear();

  ScanRun run(CancelRequested);
  {
    WindowScan window(*this);
    ScanFolder(folder.toStdString(), run, window);
  }
  FileCount = run.fileCount;

  if (ListView1->ViewStyle() == 3) ListView1->FitColumns();
  StatusPanel1->setText(FinalText(ListModel->rowCount(), FileCount) + UnreadableFoldersText(run.unreadableFolders));
}

void TForm1::FolderTreeClick() {
  if (!FolderTree) return;
  const int width = StatusBar1->width() - StatusPanel0->width() - 80;
  const QFontMetrics metrics(StatusPanel1->font());
  StatusPanel1->setText(FitPathToWidth(
      DisplayPath(FolderTree->SelectedPath()), [&metrics](const QString& text) { return metrics.horizontalAdvance(text); },
      width));
}

void TForm1::CancelBtn1Click() { CancelRequested = true; }
