#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <QDir>
#include <QLocale>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <functional>
#include <vector>

#include "detect/fit_path.h"
#include "detect/folder_scan.h"
#include "jpeg_writer.h"
#include "nested_folders.h"
#include "platform/file_info.h"

using namespace yuragi;
using namespace yuragi::testing;

namespace {

// Collects what the walk hands to a window.
class Recorder : public ScanWindow {
 public:
  void AppendRow(DetectionRow row) override { rows.push_back(std::move(row)); }
  int64_t RowCount() const override { return int64_t(rows.size()); }
  void SetStatusText(const QString& text) override { texts << text; }
  void ProcessMessages() override {
    ++pumps;
    if (onPump) onPump();
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const DetectionRow& row : rows) names.push_back(row.path.substr(row.path.rfind('/') + 1));
    std::sort(names.begin(), names.end());
    return names;
  }
  std::vector<DetectionRow> rows;
  QStringList texts;
  int pumps = 0;
  std::function<void()> onPump;
};

class FolderScan : public ::testing::Test {
 protected:
  void SetUp() override { QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan)); }

  std::string Root() const { return dir.path().toStdString(); }
  std::string Make(const std::string& relative) const {
    const std::string path = Root() + "/" + relative;
    QDir().mkpath(QString::fromStdString(path.substr(0, path.rfind('/'))));
    return path;
  }
  void Whole(const std::string& relative, uint32_t seed = 1) { WriteFile(Make(relative), Jpeg(seed)); }
  void Cut(const std::string& relative, uint32_t seed = 1) {
    const std::vector<uint8_t> bytes = Jpeg(seed);
    WriteFile(Make(relative), Truncated(bytes, bytes.size() * 2 / 3));
  }
  static std::vector<uint8_t> Jpeg(uint32_t seed) { return EncodeJpeg({160, 120, JpegKind::Baseline, 85, seed}); }

  int64_t Scan(Recorder& recorder, const std::string& folder) {
    ScanRun run(cancel);
    ScanFolder(folder, run, recorder);
    return run.fileCount;
  }

  QTemporaryDir dir;
  std::atomic<bool> cancel{false};
};

}  // namespace

TEST_F(FolderScan, ListsTruncatedJpegsOnlyAndCountsEveryFile) {
  Cut("a.JPG");
  Cut("b.jpeg");
  Cut("c.jpe");
  Whole("d.jpg");
  WriteFile(Make("e.txt"), std::string("text"));
  Recorder recorder;
  const int64_t files = Scan(recorder, Root());
  EXPECT_EQ(files, 5);
  EXPECT_EQ(recorder.Names(), (std::vector<std::string>{"a.JPG", "b.jpeg"}));
  EXPECT_EQ(FinalText(recorder.RowCount(), files), "2 / 5 検出しました");
  // The progress text follows every file.
  ASSERT_EQ(recorder.texts.size(), 5);
  EXPECT_EQ(recorder.texts.last(), "2 / 5");

  const DetectionRow& row = recorder.rows.front();
  EXPECT_EQ(row.path.rfind(Root() + "/", 0), 0u);
  EXPECT_EQ(row.size, FileSizeOf(row.path));
  EXPECT_GT(row.size, 0u);
  ASSERT_TRUE(row.modified);
  EXPECT_EQ(row.thumbnail.width, 96);
  EXPECT_EQ(row.thumbnail.height, 96);
}

TEST_F(FolderScan, EmptyFolderAndMissingFolder) {
  Recorder recorder;
  EXPECT_EQ(Scan(recorder, Root()), 0);
  EXPECT_EQ(FinalText(0, 0), "0 / 0 該当ありません");
  EXPECT_EQ(Scan(recorder, Root() + "/nowhere"), 0);
  EXPECT_TRUE(recorder.rows.empty());
  EXPECT_EQ(FinalText(1234, 1530), "1,234 / 1,530 検出しました");
}

