// The demo's set-up run headless, as ./run.sh --demo runs it: every file the
// detection lists must be served by the demo's server at its assumed URL.
#include <gtest/gtest.h>
#include <httplib.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <memory>

#include "refetch/source_url.h"

namespace {

// scripts/demo --serve in the background, until the test ends.
class Demo {
 public:
  explicit Demo(const QString& tmpdir) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", tmpdir);
    env.insert("YURAGIMARU_BUILD_DIR", QStringLiteral(BUILD_DIR));
    process_.setProcessEnvironment(env);
    process_.start(QStringLiteral(DEMO_SCRIPT), {QStringLiteral("--serve")});
    QElapsedTimer clock;
    clock.start();
    while (site.isEmpty() && clock.elapsed() < 60000 && process_.state() != QProcess::NotRunning) {
      process_.waitForReadyRead(200);
      while (process_.canReadLine()) {
        const QString line = QString::fromUtf8(process_.readLine()).trimmed();
        if (line.startsWith("Saved site: ")) site = line.mid(12);
      }
    }
  }
  ~Demo() { Stop(); }

  // Ends it as Ctrl-C or a closed terminal would; true when it went.
  bool Stop() {
    if (process_.state() == QProcess::NotRunning) return true;
    process_.terminate();
    return process_.waitForFinished(30000);
  }
  QString Errors() { return QString::fromUtf8(process_.readAllStandardError()); }

  QString site;

 private:
  QProcess process_;
};

struct Listed {
  QString path;
  QString url;
};

std::vector<Listed> Scan(const QString& folder) {
  QProcess scan;
  scan.start(QStringLiteral(SCAN_BIN), {QStringLiteral("--json"), folder});
  scan.waitForFinished(60000);
  std::vector<Listed> listed;
  for (const QByteArray& line : scan.readAllStandardOutput().split('\n')) {
    if (line.isEmpty()) continue;
    const QJsonObject row = QJsonDocument::fromJson(line).object();
    listed.push_back({row["path"].toString(), row["url"].toString()});
  }
  return listed;
}

QByteArray Read(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every listed file's URL leads to the demo's server, which answers with the
// complete picture the cut file was taken from.
void ExpectEveryListedFileServed(const QString& site) {
  const QString host = QFileInfo(site).fileName();
  ASSERT_TRUE(host.startsWith("127.0.0.1:")) << site.toStdString();
  const int port = host.mid(10).toInt();
  ASSERT_GT(port, 0);
  // No folder above the host folder may be taken for the host.
  EXPECT_FALSE(QFileInfo(site).path().contains('.')) << site.toStdString();

  const std::vector<Listed> listed = Scan(site);
  EXPECT_GE(listed.size(), 5u) << "the demo should show several cut pictures";
  httplib::Client client("127.0.0.1", port);
  for (const Listed& file : listed) {
    SCOPED_TRACE(file.path.toStdString());
    EXPECT_EQ(file.url, yuragi::BuildSourceUrl(file.path));
    const QString prefix = "http://" + host + "/";
    ASSERT_TRUE(file.url.startsWith(prefix)) << file.url.toStdString();
    const QByteArray path = "/" + QUrl::toPercentEncoding(file.url.mid(prefix.size()), "/");
    const httplib::Result answer = client.Get(path.toStdString());
    ASSERT_TRUE(answer) << path.toStdString();
    EXPECT_EQ(answer->status, 200) << path.toStdString();
    const QByteArray whole = QByteArray::fromStdString(answer->body);
    const QByteArray cut = Read(file.path);
    ASSERT_FALSE(cut.isEmpty());
    EXPECT_GT(whole.size(), cut.size());
    EXPECT_TRUE(whole.startsWith(cut)) << "the server's picture is not the one the file was cut from";
    EXPECT_TRUE(whole.endsWith("\xFF\xD9"));
  }
}

// The copy of the window beside the site, with its settings file naming the
// site as the folder tree's start folder.
void ExpectWindowOpensAtSite(const QString& site) {
  const QString work = QFileInfo(site).path();
  EXPECT_TRUE(QFileInfo(work + "/yuragimaru-demo").isExecutable());
  // F1 looks for the manual under the program's own name beside it.
  const QByteArray manual = Read(work + "/yuragimaru-demo.html");
  EXPECT_FALSE(manual.isEmpty());
  EXPECT_EQ(manual, Read(QStringLiteral(BUILD_DIR "/yuragimaru.html")));
  EXPECT_TRUE(QFileInfo(work + "/screenshots/detect.png").isFile());
  const QByteArray settings = Read(work + "/yuragimaru-demo.ini");
  EXPECT_TRUE(settings.contains("[OPTION]\r\n")) << settings.toStdString();
  EXPECT_TRUE(settings.contains(("\r\nInitialDir=" + site + "/\r\n").toUtf8())) << settings.toStdString();
}

TEST(Demo, EveryListedFileIsServedAtItsUrlAndTheSiteGoesWithTheServer) {
  QTemporaryDir tmp;
  ASSERT_TRUE(tmp.isValid());
  QString site;
  {
    Demo demo(tmp.path());
    site = demo.site;
    ASSERT_FALSE(site.isEmpty()) << demo.Errors().toStdString();
    if (!tmp.path().contains('.')) {
      EXPECT_TRUE(site.startsWith(tmp.path() + "/yuragimaru-demo-")) << site.toStdString();
    }
    ExpectEveryListedFileServed(site);
    ExpectWindowOpensAtSite(site);
    ASSERT_TRUE(demo.Stop());
  }
  EXPECT_FALSE(QFileInfo::exists(QFileInfo(site).path())) << "the demo left its folder behind";
}

TEST(Demo, TmpdirWithADotIsPassedOverForAFolderWithout) {
  QTemporaryDir tmp;
  ASSERT_TRUE(tmp.isValid());
  const QString dotted = tmp.path() + "/my.tmp";
  ASSERT_TRUE(QDir().mkpath(dotted));
  QString site;
  {
    Demo demo(dotted);
    site = demo.site;
    ASSERT_FALSE(site.isEmpty()) << demo.Errors().toStdString();
    EXPECT_FALSE(site.startsWith(dotted)) << site.toStdString();
    EXPECT_TRUE(demo.Errors().contains("TMPDIR"));
    ExpectEveryListedFileServed(site);
    ExpectWindowOpensAtSite(site);
    ASSERT_TRUE(demo.Stop());
  }
  EXPECT_FALSE(QFileInfo::exists(QFileInfo(site).path()));
  EXPECT_TRUE(QDir(dotted).isEmpty());
}

}  // namespace
