#include <gio/gio.h>
#include <gio/gdesktopappinfo.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cstdlib>

#include "desktop/launcher_entry.h"

using namespace yuragi;

namespace {

const QString kName = QStringLiteral("ゆらぎ丸");
const QByteArray kFileName = QFile::encodeName(kName + ".desktop");

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray WaitForFile(const QString& path) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < 30000) {
    const QByteArray bytes = ReadAll(path);
    if (!bytes.isEmpty()) return bytes;
    QThread::msleep(20);
  }
  return {};
}

// A program in a folder whose name holds the given characters; it writes
// the path it was started as into $LAUNCH_OUT.
QByteArray MakeStandIn(const QString& root, const QString& folderName) {
  const QString folder = root + "/" + folderName;
  EXPECT_TRUE(QDir().mkpath(folder));
  const QString program = folder + "/prog " + folderName;
  QFile file(program);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("#!/bin/sh\nprintf '%s' \"$0\" > \"$LAUNCH_OUT\"\n");
  file.close();
  file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  return QFile::encodeName(program);
}

}  // namespace

TEST(LauncherEntry, QuotesExecArgumentsByTheDesktopEntryRules) {
  EXPECT_EQ(QuoteExecArgument("/usr/bin/yuragimaru"), "/usr/bin/yuragimaru");
  EXPECT_EQ(QuoteExecArgument("/opt/my tools/yuragimaru"), "\"/opt/my tools/yuragimaru\"");
  EXPECT_EQ(QuoteExecArgument("/opt/100%/prog"), "/opt/100%%/prog");
  EXPECT_EQ(QuoteExecArgument("/opt/a \"b\"/p"), "\"/opt/a \\\"b\\\"/p\"");
  EXPECT_EQ(QuoteExecArgument("/opt/$HOME/p"), "\"/opt/\\$HOME/p\"");
  // A control character unquoted would be taken for a blank by readers.
  EXPECT_EQ(QuoteExecArgument("/opt/\fa/p"), "\"/opt/\fa/p\"");
  EXPECT_EQ(QuoteExecArgument("/opt/a\r"), "\"/opt/a\r\"");
  EXPECT_EQ(QuoteExecArgument("/opt/back\\slash"), "\"/opt/back\\\\slash\"");
  EXPECT_EQ(QuoteExecArgument("/opt/`x`"), "\"/opt/\\`x\\`\"");
  EXPECT_EQ(QuoteExecArgument("/opt/it's"), "\"/opt/it's\"");
  EXPECT_EQ(QuoteExecArgument("/opt/50% off"), "\"/opt/50%% off\"");
  EXPECT_EQ(QuoteExecArgument("/opt/ゆらぎ丸/p"), "/opt/ゆらぎ丸/p");
  for (const char* reserved : {"~", "|", "&", ";", "*", "?", "#", "(", ")", "<", ">", "\t"}) {
    const QByteArray path = QByteArray("/opt/x") + reserved;
    EXPECT_EQ(QuoteExecArgument(path), "\"" + path + "\"") << reserved;
  }
}

TEST(LauncherEntry, EntryTextHoldsTheKeysAndTheKeyFilesOwnEscaping) {
  QString reason;
  const QByteArray text = LauncherText(kName, "/opt/back\\slash/yuragimaru", "yuragimaru", &reason);
  EXPECT_EQ(text,
            "[Desktop Entry]\n"
            "Type=Application\n"
            "Name=ゆらぎ丸\n"
            "Comment=途中で切れた JPEG 画像を見つけて取り直します\n"
            "Exec=\"/opt/back\\\\\\\\slash/yuragimaru\"\n"
            "Icon=yuragimaru\n"
            "Terminal=false\n"
            "Categories=Graphics;2DGraphics;RasterGraphics;\n");
  EXPECT_TRUE(reason.isEmpty());
  EXPECT_TRUE(LauncherText(kName, "/opt/100% sure/p", "yuragimaru", &reason).contains("\nExec=env \"/opt/100%% sure/p\"\n"));
  EXPECT_TRUE(LauncherText(kName, "/opt/a=b%/p", "yuragimaru", &reason).isEmpty());
  EXPECT_EQ(reason, "実行ファイルのパス /opt/a=b%/p は % と = を含むため、起動用ファイルに書けません。");
  reason.clear();
  EXPECT_FALSE(LauncherText(kName, "/opt/a=b/p", "yuragimaru", &reason).isEmpty());

  // A launcher is UTF-8: a path in another encoding cannot be written into one.
  const QByteArray shiftJis("/opt/\x89\xE6\x91\x9C/yuragimaru");
  EXPECT_TRUE(LauncherText(kName, shiftJis, "yuragimaru", &reason).isEmpty());
  EXPECT_TRUE(reason.contains("UTF-8")) << reason.toStdString();
}

