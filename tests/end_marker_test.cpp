#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <string>

#include "detect/end_marker.h"
#include "jpeg_writer.h"

using namespace yuragi;
using yuragi::testing::WriteFile;

namespace {

class EndMarker : public ::testing::Test {
 protected:
  // A file of filler bytes with the given bytes placed at the given offsets.
  bool Test(size_t size, std::initializer_list<std::pair<size_t, uint8_t>> bytes) {
    std::string content(size, '\x11');
    for (auto [at, value] : bytes) content[at] = char(value);
    const std::string path = dir.path().toStdString() + "/f" + std::to_string(counter++) + ".jpg";
    WriteFile(path, content);
    return HasJpegEndMarker(path);
  }
  QTemporaryDir dir;
  int counter = 0;
};

}  // namespace

TEST_F(EndMarker, AtMostSixteenBytesMayFollowTheMarker) {
  EXPECT_TRUE(Test(100, {{98, 0xFF}, {99, 0xD9}}));
  EXPECT_TRUE(Test(100, {{82, 0xFF}, {83, 0xD9}}));   // 16 bytes after it
  EXPECT_FALSE(Test(100, {{81, 0xFF}, {82, 0xD9}}));  // 17 bytes after it
  // Straddling the window's start: FF at size-19, D9 at size-18.
  EXPECT_FALSE(Test(100, {{81, 0xFF}, {82, 0xD9}, {83, 0x00}}));
  EXPECT_FALSE(Test(100, {{98, 0xD9}, {99, 0xFF}}));  // reversed
  // Only an embedded preview's marker, far from the end.
  EXPECT_FALSE(Test(5000, {{1000, 0xFF}, {1001, 0xD9}}));
  // A whole real picture ends with it.
  const std::string path = dir.path().toStdString() + "/real.jpg";
  WriteFile(path, yuragi::testing::EncodeJpeg({}));
  EXPECT_TRUE(HasJpegEndMarker(path));
}

TEST_F(EndMarker, ShortFilesAreSearchedWhole) {
  EXPECT_FALSE(Test(0, {}));
  EXPECT_FALSE(Test(1, {{0, 0xFF}}));
  EXPECT_TRUE(Test(2, {{0, 0xFF}, {1, 0xD9}}));
  EXPECT_TRUE(Test(10, {{0, 0xFF}, {1, 0xD9}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}, {7, 0}, {8, 0}, {9, 0}}));
  EXPECT_TRUE(Test(17, {{0, 0xFF}, {1, 0xD9}}));
  EXPECT_TRUE(Test(18, {{0, 0xFF}, {1, 0xD9}}));
  EXPECT_FALSE(Test(19, {{0, 0xFF}, {1, 0xD9}}));
  EXPECT_FALSE(Test(10, {}));
}

TEST_F(EndMarker, FailuresGiveFalse) {
  EXPECT_FALSE(HasJpegEndMarker(dir.path().toStdString() + "/missing.jpg"));
  EXPECT_FALSE(HasJpegEndMarker(dir.path().toStdString()));
  EXPECT_FALSE(HasJpegEndMarker(""));
}
