#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QGroupBox>
#include <QPushButton>
#include <QSettings>
#include <QTimer>

#include "desktop/help_file.h"
#include "desktop/launcher_entry.h"
#include "jpeg_writer.h"
#include "test_server.h"
#include "window_fixture.h"
#include "platform/paths.h"

using namespace yuragi;
using namespace yuragi::testing;

namespace {

class LauncherWindow : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    home = Path("home");
    QDir().mkpath(home + "/.config");
    setenv("HOME", QFile::encodeName(home).constData(), 1);
    setenv("XDG_CONFIG_HOME", QFile::encodeName(home + "/.config").constData(), 1);
    setenv("XDG_DATA_HOME", QFile::encodeName(home + "/.local/share").constData(), 1);
    QFile dirs(home + "/.config/user-dirs.dirs");
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write("XDG_DESKTOP_DIR=\"$HOME/デスク トップ\"\n");
  }

  QString home;
};

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

TEST_F(LauncherWindow, EachVariantAsksClearsTheTabAndWritesItsLauncher) {
  TForm1& f = Open();
  struct Variant {
    QAction* item;
    QString question;
    QString folder;
  } variants[] = {
      {f.DeskTop1, "デスクトップに登録しますか？", home + "/デスク トップ"},
      {f.StartUp1, "スタートアップに登録しますか？", home + "/.config/autostart"},
      {f.StartMenu1, "スタートメニューのプログラムに登録しますか？", home + "/.local/share/applications"},
  };
  const QByteArray executable = ExecutablePath();
  for (const Variant& v : variants) {
    SCOPED_TRACE(v.question.toStdString());
    f.Edit1->setText(Path("site/photo.jpg"));
    f.SetCaption("photo.jpg - " + ProductName);
    prompts.shown.clear();
    prompts.answers = {true};
    v.item->trigger();
    const QString launcher = v.folder + "/ゆらぎ丸.desktop";
    ASSERT_EQ(prompts.shown.size(), 2u);
    EXPECT_EQ(prompts.shown[0].kind, "question");
    EXPECT_EQ(prompts.shown[0].caption, ProductName);
    EXPECT_EQ(prompts.shown[0].text, v.question);
    EXPECT_EQ(prompts.shown[1].kind, "message");
    EXPECT_EQ(prompts.shown[1].caption, ProductName);
    EXPECT_EQ(prompts.shown[1].text, launcher + " に登録しました。");
    EXPECT_TRUE(f.Edit1->text().isEmpty());
    EXPECT_EQ(f.windowTitle(), ProductName);

    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(launcher).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0755u);
    QString reason;
    EXPECT_EQ(ReadAll(launcher), LauncherText(ProductName, executable, "yuragimaru", &reason));
    QSettings entry(launcher, QSettings::IniFormat);
    EXPECT_EQ(entry.value("Desktop Entry/Type").toString(), "Application");
    EXPECT_EQ(entry.value("Desktop Entry/Terminal").toString(), "false");

    // Again: the same file is replaced and the same message comes.
    prompts.shown.clear();
    prompts.answers = {true};
    v.item->trigger();
    ASSERT_EQ(prompts.shown.size(), 2u);
    EXPECT_EQ(prompts.shown[1].text, launcher + " に登録しました。");
    EXPECT_EQ(QDir(v.folder).entryList(QDir::Files | QDir::Hidden).size(), 1);
  }
  // A program that was never installed brings its icon into the user's theme.
  EXPECT_TRUE(QFile::exists(home + "/.local/share/icons/hicolor/256x256/apps/yuragimaru.png"));
  EXPECT_TRUE(QFile::exists(home + "/.local/share/icons/hicolor/scalable/apps/yuragimaru.svg"));
}

