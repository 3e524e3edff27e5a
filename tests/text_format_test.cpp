#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <QLocale>

#include "byte_temp_dir.h"
#include "jpeg_writer.h"
#include "platform/file_filter.h"
#include "formats/number_format.h"
#include "platform/paths.h"
#include "formats/time_format.h"

using namespace yuragi;
using yuragi::testing::ByteTempDir;
using yuragi::testing::WriteFile;

namespace {

struct LocaleScope {
  explicit LocaleScope(const QLocale& locale) { QLocale::setDefault(locale); }
  ~LocaleScope() { QLocale::setDefault(QLocale::c()); }
};

}  // namespace

TEST(NumberFormat, FourPatternsGroupWithTheLocaleSeparator) {
  LocaleScope japanese(QLocale(QLocale::Japanese, QLocale::Japan));
  EXPECT_EQ(FormatNumber(0), "0");
  EXPECT_EQ(FormatNumber(999), "999");
  EXPECT_EQ(FormatNumber(1234), "1,234");
  EXPECT_EQ(FormatNumber(1530, NumberPattern::OfTotal), " / 1,530");
  EXPECT_EQ(FormatNumber(0, NumberPattern::LeadingBlank), " 0");
  EXPECT_EQ(FormatNumber(12345, NumberPattern::LeadingBlank), " 12,345");
  EXPECT_EQ(FormatNumber(1000000, NumberPattern::Bytes), "1,000,000");
  EXPECT_EQ(FormatByteSize(12345), "12,345バイト");
  EXPECT_EQ(FormatByteSize(0), "0バイト");
  // Sizes are 64-bit: 5 GiB keeps its high bits.
  EXPECT_EQ(FormatNumber(5368709120LL), "5,368,709,120");
  EXPECT_EQ(FormatNumber(-1234567), "-1,234,567");
  EXPECT_EQ(FormatNumber(INT64_MIN), "-9,223,372,036,854,775,808");
}

TEST(NumberFormat, GroupsEvenWhereTheLocaleWouldOmitThem) {
  LocaleScope german(QLocale(QLocale::German, QLocale::Germany));
  EXPECT_EQ(FormatNumber(1234567), "1.234.567");
  QLocale::setDefault(QLocale::c());
  EXPECT_EQ(FormatNumber(1234567), "1,234,567");
}

TEST(TimeFormat, JapaneseClockAndFileTimes) {
  LocaleScope japanese(QLocale(QLocale::Japanese, QLocale::Japan));
  const QDateTime clock(QDate(2026, 12, 8), QTime(6, 15, 15));
  EXPECT_EQ(FormatClock(clock), "2026/12/08(火) 06:15:15");
  EXPECT_EQ(FormatFileTime(QDateTime(QDate(2007, 5, 12), QTime(9, 4, 22))), "2007/05/12 9:04:22");
  EXPECT_EQ(FormatFileTime(QDateTime(QDate(2007, 5, 12), QTime(13, 4, 22))), "2007/05/12 13:04:22");
  // Midnight shows the date alone.
  EXPECT_EQ(FormatFileTime(QDateTime(QDate(2007, 5, 12), QTime(0, 0, 0))), "2007/05/12");
  // Any year, to the second: 1970 and odd seconds are kept.
  EXPECT_EQ(FormatFileTime(QDateTime(QDate(1970, 1, 2), QTime(3, 4, 5))), "1970/01/02 3:04:05");
  EXPECT_EQ(FormatTempStamp(QDateTime(QDate(2009, 12, 31), QTime(23, 59, 59, 1))), "$20091231-235959001");
}

TEST(Paths, SplitAtTheLastSlashOnly) {
  EXPECT_EQ(FolderPart("/srv/mirror/127.0.0.1:8080/img/p.jpg"), "/srv/mirror/127.0.0.1:8080/img/");
  EXPECT_EQ(FileNamePart("/srv/mirror/127.0.0.1:8080/img/p.jpg"), "p.jpg");
  EXPECT_EQ(FileNamePart("host:8080"), "host:8080");
  EXPECT_EQ(FolderPart("photo.jpg"), "");
  EXPECT_EQ(ExtensionPart("/a.b/photo.jpg.bak"), ".bak");
  EXPECT_EQ(ExtensionPart("/a.b/README"), "");
  EXPECT_EQ(ChangeExtension("/tmp/$1-photo.png", ".jpg"), "/tmp/$1-photo.jpg");
  EXPECT_EQ(ChangeExtension("/a.b/noext", ".jpg"), "/a.b/noext.jpg");
  EXPECT_EQ(ChangeExtension("写真.JPEG", ".ini"), "写真.ini");
}

