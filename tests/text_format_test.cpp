#include <gtest/gtest.h>

#include <QDateTime>
#include <QLocale>

#include "platform/file_filter.h"
#include "platform/number_format.h"
#include "platform/paths.h"
#include "platform/time_format.h"

using namespace yuragi;

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
