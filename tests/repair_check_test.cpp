#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <atomic>

#include "detect/end_marker.h"
#include "detect/folder_scan.h"
#include "jpeg_writer.h"
#include "formats/jpeg_decoder.h"
#include "repair/repair_save.h"
#include "repair/repair_url.h"
#include "repair/repair_verify.h"
#include "repair/resume_check.h"

using namespace yuragi;
using namespace yuragi::testing;

namespace {

std::string Str(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }
std::string Head(const std::string& bytes, size_t keep) { return bytes.substr(0, keep); }

class NoWindow final : public ScanWindow {
 public:
  void AppendRow(DetectionRow row) override { rows.push_back(row.path); }
  int64_t RowCount() const override { return int64_t(rows.size()); }
  void SetStatusText(const QString&) override {}
  void ProcessMessages() override {}
  std::vector<std::string> rows;
};

TEST(ResumeCheck, RangeStartsAFewKilobytesBeforeTheEndAndAcceptsOnlyATailThatFits) {
  EXPECT_FALSE(RangeStartFor(0));
  EXPECT_FALSE(RangeStartFor(kRangeOverlap));
  EXPECT_EQ(RangeStartFor(kRangeOverlap + 1), 1u);
  EXPECT_EQ(RangeStartFor(100000), 100000 - kRangeOverlap);

  const std::optional<ContentRange> range = ParseContentRange(" bytes 100-199/200\r\n");
  ASSERT_TRUE(range);
  EXPECT_EQ(range->first, 100u);
  EXPECT_EQ(range->last, 199u);
  EXPECT_EQ(range->total, 200u);
  for (const char* bad : {"bytes 100-199/*", "bytes */200", "bytes 200-100/300", "bytes 0-300/300", "items 0-1/2",
                          "bytes 1-2/3 x", "bytes -1-2/3", ""}) {
    EXPECT_FALSE(ParseContentRange(bad)) << bad;
  }

  std::string whole(10000, '\0');
  for (size_t i = 0; i < whole.size(); ++i) whole[i] = char(i * 31 + (i >> 7));
  const std::string local = Head(whole, 6000);
  const uint64_t start = *RangeStartFor(local.size());
  const std::string tail = whole.substr(start);
  EXPECT_TRUE(PartialFits(local, start, {start, 9999, 10000}, tail));
  std::string wrong = tail;
  wrong[10] = char(wrong[10] ^ 1);  // inside the overlap
  EXPECT_FALSE(PartialFits(local, start, {start, 9999, 10000}, wrong));
  EXPECT_FALSE(PartialFits(local, start, {start + 1, 9999, 10000}, tail.substr(1)));  // not where asked
  EXPECT_FALSE(PartialFits(local, start, {start, 5999, 6000}, Head(tail, 6000 - start)));  // no larger
  EXPECT_FALSE(PartialFits(local, start, {start, 8999, 10000}, Head(tail, 9000 - start)));  // not to the end
  EXPECT_FALSE(PartialFits(local, start, {start, 9999, 10000}, Head(tail, 3000)));  // body shorter than announced
}

TEST(RepairVerify, AcceptsOnlyACompleteJpegThatContinuesTheCutFile) {
  const std::string whole = Str(EncodeJpeg({320, 240, JpegKind::Baseline, 85, 3}));
  const std::string local = Head(whole, whole.size() / 2);
  EXPECT_EQ(VerifyFetched(local, whole, "image/jpeg", false).verdict, Verdict::Good);
  EXPECT_EQ(VerifyFetched(local, "", "image/jpeg", false).verdict, Verdict::Empty);
  EXPECT_EQ(VerifyFetched(local, "<!DOCTYPE html><html></html>", "", false).verdict, Verdict::Html);
  EXPECT_EQ(VerifyFetched(local, "\xFF\xD8\xFF", "text/html; charset=utf-8", false).verdict, Verdict::Smaller);
  EXPECT_EQ(VerifyFetched(local, "GIF89a....", "image/gif", false).verdict, Verdict::NotJpeg);
  EXPECT_EQ(VerifyFetched(local, Head(whole, whole.size() / 3), "image/jpeg", false).verdict, Verdict::Smaller);
  EXPECT_EQ(VerifyFetched(local, local, "image/jpeg", false).verdict, Verdict::Same);

  // Longer, but itself cut: without the end marker, or closed early.
  const std::string longer = Head(whole, whole.size() * 3 / 4);
  EXPECT_EQ(VerifyFetched(local, longer, "", false).verdict, Verdict::Incomplete);
  EXPECT_EQ(VerifyFetched(local, longer + "\xFF\xD9", "", false).verdict, Verdict::Incomplete);

  const std::string other = Str(EncodeJpeg({200, 100, JpegKind::Progressive, 85, 4}));
  EXPECT_EQ(VerifyFetched(local, other, "image/jpeg", false).verdict, Verdict::Changed);
  EXPECT_EQ(VerifyFetched(local, other, "image/jpeg", true).verdict, Verdict::GoodChanged);
  const std::string otherCut = Head(other, other.size() / 2) + "\xFF\xD9";
  EXPECT_EQ(VerifyFetched(local, otherCut, "image/jpeg", true).verdict, Verdict::Incomplete);
}

TEST(RepairVerify, OnlyACleanDecodeEndingAtTheEndMarkerPassesFromMemoryOrFromAFile) {
  const std::string whole = Str(EncodeJpeg({640, 480, JpegKind::Baseline, 90, 3, 16}));
  const std::string other = Str(EncodeJpeg({800, 800, JpegKind::Baseline, 90, 11, 16}));
  const std::string local = Head(whole, whole.size() / 2);
  std::string garbage(400 * 1024, '\0');
  uint32_t state = 12345;
  for (char& c : garbage) c = char((state = state * 1103515245u + 12345u) >> 24);
  const std::string video = std::string("\0\0\0\x18" "ftypmp42", 12) + garbage.substr(0, 3000);
  struct Case {
    const char* name;
    std::string local;
    std::string fresh;
    Verdict verdict;
  };
  const std::vector<Case> cases = {
      {"whole", local, whole, Verdict::Good},
      {"garbage and an end marker", local, local + garbage + "\xFF\xD9", Verdict::Corrupt},
      {"the tail of another picture", local, local + other.substr(other.size() / 4), Verdict::Corrupt},
      {"data after the end marker", local, whole + video, Verdict::Corrupt},
      {"a cut trailer completed", whole + video.substr(0, 1000), whole + video, Verdict::Good},
      {"cut and closed", local, Head(whole, whole.size() * 3 / 4) + "\xFF\xD9", Verdict::Incomplete},
      {"the same bytes", local, local, Verdict::Same},
  };
  QTemporaryDir dir;
  const std::string path = dir.filePath("body").toStdString();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Verification inMemory = VerifyFetched(c.local, c.fresh, "image/jpeg", false);
    EXPECT_EQ(inMemory.verdict, c.verdict) << inMemory.detail;
    WriteFile(path, c.fresh);
    const Verification inFile = VerifyFetchedFile(c.local, path, "image/jpeg", false);
    EXPECT_EQ(inFile.verdict, c.verdict) << inFile.detail;
    if (c.verdict == Verdict::Corrupt) {
      EXPECT_FALSE(inMemory.detail.empty());
      EXPECT_FALSE(inFile.detail.empty());
    }
  }
  EXPECT_EQ(VerifyFetchedFile(local, dir.filePath("missing").toStdString(), "", false).verdict, Verdict::NotJpeg);
}