TEST(FileFilter, DialogFiltersBecomeNameFilters) {
  EXPECT_EQ(ToNameFilters("jpegファイル(*.jp*)|*.jp*|bmpファイル(*.bmp)|*.bmp|すべてのファイル(*.*)|*.*"),
            QStringList({"jpegファイル(*.jp*)", "bmpファイル(*.bmp)", "すべてのファイル(*.*)"}));
  EXPECT_EQ(ToNameFilters("jpegファイル(*.jp*)|*.jpg;*.jpeg;*.jpe|すべてのファイル(*.*)|*.*"),
            QStringList({"jpegファイル(*.jp*) (*.jpg *.jpeg *.jpe)", "すべてのファイル(*.*)"}));
}

TEST(Paths, SplitOnBytesThatAreNotUtf8) {
  const QByteArray path = "/srv/\x89\xE6\x91\x9C/\x95\x5C.\x83\x65.jpg";
  EXPECT_EQ(FolderPart(path), QByteArray("/srv/\x89\xE6\x91\x9C/"));
  EXPECT_EQ(FileNamePart(path), QByteArray("\x95\x5C.\x83\x65.jpg"));
  EXPECT_EQ(ExtensionPart(path), ".jpg");
  EXPECT_EQ(ChangeExtension(path, ".ini"), QByteArray("/srv/\x89\xE6\x91\x9C/\x95\x5C.\x83\x65.ini"));
}

TEST(Paths, DisplayTextShowsOddBytesAndLeadsBackToThem) {
  EXPECT_EQ(DisplayPath("/a/写真.jpg"), "/a/写真.jpg");
  EXPECT_EQ(DisplayPath("/a/\x83\x65\x83\x58.jpg"), "/a/\\x83e\\x83X.jpg");
  EXPECT_EQ(DisplayPath("\xE5\x86"), "\\xE5\\x86");  // a cut sequence
  // Such a name shows every high byte, even those that would decode.
  EXPECT_EQ(DisplayPath("/\x89\xE6\x91\x9C/写真"), "/\\x89\\xE6\\x91\\x9C/写真");

  ByteTempDir dir;
  ASSERT_TRUE(dir.isValid());
  const QByteArray root = dir.path();
  const QByteArray folder = root + "/\x89\xE6\x91\x9C";
  const QByteArray file = folder + "/\x83\x65\x83\x58.jpg";
  ASSERT_EQ(::mkdir(folder.constData(), 0700), 0);
  WriteFile(file.toStdString(), std::string("x"));
  // Typed text is UTF-8; a shown name finds the real bytes again.
  EXPECT_EQ(PathFromText(DisplayPath(file)), file);
  EXPECT_EQ(PathFromText(QString::fromUtf8(file)), file);  // decoded with U+FFFD, as dialogs do
  EXPECT_EQ(PathFromText(QString::fromUtf8(root) + "/写真.jpg"), root + "/写真.jpg");
  EXPECT_EQ(PathFromText(DisplayPath(folder) + "/new.jpg"), folder + "/new.jpg");
  // Two names that look alike after decoding are not guessed between.
  WriteFile((folder + "/\x84\x65\x83\x58.jpg").toStdString(), std::string("y"));
  const QString ambiguous = QString::fromUtf8(folder + "/\x83\x65\x83\x58.jpg");
  EXPECT_NE(PathFromText(ambiguous), file);
  EXPECT_EQ(PathFromText(DisplayPath(file)), file);

  EXPECT_EQ(PathFromFileUrl(QUrl::fromEncoded("file:///srv/%83%65%83%58/a%20b.jpg")),
            QByteArray("/srv/\x83\x65\x83\x58/a b.jpg"));
}

TEST(Paths, ResolvedAgainstTheWorkingFolder) {
  EXPECT_EQ(ResolvedPath(".", "/home/me"), "/home/me");
  EXPECT_EQ(ResolvedPath("./www.example.jp/a.jpg", "/home/me"), "/home/me/www.example.jp/a.jpg");
  EXPECT_EQ(ResolvedPath("../x/img.example/a.jpg", "/home/me"), "/home/x/img.example/a.jpg");
  EXPECT_EQ(ResolvedPath("/a/./b//../c/", "/ignored"), "/a/c/");
  EXPECT_EQ(ResolvedPath("../../../..", "/a"), "/");
  EXPECT_EQ(ResolvedPath("\x83\x65/p.jpg", "/m"), QByteArray("/m/\x83\x65/p.jpg"));
  EXPECT_TRUE(ExecutablePath().endsWith("/text_format_test"));
}