TEST_F(FolderScan, HiddenFilesAreVisitedAndOddNamesCountedButNotTested) {
  Cut(".hidden/deep/x.jpg");
  Cut(".dotfile.jpg");
  Cut("photo.jpg.bak");
  WriteFile(Make("README"), std::string("no dot"));
  WriteFile(Make("zero.jpg"), std::string());  // fails the test, fails to decode
  std::vector<uint8_t> damaged = Jpeg(2);
  for (size_t i = 2; i < 30; ++i) damaged[i] = 0;
  WriteFile(Make("damaged.jpg"), Truncated(damaged, damaged.size() / 2));
  WriteFile(Make("header-cut.jpg"), Truncated(Jpeg(3), 120));
  Recorder recorder;
  EXPECT_EQ(Scan(recorder, Root() + "/"), 7);
  EXPECT_EQ(recorder.Names(), (std::vector<std::string>{".dotfile.jpg", "x.jpg"}));
}

TEST_F(FolderScan, AFileDated1970IsListedWithItsTimeAndThumbnail) {
  Cut("old/1970.jpg");
  const std::string path = Root() + "/old/1970.jpg";
  struct utimbuf times {86400 + 3723, 86400 + 3723};
  ASSERT_EQ(utime(path.c_str(), &times), 0);
  Recorder recorder;
  Scan(recorder, Root());
  ASSERT_EQ(recorder.rows.size(), 1u);
  ASSERT_TRUE(recorder.rows[0].modified);
  EXPECT_EQ(*recorder.rows[0].modified, 86400 + 3723);
  EXPECT_EQ(recorder.rows[0].thumbnail.width, 96);
}

TEST_F(FolderScan, CancelStopsBeforeTheNextEntryAtEveryLevel) {
  for (int folder = 0; folder < 5; ++folder) {
    for (int file = 0; file < 20; ++file) {
      const QString name = QStringLiteral("f%1/n%2.txt").arg(folder).arg(file);
      WriteFile(Make(name.toStdString()), std::string("x"));
    }
  }
  Recorder recorder;
  recorder.onPump = [&] {
    if (recorder.pumps == 7) cancel = true;
  };
  const int64_t files = Scan(recorder, Root());
  EXPECT_EQ(files, 7);  // one pump per file: the 7th file's pump cancelled
  EXPECT_TRUE(cancel);
  // The level above still processes messages once for the finished
  // sub-folder, then stops before its next entry.
  EXPECT_EQ(recorder.pumps, 8);
}

TEST_F(FolderScan, EachFolderIsWalkedOnceHoweverManyLinksLeadToIt) {
  Cut("site/a/one.jpg");
  Cut("site/b/two.jpg");
  ASSERT_EQ(symlink("..", Make("site/a/up").c_str()), 0);     // back to site: a cycle
  ASSERT_EQ(symlink("../b", Make("site/a/tob").c_str()), 0);  // to a sibling: one of two ways in
  ASSERT_EQ(symlink("nowhere", Make("site/broken.jpg").c_str()), 0);
  Recorder recorder;
  const int64_t files = Scan(recorder, Root() + "/site");
  EXPECT_EQ(files, 3);  // one, two, the broken link
  EXPECT_EQ(recorder.Names(), (std::vector<std::string>{"one.jpg", "two.jpg"}));

  // A ladder: every rung links twice to the next, 2^20 paths to one file.
  for (int rung = 0; rung < 21; ++rung) ASSERT_TRUE(QDir().mkpath(QString::fromStdString(Make("ladder/r" + std::to_string(rung) + "/x"))));
  Cut("ladder/r20/bottom.jpg");
  for (int rung = 0; rung < 20; ++rung) {
    const std::string here = Root() + "/ladder/r" + std::to_string(rung);
    const std::string next = "../r" + std::to_string(rung + 1);
    ASSERT_EQ(symlink(next.c_str(), (here + "/left").c_str()), 0);
    ASSERT_EQ(symlink(next.c_str(), (here + "/right").c_str()), 0);
  }
  Recorder ladder;
  EXPECT_EQ(Scan(ladder, Root() + "/ladder/r0"), 1);
  EXPECT_EQ(ladder.Names(), (std::vector<std::string>{"bottom.jpg"}));

  // Several folders in one run share the memory of what was entered.
  Recorder twice;
  ScanRun run(cancel);
  ScanFolder(Root() + "/site", run, twice);
  ScanFolder(Root() + "/site/b", run, twice);
  EXPECT_EQ(run.fileCount, 3);
  EXPECT_EQ(twice.Names(), (std::vector<std::string>{"one.jpg", "two.jpg"}));
}

