// Choosing the target file: command line, drop, open dialog, Enter in the
// path box and the detection list's double-click all end in SetTarget.
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

#include "app/globals.h"
#include "app/main_window.h"
#include "platform/desktop_shell.h"
#include "widgets/face_colour.h"
#include "platform/file_info.h"
#include "widgets/image_view.h"
#include "formats/number_format.h"
#include "platform/paths.h"
#include "widgets/picture_loader.h"
#include "platform/prompts.h"
#include "refetch/recorded_url.h"
#include "refetch/source_url.h"

using namespace yuragi;

namespace {

QString TargetName() { return DisplayPath(FileNamePart(TargetPath)); }

QString TargetCaption() { return TargetName() + QStringLiteral(" - ") + ProductName; }

}  // namespace

void TForm1::SetEdit1Path(const QByteArray& path) {
  edit1Path_ = path;
  Edit1->setText(DisplayPath(path));
}

QByteArray TForm1::Edit1Path() const {
  const QString text = Edit1->text();
  if (!edit1Path_.isNull() && text == DisplayPath(edit1Path_)) return edit1Path_;
  return PathFromText(text);
}

void TForm1::SetTarget() {
  const QByteArray path = Edit1Path();
  SourceUrl source;
  if (IsRegularFile(path.toStdString())) source = UrlRecords().Lookup(ResolvedPath(path, WorkingFolder()));
  // Without a record the rule reads the path as the box holds it.
  Edit2->setText(source.source == UrlSource::Folder ? SourceUrlOfPath(path) : source.url);
  edit2Recorded_ = source.source == UrlSource::Folder ? QString() : source.url;
  edit2Request_ = source.source == UrlSource::Folder ? std::string() : source.request;
  Edit2->setEnabled(true);
  SetFaceColour(Edit2, false);
  BrowseBtn->setEnabled(true);
  const uint64_t size = FileSizeOf(path.toStdString());
  if (size == 0) {
    ShowPicture(Image1, false);
  } else {
    ShowPicture(Image1, true);
    const QPixmap picture = LoadPicture(path);
    const QString name = DisplayPath(FileNamePart(path));
    if (!picture.isNull()) {
      Image1->SetPicture(picture);
      StatusPanel1->setText(name + (source.source == UrlSource::Folder
                                        ? QStringLiteral(" をセットしました")
                                        : QStringLiteral(" をセットしました（記録された URL）")));
    } else {
      ShowPicture(Image1, false);
      StatusPanel1->setText(name + QStringLiteral(" は画像でない可能性があります"));
    }
  }
  ShowPicture(Image2, false);
  ReGetBtn->setEnabled(true);
  PageControl1->setCurrentIndex(0);
  ReGetBtn->setFocus();
  ClearBtn->setEnabled(true);
  GroupBox4->setTitle(FormatByteSize(int64_t(size)));
  GroupBox5->setTitle(QString());
}

void TForm1::FormShow() {
  if (arguments_.isEmpty()) return;
  if (arguments_.size() > 1) {
    prompts_.Error(this, ApplicationTitle, QStringLiteral("複数のファイルは受け取れません。"));
  }
  QByteArray path = arguments_.first();
  if (!path.isEmpty() && !path.startsWith('/')) path = ResolvedPath(path, WorkingFolder());
  TargetPath = path;
  SetEdit1Path(path);
  SetTarget();
  StatusPanel1->setText(TargetName() + QStringLiteral(" を受取りました。"));
  SetCaption(TargetCaption());
}

void TForm1::WMDropFiles(const QList<QByteArray>& paths) {
  // A transfer keeps its own target, texts and captions until it ends.
  if (paths.isEmpty() || downloadRunning_) return;
  TargetPath = paths.first();
  SetEdit1Path(TargetPath);
  SetTarget();
  StatusPanel1->setText(TargetName() + QStringLiteral(" を受取りました。"));
  SetCaption(TargetCaption());
  SetSaveControlsEnabled(false);
}

void TForm1::RefferBtnClick() {
  if (downloadRunning_) return;
  // The new preview goes, also when the dialog is cancelled: nothing that
  // is no longer shown may still be saved or have its size on show.
  ShowPicture(Image2, false);
  GroupBox5->setTitle(QString());
  SetSaveControlsEnabled(false);
  OpenPictureDialog1.initialFolder = DisplayPath(InitialFolder);
  const QString chosen = prompts_.OpenFile(this, OpenPictureDialog1);
  if (chosen.isEmpty()) return;
  TargetPath = PathFromText(chosen);
  SetEdit1Path(TargetPath);
  SetTarget();
  SetCaption(TargetCaption());
  SetSaveControlsEnabled(false);
}

void TForm1::Edit1KeyPress(QObject*, int& key) {
  if (key != 13) return;
  key = 0;
  if (downloadRunning_) return;
  TargetPath = Edit1Path();
  SetTarget();
  SetCaption(TargetCaption());
  SetSaveControlsEnabled(false);
}

void TForm1::Edit2KeyPress(QObject*, int& key) {
  if (key == 13) key = 0;
}

void TForm1::BrowseBtnClick() {
  if (!prompts_.Question(this, QStringLiteral("確認"), QStringLiteral("ブラウザを起動します。よろしいですか？"))) {
    return;
  }
  // The shell reports a failure (no browser, say) in a box of its own.
  shell_->OpenUrl(this, Edit2->text());
}
