#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <utime.h>

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <dirent.h>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

#include "jpeg_writer.h"
#include "repair_cli_support.h"
#include "test_server.h"

using namespace yuragi::testing;

namespace {

class RepairCli : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    ASSERT_FALSE(dir.path().contains('.')) << "the URL rule takes the first folder with a dot as the host";
    root = dir.path() + "/mirror";
  }

  void Serve() {
    server->Get(R"(/ok/[\s\S]*)", [this](const httplib::Request& request, httplib::Response& response) {
      ++requests;
      if (request.has_header("Range")) ++rangeRequests;
      {
        std::lock_guard lock(headersMutex);
        agent = request.get_header_value("User-Agent");
        noCache = request.get_header_value("Cache-Control") + "/" + request.get_header_value("Pragma");
        encodings += request.get_header_value("Accept-Encoding");
      }
      const auto found = originals.find(request.path);
      if (found == originals.end()) {
        response.status = 404;
        return;
      }
      const auto stamp = lastModified.find(request.path);
      if (stamp != lastModified.end()) response.set_header("Last-Modified", stamp->second);
      response.set_content(found->second, "image/jpeg");
    });
    server->Get(R"(/norange/.*)", [this](const httplib::Request& request, httplib::Response& response) {
      ++requests;
      const std::string body = originals.at(request.path);
      response.set_chunked_content_provider("image/jpeg", [body](size_t offset, httplib::DataSink& sink) {
        if (offset < body.size()) {
          sink.write(body.data() + offset, std::min<size_t>(body.size() - offset, 4096));
        } else {
          sink.done();
        }
        return true;
      });
    });
    // Answers a Range request from a copy whose bytes before the local end
    // differ: the overlap check must refuse it and fetch the whole file.
    server->Get(R"(/badtail/.*)", [this](const httplib::Request& request, httplib::Response& response) {
      std::string body = originals.at(request.path);
      if (request.has_header("Range")) {
        ++rangeRequests;
        for (size_t i = body.size() / 2 - 100; i < body.size() / 2; ++i) body[i] = char(body[i] ^ 0x5A);
      }
      response.set_content(body, "image/jpeg");
    });
    server->Get(R"(/missing/.*)", [this](const httplib::Request&, httplib::Response& response) {
      response.status = 404;
      response.set_content(Str(placeholder), "image/jpeg");  // sites serve placeholder pictures with 404
    });
    server->Get(R"(/html/.*)", [](const httplib::Request&, httplib::Response& response) {
      response.set_content("<html><body>moved</body></html>", "text/html");
    });
    server->Get(R"(/empty/.*)", [](const httplib::Request&, httplib::Response& response) {
      response.set_content("", "image/jpeg");
    });
    server->Get(R"(/redirect/.*)", [](const httplib::Request&, httplib::Response& response) {
      response.set_redirect("file:///etc/passwd");
    });
    server.Start();
    host = root + "/127.0.0.1:" + QString::number(server.Port());
  }

  // A picture cut at keep / 100 of its bytes, stored at its place in the
  // mirror; what the server has under that path is remembered.
  QString Place(const QString& urlPath, uint32_t seed, int keepPercent = 50, int width = 640) {
    const Bytes whole = EncodeJpeg({width, width * 3 / 4, JpegKind::Baseline, 85, seed});
    originals[urlPath.toStdString()] = Str(whole);
    const QString path = host + urlPath;
    QDir().mkpath(QFileInfo(path).path());
    WriteFile(path.toStdString(), Truncated(whole, whole.size() * size_t(keepPercent) / 100));
    struct utimbuf times {kOldTime, kOldTime};
    utime(path.toLocal8Bit().constData(), &times);
    return path;
  }

  std::string Url(const QString& urlPath) const { return server.Url(urlPath.toStdString()); }

  static time_t MTime(const QString& path) {
    struct stat st {};
    stat(path.toLocal8Bit().constData(), &st);
    return st.st_mtime;
  }

  static constexpr time_t kOldTime = 1'000'000'000;
  QTemporaryDir dir;
  QString root;
  QString host;
  TestServer server;
  std::map<std::string, std::string> originals;
  std::map<std::string, std::string> lastModified;
  Bytes placeholder = EncodeJpeg({40, 30});
  std::atomic<int> requests{0};
  std::atomic<int> rangeRequests{0};
  std::mutex headersMutex;
  std::string agent, noCache, encodings;
};

