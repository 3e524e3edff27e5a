#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <utime.h>

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "jpeg_writer.h"

using namespace yuragi::testing;

namespace {

struct Result {
  int code = -1;
  QString out;
  QString err;
};

Result RunScan(const QStringList& arguments) {
  QProcess process;
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
  for (const char* word : {"--json", "--url", "Exit status", "Ctrl-C", "mtime"}) {
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

TEST_F(ScanCli, JsonMarksBytesThatAreNotUtf8) {
  const QByteArray folder = dir.path().toLocal8Bit() + "/bad\xff\xfe.jpg";
  const std::vector<uint8_t> bytes = EncodeJpeg({200, 150});
  WriteFile(folder.toStdString(), Truncated(bytes, bytes.size() / 2));
  const Result r = RunScan({"--json", dir.path()});
  ASSERT_EQ(r.code, 1);
  QJsonParseError error;
  const QJsonObject row = QJsonDocument::fromJson(r.out.toUtf8(), &error).object();
  ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out.toStdString();
  EXPECT_TRUE(row["path"].toString().endsWith(QString("/bad") + QChar(0xFFFD) + QChar(0xFFFD) + ".jpg"));
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
  EXPECT_EQ(process.exitCode(), 1);
  const QString err = QString::fromUtf8(process.readAllStandardError());
  const QString out = QString::fromUtf8(process.readAllStandardOutput());
  QStringList parts = err.split(' ');
  ASSERT_GE(parts.size(), 4) << err.toStdString();
  const int files = parts[2].remove(',').toInt();
  EXPECT_GT(files, 0);
  EXPECT_LT(files, 1500);
  EXPECT_TRUE(err.endsWith(" 検出しました\n"));
  EXPECT_EQ(out.count('\n'), parts[0].remove(',').toInt());
}
