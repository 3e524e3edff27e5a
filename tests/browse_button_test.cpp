// 確認(F): the URL goes to the desktop's browser through the desktop shell,
// and a URL nothing can open ends in an error box, not in silence. The
// "browser" is a script registered for http in a private XDG set-up.
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>

#include "window_fixture.h"

using namespace yuragi;
using namespace yuragi::testing;

namespace {

// Set before anything asks GLib for the user's folders, which it keeps.
struct PrivateDesktop {
  PrivateDesktop() {
    const QString root = home.path();
    QDir().mkpath(root + "/data/applications");
    QDir().mkpath(root + "/config");
    Write(root + "/browser.sh", "#!/bin/sh\nprintf '%s\\n' \"$1\" >>'" + log + "'\n");
    QFile::setPermissions(root + "/browser.sh", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    Write(root + "/data/applications/yuragi-test-browser.desktop",
          "[Desktop Entry]\nType=Application\nName=Test Browser\nExec=" + root +
              "/browser.sh %u\nMimeType=x-scheme-handler/http;\nNoDisplay=true\n");
    Write(root + "/config/mimeapps.list",
          "[Default Applications]\nx-scheme-handler/http=yuragi-test-browser.desktop\n");
    setenv("XDG_DATA_HOME", (root + "/data").toLocal8Bit().constData(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/config").toLocal8Bit().constData(), 1);
    setenv("GIO_USE_VFS", "local", 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/yuragi-test-bus", 1);
  }
  static void Write(const QString& path, const QString& text) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) file.write(text.toUtf8());
  }
  QByteArray Opened() const {
    QFile file(log);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
  QTemporaryDir home;
  QString log = home.path() + "/opened.txt";
};

PrivateDesktop desktop;

using BrowseButton = WindowTest;

TEST_F(BrowseButton, AsksThenOpensTheUrlInTheBrowserAndReportsWhatCannotBeOpened) {
  TForm1& f = Open();
  f.Edit1->setText(Path("img.example/photos/a.jpg"));
  int key = 13;
  f.Edit1KeyPress(f.Edit1, key);
  ASSERT_TRUE(f.BrowseBtn->isEnabled());
  const QString url = f.Edit2->text();
  EXPECT_EQ(url, "http://img.example/photos/a.jpg");

  prompts.answers = {false, true};
  f.BrowseBtn->click();  // No: nothing is opened
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].kind, "question");
  EXPECT_EQ(prompts.shown[0].caption, "確認");
  EXPECT_EQ(prompts.shown[0].text, "ブラウザを起動します。よろしいですか？");
  f.BrowseBtn->click();
  QTRY_COMPARE_WITH_TIMEOUT(desktop.Opened(), (url + "\n").toUtf8(), 20000);
  EXPECT_EQ(prompts.shown.size(), 2u) << "an error box after a good start";

  // The URL box may be edited into something no program opens.
  f.Edit2->setText("nosuch-yuragi-scheme://x/y.jpg");
  prompts.answers = {true};
  f.BrowseBtn->click();
  ASSERT_EQ(prompts.shown.size(), 4u);
  EXPECT_EQ(prompts.shown[3].kind, "error");
  EXPECT_TRUE(prompts.shown[3].text.startsWith("nosuch-yuragi-scheme://x/y.jpg を開けません。"))
      << prompts.shown[3].text.toStdString();
  EXPECT_EQ(desktop.Opened(), (url + "\n").toUtf8());
}

}  // namespace
