#include <unistd.h>

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include "platform/paths.h"
#include "platform/picture_preview.h"
#include "platform/prompts.h"

namespace yuragi {

namespace {

class DesktopPrompts final : public Prompts {
 public:
  void Message(QWidget* parent, const QString& caption, const QString& text) override {
    Box(parent, QMessageBox::NoIcon, caption, text);
  }

  bool Question(QWidget* parent, const QString& caption, const QString& text) override {
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, parent);
    return box.exec() != QMessageBox::No;
  }

  bool CautiousQuestion(QWidget* parent, const QString& caption, const QString& text) override {
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
  }

  int Choice(QWidget* parent, const QString& caption, const QString& text, const QStringList& buttons) override {
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::NoButton, parent);
    QList<QAbstractButton*> made;
    for (const QString& label : buttons) made << box.addButton(label, QMessageBox::AcceptRole);
    QAbstractButton* cancel = box.addButton(QMessageBox::Cancel);
    if (!made.isEmpty()) box.setDefaultButton(static_cast<QPushButton*>(made.first()));
    box.setEscapeButton(cancel);
    box.exec();
    return int(made.indexOf(box.clickedButton()));
  }

  void Error(QWidget* parent, const QString& caption, const QString& text) override {
    Box(parent, QMessageBox::Critical, caption, text);
  }

  QString OpenFile(QWidget* parent, const FileDialogSpec& spec) override {
    QFileDialog dialog(parent);
    Configure(dialog, spec);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (spec.picturePreview) AddPicturePreview(dialog, spec.picturePreview);
    return dialog.exec() == QDialog::Accepted ? First(dialog) : QString();
  }

  QString SaveFile(QWidget* parent, const FileDialogSpec& spec) override {
    QFileDialog dialog(parent);
    Configure(dialog, spec);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (!spec.confirmOverwrite) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    while (dialog.exec() == QDialog::Accepted) {
      const QString chosen = First(dialog);
      if (!spec.confirmCreate || ::access(PathFromText(chosen).constData(), F_OK) == 0) return chosen;
      const auto answer = QMessageBox::question(
          &dialog, dialog.windowTitle(),
          QStringLiteral("%1 は存在しません。作成しますか？").arg(QFileInfo(chosen).fileName()));
      if (answer == QMessageBox::Yes) return chosen;
    }
    return QString();
  }

 private:
  static void Box(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text) {
    QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
    box.exec();
  }

  static void Configure(QFileDialog& dialog, const FileDialogSpec& spec) {
    dialog.setNameFilters(ToNameFilters(spec.filter));
    dialog.setDefaultSuffix(spec.defaultSuffix);
    if (!spec.initialFolder.isEmpty()) dialog.setDirectory(spec.initialFolder);
  }

  // A dialog that hands out URLs keeps a name's exact bytes in their
  // escapes; shown as DisplayPath does, PathFromText finds them again.
  static QString First(const QFileDialog& dialog) {
    const QList<QUrl> urls = dialog.selectedUrls();
    if (!urls.isEmpty() && urls.first().isLocalFile()) return DisplayPath(PathFromFileUrl(urls.first()));
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
  }
};

}  // namespace

std::unique_ptr<Prompts> MakeDesktopPrompts() { return std::make_unique<DesktopPrompts>(); }

}  // namespace yuragi