TEST(LauncherEntry, GioStartsExactlyTheWrittenPathAndTheValidatorFindsNothing) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QStringList folderNames = {"plain", "with blanks", "quote \"double\" and 'single'", "dollar $HOME",
                                   "percent 100% %u", "back\\slash", "tick `x`", "日本語 フォルダ",
                                   "all of it \"$%\\` ~|&;*?#()<>"};
  int index = 0;
  for (const QString& folderName : folderNames) {
    SCOPED_TRACE(folderName.toStdString());
    const QByteArray program = MakeStandIn(dir.path(), folderName);
    const QByteArray launchers = QFile::encodeName(dir.path() + "/launchers" + QString::number(index++));
    QString reason;
    const QByteArray text = LauncherText(kName, program, "yuragimaru", &reason);
    ASSERT_FALSE(text.isEmpty()) << reason.toStdString();
    ASSERT_TRUE(WriteLauncher(launchers, kFileName, text, false, &reason)) << reason.toStdString();
    const QByteArray launcher = launchers + "/" + kFileName;

    QProcess validate;
    validate.start("desktop-file-validate", {QFile::decodeName(launcher)});
    ASSERT_TRUE(validate.waitForFinished(60000));
    EXPECT_EQ(validate.exitCode(), 0);
    EXPECT_EQ((validate.readAllStandardOutput() + validate.readAllStandardError()).toStdString(), "");

    GDesktopAppInfo* info = g_desktop_app_info_new_from_filename(launcher.constData());
    ASSERT_NE(info, nullptr);
    const QString out = dir.path() + "/out" + QString::number(index);
    setenv("LAUNCH_OUT", QFile::encodeName(out).constData(), 1);
    GError* error = nullptr;
    const bool launched = g_app_info_launch(G_APP_INFO(info), nullptr, nullptr, &error);
    EXPECT_TRUE(launched) << (error ? error->message : "");
    g_clear_error(&error);
    g_object_unref(info);
    if (launched) {
      EXPECT_EQ(WaitForFile(out), program);
    }
  }
}

TEST(LauncherEntry, WritesExecutableMakesFoldersAndReplacesInOneRename) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QByteArray folder = QFile::encodeName(dir.path() + "/missing/parents/autostart");
  QString reason;
  ASSERT_TRUE(WriteLauncher(folder, kFileName, "first\n", false, &reason)) << reason.toStdString();
  const QByteArray path = folder + "/" + kFileName;
  struct stat info {};
  ASSERT_EQ(::stat(path.constData(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0755u);
  const ino_t firstInode = info.st_ino;

  // An earlier launcher is replaced, never written through: a second name
  // linked to the old file keeps the old content.
  const QByteArray other = folder + "/hardlink";
  ASSERT_EQ(::link(path.constData(), other.constData()), 0);
  ASSERT_TRUE(WriteLauncher(folder, kFileName, "second\n", true, &reason)) << reason.toStdString();
  EXPECT_EQ(ReadAll(QFile::decodeName(path)), "second\n");
  EXPECT_EQ(ReadAll(QFile::decodeName(other)), "first\n");
  ASSERT_EQ(::stat(path.constData(), &info), 0);
  EXPECT_NE(info.st_ino, firstInode);
  EXPECT_EQ(info.st_mode & 07777, 0755u);
  // Nothing of the temporary file is left.
  EXPECT_EQ(QDir(QFile::decodeName(folder)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 2);
}

TEST(LauncherEntry, AFolderThatCannotTakeTheFileGivesTheReason) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QString reason;
  // A file where the folder should be.
  const QByteArray blocked = QFile::encodeName(dir.path() + "/blocked");
  QFile(QFile::decodeName(blocked)).open(QIODevice::WriteOnly);
  EXPECT_FALSE(WriteLauncher(blocked + "/applications", kFileName, "x\n", false, &reason));
  EXPECT_TRUE(reason.contains(QFile::decodeName(blocked) + "/applications")) << reason.toStdString();

  // A read-only folder; root writes through permission bits, so it gets a
  // folder of a file system that takes no new files at all.
  const QByteArray readOnly = geteuid() == 0 ? QByteArray("/proc/self") : QFile::encodeName(dir.path() + "/ro");
  if (geteuid() != 0) {
    QDir().mkpath(QFile::decodeName(readOnly));
    QFile::setPermissions(QFile::decodeName(readOnly), QFile::ReadOwner | QFile::ExeOwner);
  }
  reason.clear();
  EXPECT_FALSE(WriteLauncher(readOnly, kFileName, "x\n", true, &reason));
  EXPECT_TRUE(reason.contains(QFile::decodeName(readOnly + "/" + kFileName))) << reason.toStdString();
  EXPECT_FALSE(QFile::exists(QFile::decodeName(readOnly + "/" + kFileName)));
}

TEST(LauncherEntry, FoldersFollowTheUsersXdgSettings) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString home = dir.path() + "/home";
  QDir().mkpath(home + "/.config");
  setenv("HOME", QFile::encodeName(home).constData(), 1);
  unsetenv("XDG_CONFIG_HOME");
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(LauncherFolder(LauncherPlace::Desktop), QFile::encodeName(home + "/Desktop"));
  EXPECT_EQ(LauncherFolder(LauncherPlace::Autostart), QFile::encodeName(home + "/.config/autostart"));
  EXPECT_EQ(LauncherFolder(LauncherPlace::Applications), QFile::encodeName(home + "/.local/share/applications"));

  setenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path() + "/config").constData(), 1);
  setenv("XDG_DATA_HOME", QFile::encodeName(dir.path() + "/data").constData(), 1);
  QDir().mkpath(dir.path() + "/config");
  QFile dirs(dir.path() + "/config/user-dirs.dirs");
  ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
  dirs.write("XDG_DESKTOP_DIR=\"$HOME/デスクトップ\"\n");
  dirs.close();
  EXPECT_EQ(LauncherFolder(LauncherPlace::Desktop), QFile::encodeName(home + "/デスクトップ"));
  EXPECT_EQ(LauncherFolder(LauncherPlace::Autostart), QFile::encodeName(dir.path() + "/config/autostart"));
  EXPECT_EQ(LauncherFolder(LauncherPlace::Applications), QFile::encodeName(dir.path() + "/data/applications"));
}
