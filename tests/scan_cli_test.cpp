#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <utime.h>

#include <QDir>
#include <filesystem>
#include <map>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "byte_temp_dir.h"
#include "convert_pictures.h"
#include "jpeg_writer.h"
#include "picture_writer.h"

using namespace yuragi::testing;

namespace {

struct Result {
  int code = -1;
  QString out;
  QString err;
};

Result RunScan(const QStringList& arguments, const QString& workingFolder = {}) {
  QProcess process;
  if (!workingFolder.isEmpty()) process.setWorkingDirectory(workingFolder);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("TZ", "UTC");
  process.setProcessEnvironment(env);
  process.start(QStringLiteral(SCAN_BIN), arguments);
  process.waitForFinished(60000);
  return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
          QString::fromUtf8(process.readAllStandardError())};
}

class ScanCli : public ::testing::Test {
 protected:
  QString Cut(const QString& relative, uint32_t seed = 1) {
    const QString path = dir.path() + "/" + relative;
    QDir().mkpath(QFileInfo(path).path());
    const std::vector<uint8_t> bytes = EncodeJpeg({120, 90, JpegKind::Baseline, 85, seed});
    WriteFile(path.toStdString(), Truncated(bytes, bytes.size() / 2));
    return path;
  }
  QTemporaryDir dir;
};

}  // namespace

TEST_F(ScanCli, ListsInTabsCountsOverAllFoldersAndExitsOneWhenSomethingIsListed) {
  const QString cut = Cut("one/127.0.0.1:8080/img/p.jpg");
  struct utimbuf times {86400 + 3723, 86400 + 3723};
  ASSERT_EQ(utime(cut.toLocal8Bit().constData(), &times), 0);
  WriteFile((dir.path() + "/one/whole.jpg").toStdString(), EncodeJpeg({}));
  QDir().mkpath(dir.path() + "/two");
  WriteFile((dir.path() + "/two/note.txt").toStdString(), std::string("x"));

  const Result r = RunScan({dir.path() + "/one", dir.path() + "/two"});
  EXPECT_EQ(r.code, 1);
  const QString size = QString::number(QFileInfo(cut).size());
  EXPECT_EQ(r.out, cut + "\t" + size + "\t1970-01-02 01:02:03\thttp://127.0.0.1:8080/img/p.jpg\n");
  EXPECT_EQ(r.err, "1 / 3 検出しました\n");
}

TEST_F(ScanCli, NothingFoundExitsZeroAndUsageErrorsExitTwo) {
  Result r = RunScan({dir.path()});
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(r.out.isEmpty());
  EXPECT_EQ(r.err, "0 / 0 該当ありません\n");

  r = RunScan({});
  EXPECT_EQ(r.code, 2);
  r = RunScan({"--bogus", dir.path()});
  EXPECT_EQ(r.code, 2);
  r = RunScan({dir.path(), dir.path() + "/missing"});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(r.err.contains(dir.path() + "/missing")) << r.err.toStdString();
  EXPECT_EQ(r.err.count('\n'), 1);
  EXPECT_TRUE(r.out.isEmpty());

  r = RunScan({"--help"});
  EXPECT_EQ(r.code, 0);
  for (const char* word : {"--json", "--url", "Exit status", "Ctrl-C", "mtime", "request_url", "path_base64", "\\t",
                           "130"}) {
    EXPECT_TRUE(r.out.contains(word)) << word;
  }
}

TEST_F(ScanCli, JsonEscapesAnyName) {
  const QString odd = Cut("site.example/a\t\"写真\\.jpg");
  const Result r = RunScan({"--json", dir.path()});
  EXPECT_EQ(r.code, 1);
  const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 1);
  QJsonParseError error;
  const QJsonObject row = QJsonDocument::fromJson(lines[0].toUtf8(), &error).object();
  ASSERT_EQ(error.error, QJsonParseError::NoError) << lines[0].toStdString();
  EXPECT_EQ(row["path"].toString(), odd);
  EXPECT_EQ(row["size"].toInteger(), QFileInfo(odd).size());
  EXPECT_TRUE(row["mtime"].isString());
  EXPECT_EQ(row["url"].toString(), "http://site.example/a\t\"写真/.jpg");
}

