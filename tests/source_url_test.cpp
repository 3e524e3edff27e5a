#include <gtest/gtest.h>

#include "refetch/source_url.h"

using yuragi::BuildSourceUrl;
using yuragi::NormalizeSlashes;

TEST(SourceUrl, WorkedExamples) {
  const std::pair<const char*, const char*> rows[] = {
      {"C:\\Pictures\\img.example\\gallery\\2009\\photo.jpg", "http://img.example/gallery/2009/photo.jpg"},
      {"C:\\Users\\me\\old.files\\img.example\\a.jpg", "http://old.files/img.example/a.jpg"},
      {"D:\\dl\\img.example\\a b\\写真.jpg", "http://img.example/a b/写真.jpg"},
      {"D:\\dl\\img.example\\%7Euser\\pic 1.jpg", "http://img.example/%7Euser/pic 1.jpg"},
      {"C:\\dl\\img.example\\a／b.jpg", "http://img.example/a/b.jpg"},
      {"\\\\server\\share\\img.example\\p.jpg", "http://img.example/p.jpg"},
      {"C:\\dl\\img.example\\\\x\\\\y.jpg", "http://img.example/x//y.jpg"},
      {"C:/dl/img.example/z.jpg", "http://img.example/z.jpg"},
      {"img.example\\a.jpg", "http://img.example/a.jpg"},
      {"C:\\a\\img.example\\dir\\", "http://img.example/dir"},
      {"C:\\a\\img.example", "http://img.example"},
      {"C:\\photos\\2009\\photo.jpg", "http://photo.jpg"},
      {"photo.jpg", "http://photo.jpg"},
      {"", "http:/"},
  };
  for (auto [path, url] : rows) EXPECT_EQ(BuildSourceUrl(QString::fromUtf8(path)), QString::fromUtf8(url)) << path;
}

TEST(SourceUrl, LinuxPaths) {
  EXPECT_EQ(BuildSourceUrl("/home/me/dl/img.example/a b/写真.jpg"), "http://img.example/a b/写真.jpg");
  EXPECT_EQ(BuildSourceUrl("/srv/mirror/127.0.0.1:8080/img/p.jpg"), "http://127.0.0.1:8080/img/p.jpg");
  EXPECT_EQ(BuildSourceUrl("//srv//img.example//p.jpg"), "http://img.example/p.jpg");
  EXPECT_EQ(BuildSourceUrl("/home/me/表示/img.example/表.jpg"), "http://img.example/表.jpg");
  EXPECT_EQ(BuildSourceUrl("C:\\dl\\img.example\\a/b\\c.jpg"), BuildSourceUrl("C:\\dl\\img.example\\a\\b\\c.jpg"));
  // Only one trailing separator goes, and only from the result.
  EXPECT_EQ(BuildSourceUrl("/a/img.example/dir//"), "http://img.example/dir/");
  EXPECT_EQ(BuildSourceUrl("/a/b/c"), "http://c");
}

TEST(SourceUrl, NormalizeSlashesTurnsBothKindsIntoSlashes) {
  EXPECT_EQ(NormalizeSlashes("a\\b／c/d"), "a/b/c/d");
  EXPECT_EQ(NormalizeSlashes("表\\"), "表/");
}

TEST(SourceUrl, BytesThatAreNotUtf8BecomeTheSitesEscapes) {
  using yuragi::SourceUrlOfPath;
  using yuragi::UrlTextOfPath;
  // UTF-8 stays readable, blanks and "%" included.
  EXPECT_EQ(SourceUrlOfPath("/home/me/dl/img.example/a b/写真 %7E.jpg"), "http://img.example/a b/写真 %7E.jpg");
  // A Shift-JIS folder (画像) and an EUC-JP file name (写真) give their bytes.
  EXPECT_EQ(SourceUrlOfPath("/srv/img.example/\x89\xE6\x91\x9C/\xBC\xCC\xBF\xBF.jpg"),
            "http://img.example/%89%E6%91%9C/%BC%CC%BF%BF.jpg");
  // 表 in Shift-JIS ends in the byte of "\": one name, not two.
  EXPECT_EQ(SourceUrlOfPath("/srv/img.example/\x95\x5C\x8E\xA6/p.jpg"), "http://img.example/%95%5C%8E%A6/p.jpg");
  // A lone "\" still is a separator of the rule.
  EXPECT_EQ(SourceUrlOfPath("/srv/img.example/a\\b.jpg"), "http://img.example/a/b.jpg");
  // A host folder that is not UTF-8 is found by its dot all the same.
  EXPECT_EQ(SourceUrlOfPath("/srv/\xFF.example/p.jpg"), "http://%FF.example/p.jpg");
  // Valid sequences next to broken ones: only the broken bytes are escaped.
  // A name that is not UTF-8 is escaped whole, even where some of its bytes
  // would decode; its neighbours stay readable.
  EXPECT_EQ(UrlTextOfPath("写/写\xE5\x86真\xC3/真"), "写/%E5%86%99%E5%86%E7%9C%9F%C3/真");
  EXPECT_EQ(UrlTextOfPath(""), "");
}
