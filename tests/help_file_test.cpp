#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "desktop/help_file.h"

using namespace yuragi;

namespace {

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

TEST(HelpFile, IsTheProgramsPathWithItsExtensionReplaced) {
  EXPECT_EQ(HelpFileBeside("/opt/tools/yuragimaru"), "/opt/tools/yuragimaru.html");
  EXPECT_EQ(HelpFileBeside("/opt/tools/tool.old"), "/opt/tools/tool.html");
  EXPECT_EQ(HelpFileBeside("/opt/v1.7/yuragimaru"), "/opt/v1.7/yuragimaru.html");
  EXPECT_EQ(HelpFileBeside("/opt/名前を変えた 丸"), "/opt/名前を変えた 丸.html");
  EXPECT_EQ(HelpFileBeside("/opt/\x89\xE6.bin"), "/opt/\x89\xE6.html");
}

TEST(HelpFile, TheOneBesideTheProgramComesFirst) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QByteArray program = QFile::encodeName(dir.path() + "/renamed tool");
  // Not there: nothing beside, and no installed copy under a test prefix.
  const QByteArray found = FindHelpFile(program);
  EXPECT_NE(found, program + ".html");
  EXPECT_TRUE(found.isEmpty() || QFile::exists(QFile::decodeName(found)));
  QFile help(QFile::decodeName(program + ".html"));
  ASSERT_TRUE(help.open(QIODevice::WriteOnly));
  help.close();
  EXPECT_EQ(FindHelpFile(program), program + ".html");
  // A folder of that name is not a manual.
  QDir().mkpath(dir.path() + "/other.html");
  EXPECT_NE(FindHelpFile(QFile::encodeName(dir.path() + "/other")), QFile::encodeName(dir.path() + "/other.html"));
}

TEST(HelpFile, TheBuiltManualSitsBesideTheProgramWithItsPictures) {
  const QByteArray help = FindHelpFile(YURAGI_BIN);
  ASSERT_EQ(help, QByteArray(YURAGI_BIN) + ".html");
  const QString html = QString::fromUtf8(ReadAll(QFile::decodeName(help)));
  EXPECT_TRUE(html.contains("<html lang=\"ja\">"));
  for (const char* needed : {"再取得", "検出", "ヘルプ表示", "バージョン情報", "ホームページ表示", "デスクトップ登録",
                             "スタートアップ登録", "スタートメニュー登録", "終了時に確認する", "終了時の状態を保存",
                             "yuragimaru-scan", ".ini"}) {
    EXPECT_TRUE(html.contains(QString::fromUtf8(needed))) << needed;
  }
  const QRegularExpression picture("<img src=\"([^\"]+)\"");
  int pictures = 0;
  for (auto match = picture.globalMatch(html); match.hasNext();) {
    const QString relative = match.next().captured(1);
    ++pictures;
    EXPECT_TRUE(QFile::exists(QFileInfo(QFile::decodeName(help)).path() + "/" + relative)) << relative.toStdString();
  }
  EXPECT_GE(pictures, 3);
  EXPECT_TRUE(ReadAll(YURAGI_SOURCE_DIR "/README.md").contains("doc/yuragimaru.html"));
}

TEST(HelpFile, AnInstalledProgramFindsTheManualOfItsOwnPrefix) {
  // The layout of `cmake --install` or of the package, under any prefix.
  QTemporaryDir prefix;
  ASSERT_TRUE(prefix.isValid());
  ASSERT_TRUE(QDir().mkpath(prefix.path() + "/bin"));
  ASSERT_TRUE(QDir().mkpath(prefix.path() + "/share/doc/yuragimaru"));
  const QByteArray program = QFile::encodeName(prefix.path() + "/bin/yuragimaru");
  const QByteArray installed = QFile::encodeName(prefix.path() + "/bin/../share/doc/yuragimaru/yuragimaru.html");
  EXPECT_NE(FindHelpFile(program), installed);
  QFile help(QFile::decodeName(installed));
  ASSERT_TRUE(help.open(QIODevice::WriteOnly));
  help.close();
  EXPECT_EQ(FindHelpFile(program), installed);
  // A copy beside the program still comes first.
  QFile beside(QFile::decodeName(program + ".html"));
  ASSERT_TRUE(beside.open(QIODevice::WriteOnly));
  beside.close();
  EXPECT_EQ(FindHelpFile(program), program + ".html");
}
