// The re-fetch button: download the URL box's URL, preview what arrived.
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
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
#include "detect/end_marker.h"
#include "platform/file_identity.h"
#include "platform/http_client.h"
#include "widgets/image_view.h"
#include "formats/number_format.h"
#include "platform/output_file.h"
#include "platform/paths.h"
#include "widgets/picture_loader.h"
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

// While the headers are awaited the window repaints and the clock runs, but
// the only input taken is a press of the cancel button (and a close). A box
// opened meanwhile, such as the close's question, is answered as usual.
class InputOnlyFor : public QObject {
 public:
  explicit InputOnlyFor(QWidget* allowed) : allowed_(allowed) { qApp->installEventFilter(this); }
  ~InputOnlyFor() override { qApp->removeEventFilter(this); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!IsInput(event->type())) return false;
    // Windows hand their input on to a widget, which is judged then.
    if (watched->isWindowType()) return false;
    if (watched == allowed_) return false;
    const QWidget* box = QApplication::activeModalWidget();
    const auto* widget = qobject_cast<const QWidget*>(watched);
    return !(box && widget && (widget == box || box->isAncestorOf(widget)));
  }

 private:
  static bool IsInput(QEvent::Type type) {
    switch (type) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::Wheel:
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::Shortcut:
      case QEvent::ContextMenu:
      case QEvent::TouchBegin:
      case QEvent::TouchUpdate:
      case QEvent::TouchEnd:
      case QEvent::TabletPress:
      case QEvent::TabletRelease:
      case QEvent::InputMethod:
      case QEvent::DragEnter:
      case QEvent::DragMove:
      case QEvent::Drop:
        return true;
      default:
        return false;
    }
  }
  QWidget* allowed_;
};

QString MissingImage(long status) { return QStringLiteral("画像が見つかりません。%1").arg(status); }

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
  HoldControlsForTransfer(true);
  const RunningFlag running(downloadRunning_, [this] {
    HoldControlsForTransfer(false);
    FinishPendingClose();
  });
  // Once the user has asked to close, the transfer ends without boxes.
  const auto tell = [this](const QString& text) {
    if (!closePending_) prompts_.Message(this, ApplicationTitle, text);
  };
  // The target as it is now: a save later writes over it only if it is
  // still this file.
  TargetIdentity = IdentifyFile(TargetPath.toStdString());
  NewPictureEnded = false;
  // The wait for the headers can be cancelled too, by the button or a close.
  CancelRequested = false;
  const auto cancelled = [] { return CancelRequested.load(); };
  PlaceCancelButtons();
  CancelBtn0->show();
  HttpError openError;
  std::unique_ptr<HttpRequest> request;
  {
    const InputOnlyFor onlyCancel(CancelBtn0);
    const auto waitForHeaders = [] { QCoreApplication::processEvents(); };
    HttpOptions options;
    options.maxBodyBytes = DownloadCap;
    // A recorded URL keeps its own escapes, which the box's text cannot carry.
    const bool recorded = !edit2Request_.empty() && Edit2->text() == edit2Recorded_;
    request = HttpRequest::Open(recorded ? edit2Request_ : WireUrl(url), waitForHeaders, cancelled, &openError, options);
  }
  if (!request) CancelBtn0->hide();
  if (!request && openError.cancelled) {
    ReGetBtn->setEnabled(true);
    ReGetBtn->setFocus();
    StatusPanel1->setText(UrlFileName + QStringLiteral(" のダウンロードをキャンセルしました"));
    return;
  }
  if (!request && openError.noSession) {
    tell(QStringLiteral("WinInetが初期化できませんでした。"));
    ReGetBtn->setEnabled(true);
    return;
  }
  if (!request && ReGetFromArchive(url)) return;
  if (!request) {
    StatusPanel1->setText(targetName + QStringLiteral(" が見つかりません"));
    BrowseBtn->setFocus();
    ReGetBtn->setEnabled(true);
    return;
  }
  // An error status is a missing image, whatever picture its body holds
  // (sites answer 404 with a placeholder picture).
  if (const long status = request->ResponseCode(); status >= 400) {
    request.reset();
    CancelBtn0->hide();
    if (ReGetFromArchive(url)) return;
    tell(MissingImage(status));
    StatusPanel1->setText(targetName + QStringLiteral(" が見つかりません"));
    BrowseBtn->setFocus();
    ReGetBtn->setEnabled(true);
    return;
  }

  BuildTempName();
  std::string createError;
  std::unique_ptr<OutputFile> file = OutputFile::Create(TempDownloadPath.toStdString(), &createError);
  if (!file) {
    CancelBtn0->hide();
    ReGetBtn->setEnabled(true);
    throw std::runtime_error(QStringLiteral("ファイル \"%1\" を作成できません。%2")
                                 .arg(DisplayPath(TempDownloadPath), QString::fromLocal8Bit(createError.c_str()))
                                 .toStdString());
  }
  StatusPanel1->setText(UrlFileName + QStringLiteral(" をダウンロードしています"));

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
    const QString reason = QString::fromLocal8Bit(transfer.error.c_str());
    if (transfer.end == TransferEnd::ReadFailed) {
      // The URL whole: cutting it at a ":" or "\\" would leave
      // "http:8080/..." for a URL with a port.
      tell(url + QStringLiteral(" を取得できませんでした。0"));
    } else if (transfer.end == TransferEnd::TooLarge) {
      tell(QStringLiteral("画像を取得できませんでした。1\n受信したデータが上限の %1 を超えたため中止しました。")
               .arg(FormatByteSize(int64_t(DownloadCap))));
    } else {
      // The system's reason (a full disk, say) is what the user can act on.
      tell(QStringLiteral("画像を取得できませんでした。1") +
           (reason.isEmpty() ? QString() : QStringLiteral("\n") + reason));
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
    NewPictureEnded = HasJpegEndMarker(TempDownloadPath.toStdString());
    QString reason;
    if (!WriteNewFile(TempImagePath, received, &reason) && !closePending_) {
      // The preview's menu works on this copy; the save does not need it.
      prompts_.Error(this, ApplicationTitle,
                     QStringLiteral("ファイル \"%1\" を作成できません。%2").arg(TempImagePath, reason));
    }
  } else if (!CancelRequested && !ReGetFromArchive(url)) {
    // A cancelled transfer ends early by the user's will: what arrived is
    // no picture yet, which says nothing about the server.
    tell(MissingImage(404));
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
