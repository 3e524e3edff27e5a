// A detection run in the window: the walk with the list as its output.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>

#include "app/globals.h"
#include "app/main_window.h"
#include "detect/detection_list_view.h"
#include "detect/detection_model.h"
#include "detect/fit_path.h"
#include "detect/folder_scan.h"
#include "widgets/folder_tree.h"
#include "platform/number_format.h"
#include "platform/paths.h"
#include "platform/picture_loader.h"
#include "platform/time_format.h"

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
  }

  void AppendRow(DetectionRow row) override {
    form_.ImageList1.push_back(ToPixmap(row.thumbnail));
    form_.ImageList3.push_back(form_.ImageList2.front());
    DetectionModel::Row entry;
    entry.path = QByteArray::fromStdString(row.path);
    entry.caption = DisplayPath(entry.path);
    entry.sizeText = FormatNumber(int64_t(row.size), NumberPattern::LeadingBlank);
    if (row.modified) entry.timeText = FormatFileTime(*row.modified);
    entry.icon.addPixmap(form_.ImageList1.back());
    entry.icon.addPixmap(form_.ImageList3.back());
    form_.ListModel->Append(std::move(entry));
    form_.ListView1->ScrollToRow(form_.ListModel->rowCount() - 1);
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
    QCoreApplication::processEvents();
    messageClock_.restart();
  }

 private:
  TForm1& form_;
  QString pending_;
  QElapsedTimer statusClock_;
  QElapsedTimer messageClock_;
};

}  // namespace

void TForm1::StartDetection() {
  // A second double-click while a run is going must not start a nested run.
  if (detectionRunning_ || !FolderTree) return;
  QByteArray folder = FolderTree->SelectedPath();
  if (folder.isEmpty()) return;
  if (!folder.endsWith('/')) folder += '/';

  ListModel->Clear();
  ListView1->SetFaceColour(false);
  ListView1->setEnabled(false);
  FileCount = 0;
  PlaceCancelButtons();
  CancelBtn1->show();
  CancelRequested = false;
  ImageList1.clear();
  ImageList3.clear();

  detectionRunning_ = true;
  ScanRun run(CancelRequested);
  {
    WindowScan window(*this);
    ScanFolder(folder.toStdString(), run, window);
  }
  detectionRunning_ = false;
  FileCount = run.fileCount;

  CancelBtn1->hide();
  StatusPanel1->setText(FinalText(ListModel->rowCount(), FileCount));
  ListView1->setEnabled(true);
  FinishPendingClose();
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