TEST_F(FolderScan, KernelFileSystemsAreNotEntered) {
  Cut("mirror/pic.jpg");
  ASSERT_EQ(symlink("/proc", Make("mirror/proc").c_str()), 0);
  ASSERT_EQ(symlink("/sys", Make("mirror/sys").c_str()), 0);
  ASSERT_EQ(symlink("/proc/self", Make("mirror/self").c_str()), 0);
  Recorder recorder;
  EXPECT_EQ(Scan(recorder, Root() + "/mirror"), 1);
  EXPECT_EQ(recorder.Names(), (std::vector<std::string>{"pic.jpg"}));
  Recorder direct;
  ScanRun run(cancel);
  ScanFolder("/proc", run, direct);
  EXPECT_EQ(run.fileCount, 0);
  EXPECT_EQ(run.unreadableFolders, 0);
}

namespace {

// Lowers the soft limit of open descriptors for one scope.
class DescriptorLimit {
 public:
  explicit DescriptorLimit(rlim_t limit) {
    ::getrlimit(RLIMIT_NOFILE, &saved_);
    rlimit lowered = saved_;
    lowered.rlim_cur = std::min(limit, saved_.rlim_cur);
    ::setrlimit(RLIMIT_NOFILE, &lowered);
  }
  ~DescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &saved_); }

 private:
  rlimit saved_{};
};

// Collects the folders the walk could not enter.
class ReportingRecorder : public Recorder {
 public:
  void ReportUnreadableFolder(const std::string& path, int error) override {
    unreadable.emplace_back(path, error);
  }
  std::vector<std::pair<std::string, int>> unreadable;
};

}  // namespace

TEST_F(FolderScan, TwoThousandNestedFoldersAreFoundWholeAndDeeperOnesReported) {
  // 2,000 levels of "d/" stay within PATH_MAX; 2,100 do not, so the walk
  // meets a folder it cannot enter below the last picture.
  ASSERT_LT(Root().size(), 4096u - 2 * 2000 - 16) << "temporary folder path too long for this test";
  const int depth = 2100;
  const std::vector<uint8_t> bytes = Jpeg(4);
  const std::vector<uint8_t> cut = Truncated(bytes, bytes.size() * 2 / 3);
  NestFolders(Root(), depth, [&](int level, int fd) {
    if (level % 400 == 0 && level <= 2000) WriteAt(fd, "cut.jpg", cut);
    if (level % 100 == 0 && level <= 2000) WriteAt(fd, "page.html", {'<', 'p', '>'});
  });
  Cut("z/after.jpg");
  ReportingRecorder recorder;
  ScanRun run(cancel);
  {
    // One open folder per level would need 2,000 descriptors.
    DescriptorLimit limit(64);
    ScanFolder(Root(), run, recorder);
  }
  EXPECT_EQ(run.fileCount, 5 + 20 + 1);
  EXPECT_EQ(recorder.rows.size(), 6u);
  EXPECT_EQ(FinalText(recorder.RowCount(), run.fileCount), "6 / 26 検出しました");
  EXPECT_EQ(run.unreadableFolders, 1);
  ASSERT_EQ(recorder.unreadable.size(), 1u);
  EXPECT_EQ(recorder.unreadable[0].second, ENAMETOOLONG);
  EXPECT_EQ(recorder.unreadable[0].first.rfind(Root() + "/d/d/", 0), 0u);
  EXPECT_EQ(UnreadableFoldersText(run.unreadableFolders), "（開けないフォルダ 1）");
  EXPECT_EQ(UnreadableFoldersText(0), "");
  RemoveNested(Root(), depth);

  if (::geteuid() != 0) {  // permissions do not stop root
    Cut("locked/inside.jpg");
    ASSERT_EQ(::chmod((Root() + "/locked").c_str(), 0), 0);
    ReportingRecorder locked;
    ScanRun again(cancel);
    ScanFolder(Root() + "/locked", again, locked);
    EXPECT_EQ(again.unreadableFolders, 1);
    EXPECT_TRUE(locked.rows.empty());
    ::chmod((Root() + "/locked").c_str(), 0755);
  }
}