TEST_F(ScanCli, JsonMarksBytesThatAreNotUtf8AndGivesThemWhole) {
  ByteTempDir odd;
  const QByteArray site = odd.path() + "/img.example/\x89\xE6\x91\x9C";
  ASSERT_TRUE(std::filesystem::create_directories(site.toStdString()));
  const QByteArray file = site + "/bad\xff\xfe #1.jpg";
  const std::vector<uint8_t> bytes = EncodeJpeg({200, 150});
  WriteFile(file.toStdString(), Truncated(bytes, bytes.size() / 2));
  WriteFile((odd.path() + "/img.example/ok.jpg").toStdString(), Truncated(bytes, bytes.size() / 2));
  const Result r = RunScan({"--json", QString::fromUtf8(odd.path())});
  ASSERT_EQ(r.code, 1);
  QList<QJsonObject> rows;
  for (const QString& line : r.out.split('\n', Qt::SkipEmptyParts)) {
    QJsonParseError error;
    rows << QJsonDocument::fromJson(line.toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
  }
  ASSERT_EQ(rows.size(), 2);
  if (rows[0]["path"].toString().endsWith("ok.jpg")) std::swap(rows[0], rows[1]);
  const QJsonObject& row = rows[0];
  EXPECT_TRUE(row["path"].toString().endsWith(QString("/bad") + QChar(0xFFFD) + QChar(0xFFFD) + " #1.jpg"));
  EXPECT_EQ(QByteArray::fromBase64(row["path_base64"].toString().toLatin1()), file);
  EXPECT_EQ(row["url"].toString(), "http://img.example/%89%E6%91%9C/bad%FF%FE #1.jpg");
  EXPECT_EQ(row["request_url"].toString(), "http://img.example/%89%E6%91%9C/bad%FF%FE%20%231.jpg");
  // A UTF-8 path needs no second form.
  EXPECT_FALSE(rows[1].contains("path_base64"));
  EXPECT_EQ(rows[1]["request_url"].toString(), "http://img.example/ok.jpg");
}

TEST_F(ScanCli, TsvKeepsTheBytesAndEscapesWhatWouldBreakALine) {
  ByteTempDir odd;
  const QByteArray site = odd.path() + "/img.example/\x83\x65\x83\x58";
  ASSERT_TRUE(std::filesystem::create_directories(site.toStdString()));
  const QByteArray file = site + "/a\tb\\c\nd.jpg";
  const std::vector<uint8_t> bytes = EncodeJpeg({200, 150});
  WriteFile(file.toStdString(), Truncated(bytes, bytes.size() / 2));
  QProcess process;
  process.start(QStringLiteral(SCAN_BIN), {QString::fromUtf8(odd.path())});
  ASSERT_TRUE(process.waitForFinished(60000));
  EXPECT_EQ(process.exitCode(), 1);
  const QByteArray out = process.readAllStandardOutput();
  EXPECT_EQ(out.count('\n'), 1);
  const QList<QByteArray> fields = out.chopped(1).split('\t');
  ASSERT_EQ(fields.size(), 4) << out.toStdString();
  EXPECT_EQ(fields[0], site + "/a\\tb\\\\c\\nd.jpg");
  EXPECT_EQ(fields[1], QByteArray::number(qlonglong(bytes.size() / 2)));
  EXPECT_EQ(fields[3], "http://img.example/%83e%83X/a\\tb/c\\nd.jpg");
}

TEST_F(ScanCli, RelativePathsAreResolvedForTheUrlAndPrintedAsGiven) {
  Cut("www.example.jp/x.jpg");
  QDir().mkpath(dir.path() + "/sub");
  Result r = RunScan({"."}, dir.path());
  EXPECT_EQ(r.code, 1);
  QStringList fields = r.out.trimmed().split('\t');
  ASSERT_EQ(fields.size(), 4) << r.out.toStdString();
  EXPECT_EQ(fields[0], "./www.example.jp/x.jpg");
  EXPECT_EQ(fields[3], "http://www.example.jp/x.jpg");

  r = RunScan({"../www.example.jp"}, dir.path() + "/sub");
  fields = r.out.trimmed().split('\t');
  ASSERT_EQ(fields.size(), 4) << r.out.toStdString();
  EXPECT_EQ(fields[0], "../www.example.jp/x.jpg");
  EXPECT_EQ(fields[3], "http://www.example.jp/x.jpg");

  r = RunScan({"--url", "../site.example/a.jpg", "./b/img.example/c.jpg"}, dir.path() + "/sub");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "http://site.example/a.jpg\nhttp://img.example/c.jpg\n");
}