TEST_F(RepairCli, RestoresCutFilesByteForByteAndLeavesEverythingDoubtfulAlone) {
  Serve();
  const QString ranged = Place("/ok/a/ranged.jpg", 1, 60);
  lastModified["/ok/a/ranged.jpg"] = "Wed, 21 Oct 2015 07:28:00 GMT";
  const QString tiny = Place("/ok/tiny.jpg", 2, 60, 64);  // under 4 KB: fetched whole
  const QString whole = Place("/norange/b.jpg", 3, 40);
  const QString badTail = Place("/badtail/c.jpg", 4, 70);
  const Bytes other = EncodeJpeg({640, 480, JpegKind::Baseline, 85, 99});
  const QString changed = Place("/ok/changed.jpg", 5);
  originals["/ok/changed.jpg"] = Str(other);
  const QString missing = Place("/missing/d.jpg", 6);
  const QString html = Place("/html/e.jpg", 7);
  const QString empty = Place("/empty/f.jpg", 8);
  const QString smaller = Place("/ok/smaller.jpg", 9, 60);
  originals["/ok/smaller.jpg"].resize(originals["/ok/smaller.jpg"].size() / 3);
  const QString redirect = Place("/redirect/g.jpg", 10);
  const QString complete = Place("/ok/complete.jpg", 11, 100);  // not cut: never fetched
  std::map<QString, Bytes> before;
  for (const QString& path : {ranged, tiny, whole, badTail, changed, missing, html, empty, smaller, redirect, complete}) {
    before[path] = ReadFile(path.toStdString());
  }

  Result r = RunRepair({"--json", "--retries", "0", root});
  EXPECT_EQ(r.code, 1) << r.err.toStdString();
  EXPECT_EQ(r.byUrl.size(), 10u) << r.out.toStdString();
  const auto outcome = [&](const QString& urlPath) { return r.byUrl[Url(urlPath)]["outcome"].toString(); };

  for (const auto& [path, urlPath] : std::map<QString, QString>{
           {ranged, "/ok/a/ranged.jpg"}, {tiny, "/ok/tiny.jpg"}, {whole, "/norange/b.jpg"}, {badTail, "/badtail/c.jpg"}}) {
    EXPECT_EQ(outcome(urlPath), "repaired") << urlPath.toStdString();
    EXPECT_TRUE(ReadFile(path.toStdString()) == Bytes(originals[urlPath.toStdString()].begin(),
                                                      originals[urlPath.toStdString()].end()))
        << urlPath.toStdString();
  }
  // The Range path fetched only the tail; the others the whole file.
  const QJsonObject rangedLine = r.byUrl[Url("/ok/a/ranged.jpg")];
  EXPECT_TRUE(rangedLine["resumed"].toBool());
  const qint64 fullSize = qint64(originals["/ok/a/ranged.jpg"].size());
  EXPECT_EQ(rangedLine["bytes"].toInteger(), fullSize - qint64(before[ranged].size()) + 4096);
  EXPECT_EQ(rangedLine["saved"].toInteger(), qint64(before[ranged].size()) - 4096);
  EXPECT_FALSE(r.byUrl[Url("/ok/tiny.jpg")]["resumed"].toBool());
  EXPECT_FALSE(r.byUrl[Url("/norange/b.jpg")]["resumed"].toBool());
  const QJsonObject badLine = r.byUrl[Url("/badtail/c.jpg")];
  EXPECT_FALSE(badLine["resumed"].toBool());
  EXPECT_GT(badLine["bytes"].toInteger(), qint64(originals["/badtail/c.jpg"].size()) - 1);
  EXPECT_GE(rangeRequests.load(), 2);
  // Last-Modified becomes the file's time; otherwise the old time stays.
  EXPECT_EQ(MTime(ranged), 1445412480);
  EXPECT_EQ(MTime(whole), kOldTime);

  EXPECT_EQ(outcome("/ok/changed.jpg"), "changed");
  EXPECT_EQ(outcome("/missing/d.jpg"), "http-error");
  EXPECT_EQ(r.byUrl[Url("/missing/d.jpg")]["detail"].toString(), "404");
  EXPECT_EQ(outcome("/html/e.jpg"), "html");
  EXPECT_EQ(outcome("/empty/f.jpg"), "empty");
  EXPECT_EQ(outcome("/ok/smaller.jpg"), "smaller");
  EXPECT_EQ(outcome("/redirect/g.jpg"), "transfer-failed");
  for (const QString& path : {changed, missing, html, empty, smaller, redirect, complete}) {
    EXPECT_TRUE(ReadFile(path.toStdString()) == before[path]) << path.toStdString();
    EXPECT_EQ(MTime(path), kOldTime) << path.toStdString();
  }
  EXPECT_TRUE(r.err.startsWith("10 件中 4 件を修復しました\n")) << r.err.toStdString();
  // The window's request settings.
  EXPECT_EQ(agent, "Quistrelle");
  EXPECT_EQ(noCache, "no-cache/no-cache");
  EXPECT_EQ(encodings, "");
  EXPECT_TRUE(r.err.contains("範囲要求で")) << r.err.toStdString();

  // What is left is found again, what was repaired is not.
  const Result again = RunRepair({"--dry-run", root});
  EXPECT_EQ(again.code, 1);
  EXPECT_EQ(again.out.count('\n'), 6) << again.out.toStdString();
  EXPECT_FALSE(again.out.contains("ranged.jpg"));
  for (const QString& line : again.out.split('\n', Qt::SkipEmptyParts)) {
    EXPECT_EQ(line.split('\t').value(2), "would-fetch");
  }
}