TEST_F(FolderScan, ABigSparseFileAndAHugeHeaderAreVisitedCheaply) {
  // 3 GB named .jpg: a cut picture, then holes. Only its tail and the
  // picture's head are read.
  const std::vector<uint8_t> head = Truncated(Jpeg(6), 1500);
  const std::string big = Make("big/huge.jpg");
  WriteFile(big, head);
  ASSERT_EQ(::truncate(big.c_str(), 3LL << 30), 0);
  // 683 bytes claiming 65,500 x 65,500 pixels: refused, still counted.
  WriteFile(Make("big/claim.jpg"), Truncated(WithClaimedSize(Jpeg(7), 65500, 65500), 683));
  Recorder recorder;
  EXPECT_EQ(Scan(recorder, Root() + "/big"), 2);
  ASSERT_EQ(recorder.Names(), (std::vector<std::string>{"huge.jpg"}));
  EXPECT_EQ(recorder.rows[0].size, 3ULL << 30);
  EXPECT_EQ(recorder.rows[0].thumbnail.width, 96);

  // A picture the decoder must read far into keeps the window alive, and
  // a cancel there ends the read and the walk.
  const std::vector<uint8_t> picture = EncodeJpeg({200, 150, JpegKind::Progressive, 90, 8});
  std::vector<uint8_t> padded = Truncated(picture, picture.size() / 2);
  padded.resize(padded.size() + (12 << 20), 0);
  WriteFile(Make("padded/p.jpg"), padded);
  Recorder alive;
  alive.onPump = [&] {
    if (alive.pumps == 2) cancel = true;
  };
  EXPECT_EQ(Scan(alive, Root() + "/padded"), 1);
  EXPECT_EQ(alive.pumps, 3);  // two during the read (the second cancelled), one after the file
  EXPECT_EQ(alive.rows.size(), 1u);
}

TEST(FileSize, SixtyFourBitsAndZeroForFoldersAndMissingPaths) {
  QTemporaryDir dir;
  const std::string big = dir.path().toStdString() + "/big.jpg";
  WriteFile(big, std::string());
  ASSERT_EQ(truncate(big.c_str(), 5LL << 30), 0);  // sparse: no 5 GiB written
  EXPECT_EQ(FileSizeOf(big), 5ULL << 30);
  EXPECT_EQ(FileSizeOf(dir.path().toStdString()), 0u);
  EXPECT_EQ(FileSizeOf(dir.path().toStdString() + "/missing"), 0u);
  const std::string empty = dir.path().toStdString() + "/empty";
  WriteFile(empty, std::string());
  EXPECT_EQ(FileSizeOf(empty), 0u);
}

TEST(JpegNames, ExtensionsAreFoldedForAsciiOnly) {
  EXPECT_TRUE(IsJpegName("a.JPG"));
  EXPECT_TRUE(IsJpegName("a.JpEg"));
  EXPECT_TRUE(IsJpegName("写真.jpg"));
  EXPECT_FALSE(IsJpegName("a.jpe"));
  EXPECT_FALSE(IsJpegName("a.jpg.bak"));
  EXPECT_FALSE(IsJpegName("jpg"));
  EXPECT_FALSE(IsJpegName("a.jpegx"));
}

