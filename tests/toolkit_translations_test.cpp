// Qt's own buttons and dialogs in the user's language: the program's real
// boxes, shown under LANG=ja_JP.UTF-8 (set by the test's environment).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QListView>
#include <QTemporaryDir>
#include <QMessageBox>
#include <QTimer>
#include <functional>

#include "formats/number_format.h"
#include "platform/prompts.h"
#include "formats/time_format.h"
#include "platform/toolkit_translations.h"
#include "widgets/picture_loader.h"

namespace {

QStringList ButtonTexts(QWidget* dialog) {
  QStringList texts;
  for (const QDialogButtonBox* box : dialog->findChildren<QDialogButtonBox*>()) {
    for (const QAbstractButton* button : box->buttons()) texts << QString(button->text()).remove('&');
  }
  return texts;
}

// Waits for the modal dialog that show() opens, reads it, and closes it.
QStringList TextsOfModal(const std::function<void()>& show) {
  QStringList texts;
  bool seen = false;
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || seen) return;
    seen = true;
    texts = ButtonTexts(modal);
    if (auto* files = qobject_cast<QFileDialog*>(modal)) texts << files->labelText(QFileDialog::FileName);
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      box->button(QMessageBox::No) ? box->button(QMessageBox::No)->click() : box->reject();
    } else {
      static_cast<QDialog*>(modal)->reject();
    }
  });
  poll.start();
  show();
  EXPECT_TRUE(seen) << "no dialog came up";
  return texts;
}

TEST(ToolkitTranslations, QuestionAndFileDialogsSpeakTheUsersLanguage) {
  ASSERT_EQ(QLocale::system().language(), QLocale::Japanese) << "the test needs LANG=ja_JP.UTF-8";
  const std::unique_ptr<yuragi::Prompts> prompts = yuragi::MakeDesktopPrompts();
  {
    const auto japanese = yuragi::InstallToolkitTranslations(QLocale::system());
    ASSERT_TRUE(japanese) << "qtbase_ja.qm not found (package qt6-translations-l10n)";
    bool answer = true;
    const QStringList question =
        TextsOfModal([&] { answer = prompts->Question(nullptr, "確認", "上書き保存します。よろしいですか？"); });
    EXPECT_TRUE(question.contains("はい(Y)")) << question.join('|').toStdString();
    EXPECT_TRUE(question.contains("いいえ(N)")) << question.join('|').toStdString();
    EXPECT_FALSE(answer);

    const QStringList error = TextsOfModal([&] { prompts->Error(nullptr, "ゆらぎ丸", "x"); });
    EXPECT_EQ(error, QStringList{"OK"});

    yuragi::FileDialogSpec spec;
    spec.filter = "jpegファイル(*.jp*)|*.jp*";
    const QStringList open = TextsOfModal([&] { prompts->OpenFile(nullptr, spec); });
    EXPECT_TRUE(open.contains("キャンセル")) << open.join('|').toStdString();
    EXPECT_FALSE(open.contains("Cancel")) << open.join('|').toStdString();
  }
  // Without them (gone with their owner) Qt speaks English again.
  const QStringList plain = TextsOfModal([&] { prompts->Question(nullptr, "確認", "?"); });
  EXPECT_TRUE(plain.contains("Yes")) << plain.join('|').toStdString();
  EXPECT_TRUE(plain.contains("No")) << plain.join('|').toStdString();
}

TEST(ToolkitTranslations, EnglishLocaleKeepsQtsOwnTexts) {
  const auto english = yuragi::InstallToolkitTranslations(QLocale(QLocale::English, QLocale::UnitedStates));
  const std::unique_ptr<yuragi::Prompts> prompts = yuragi::MakeDesktopPrompts();
  const QStringList texts = TextsOfModal([&] { prompts->Question(nullptr, "確認", "?"); });
  EXPECT_TRUE(texts.contains("Yes")) << texts.join('|').toStdString();
  EXPECT_TRUE(texts.contains("No")) << texts.join('|').toStdString();
}

TEST(ToolkitTranslations, TheOpenPictureDialogPreviewsTheFileUnderTheCursor) {
  const auto japanese = yuragi::UseJapaneseThroughout();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString picture = dir.path() + "/写真.jpg";
  QImage image(640, 320, QImage::Format_RGB32);
  image.fill(Qt::darkGreen);
  ASSERT_TRUE(image.save(picture, "JPEG"));
  const std::unique_ptr<yuragi::Prompts> prompts = yuragi::MakeDesktopPrompts();
  yuragi::FileDialogSpec spec;
  spec.filter = "jpegファイル(*.jp*)|*.jp*";
  spec.initialFolder = dir.path();
  spec.picturePreview = yuragi::LoadPicture;
  QSize shown;
  QString size, cancel;
  int ticks = 0;
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!dialog) return;
    // The folder is read in the background: wait for the file's row, then
    // put the cursor on it as a click would.
    if (auto* list = dialog->findChild<QListView*>("listView")) {
      const QAbstractItemModel* model = list->model();
      for (int row = 0; row < model->rowCount(list->rootIndex()); ++row) {
        const QModelIndex index = model->index(row, 0, list->rootIndex());
        if (index.data().toString() == "写真.jpg") list->setCurrentIndex(index);
      }
    }
    const auto* preview = dialog->findChild<QLabel*>("preview");
    if (preview) shown = preview->pixmap().size();
    if (const auto* label = dialog->findChild<QLabel*>("previewSize")) size = label->text();
    if (shown.isEmpty() && ++ticks < 1000) return;
    poll.stop();
    cancel = ButtonTexts(dialog).join('|');
    dialog->reject();
  });
  poll.start();
  prompts->OpenFile(nullptr, spec);
  // Scaled down into the 200-pixel square inside its frame, proportions kept.
  EXPECT_GT(shown.width(), 150);
  EXPECT_LE(shown.width(), 200);
  EXPECT_EQ(shown.height(), shown.width() / 2);
  EXPECT_EQ(size, "(640 × 320)");
  EXPECT_TRUE(cancel.contains("キャンセル")) << cancel.toStdString();
}

// Run under LANG=C as well: the window speaks Japanese whatever the system.
TEST(ToolkitTranslations, JapaneseThroughoutWhateverTheSystemLocale) {
  const auto japanese = yuragi::UseJapaneseThroughout();
  ASSERT_TRUE(japanese) << "qtbase_ja.qm not found (package qt6-translations-l10n)";
  const std::unique_ptr<yuragi::Prompts> prompts = yuragi::MakeDesktopPrompts();
  const QStringList question = TextsOfModal([&] { prompts->Question(nullptr, "確認", "?"); });
  EXPECT_TRUE(question.contains("はい(Y)")) << question.join('|').toStdString();
  yuragi::FileDialogSpec spec;
  const QStringList open = TextsOfModal([&] { prompts->OpenFile(nullptr, spec); });
  EXPECT_TRUE(open.contains("キャンセル")) << open.join('|').toStdString();
  const QDateTime when(QDate(2026, 12, 9), QTime(10, 27, 54));
  EXPECT_EQ(yuragi::FormatFileTime(when), "2026/12/09 10:27:54");
  EXPECT_EQ(yuragi::FormatClock(when), "2026/12/09(水) 10:27:54");
  EXPECT_EQ(QLocale().toString(1234567), "1,234,567");
}

}  // namespace