TEST_F(RepairCli, ConnectionCutMidBodyLeavesTheFileAndIsReported) {
  const Bytes picture = EncodeJpeg({320, 240, JpegKind::Baseline, 85, 21});
  server.ServeCut("/cut/p.jpg", picture);
  Serve();
  const QString path = host + "/cut/p.jpg";
  QDir().mkpath(QFileInfo(path).path());
  const Bytes stored = Truncated(picture, picture.size() / 3);
  WriteFile(path.toStdString(), stored);

  Result r = RunRepair({"--retries", "0", root});
  EXPECT_EQ(r.code, 1);
  const QStringList fields = r.out.trimmed().split('\t');
  ASSERT_EQ(fields.size(), 5) << r.out.toStdString();
  EXPECT_EQ(fields[0], path);
  EXPECT_EQ(fields[1], QString::fromStdString(server.Url("/cut/p.jpg")));
  EXPECT_EQ(fields[2], "transfer-failed");
  EXPECT_FALSE(fields[4].isEmpty());
  EXPECT_TRUE(ReadFile(path.toStdString()) == stored);
  EXPECT_EQ(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST_F(RepairCli, AServerThatStallsIsGivenUpAfterTheStallTimeOut) {
  const Bytes picture = EncodeJpeg({320, 240, JpegKind::Baseline, 85, 22});
  server.ServeStalling("/slow/p.jpg", picture);
  Serve();
  const QString path = host + "/slow/p.jpg";
  QDir().mkpath(QFileInfo(path).path());
  const Bytes stored = Truncated(picture, picture.size() / 3);
  WriteFile(path.toStdString(), stored);
  Result r = RunRepair({"--retries", "0", "--stall-timeout", "1", root});
  server.release = true;
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out.split('\t').value(2), "transfer-failed") << r.out.toStdString();
  EXPECT_TRUE(ReadFile(path.toStdString()) == stored);
}

TEST_F(RepairCli, RetriesABrokenTransferAndA503) {
  Serve();
  const Bytes picture = EncodeJpeg({320, 240, JpegKind::Baseline, 85, 31});
  std::atomic<int> calls{0};
  server->Get("/flaky/p.jpg", [&](const httplib::Request&, httplib::Response& response) {
    if (calls++ == 0) {
      response.status = 503;
      response.set_header("Retry-After", "0");
      return;
    }
    response.set_content(Str(picture), "image/jpeg");
  });
  const QString path = host + "/flaky/p.jpg";
  QDir().mkpath(QFileInfo(path).path());
  WriteFile(path.toStdString(), Truncated(picture, picture.size() / 2));
  Result r = RunRepair({root});
  EXPECT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
  EXPECT_EQ(calls.load(), 2);
  EXPECT_TRUE(ReadFile(path.toStdString()) == picture);
}

TEST_F(RepairCli, AcceptChangedAndBackupDir) {
  Serve();
  const QString changed = Place("/ok/x/changed.jpg", 41);
  const Bytes old = ReadFile(changed.toStdString());
  const Bytes other = EncodeJpeg({200, 100, JpegKind::Baseline, 85, 42});
  originals["/ok/x/changed.jpg"] = Str(other);
  const QString backups = dir.path() + "/backups";
  const QString taken = backups + "/mirror/127.0.0.1:" + QString::number(server.Port()) + "/ok/x/changed.jpg";
  QDir().mkpath(QFileInfo(taken).path());
  WriteFile(taken.toStdString(), std::string("in the way"));

  // The same folder twice: the file is still fetched and replaced once.
  Result r = RunRepair({"--accept-changed", "--backup-dir", backups, root, root + "/"});
  EXPECT_EQ(r.code, 0) << r.out.toStdString();
  EXPECT_EQ(r.out.count("\treplaced-changed\t"), 1) << r.out.toStdString();
  EXPECT_FALSE(QFileInfo::exists(taken + ".2"));
  EXPECT_TRUE(ReadFile(changed.toStdString()) == other);
  EXPECT_TRUE(ReadFile((taken + ".1").toStdString()) == old);
  EXPECT_EQ(MTime(taken + ".1"), kOldTime);
}

TEST_F(RepairCli, NonUtf8NameIsRepairedInPlace) {
  Serve();
  const Bytes picture = EncodeJpeg({320, 240, JpegKind::Baseline, 85, 51});
  originals["/ok/bad\xff\xfe.jpg"] = Str(picture);
  const std::string path = (host + "/ok/").toStdString() + "bad\xff\xfe.jpg";
  QDir().mkpath(host + "/ok");
  WriteFile(path, Truncated(picture, picture.size() / 2));
  Result r = RunRepair({"--json", root});
  EXPECT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
  ASSERT_EQ(r.byUrl.size(), 1u);
  EXPECT_EQ(r.byUrl.begin()->first, Url("/ok/bad%FF%FE.jpg"));
  EXPECT_TRUE(ReadFile(path) == picture);
  EXPECT_EQ(EntriesIn(host.toStdString() + "/ok"), 1);
  ::unlink(path.c_str());  // QTemporaryDir cannot remove a name that is not UTF-8

  // A tab or a line break in a name cannot split or forge a report line.
  originals["/ok/a\tb\nrepaired.jpg"] = Str(picture);
  WriteFile((host + "/ok/").toStdString() + "a\tb\nrepaired.jpg", Truncated(picture, picture.size() / 2));
  r = RunRepair({root});
  EXPECT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
  const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 1) << r.out.toStdString();
  const QStringList fields = lines[0].split('\t');
  ASSERT_EQ(fields.size(), 5) << r.out.toStdString();
  EXPECT_EQ(fields[0], host + "/ok/a\\tb\\nrepaired.jpg");
  EXPECT_EQ(fields[2], "repaired");
}

