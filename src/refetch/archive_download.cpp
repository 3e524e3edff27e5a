// The re-fetch from a web archive, when the origin has nothing.
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>

#include "app/globals.h"
#include "app/main_window.h"
#include "detect/end_marker.h"
#include "formats/number_format.h"
#include "platform/output_file.h"
#include "platform/paths.h"
#include "widgets/picture_loader.h"
#include "platform/prompts.h"
#include "refetch/archive_client.h"
#include "refetch/download.h"
#include "repair/archive_repair.h"
#include "repair/repair_save.h"
#include "widgets/image_view.h"

using namespace yuragi;

bool TForm1::ReGetFromArchive(const QString& url) {
  if (!UseArchive1->isChecked() || ArchivePrefix.isEmpty()) return false;
  // The cut target is the proof a capture is the right one; without it
  // nothing is asked.
  std::string local;
  if (TargetPath.isEmpty() || !ReadLocalFile(TargetPath.toStdString(), local) || local.empty()) return false;

  StatusPanel1->setText(UrlFileName + QStringLiteral(" をアーカイブで探しています"));
  StatusBar1->repaint();
  CancelRequested = false;
  PlaceCancelButtons();
  CancelBtn0->show();
  ArchiveSettings settings;
  settings.prefix = ArchivePrefix.toStdString();
  if (!settings.prefix.ends_with('/')) settings.prefix += '/';
  settings.maxBody = DownloadCap;
  ArchiveClient client(settings, [] { QCoreApplication::processEvents(); }, [] { return CancelRequested.load(); });
  ArchiveRepair found = RepairFromArchive(client, WireUrl(url), local);
  CancelBtn0->hide();
  ReGetBtn->setEnabled(true);
  if (found.cancelled) {
    ReGetBtn->setFocus();
    StatusPanel1->setText(UrlFileName + QStringLiteral(" のダウンロードをキャンセルしました"));
    return true;
  }
  if (!found.found) return false;

  // From here on as any download: the preview, its copy, the save.
  const QByteArray received(found.body.data(), qsizetype(found.body.size()));
  const QPixmap picture = JpegPreview(received);
  if (picture.isNull()) return false;
  GroupBox5->setTitle(FormatByteSize(int64_t(received.size())));
  ReadTempDir();
  TempImagePath = TempDir + TempImageName.toUtf8();
  Image2->SetPicture(picture);
  ShowPicture(Image2, true);
  NewPictureBytes = received;
  NewPictureEnded = HasJpegEndMarker(reinterpret_cast<const uint8_t*>(received.constData()), size_t(received.size()));
  QString reason;
  if (!WriteNewFile(TempImagePath, received, &reason) && !closePending_) {
    prompts_.Error(this, ApplicationTitle,
                   QStringLiteral("ファイル \"%1\" を作成できません。%2").arg(TempImagePath, reason));
  }
  const QString day = QString::fromStdString(found.capture.substr(0, 4) + "/" + found.capture.substr(4, 2) + "/" +
                                             found.capture.substr(6, 2));
  StatusPanel1->setText(UrlFileName + QStringLiteral(" をアーカイブ（%1）から取得しました").arg(day));
  PageControl1->setCurrentIndex(0);
  SetSaveControlsEnabled(true);
  SaveBtn->setFocus();
  return true;
}
