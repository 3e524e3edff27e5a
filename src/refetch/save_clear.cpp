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
#include "formats/number_format.h"
#include "platform/output_file.h"
#include "platform/paths.h"
#include "platform/prompts.h"

using namespace yuragi;

namespace {

[[noreturn]] void CannotCreate(const QByteArray& path, const QString& reason) {
  throw std::runtime_error(
      QStringLiteral("ファイル \"%1\" を作成できません。%2").arg(DisplayPath(path), reason).toStdString());
}

QString ChangeText(FileChange change) {
  switch (change) {
    case FileChange::Appeared: return QStringLiteral("再取得を始めた後に作られています");
    case FileChange::BecameLink: return QStringLiteral("再取得を始めた後にリンクに置き換えられています");
    case FileChange::NoLongerLink: return QStringLiteral("再取得を始めた後にリンクから別のファイルに置き換えられています");
    case FileChange::LinkRetargeted: return QStringLiteral("再取得を始めた後にリンク先が変わっています");
    case FileChange::DanglingLink: return QStringLiteral("存在しないファイルを指すリンクです");
    case FileChange::Replaced: return QStringLiteral("再取得を始めた後に別のファイルに置き換えられています");
    case FileChange::Resized: return QStringLiteral("再取得を始めた後にサイズが変わっています");
    case FileChange::Modified: return QStringLiteral("再取得を始めた後に更新されています");
    case FileChange::None: break;
  }
  return QString();
}

// A second line for the save question when the received bytes would make
// the file worse: fewer bytes than it has, or no end marker.
QString WorseWarning(uint64_t received, uint64_t old, bool ended) {
  const bool smaller = received < old;
  const QString sizes = QStringLiteral("（%1 / %2 バイト）").arg(FormatNumber(int64_t(received)), FormatNumber(int64_t(old)));
  if (smaller && !ended) return QStringLiteral("受信したデータは元のファイルより小さく%1、途中で切れています。").arg(sizes);
  if (smaller) return QStringLiteral("受信したデータは元のファイルより小さくなっています%1。").arg(sizes);
  if (!ended) return QStringLiteral("受信したデータは途中で切れています。");
  return QString();
}

}  // namespace

bool TForm1::SaveReceivedTo(const QByteArray& path, const FileIdentity* expected, bool makeFolder) {
  if (NewPictureBytes.isEmpty()) CannotCreate(path, QStringLiteral("受信したデータがありません。"));
  ReadTempDir();
  SaveOptions options;
  options.expected = expected;
  options.spareFolder = TempDir.toStdString();
  const std::string native = path.toStdString();
  const auto save = [&] { return SaveOverFile(native, NewPictureBytes.constData(), size_t(NewPictureBytes.size()), options); };
  SaveResult saved = save();
  if (saved.end == SaveEnd::Failed && makeFolder) {
    // The folder may have gone since the target was chosen: make it again.
    const QByteArray folder = FolderPart(path);
    if (folder.isEmpty() || !MakeFolders(folder.toStdString())) throw std::runtime_error("ディレクトリを作成できません");
    saved = save();
  }
  if (saved.end == SaveEnd::Changed) {
    prompts_.Error(this, ApplicationTitle,
                   QStringLiteral("ファイル \"%1\" は%2。%3を中止しました。")
                       .arg(DisplayPath(path), ChangeText(saved.change), expected ? QStringLiteral("上書き保存") : QStringLiteral("保存")));
    return false;
  }
  if (!saved.ok()) CannotCreate(path, QString::fromLocal8Bit(saved.error.c_str()));
  return true;
}

void TForm1::SaveBtnClick() {
  const QString question = QStringLiteral("上書き保存します。よろしいですか？");
  const FileIdentity now = IdentifyFile(TargetPath.toStdString());
  const QString warning =
      NewPictureBytes.isEmpty() ? QString() : WorseWarning(uint64_t(NewPictureBytes.size()), now.size, NewPictureEnded);
  const bool yes = warning.isEmpty()
                       ? prompts_.Question(this, QStringLiteral("確認"), question)
                       : prompts_.CautiousQuestion(this, QStringLiteral("確認"), question + QLatin1Char('\n') + warning);
  if (!yes) return;
  if (!SaveReceivedTo(TargetPath, &TargetIdentity, true)) return;
  // Saving may be repeated: the next save goes over what this one wrote.
  TargetIdentity = IdentifyFile(TargetPath.toStdString());
  StatusPanel1->setText(DisplayPath(FileNamePart(TargetPath)) + QStringLiteral(" を更新しました。"));
}

void TForm1::SaveAsBtnClick() {
  SaveDialog1.initialFolder = DisplayPath(FolderPart(TargetPath));
  const QString shown = prompts_.SaveFile(this, SaveDialog1);
  if (shown.isEmpty()) return;
  const QByteArray chosen = PathFromText(shown);
  if (!SaveReceivedTo(chosen, nullptr, false)) return;
  // A save over the target itself is what the target now holds.
  const FileIdentity saved = IdentifyFile(chosen.toStdString());
  const FileIdentity target = IdentifyFile(TargetPath.toStdString());
  if (saved.device == target.device && saved.inode == target.inode) TargetIdentity = target;
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