TEST(RepairVerify, DecoderTellsWhenDataRanOut) {
  const std::vector<uint8_t> whole = EncodeJpeg({160, 120});
  DecodeWarnings warnings;
  std::string error;
  ASSERT_TRUE(DecodeJpeg(whole.data(), whole.size(), {}, &error, &warnings));
  EXPECT_FALSE(warnings.dataMissing);
  EXPECT_EQ(warnings.count, 0);
  const std::vector<uint8_t> cut = Truncated(whole, whole.size() / 2);
  ASSERT_TRUE(DecodeJpeg(cut.data(), cut.size(), {}, &error, &warnings));
  EXPECT_TRUE(warnings.dataMissing);
  EXPECT_GT(warnings.count, 0);

  std::vector<uint8_t> marker = {0x00, 0xFF, 0xD9};
  EXPECT_TRUE(HasJpegEndMarker(marker.data(), marker.size()));
  marker.resize(2);
  EXPECT_FALSE(HasJpegEndMarker(marker.data(), marker.size()));
  EXPECT_FALSE(HasJpegEndMarker(nullptr, 0));
  std::vector<uint8_t> trailing(20, 0);
  trailing[1] = 0xFF;
  trailing[2] = 0xD9;  // 17 bytes follow: outside the window
  EXPECT_FALSE(HasJpegEndMarker(trailing.data(), trailing.size()));
  trailing.pop_back();  // 16 follow
  EXPECT_TRUE(HasJpegEndMarker(trailing.data(), trailing.size()));
}