TEST_F(RepairCli, CloseUnfetchableAppendsTheEndMarkerWhereTheServerSays404) {
  Serve();
  const QString gone = Place("/missing/gone.jpg", 61);
  const Bytes cut = ReadFile(gone.toStdString());
  const QString html = Place("/html/page.jpg", 62);
  const Bytes page = ReadFile(html.toStdString());
  Result r = RunRepair({"--close-unfetchable", root});
  EXPECT_EQ(r.code, 1) << r.out.toStdString();
  EXPECT_TRUE(r.out.contains(gone + "\t" + QString::fromStdString(Url("/missing/gone.jpg")) + "\tclosed\t"));
  const Bytes closed = ReadFile(gone.toStdString());
  ASSERT_EQ(closed.size(), cut.size() + 2);
  EXPECT_TRUE(std::equal(cut.begin(), cut.end(), closed.begin()));
  EXPECT_EQ(closed[cut.size()], 0xFF);
  EXPECT_EQ(closed[cut.size() + 1], 0xD9);
  EXPECT_EQ(MTime(gone), kOldTime);
  EXPECT_TRUE(r.err.contains("1 件を現状のまま補修しました")) << r.err.toStdString();
  // An HTML answer is not a sign the picture is gone: left as it was.
  EXPECT_TRUE(r.out.contains("\thtml\t"));
  EXPECT_TRUE(ReadFile(html.toStdString()) == page);
}