TEST(FitPath, ShrinksFromTheLeftOneFolderAtATime) {
  const auto length = [](const QString& text) { return int(text.size()); };
  const QString path = "/photos/2007/summer";
  EXPECT_EQ(FitPathToWidth(path, length, 100), path);
  EXPECT_EQ(FitPathToWidth(path, length, 18), "/.../2007/summer");
  EXPECT_EQ(FitPathToWidth(path, length, 15), "/.../summer");
  EXPECT_EQ(FitPathToWidth(path, length, 10), ".../summer");
  EXPECT_EQ(FitPathToWidth(path, length, 9), "summer");
  EXPECT_EQ(FitPathToWidth(path, length, 1), "summer");
  EXPECT_EQ(FitPathToWidth("/", length, 0), "");
  EXPECT_EQ(FitPathToWidth("summer", length, 1), "summer");
}

TEST_F(FolderScan, DecodeThreadsChangeNeitherTheRowsNorTheirOrder) {
  // Every kind of picture, cut at several points, some too early to decode
  // at all, among complete pictures and other files, in nested folders.
  const JpegKind kinds[] = {JpegKind::Baseline, JpegKind::Progressive, JpegKind::Grayscale, JpegKind::Cmyk};
  for (int i = 0; i < 48; ++i) {
    const std::string name = QStringLiteral("s%1/d%2/p%3").arg(i % 3).arg(i % 5).arg(i).toStdString();
    const std::vector<uint8_t> bytes = EncodeJpeg({120 + 40 * (i % 4), 90 + 30 * (i % 3), kinds[i % 4], 85, uint32_t(i)});
    const size_t keep = i % 7 == 0 ? 40 : bytes.size() * size_t(3 + i % 5) / 9;
    WriteFile(Make(name + ".jpg"), i % 6 == 5 ? bytes : Truncated(bytes, keep));
    WriteFile(Make(name + ".html"), std::string(100, 'h'));
  }
  auto run = [&](int jobs, int cancelAtPump) {
    struct Result {
      std::vector<DetectionRow> rows;
      std::vector<std::string> undecodable;
      int64_t files = 0;
    } result;
    cancel = false;
    Recorder recorder;
    recorder.onPump = [&] {
      if (recorder.pumps == cancelAtPump) cancel = true;
    };
    ScanRun scan(cancel);
    scan.jobs = jobs;
    scan.undecodable = &result.undecodable;
    ScanFolder(Root(), scan, recorder);
    result.rows = std::move(recorder.rows);
    result.files = scan.fileCount;
    return result;
  };
  const auto one = run(1, -1);
  ASSERT_GT(one.rows.size(), 20u);
  ASSERT_GT(one.undecodable.size(), 3u);
  for (int jobs : {2, 3}) {
    const auto many = run(jobs, -1);
    EXPECT_EQ(many.files, one.files);
    EXPECT_EQ(many.undecodable, one.undecodable);
    ASSERT_EQ(many.rows.size(), one.rows.size()) << jobs;
    for (size_t i = 0; i < one.rows.size(); ++i) {
      EXPECT_EQ(many.rows[i].path, one.rows[i].path);
      EXPECT_EQ(many.rows[i].size, one.rows[i].size);
      EXPECT_EQ(many.rows[i].modified, one.rows[i].modified);
      EXPECT_TRUE(many.rows[i].thumbnail == one.rows[i].thumbnail) << many.rows[i].path;
    }
    // Stopped halfway, what was listed is the start of the full list.
    const auto stopped = run(jobs, 60);
    EXPECT_LT(stopped.rows.size(), one.rows.size());
    for (size_t i = 0; i < stopped.rows.size(); ++i) EXPECT_EQ(stopped.rows[i].path, one.rows[i].path);
  }
}