TEST(RepairClose, ClosedFileKeepsEveryByteShowsTheSamePixelsAndIsNoLongerListed) {
  QTemporaryDir dir;
  for (const JpegKind kind : {JpegKind::Baseline, JpegKind::Progressive, JpegKind::Grayscale}) {
    const std::vector<uint8_t> whole = EncodeJpeg({300, 200, kind, 85, 7});
    for (const size_t keep : {whole.size() / 3, whole.size() * 2 / 3}) {
      const std::string path = dir.path().toStdString() + "/cut.jpg";
      const std::vector<uint8_t> cut = Truncated(whole, keep);
      WriteFile(path, cut);
      const std::optional<RgbImage> before = DecodeJpegFile(path);
      ASSERT_TRUE(before);
      std::string error;
      ASSERT_TRUE(CloseCutFile(path, &error)) << error;
      const std::vector<uint8_t> closed = ReadFile(path);
      ASSERT_EQ(closed.size(), cut.size() + 2);
      EXPECT_TRUE(std::equal(cut.begin(), cut.end(), closed.begin()));
      EXPECT_EQ(closed[cut.size()], 0xFF);
      EXPECT_EQ(closed[cut.size() + 1], 0xD9);
      const std::optional<RgbImage> after = DecodeJpegFile(path);
      ASSERT_TRUE(after);
      EXPECT_TRUE(after->pixels == before->pixels);

      std::atomic<bool> cancel{false};
      ScanRun run(cancel);
      NoWindow window;
      ScanFolder(dir.path().toStdString(), run, window);
      EXPECT_TRUE(window.rows.empty());
      EXPECT_EQ(run.fileCount, 1);

      // A second close has nothing to do and changes nothing.
      EXPECT_FALSE(CloseCutFile(path, &error));
      EXPECT_TRUE(ReadFile(path) == closed);
    }
  }
  // A file cut inside its header does not decode: it is not closed.
  const std::string header = dir.path().toStdString() + "/header.jpg";
  WriteFile(header, Truncated(EncodeJpeg({}), 100));
  std::string error;
  EXPECT_FALSE(CloseCutFile(header, &error));
  EXPECT_EQ(ReadFile(header).size(), 100u);
}

TEST(RepairUrl, BytesThatAreNotUtf8ArePercentEncodedAndHostsAreCounted) {
  EXPECT_EQ(SourceUrlOfPath("/m/img.example/a/\xe5\x86\x99.jpg"), "http://img.example/a/\xe5\x86\x99.jpg");
  EXPECT_EQ(SourceUrlOfPath("/m/img.example/a/\x89\xe6.jpg"), "http://img.example/a/%89%E6.jpg");
  EXPECT_EQ(RequestUrlOf("http://img.example/a/\xe5\x86\x99 1.jpg"), "http://img.example/a/%E5%86%99%201.jpg");
  EXPECT_EQ(RequestUrlOf("http://img.example/a/%89%E6.jpg"), "http://img.example/a/%89%E6.jpg");
  EXPECT_EQ(HostKeyOf("http://Img.Example:8080/a/b.jpg"), "img.example:8080");
  EXPECT_EQ(HostKeyOf("http://127.0.0.2"), "127.0.0.2");
}

}  // namespace
