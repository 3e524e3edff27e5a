// Writing the received picture out, and clearing the re-fetch tab.
#include <sys/stat.h>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cerrno>
#include <stdexcept>

#include "app/globals.h"
#include "app/main_window.h"
#include "widgets/face_colour.h"
#include "widgets/image_view.h"
#include "platform/output_file.h"
#include "platform/paths.h"
#include "platform/prompts.h"

using namespace yuragi;

namespace {

[[noreturn]] void CannotCreate(const QByteArray& path, const QString& reason) {
  throw std::runtime_error(
      QStringLiteral("ファイル \"%1\" を作成できません。%2").arg(DisplayPath(path), reason).toStdString());
}

// Makes the folder and the folders above it, by their bytes.
bool MakeFolders(const QByteArray& folder) {
  for (qsizetype slash = folder.indexOf('/', 1); slash >= 0; slash = folder.indexOf('/', slash + 1)) {
    const QByteArray part = folder.left(slash);
    if (::mkdir(part.constData(), 0777) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return ::stat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

void TForm1::SaveBtnClick() {
  if (!prompts_.Question(this, QStringLiteral("確認"), QStringLiteral("上書き保存します。よろしいですか？"))) return;
  if (NewPictureBytes.isEmpty()) CannotCreate(TargetPath, QStringLiteral("受信したデータがありません。"));
  QString reason;
  if (!ReplaceFileAtomically(TargetPath, NewPictureBytes, &reason)) {
    // The folder may have gone since the target was chosen: make it again.
    const QByteArray folder = FolderPart(TargetPath);
    if (folder.isEmpty() || !MakeFolders(folder)) {
      throw std::runtime_error("ディレクトリを作成できません");
    }
    if (!ReplaceFileAtomically(TargetPath, NewPictureBytes, &reason)) CannotCreate(TargetPath, reason);
  }
  StatusPanel1->setText(DisplayPath(FileNamePart(TargetPath)) + QStringLiteral(" を更新しました。"));
}

void TForm1::SaveAsBtnClick() {
  SaveDialog1.initialFolder = DisplayPath(FolderPart(TargetPath));
  const QString shown = prompts_.SaveFile(this, SaveDialog1);
  if (shown.isEmpty()) return;
  const QByteArray chosen = PathFromText(shown);
  if (NewPictureBytes.isEmpty()) CannotCreate(chosen, QStringLiteral("受信したデータがありません。"));
  QString reason;
  if (!ReplaceFileAtomically(chosen, NewPictureBytes, &reason)) CannotCreate(chosen, reason);
  StatusPanel1->setText(DisplayPath(FileNamePart(chosen)) + QStringLiteral(" に保存しました。"));
}

void TForm1::ClearBtnClick() {
  // A running transfer keeps its texts and captions until it ends.
  if (downloadRunning_) return;
  ShowPicture(Image1, false);
  ShowPicture(Image2, false);
  for (QPushButton* button : {ReGetBtn, BrowseBtn, ClearBtn}) button->setEnabled(false);
  SetSaveControlsEnabled(false);
  Edit1->clear();
  Edit2->clear();
  Edit2->setEnabled(false);
  SetFaceColour(Edit2, true);
  StatusPanel1->clear();
  GroupBox4->setTitle(QString());
  GroupBox5->setTitle(QString());
  SetCaption(ProductName);
}