TEST_F(ScanCli, AFileArgumentIsTestedLikeAFileInAFolder) {
  const QString cut = Cut("img.example/cut.jpg");
  const QString whole = dir.path() + "/img.example/whole.jpg";
  WriteFile(whole.toStdString(), EncodeJpeg({}));
  Result r = RunScan({cut});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.out.startsWith(cut + "\t")) << r.out.toStdString();
  EXPECT_TRUE(r.out.endsWith("\thttp://img.example/cut.jpg\n"));
  EXPECT_EQ(r.err, "1 / 1 検出しました\n");

  r = RunScan({whole, cut, dir.path() + "/img.example"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out.count('\n'), 2);  // the cut file, given and found in its folder
  EXPECT_EQ(r.err, "2 / 4 検出しました\n");

  r = RunScan({whole});
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(r.out.isEmpty());
  EXPECT_EQ(r.err, "0 / 1 該当ありません\n");

  r = RunScan({dir.path() + "/img.example/gone.jpg"});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(r.out.isEmpty());
}

TEST_F(ScanCli, EveryNumberOfDecodeThreadsGivesTheSameOutput) {
  const JpegKind kinds[] = {JpegKind::Baseline, JpegKind::Progressive, JpegKind::Grayscale, JpegKind::Cmyk};
  for (int i = 0; i < 120; ++i) {
    const QString path = dir.path() + QStringLiteral("/site %1.example/写真 %2/p\t%3.jpg").arg(i % 4).arg(i % 7).arg(i);
    QDir().mkpath(QFileInfo(path).path());
    const std::vector<uint8_t> bytes = EncodeJpeg({100 + 30 * (i % 5), 80 + 20 * (i % 3), kinds[i % 4], 85, uint32_t(i)});
    WriteFile(path.toStdString(), i % 9 == 0 ? Truncated(bytes, 30) : Truncated(bytes, bytes.size() * size_t(2 + i % 6) / 9));
  }
  // The other formats, for --formats all: cut, some too early, some whole,
  // one in four under another format's name.
  const char* const names[] = {"png", "gif", "webp"};
  for (int i = 0; i < 48; ++i) {
    const JpegSpec spec{90 + 20 * (i % 4), 70 + 10 * (i % 3), JpegKind::Baseline, 85, uint32_t(i)};
    const std::vector<uint8_t> bytes = i % 3 == 0 ? EncodePng(spec, i % 2 == 1) : i % 3 == 1 ? EncodeGif(spec, 1 + i % 3)
                                                                                          : EncodeWebp(spec, i % 2 == 1);
    const QString path = dir.path() + QStringLiteral("/site %1.example/図 %2/q%3.%4")
                                          .arg(i % 4).arg(i % 5).arg(i).arg(names[(i + (i % 4 == 3)) % 3]);
    QDir().mkpath(QFileInfo(path).path());
    WriteFile(path.toStdString(), i % 8 == 0   ? Truncated(bytes, 20)
                                  : i % 8 == 7 ? bytes
                                               : Truncated(bytes, bytes.size() * size_t(3 + i % 5) / 9));
  }
  const QString file = Cut("single.jpg");
  for (const QStringList& mode : {QStringList{}, QStringList{"--json"}, QStringList{"--formats", "all"},
                                  QStringList{"--json", "--formats", "all"}}) {
    const Result one = RunScan(mode + QStringList{"--jobs", "1", dir.path(), file});
    ASSERT_EQ(one.code, 1);
    ASSERT_GT(one.out.count('\n'), 80);
    if (mode.contains("--json") && mode.contains("--formats")) {
      for (const char* format : {"png", "gif", "webp"}) {
        EXPECT_TRUE(one.out.contains(QStringLiteral("\"format\":\"%1\"").arg(format))) << format;
      }
      EXPECT_TRUE(one.out.contains("\"extension_mismatch\":true"));
    }
    for (const char* jobs : {"2", "4"}) {
      const Result many = RunScan(mode + QStringList{"--jobs", jobs, dir.path(), file});
      EXPECT_EQ(many.code, one.code);
      EXPECT_EQ(many.out, one.out) << jobs;
      EXPECT_EQ(many.err, one.err) << jobs;
    }
  }
  EXPECT_EQ(RunScan({"--jobs", "0", dir.path()}).code, 2);
}

