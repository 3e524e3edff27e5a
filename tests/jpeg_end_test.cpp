#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <cmath>
#include <random>

#include "jpeg_writer.h"
#include "formats/jpeg_decoder.h"

using namespace yuragi;
using namespace yuragi::testing;

namespace {

// Share of the rows of a cut decode equal to the whole picture's, from the top.
double TrueShare(const std::vector<uint8_t>& whole, const std::vector<uint8_t>& cut) {
  const std::optional<RgbImage> a = DecodeJpeg(whole.data(), whole.size());
  const std::optional<RgbImage> b = DecodeJpeg(cut.data(), cut.size());
  if (!a || !b) return -1;
  const size_t stride = size_t(a->width) * 3;
  int y = 0;
  while (y < a->height && std::equal(a->pixels.begin() + ptrdiff_t(y * stride),
                                     a->pixels.begin() + ptrdiff_t((y + 1) * stride),
                                     b->pixels.begin() + ptrdiff_t(y * stride))) {
    ++y;
  }
  return double(y) / a->height;
}

// Offsets of the start-of-scan markers (FF DA: never stuffed data).
std::vector<size_t> ScanStarts(const std::vector<uint8_t>& bytes) {
  std::vector<size_t> starts;
  for (size_t i = 0; i + 1 < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && bytes[i + 1] == 0xDA) starts.push_back(i);
  }
  return starts;
}

std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(count);
  for (uint8_t& b : bytes) b = uint8_t(random());
  return bytes;
}

std::vector<uint8_t> Joined(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

TEST(JpegEnd, TheThumbnailsDecodeTellsCutTrailingAndDamagedApart) {
  QTemporaryDir dir;
  const std::vector<uint8_t> baseline = EncodeJpeg({320, 1600, JpegKind::Baseline, 90, 3, 24});
  const std::vector<uint8_t> progressive = EncodeJpeg({320, 1600, JpegKind::Progressive, 90, 5, 24});
  const std::vector<size_t> scans = ScanStarts(progressive);
  ASSERT_GT(scans.size(), 3u);
  const size_t lastScan = scans.back();

  std::vector<uint8_t> video = {0, 0, 0, 0x18, 'f', 't', 'y', 'p', 'm', 'p', '4', '2'};
  video = Joined(video, RandomBytes(3000, 9));
  // Bad Huffman codes (runs of ones) in the middle of the entropy-coded data.
  std::vector<uint8_t> corrupt = baseline;
  for (size_t i = 0; i < 16; i += 2) {
    corrupt[corrupt.size() / 2 + i] = 0xFF;
    corrupt[corrupt.size() / 2 + i + 1] = 0x00;
  }

  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    JpegEnd end;
    double present;  // < 0: not checked
    uint64_t trailing;
    bool zero;
    int completeScans;  // < 0: not checked
  };
  const std::vector<Case> cases = {
      {"motion photo", Joined(baseline, video), JpegEnd::Trailing, -1, video.size(), false, -1},
      {"zero padding", Joined(progressive, std::vector<uint8_t>(64, 0)), JpegEnd::Trailing, -1, 64, true,
       int(scans.size())},
      {"complete", baseline, JpegEnd::Complete, -1, 0, false, -1},
      {"baseline at 30 %", Truncated(baseline, baseline.size() * 3 / 10), JpegEnd::Cut, 0, 0, false, -1},
      {"baseline at 77 %", Truncated(baseline, baseline.size() * 77 / 100), JpegEnd::Cut, 0, 0, false, -1},
      {"baseline without its end marker", Truncated(baseline, baseline.size() - 2), JpegEnd::Cut, 1, 0, false, -1},
      {"progressive in its last scan", Truncated(progressive, lastScan + (progressive.size() - lastScan) * 2 / 5),
       JpegEnd::Cut, 0, 0, false, int(scans.size()) - 1},
      {"progressive between scans", Truncated(progressive, lastScan), JpegEnd::Cut, 1, 0, false,
       int(scans.size()) - 1},
      {"corrupt block", corrupt, JpegEnd::Damaged, -1, 0, false, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.filePath("a.jpg").toStdString();
    WriteFile(path, c.bytes);
    JpegCheck check;
    ASSERT_TRUE(MakeThumbnail(path, 96, 96, nullptr, nullptr, &check));
    JpegCheck inMemory;
    ASSERT_TRUE(CheckJpeg(c.bytes.data(), c.bytes.size(), inMemory));
    for (const JpegCheck& found : {check, inMemory}) {
      EXPECT_EQ(found.end, c.end);
      EXPECT_EQ(found.trailingBytes, c.trailing);
      EXPECT_EQ(found.trailingZero, c.zero);
      if (c.completeScans >= 0) {
        EXPECT_EQ(found.completeScans, c.completeScans);
      }
      EXPECT_TRUE(found.note.empty()) << found.note;
      EXPECT_EQ(found.warning.empty(), c.end != JpegEnd::Damaged) << found.warning;
    }
    if (c.present == 0) {
      const double truth = TrueShare(c.end == JpegEnd::Cut && check.progressive ? progressive : baseline, c.bytes);
      EXPECT_GT(truth, 0.05);
      EXPECT_NEAR(check.present, truth, 0.02);
      EXPECT_NEAR(inMemory.present, truth, 0.02);
    } else if (c.present > 0) {
      EXPECT_EQ(check.present, c.present);
    }
  }
}

TEST(JpegEnd, AFileWhoseEndCannotBeToldIsCutWithANote) {
  // Every row decodes, then a second scan where the picture has one: the
  // decoder stops with an error after the last row.
  std::vector<uint8_t> bytes = EncodeJpeg({160, 120, JpegKind::Baseline, 85, 6});
  bytes.erase(bytes.end() - 2, bytes.end());  // the end marker
  const std::vector<uint8_t> scan = {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00};
  bytes.insert(bytes.end(), scan.begin(), scan.end());
  bytes.resize(bytes.size() + 100, 0x55);
  JpegCheck check;
  ASSERT_TRUE(CheckJpeg(bytes.data(), bytes.size(), check));
  EXPECT_EQ(check.end, JpegEnd::Cut);
  EXPECT_NE(check.note.find("after the picture: "), std::string::npos) << check.note;
  EXPECT_EQ(check.present, 1.0);
}

TEST(JpegEnd, TheFileFormReadsFromAPathOrADescriptorAndLeavesItsOffset) {
  QTemporaryDir dir;
  const std::vector<uint8_t> whole = EncodeJpeg({400, 300, JpegKind::Progressive, 85, 2, 10});
  const std::string path = dir.filePath("b.jpg").toStdString();
  WriteFile(path, Joined(whole, std::vector<uint8_t>(100, 0)));
  JpegCheck check;
  ASSERT_TRUE(CheckJpegFile(path, check));
  EXPECT_EQ(check.end, JpegEnd::Trailing);
  EXPECT_EQ(check.trailingBytes, 100u);

  WriteFile(path, Truncated(whole, whole.size() / 2));
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::lseek(fd, 7, SEEK_SET), 7);
  ASSERT_TRUE(CheckJpegFile(fd, check));
  EXPECT_EQ(check.end, JpegEnd::Cut);
  EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 7);
  ::close(fd);

  std::string error;
  WriteFile(path, Truncated(whole, 100));
  EXPECT_FALSE(CheckJpegFile(path, check, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(CheckJpegFile(dir.filePath("missing.jpg").toStdString(), check, &error));
}
