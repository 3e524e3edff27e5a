// Saving over a file keeps what the file had and never writes through a
// file that changed since it was read.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utime.h>

#include <QDir>
#include <QTemporaryDir>
#include <cstring>
#include <ctime>

#include "jpeg_writer.h"
#include "platform/output_file.h"

using namespace yuragi;
using yuragi::testing::ReadFile;
using yuragi::testing::WriteFile;

namespace {

std::string Content(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

SaveResult Save(const std::string& path, const std::string& bytes, const SaveOptions& options = {}) {
  return SaveOverFile(path, bytes.data(), bytes.size(), options);
}

struct stat StatOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st;
}

QStringList Entries(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

class SaveOver : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir.path().toStdString() + "/" + name; }
  QTemporaryDir dir;
};

}  // namespace

TEST_F(SaveOver, KeepsModeOwnerGroupAndExtendedAttributes) {
  const std::string target = Path("photo.jpg");
  WriteFile(target, std::string("old bytes"));
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  // Root can hand the file to another owner; others keep their own.
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(target.c_str(), 4321, 4322), 0);
  }
  const char url[] = "http://www.example.jp/photo.jpg";
  const bool attributes = ::setxattr(target.c_str(), "user.xdg.origin.url", url, sizeof url - 1, 0) == 0;
  if (!attributes) {
    ASSERT_TRUE(errno == ENOTSUP || errno == EPERM) << std::strerror(errno);
  }
  const struct stat before = StatOf(target);

  const SaveResult saved = Save(target, "new bytes, longer than before");
  ASSERT_TRUE(saved.ok()) << saved.error;
  EXPECT_EQ(Content(target), "new bytes, longer than before");
  const struct stat after = StatOf(target);
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  if (root) {
    EXPECT_EQ(after.st_uid, 4321u);
  }
  if (attributes) {
    char value[128] = {};
    const ssize_t n = ::getxattr(target.c_str(), "user.xdg.origin.url", value, sizeof value);
    EXPECT_EQ(std::string(value, n > 0 ? size_t(n) : 0), url);
  }
  EXPECT_EQ(Entries(dir.path()), QStringList{"photo.jpg"});  // no temporary left
  if (!attributes) GTEST_SKIP() << "the temporary file system refuses user extended attributes";
}

TEST_F(SaveOver, HardLinksStayOneFile) {
  const std::string target = Path("a.jpg");
  const std::string other = Path("b.jpg");
  WriteFile(target, std::string("old"));
  ASSERT_EQ(::link(target.c_str(), other.c_str()), 0);
  const SaveResult saved = Save(target, "new and longer");
  ASSERT_EQ(saved.end, SaveEnd::WrittenInPlace) << saved.error;
  EXPECT_EQ(Content(other), "new and longer");
  EXPECT_EQ(StatOf(target).st_ino, StatOf(other).st_ino);
  EXPECT_EQ(StatOf(target).st_nlink, 2u);
  // Shorter bytes leave no tail of the old ones.
  ASSERT_TRUE(Save(other, "x").ok());
  EXPECT_EQ(Content(target), "x");
  EXPECT_EQ(Entries(dir.path()).size(), 2);
}

TEST_F(SaveOver, AWritableFileInAReadOnlyFolderIsRepairedInPlace) {
  const std::string folder = Path("site");
  const std::string spare = Path("spare");
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(spare.c_str(), 0700), 0);
  const std::string target = folder + "/photo.jpg";
  WriteFile(target, std::string("cut"));
  ASSERT_EQ(::chmod(target.c_str(), 0644), 0);
  const FileIdentity read = IdentifyFile(target);

  // Root passes every permission check: the save runs as nobody then.
  const bool root = ::geteuid() == 0;
  const uid_t nobody = 65534;
  if (root) {
    for (const std::string& path : {dir.path().toStdString(), folder, spare, target}) {
      ASSERT_EQ(::chown(path.c_str(), nobody, nobody), 0);
    }
  }
  ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (root && (::setgid(nobody) != 0 || ::setuid(nobody) != 0)) _exit(10);
    SaveOptions options;
    const FileIdentity expected = IdentifyFile(target);
    options.expected = &expected;
    if (Save(target, "repaired", options).end != SaveEnd::Failed) _exit(11);  // no spare folder: refused
    options.spareFolder = spare;
    const SaveResult saved = Save(target, "repaired whole", options);
    _exit(saved.end == SaveEnd::WrittenInPlace ? 0 : 12);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ::chmod(folder.c_str(), 0755);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(Content(target), "repaired whole");
  EXPECT_EQ(IdentifyFile(target).inode, read.inode);
  EXPECT_EQ(Entries(QString::fromStdString(folder)), QStringList{"photo.jpg"});
  EXPECT_TRUE(Entries(QString::fromStdString(spare)).isEmpty());
}