TEST_F(ScanCli, UrlModeTouchesNothing) {
  const Result r = RunScan({"--url", "/home/me/dl/img.example/a b/写真.jpg", "/srv/mirror/127.0.0.1:8080/img/p.jpg",
                            "/nowhere/photo.jpg"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out,
            "http://img.example/a b/写真.jpg\nhttp://127.0.0.1:8080/img/p.jpg\nhttp://photo.jpg\n");
}

TEST_F(ScanCli, InterruptStopsTheWalkAndStillReports) {
  for (int i = 0; i < 1500; ++i) Cut(QStringLiteral("d%1/p%2.jpg").arg(i % 30).arg(i), uint32_t(i));
  QProcess process;
  process.start(QStringLiteral(SCAN_BIN), {dir.path()});
  ASSERT_TRUE(process.waitForStarted());
  // Wait for the first listed file, then press Ctrl-C.
  while (process.bytesAvailable() == 0 && process.waitForReadyRead(10000)) {
  }
  ::kill(pid_t(process.processId()), SIGINT);
  ASSERT_TRUE(process.waitForFinished(20000));
  EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
  // 128 + SIGINT, as a shell reports it: a partial list is not a result.
  EXPECT_EQ(process.exitCode(), 130);
  const QString allErr = QString::fromUtf8(process.readAllStandardError());
  const QString out = QString::fromUtf8(process.readAllStandardOutput());
  const QStringList errLines = allErr.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(errLines.size(), 2) << allErr.toStdString();
  EXPECT_TRUE(errLines[1].contains("interrupted")) << allErr.toStdString();
  const QString err = errLines[0] + "\n";
  QStringList parts = err.split(' ');
  ASSERT_GE(parts.size(), 4) << err.toStdString();
  const int files = parts[2].remove(',').toInt();
  EXPECT_GT(files, 0);
  EXPECT_LT(files, 1500);
  EXPECT_TRUE(err.endsWith(" 検出しました\n"));
  EXPECT_EQ(out.count('\n'), parts[0].remove(',').toInt());
}

TEST_F(ScanCli, JsonSaysHowEachFileEndsAndCutOnlyListsTheCutOnes) {
  const std::vector<uint8_t> progressive = EncodeJpeg({240, 320, JpegKind::Progressive, 85, 4, 12});
  // Cut in the middle of the longest scan.
  size_t longest = 0, start = 0, previous = 0;
  for (size_t i = 0; i + 1 < progressive.size(); ++i) {
    if (progressive[i] != 0xFF || (progressive[i + 1] != 0xDA && progressive[i + 1] != 0xD9)) continue;
    if (previous > 0 && i - previous > longest) {
      longest = i - previous;
      start = previous;
    }
    previous = i;
  }
  WriteFile((dir.path() + "/p.jpg").toStdString(), Truncated(progressive, start + longest / 2));
  std::vector<uint8_t> padded = EncodeJpeg({120, 90});
  padded.resize(padded.size() + 64, 0);
  WriteFile((dir.path() + "/z.jpg").toStdString(), padded);
  std::vector<uint8_t> video = EncodeJpeg({120, 90});
  for (int i = 0; i < 3000; ++i) video.push_back(uint8_t(i * 7 + 1));
  WriteFile((dir.path() + "/v.jpg").toStdString(), video);

  const Result r = RunScan({"--json", dir.path()});
  EXPECT_EQ(r.code, 1);
  std::map<QString, QJsonObject> rows;
  for (const QString& line : r.out.split('\n', Qt::SkipEmptyParts)) {
    const QJsonObject row = QJsonDocument::fromJson(line.toUtf8()).object();
    rows[QFileInfo(row["path"].toString()).fileName()] = row;
  }
  ASSERT_EQ(rows.size(), 3u) << r.out.toStdString();
  EXPECT_EQ(rows["p.jpg"]["state"].toString(), "cut");
  EXPECT_GT(rows["p.jpg"]["present"].toDouble(), 0.0);
  EXPECT_LT(rows["p.jpg"]["present"].toDouble(), 1.0);
  EXPECT_GT(rows["p.jpg"]["scans"].toInt(), 0);
  EXPECT_EQ(rows["z.jpg"]["state"].toString(), "trailing");
  EXPECT_EQ(rows["z.jpg"]["trailing_bytes"].toInteger(), 64);
  EXPECT_TRUE(rows["z.jpg"]["trailing_zero"].toBool());
  EXPECT_EQ(rows["v.jpg"]["state"].toString(), "trailing");
  EXPECT_EQ(rows["v.jpg"]["trailing_bytes"].toInteger(), 3000);
  EXPECT_FALSE(rows["v.jpg"]["trailing_zero"].toBool());

  const Result cutOnly = RunScan({"--cut-only", dir.path()});
  EXPECT_EQ(cutOnly.code, 1);
  EXPECT_EQ(cutOnly.out.count('\n'), 1);
  EXPECT_TRUE(cutOnly.out.startsWith(dir.path() + "/p.jpg\t")) << cutOnly.out.toStdString();
  EXPECT_EQ(cutOnly.out.split('\t').size(), 4);  // the lines keep their columns
}

TEST_F(ScanCli, FormatsAllTestsPngGifAndWebpByContentAndTheDefaultStaysJpeg) {
  struct Made {
    const char* name;
    const char* encodeAs;  // convert's output name: its extension picks the format
    std::vector<std::string> extra;
    int keepPercent;       // 100: whole; over 100: with that many extra bytes per cent
    const char* state;     // nullptr: not listed
    const char* format;
  };
  const std::vector<Made> made = {
      {"cut.png", "a.png", {}, 50, "cut", "png"},
      {"whole.png", "a.png", {}, 100, nullptr, nullptr},
      {"tail.png", "a.png", {}, 101, "trailing", "png"},
      {"cut.gif", "a.gif", {}, 50, "cut", "gif"},
      {"whole.gif", "a.gif", {}, 100, nullptr, nullptr},
      {"cut.webp", "a.webp", {"-define", "webp:lossless=true"}, 50, "cut", "webp"},
      {"whole.webp", "a.webp", {}, 100, nullptr, nullptr},
      // ImageMagick 6 writes a second RIFF after an animation: trailing data.
      {"anim-tail.webp", "a.webp", {"(", "+clone", "-flip", ")"}, 100, "trailing", "webp"},
      {"anim-cut.webp", "a.webp", {"(", "+clone", "-flip", ")", "(", "+clone", "-negate", ")"}, 60, "cut", "webp"},
      {"png-named.gif", "a.png", {}, 60, "cut", "png"},
      {"jpeg-named.png", "a.jpg", {}, 50, "cut", "jpeg"},
      {"page.html", "a.png", {}, 50, nullptr, nullptr},  // not a picture's name: never opened
  };
  std::map<QString, std::vector<uint8_t>> wholes;
  for (const Made& m : made) {
    std::vector<uint8_t> bytes = ConvertPicture(m.encodeAs, m.extra);
    ASSERT_FALSE(bytes.empty()) << m.name;
    const size_t size = bytes.size();
    if (m.keepPercent < 100) bytes.resize(size * size_t(m.keepPercent) / 100);
    if (m.keepPercent > 100) bytes.insert(bytes.end(), size * size_t(m.keepPercent - 100) / 100, 'x');
    WriteFile((dir.path() + "/" + m.name).toStdString(), bytes);
  }

  const Result r = RunScan({"--json", "--formats", "all", dir.path()});
  EXPECT_EQ(r.code, 1) << r.err.toStdString();
  std::map<QString, QJsonObject> rows;
  for (const QString& line : r.out.split('\n', Qt::SkipEmptyParts)) {
    const QJsonObject row = QJsonDocument::fromJson(line.toUtf8()).object();
    rows[QFileInfo(row["path"].toString()).fileName()] = row;
  }
  for (const Made& m : made) {
    SCOPED_TRACE(m.name);
    if (!m.state) {
      EXPECT_EQ(rows.count(m.name), 0u);
      continue;
    }
    const QJsonObject row = rows[m.name];
    EXPECT_EQ(row["state"].toString(), m.state);
    EXPECT_EQ(row["format"].toString(), m.format);
    EXPECT_EQ(row["extension_mismatch"].toBool(), QString(m.name).contains("-named"));
    if (QString(m.name).startsWith("anim")) {
      EXPECT_FALSE(row.contains("present"));  // an animation's rows do not say it
      EXPECT_EQ(row["frames"].toInt() >= 1, QString(m.state) == "cut");
    } else if (QString(m.state) == "cut") {
      EXPECT_GT(row["present"].toDouble(), 0.0);
      EXPECT_LT(row["present"].toDouble(), 1.0);
    }
  }
  EXPECT_EQ(rows["tail.png"]["trailing_bytes"].toInteger(), qint64(QFileInfo(dir.path() + "/tail.png").size()) -
                                                                   qint64(QFileInfo(dir.path() + "/whole.png").size()));
  EXPECT_EQ(rows["cut.gif"]["trailer_missing"].toBool(), false);

  // A GIF whose every frame is whole and only the trailer is missing.
  std::vector<uint8_t> gif = ReadFile((dir.path() + "/whole.gif").toStdString());
  gif.pop_back();
  WriteFile((dir.path() + "/no-trailer.gif").toStdString(), gif);
  const Result gifOnly = RunScan({"--json", "--formats=gif", dir.path() + "/no-trailer.gif"});
  const QJsonObject row = QJsonDocument::fromJson(gifOnly.out.toUtf8()).object();
  EXPECT_EQ(row["state"].toString(), "cut");
  EXPECT_EQ(row["present"].toDouble(), 1.0);
  EXPECT_TRUE(row["trailer_missing"].toBool());

  // The default is the window's list: JPEG names only, and the JPEG named
  // .png is not among them.
  const Result plain = RunScan({"--json", dir.path()});
  EXPECT_EQ(plain.code, 0) << plain.out.toStdString();
  EXPECT_TRUE(plain.out.isEmpty());
  EXPECT_EQ(RunScan({"--formats", "tiff", dir.path()}).code, 2);
}
