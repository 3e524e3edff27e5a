#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "jpeg_writer.h"
#include "platform/output_file.h"

using namespace yuragi;
using yuragi::testing::ReadFile;
using yuragi::testing::WriteFile;

namespace {

std::string Content(const QString& path) {
  const std::vector<uint8_t> bytes = ReadFile(path.toStdString());
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

TEST(OutputFile, ALinkInTheWayIsReplacedNeverWrittenThrough) {
  QTemporaryDir dir;
  const QString victim = dir.path() + "/victim";
  const QString name = dir.path() + "/$download.jpg";
  WriteFile(victim.toStdString(), std::string("precious"));
  ASSERT_EQ(symlink(victim.toLocal8Bit().constData(), name.toLocal8Bit().constData()), 0);
  QString error;
  ASSERT_TRUE(WriteNewFile(name.toUtf8(), "received", &error)) << error.toStdString();
  EXPECT_EQ(Content(victim), "precious");
  EXPECT_EQ(Content(name), "received");
  struct stat st {};
  ASSERT_EQ(lstat(name.toLocal8Bit().constData(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(OutputFile, BlocksArriveInOrderAndAMissingFolderFails) {
  QTemporaryDir dir;
  std::string reason;
  std::unique_ptr<OutputFile> file = OutputFile::Create((dir.path() + "/blocks").toStdString(), &reason);
  ASSERT_TRUE(file);
  std::string expected;
  for (int i = 0; i < 3000; ++i) {
    const std::string block(1024, char('a' + i % 26));
    ASSERT_TRUE(file->Write(block.data(), block.size()));
    expected += block;
  }
  ASSERT_TRUE(file->Close());
  EXPECT_EQ(Content(dir.path() + "/blocks"), expected);
  EXPECT_FALSE(OutputFile::Create((dir.path() + "/no/such/folder/x").toStdString(), &reason));
  EXPECT_FALSE(reason.empty());
}

TEST(ReplaceFile, ReplacesInOneStepKeepingModeAndLinks) {
  QTemporaryDir dir;
  const QString target = dir.path() + "/photo.jpg";
  WriteFile(target.toStdString(), std::string("old"));
  ASSERT_EQ(chmod(target.toLocal8Bit().constData(), 0640), 0);
  QString error;
  ASSERT_TRUE(ReplaceFileAtomically(target.toUtf8(), "new bytes", &error)) << error.toStdString();
  EXPECT_EQ(Content(target), "new bytes");
  struct stat st {};
  ASSERT_EQ(stat(target.toLocal8Bit().constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);  // no temporary left

  // Through a link the file it points to is replaced; the link stays.
  const QString link = dir.path() + "/link.jpg";
  ASSERT_EQ(symlink(target.toLocal8Bit().constData(), link.toLocal8Bit().constData()), 0);
  ASSERT_TRUE(ReplaceFileAtomically(link.toUtf8(), "via link", &error));
  EXPECT_EQ(Content(target), "via link");
  ASSERT_EQ(lstat(link.toLocal8Bit().constData(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));

  // A new file is made; a missing folder fails and leaves nothing behind.
  ASSERT_TRUE(ReplaceFileAtomically((dir.path() + "/fresh.jpg").toUtf8(), "x", &error));
  EXPECT_EQ(Content(dir.path() + "/fresh.jpg"), "x");
  EXPECT_FALSE(ReplaceFileAtomically((dir.path() + "/gone/x.jpg").toUtf8(), "x", &error));
  EXPECT_FALSE(error.isEmpty());
  // Over a folder the rename fails and the folder is untouched.
  QDir().mkpath(dir.path() + "/folder/inside");
  EXPECT_FALSE(ReplaceFileAtomically((dir.path() + "/folder").toUtf8(), "x", &error));
  EXPECT_TRUE(QFileInfo(dir.path() + "/folder/inside").isDir());
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
  // A link to nothing is neither followed nor replaced.
  const QString dangling = dir.path() + "/dangling.jpg";
  ASSERT_EQ(symlink((dir.path() + "/nowhere.jpg").toLocal8Bit().constData(), dangling.toLocal8Bit().constData()), 0);
  EXPECT_FALSE(ReplaceFileAtomically(dangling.toUtf8(), "x", &error));
  EXPECT_EQ(error, "リンク先のファイルがありません。");
  EXPECT_FALSE(QFileInfo::exists(dir.path() + "/nowhere.jpg"));
  ASSERT_EQ(lstat(dangling.toLocal8Bit().constData(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}