TEST_F(RepairCli, PerHostAndJobLimitsHold) {
  Gate gateA;
  Gate gateB;
  TestServer second;
  const Bytes picture = EncodeJpeg({320, 240, JpegKind::Baseline, 85, 71});
  for (auto [target, gate] : {std::pair{&server, &gateA}, std::pair{&second, &gateB}}) {
    (*target)->Get(R"(/g/.*)", [gate, &picture](const httplib::Request&, httplib::Response& response) {
      gate->Enter();
      response.set_content(Str(picture), "image/jpeg");
      gate->Leave();
    });
    target->Start();
  }
  for (TestServer* target : {&server, &second}) {
    for (int i = 0; i < 6; ++i) {
      const QString path = root + "/127.0.0.1:" + QString::number(target->Port()) + "/g/p" + QString::number(i) + ".jpg";
      QDir().mkpath(QFileInfo(path).path());
      WriteFile(path.toStdString(), Truncated(picture, picture.size() / 2));
    }
  }
  QProcess process;
  process.start(QStringLiteral(REPAIR_BIN), {"--jobs", "8", "--per-host", "2", root});
  ASSERT_TRUE(gateA.WaitFor(2));
  ASSERT_TRUE(gateB.WaitFor(2));
  gateA.Open();
  gateB.Open();
  ASSERT_TRUE(process.waitForFinished(60000));
  const Result r = Collect(process);
  EXPECT_EQ(r.code, 0) << r.out.toStdString();
  EXPECT_EQ(r.out.count("\trepaired\t"), 12);
  EXPECT_EQ(gateA.Most(), 2);
  EXPECT_EQ(gateB.Most(), 2);
  second.Stop();
}

TEST_F(RepairCli, InterruptLeavesEveryFileOldOrFullyRepaired) {
  // Handlers held at the gate may still run after the test body ends: they
  // own what they use.
  const auto shared = std::make_shared<Gate>();
  Gate& gate = *shared;
  const Bytes picture = EncodeJpeg({320, 240, JpegKind::Baseline, 85, 81});
  server->Get(R"(/g/.*)", [shared, body = Str(picture)](const httplib::Request&, httplib::Response& response) {
    shared->Enter();
    response.set_content(body, "image/jpeg");
    shared->Leave();
  });
  server.Start();
  const QString folder = root + "/127.0.0.1:" + QString::number(server.Port()) + "/g";
  QDir().mkpath(folder);
  const Bytes cut = Truncated(picture, picture.size() / 2);
  for (int i = 0; i < 30; ++i) WriteFile((folder + "/p" + QString::number(i) + ".jpg").toStdString(), cut);

  QProcess process;
  process.start(QStringLiteral(REPAIR_BIN), {"--json", "--jobs", "4", "--per-host", "4", root});
  ASSERT_TRUE(gate.WaitFor(4));
  ::kill(pid_t(process.processId()), SIGINT);
  // The first Ctrl-C lets the running transfers end: they still repair.
  QString seen;
  ASSERT_TRUE(WaitForError(process, "中断します", seen));
  EXPECT_EQ(process.state(), QProcess::Running);
  gate.Open();
  ASSERT_TRUE(process.waitForFinished(60000));
  const Result r = Collect(process);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.byUrl.size(), 30u) << r.out.toStdString();
  int repaired = 0;
  for (const auto& [url, line] : r.byUrl) {
    const QString outcome = line["outcome"].toString();
    EXPECT_TRUE(outcome == "repaired" || outcome == "not-started") << outcome.toStdString();
    repaired += outcome == "repaired";
  }
  EXPECT_EQ(repaired, 4);
  EXPECT_EQ(gate.Arrived(), 4);
  int whole = 0;
  for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
    const Bytes now = ReadFile((folder + "/" + name).toStdString());
    EXPECT_TRUE(now == cut || now == picture) << name.toStdString();
    whole += now == picture;
  }
  EXPECT_EQ(whole, 4);
  EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 30);
  EXPECT_TRUE((seen + r.err).contains("30 件中 4 件を修復しました")) << r.err.toStdString();
}

