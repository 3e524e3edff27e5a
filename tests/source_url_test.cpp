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