TEST_F(SaveOver, AFileThatChangedSinceItWasReadIsNotWrittenThrough) {
  const std::string target = Path("photo.jpg");
  const std::string victim = Path("victim");
  WriteFile(target, std::string("cut"));
  WriteFile(victim, std::string("precious"));
  SaveOptions options;
  FileIdentity read = IdentifyFile(target);
  options.expected = &read;

  // A link swapped in before the save.
  ASSERT_EQ(::rename(target.c_str(), Path("moved").c_str()), 0);
  ASSERT_EQ(::symlink(victim.c_str(), target.c_str()), 0);
  SaveResult saved = Save(target, "new", options);
  EXPECT_EQ(saved.end, SaveEnd::Changed);
  EXPECT_EQ(saved.change, FileChange::BecameLink);
  EXPECT_EQ(Content(victim), "precious");
  EXPECT_TRUE(S_ISLNK(StatOf(target).st_mode));

  // A dangling link is neither followed nor replaced.
  ASSERT_EQ(::unlink(victim.c_str()), 0);
  saved = Save(target, "new", options);
  EXPECT_EQ(saved.change, FileChange::DanglingLink);
  EXPECT_FALSE(QFile::exists(QString::fromStdString(victim)));
  EXPECT_TRUE(S_ISLNK(StatOf(target).st_mode));
  EXPECT_EQ(Save(target, "new").change, FileChange::DanglingLink);  // without an identity too

  // Another file renamed over it, a longer file, a touched file.
  ASSERT_EQ(::unlink(target.c_str()), 0);
  ASSERT_EQ(::rename(Path("moved").c_str(), target.c_str()), 0);
  read = IdentifyFile(target);
  WriteFile(Path("other"), std::string("cut"));
  ASSERT_EQ(::rename(Path("other").c_str(), target.c_str()), 0);
  EXPECT_EQ(Save(target, "new", options).change, FileChange::Replaced);
  read = IdentifyFile(target);
  WriteFile(target, std::string("cut, then more"));
  EXPECT_EQ(Save(target, "new", options).change, FileChange::Resized);
  read = IdentifyFile(target);
  const struct utimbuf times {1000000000, 1000000000};
  ASSERT_EQ(::utime(target.c_str(), &times), 0);
  EXPECT_EQ(Save(target, "new", options).change, FileChange::Modified);
  EXPECT_EQ(Content(target), "cut, then more");

  // Through a link that still points where it did, the file it points to is saved.
  const std::string link = Path("link.jpg");
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  read = IdentifyFile(link);
  saved = Save(link, "new", options);
  ASSERT_TRUE(saved.ok()) << saved.error;
  EXPECT_EQ(Content(target), "new");
  EXPECT_TRUE(S_ISLNK(StatOf(link).st_mode));
  // Unchanged since read (a removed file is no change: it is made anew).
  read = IdentifyFile(target);
  ASSERT_EQ(::unlink(target.c_str()), 0);
  EXPECT_TRUE(Save(target, "again", options).ok());
  EXPECT_EQ(Content(target), "again");
}

// Leftovers of a save that never finished go only when everything says
// they are ours: a user's file named like one stays.
TEST_F(SaveOver, LongNamesSaveAndOnlyProvenLeftoversGo) {
  for (const size_t length : {size_t(8), size_t(250)}) {
    const std::string name = std::string(length - 4, 'n') + ".jpg";
    const std::string target = Path(name);
    WriteFile(target, std::string("cut picture"));
    const std::string stem = SaveTempStem(name);
    ASSERT_LE(stem.size() + 6, 255u);
    const struct {
      std::string name;
      std::string content;
      bool old;
      bool goes;
    } cases[] = {
        {stem + "AbC123", "cut picture and its tail", true, true},
        {stem + "XyZ789", "cut picture and its tail", false, false},  // a save running now may own it
        {stem + "Qrs456", "another picture", true, false},
        {stem + "Emp000", "", true, false},
        {SaveTempStem("other.jpg") + "AbC123", "cut picture", true, false},
        {".yuragimaru-AbC123", "cut picture", true, false},
    };
    const time_t twoDaysAgo = std::time(nullptr) - 2 * 24 * 60 * 60;
    const struct utimbuf old {twoDaysAgo, twoDaysAgo};
    for (const auto& c : cases) {
      WriteFile(Path(c.name), c.content);
      if (c.old) {
        ASSERT_EQ(::utime(Path(c.name).c_str(), &old), 0);
      }
    }
    const SaveResult saved = Save(target, "whole");
    ASSERT_EQ(saved.end, SaveEnd::Replaced) << saved.error;
    EXPECT_EQ(Content(target), "whole");
    for (const auto& c : cases) {
      EXPECT_EQ(QFile::exists(QString::fromStdString(Path(c.name))), !c.goes) << c.name;
      ::unlink(Path(c.name).c_str());
    }
  }
}