TEST_F(RepairCli, SecondInterruptAbandonsRunningTransfers) {
  // Handlers held at the gate may still run after the test body ends: they
  // own what they use.
  const auto shared = std::make_shared<Gate>();
  Gate& gate = *shared;
  const Bytes picture = EncodeJpeg({320, 240, JpegKind::Baseline, 85, 91});
  server->Get(R"(/g/.*)", [shared, body = Str(picture)](const httplib::Request&, httplib::Response& response) {
    shared->Enter();
    response.set_content(body, "image/jpeg");
    shared->Leave();
  });
  server.Start();
  const QString folder = root + "/127.0.0.1:" + QString::number(server.Port()) + "/g";
  QDir().mkpath(folder);
  const Bytes cut = Truncated(picture, picture.size() / 2);
  for (int i = 0; i < 10; ++i) WriteFile((folder + "/p" + QString::number(i) + ".jpg").toStdString(), cut);
  QProcess process;
  process.start(QStringLiteral(REPAIR_BIN), {"--json", "--jobs", "2", "--per-host", "2", root});
  ASSERT_TRUE(gate.WaitFor(2));
  ::kill(pid_t(process.processId()), SIGINT);
  QString seen;
  ASSERT_TRUE(WaitForError(process, "もう一度", seen));
  ::kill(pid_t(process.processId()), SIGINT);
  const bool ended = process.waitForFinished(60000);
  gate.Open();
  ASSERT_TRUE(ended);
  const Result r = Collect(process);
  EXPECT_EQ(r.code, 1);
  int interrupted = 0;
  for (const auto& [url, line] : r.byUrl) interrupted += line["outcome"].toString() == "interrupted";
  EXPECT_EQ(interrupted, 2);
  EXPECT_EQ(r.byUrl.size(), 10u);
  for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
    EXPECT_TRUE(ReadFile((folder + "/" + name).toStdString()) == cut) << name.toStdString();
  }
}

TEST_F(RepairCli, UsageErrorsExitTwoAndNothingFoundExitsZero) {
  QDir().mkpath(root);
  Result r = RunRepair({root});
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(r.out.isEmpty());
  EXPECT_EQ(r.err, "0 / 0 該当ありません\n");
  for (const QStringList& bad : {QStringList{}, QStringList{"--bogus", root}, QStringList{"--jobs", "0", root},
                                 QStringList{"--per-host", "x", root}, QStringList{root, root + "/missing"},
                                 QStringList{"--backup-dir"}}) {
    r = RunRepair(bad);
    EXPECT_EQ(r.code, 2) << bad.join(' ').toStdString();
    EXPECT_TRUE(r.out.isEmpty());
  }
  r = RunRepair({"--help"});
  EXPECT_EQ(r.code, 0);
  for (const char* word : {"--jobs", "--per-host", "--include-undecodable", "--accept-changed", "--backup-dir",
                           "--close-unfetchable", "--dry-run", "--json", "Retry-After", "certificate", "Exit status"}) {
    EXPECT_TRUE(r.out.contains(word)) << word;
  }
}

}  // namespace

namespace {

TEST(RepairDemo, RepairsEveryCutPictureOfTheDemoSiteAndASecondRunFindsNothing) {
  QTemporaryDir dir;
  ASSERT_FALSE(dir.path().contains('.'));
  QProcess server;
  server.start(QStringLiteral(DEMO_SERVER_BIN), {dir.path()});
  ASSERT_TRUE(server.waitForStarted());
  while (!server.canReadLine()) ASSERT_TRUE(server.waitForReadyRead(30000));
  const QString site = QString::fromUtf8(server.readLine()).trimmed();
  ASSERT_TRUE(QFileInfo(site).isDir()) << site.toStdString();

  Result r = RunRepair({"--include-undecodable", dir.path()});
  EXPECT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
  const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
  EXPECT_EQ(lines.size(), 7);
  for (const QString& line : lines) EXPECT_EQ(line.split('\t').value(2), "repaired") << line.toStdString();
  EXPECT_TRUE(r.err.startsWith("7 件中 7 件を修復しました\n")) << r.err.toStdString();

  r = RunRepair({"--include-undecodable", dir.path()});
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(r.out.isEmpty());
  EXPECT_TRUE(r.err.endsWith(" 該当ありません\n")) << r.err.toStdString();

  server.closeWriteChannel();
  EXPECT_TRUE(server.waitForFinished(30000));
}

}  // namespace