TEST_F(LauncherWindow, NoWritesNothingAndKeepsTheRefetchTab) {
  TForm1& f = Open();
  for (QAction* item : {f.DeskTop1, f.StartUp1, f.StartMenu1}) {
    f.Edit1->setText(Path("site/photo.jpg"));
    prompts.shown.clear();
    prompts.answers = {false};
    item->trigger();
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].kind, "question");
    EXPECT_EQ(f.Edit1->text(), Path("site/photo.jpg"));
  }
  EXPECT_FALSE(QFile::exists(home + "/デスク トップ"));
  EXPECT_FALSE(QFile::exists(home + "/.config/autostart"));
  EXPECT_FALSE(QFile::exists(home + "/.local/share/applications"));
}

TEST_F(LauncherWindow, AFolderThatCannotBeWrittenGivesAnErrorAndNoSuccess) {
  TForm1& f = Open();
  // Root writes through permission bits: the desktop folder is then made a
  // folder of a file system that takes no new files at all.
  QFile dirs(home + "/.config/user-dirs.dirs");
  ASSERT_TRUE(dirs.open(QIODevice::WriteOnly | QIODevice::Truncate));
  if (geteuid() == 0) {
    dirs.write("XDG_DESKTOP_DIR=\"/proc/self\"\n");
  } else {
    QDir().mkpath(home + "/Desktop");
    QFile::setPermissions(home + "/Desktop", QFile::ReadOwner | QFile::ExeOwner);
    dirs.write("XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n");
  }
  dirs.close();
  const QString folder = QString::fromUtf8(LauncherFolder(LauncherPlace::Desktop));
  prompts.answers = {true};
  f.DeskTop1->trigger();
  ASSERT_EQ(prompts.shown.size(), 2u);
  EXPECT_EQ(prompts.shown[1].kind, "error");
  EXPECT_TRUE(prompts.shown[1].text.contains(folder + "/ゆらぎ丸.desktop")) << prompts.shown[1].text.toStdString();
  EXPECT_FALSE(prompts.Texts().join("|").contains("に登録しました。"));
  EXPECT_FALSE(QFile::exists(folder + "/ゆらぎ丸.desktop"));

  // The autostart folder's place taken by a file.
  QFile blocker(home + "/.config/autostart");
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  prompts.shown.clear();
  prompts.answers = {true};
  f.StartUp1->trigger();
  ASSERT_EQ(prompts.shown.size(), 2u);
  EXPECT_EQ(prompts.shown[1].kind, "error");
  EXPECT_TRUE(prompts.shown[1].text.contains(home + "/.config/autostart")) << prompts.shown[1].text.toStdString();
}

TEST_F(LauncherWindow, RefusedWhileATransferRuns) {
  TestServer server;
  const std::vector<uint8_t> picture = EncodeJpeg({320, 240, JpegKind::Baseline, 90, 4});
  server.ServeStalling("/img/slow.jpg", picture);
  server.Start();
  const QString target = Path(QStringLiteral("127.0.0.1:%1/img/slow.jpg").arg(server.Port()));
  QDir().mkpath(QFileInfo(target).path());
  WriteFile(target.toStdString(), Truncated(picture, picture.size() / 2));
  TForm1& f = Open();
  f.Edit1->setText(target);
  int key = 13;
  f.Edit1KeyPress(f.Edit1, key);
  const QString url = f.Edit2->text();
  ASSERT_FALSE(url.isEmpty());
  ASSERT_EQ(url.toStdString(), server.Url("/img/slow.jpg"));

  QTimer poll;
  bool tried = false;
  QObject::connect(&poll, &QTimer::timeout, &f, [&] {
    if (f.GroupBox5->title().isEmpty()) return;
    prompts.answers = {true, true, true};
    for (QAction* item : {f.DeskTop1, f.StartUp1, f.StartMenu1}) item->trigger();
    tried = true;
    f.CancelBtn0->click();
    poll.stop();
  });
  poll.start(5);
  f.ReGetBtnClick();
  server.release = true;
  EXPECT_TRUE(tried);
  EXPECT_TRUE(prompts.shown.empty()) << prompts.Texts().join("|").toStdString();
  EXPECT_EQ(f.Edit1->text(), target);
  EXPECT_EQ(f.Edit2->text(), url);
  EXPECT_FALSE(QFile::exists(home + "/.config/autostart"));
  EXPECT_FALSE(QFile::exists(home + "/.local/share/applications"));
}
