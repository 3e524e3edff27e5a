// The re-fetch button: download the URL box's URL, preview what arrived.
#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <functional>
#include <stdexcept>

#include "app/globals.h"
#include "app/main_window.h"
#include "platform/http_client.h"
#include "widgets/image_view.h"
#include "platform/number_format.h"
#include "platform/output_file.h"
#include "platform/paths.h"
#include "platform/picture_loader.h"
#include "platform/prompts.h"
#include "platform/unique_fd.h"
#include "refetch/download.h"

using namespace yuragi;

namespace {

// The count caption need not repaint faster than a screen shows it.
constexpr qint64 kCaptionInterval = 30;
constexpr qint64 kMessageInterval = 8;

// The received bytes loaded as a picture; on success they are also copied
// out. The file is mapped, so data that is no picture is never copied.
QPixmap LoadReceived(const QByteArray& path, QByteArray& bytes) {
  const UniqueFd fd(::open(path.constData(), O_RDONLY | O_CLOEXEC));
  QFile file;
  if (!fd || !file.open(fd.get(), QIODevice::ReadOnly) || file.size() == 0) return {};
  const uchar* mapped = file.map(0, file.size());
  if (!mapped) return {};
  const QByteArray view = QByteArray::fromRawData(reinterpret_cast<const char*>(mapped), file.size());
  QPixmap picture = JpegPreview(view);
  if (!picture.isNull()) bytes = QByteArray(view.constData(), view.size());
  return picture;
}

// Keeps the "transfer running" flag true for exactly the handler's extent,
// then lets a close that waited for the transfer go ahead.
struct RunningFlag {
  RunningFlag(bool& flag, std::function<void()> after) : flag_(flag), after_(std::move(after)) { flag_ = true; }
  ~RunningFlag() {
    flag_ = false;
    after_();
  }
  bool& flag_;
  std::function<void()> after_;
};

}  // namespace

void TForm1::BuildTempName() {
  ReadTempDir();
  TempDownloadPath = TempDownloadName(TempDir, QDateTime::currentDateTime(), FileNamePart(TargetPath));
  TempImagePath = TempDir + TempImageName.toUtf8();
}

void TForm1::ReGetBtnClick() {
  if (downloadRunning_) return;
  ShowPicture(Image2, false);
  NewPictureBytes.clear();
  SetSaveControlsEnabled(false);
  GroupBox3->repaint();

  const QString url = DownloadUrl(Edit2->text());
  UrlFileName = UrlFileNameOf(url);
  const QString targetName = DisplayPath(FileNamePart(TargetPath));
  SetCaption(UrlFileName + QStringLiteral(" - ") + ProductName);
  StatusPanel1->setText(UrlFileName + QStringLiteral(" を探しています"));
  StatusBar1->repaint();

  ReGetBtn->setEnabled(false);
  const RunningFlag running(downloadRunning_, [this] { FinishPendingClose(); });
  // Once the user has asked to close, the transfer ends without boxes.
  const auto tell = [this](const QString& text) {
    if (!closePending_) prompts_.Message(this, ApplicationTitle, text);
  };
  // While the headers are awaited the window repaints, but takes no input.
  const auto waitForHeaders = [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); };
  HttpError openError;
  std::unique_ptr<HttpRequest> request = HttpRequest::Open(WireUrl(url), waitForHeaders, &openError);
  if (!request && openError.noSession) {
    tell(QStringLiteral("WinInetが初期化できませんでした。"));
    ReGetBtn->setEnabled(true);
    return;
  }
  if (!request) {
    StatusPanel1->setText(targetName + QStringLiteral(" が見つかりません"));
    BrowseBtn->setFocus();
    ReGetBtn->setEnabled(true);
    return;
  }

  BuildTempName();
  std::string createError;
  std::unique_ptr<OutputFile> file = OutputFile::Create(TempDownloadPath.toStdString(), &createError);
  if (!file) {
    ReGetBtn->setEnabled(true);
    throw std::runtime_error(QStringLiteral("ファイル \"%1\" を作成できません。%2")
                                 .arg(DisplayPath(TempDownloadPath), QString::fromLocal8Bit(createError.c_str()))
                                 .toStdString());
  }
  StatusPanel1->setText(UrlFileName + QStringLiteral(" をダウンロードしています"));
  PlaceCancelButtons();
  CancelBtn0->show();
  CancelRequested = false;

  // The count is kept after every block and shown when messages are
  // processed, also while the reads wait for a slow server.
  QElapsedTimer captionClock, messageClock;
  captionClock.start();
  messageClock.start();
  uint64_t receivedCount = 0;
  uint64_t captioned = UINT64_MAX;
  const auto showReceived = [&] {
    if (receivedCount == captioned) return;
    GroupBox5->setTitle(FormatByteSize(int64_t(receivedCount)));
    captioned = receivedCount;
    captionClock.restart();
  };
  TransferSteps steps;
  steps.cancelRequested = &CancelRequested;
  steps.showCount = [&](uint64_t total) { receivedCount = total; };
  steps.processMessages = [&] {
    if (messageClock.elapsed() < kMessageInterval) return;
    if (captionClock.elapsed() >= kCaptionInterval) showReceived();
    QCoreApplication::processEvents();
    messageClock.restart();
  };
  const TransferResult transfer = TransferToFile(*request, *file, steps);
  showReceived();

  if (transfer.end != TransferEnd::Finished) {
    file.reset();
    request.reset();
    ::unlink(TempDownloadPath.constData());
    CancelBtn0->hide();
    ReGetBtn->setEnabled(true);
    BrowseBtn->setFocus();
    if (transfer.end == TransferEnd::ReadFailed) {
      // The URL whole: cut at a ":" or "\\" as the original did, a port
      // would leave "http:8080/...".
      tell(url + QStringLiteral(" を取得できませんでした。0"));
    } else {
      tell(QStringLiteral("画像を取得できませんでした。1"));
    }
    StatusPanel1->setText(targetName + QStringLiteral(" を取得できませんでした"));
    return;
  }

  CancelBtn0->hide();
  QString done = UrlFileName + QStringLiteral(" をダウンロードしました");
  if (GroupBox4->title() == GroupBox5->title()) done += QStringLiteral("（同サイズ）");
  StatusPanel1->setText(done);
  file.reset();
  request.reset();

  // An empty answer is no picture: nothing empty may be saved over a file.
  QByteArray received;
  const QPixmap picture = LoadReceived(TempDownloadPath, received);
  const bool loaded = !picture.isNull();
  if (loaded) {
    Image2->SetPicture(picture);
    ShowPicture(Image2, true);
    NewPictureBytes = received;
    WriteNewFile(TempImagePath, received, nullptr);
  } else {
    tell(QStringLiteral("画像が見つかりません。404"));
    StatusPanel1->setText(targetName + QStringLiteral(" が見つかりません"));
    BrowseBtn->setFocus();
  }
  ::unlink(TempDownloadPath.constData());
  ReGetBtn->setEnabled(true);
  PageControl1->setCurrentIndex(0);
  if (loaded) SetSaveControlsEnabled(true);
  if (CancelRequested) {
    ReGetBtn->setFocus();
    StatusPanel1->setText(UrlFileName + QStringLiteral(" のダウンロードをキャンセルしました"));
  } else if (loaded) {
    SaveBtn->setFocus();
  }
}
