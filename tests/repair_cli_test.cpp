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

#include "archive_server.h"
#include "convert_pictures.h"
#include "jpeg_writer.h"
#include "repair_cli_support.h"
#include "test_server.h"

using namespace yuragi::testing;

namespace {

// The bodies of the responses real wget recorded with --warc-file, by URL.
std::map<std::string, std::string> RecordWithWget(const QStringList& urls, const QString& folder) {
  QProcess wget;
  wget.setWorkingDirectory(folder);
  wget.start("wget", QStringList{"-q", "--no-warc-compression", "--warc-file=site", "-O", "/dev/null"} + urls);
  EXPECT_TRUE(wget.waitForFinished(60000));
  const Bytes warc = ReadFile((folder + "/site.warc").toStdString());
  const std::string text(warc.begin(), warc.end());
  std::map<std::string, std::string> bodies;
  size_t at = 0;
  while ((at = text.find("WARC/1.", at)) != std::string::npos) {
    const size_t headEnd = text.find("\r\n\r\n", at);
    if (headEnd == std::string::npos) break;
    const std::string head = text.substr(at, headEnd - at);
    const auto field = [&head](const std::string& name) {
      const size_t start = head.find("\r\n" + name + ": ");
      if (start == std::string::npos) return std::string();
      const size_t from = start + name.size() + 4;
      return head.substr(from, head.find("\r\n", from) - from);
    };
    const size_t length = std::stoul(field("Content-Length"));
    const std::string block = text.substr(headEnd + 4, length);
    std::string uri = field("WARC-Target-URI");
    if (uri.starts_with('<')) uri = uri.substr(1, uri.size() - 2);
    if (field("WARC-Type") == "response") bodies[uri] = block.substr(block.find("\r\n\r\n") + 4);
    at = headEnd + 4 + length;
  }
  return bodies;
}

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

TEST_F(RepairCli, OnlyCutFilesAreFetchedAndACorruptContinuationIsRefused) {
  Serve();
  std::string noise(400 * 1024, '\0');
  uint32_t state = 7;
  for (char& c : noise) c = char((state = state * 1103515245u + 12345u) >> 24);
  const auto append = [&](const QString& path, const QString& urlPath, const std::string& tail) {
    WriteFile(path.toStdString(), Str(ReadFile(path.toStdString())) + tail);
    originals[urlPath.toStdString()] += tail;
  };
  const QString cut = Place("/ok/cut.jpg", 51, 50);
  const QString motion = Place("/ok/motion.jpg", 52, 100);
  append(motion, "/ok/motion.jpg", std::string("\0\0\0\x18" "ftypmp42", 12) + noise.substr(0, 3000));
  const QString padded = Place("/ok/padded.jpg", 53, 100);
  append(padded, "/ok/padded.jpg", std::string(64, '\0'));
  const Bytes motionBytes = ReadFile(motion.toStdString());
  const Bytes paddedBytes = ReadFile(padded.toStdString());

  Result r = RunRepair({"--json", "--retries", "0", root});
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(requests.load(), 1);
  EXPECT_EQ(r.byUrl[Url("/ok/cut.jpg")]["outcome"].toString(), "repaired");
  EXPECT_EQ(r.byUrl[Url("/ok/motion.jpg")]["outcome"].toString(), "complete");
  EXPECT_EQ(r.byUrl[Url("/ok/motion.jpg")]["detail"].toString(), "3012 bytes after the end marker");
  EXPECT_EQ(r.byUrl[Url("/ok/padded.jpg")]["outcome"].toString(), "complete");
  EXPECT_TRUE(ReadFile(motion.toStdString()) == motionBytes);
  EXPECT_TRUE(ReadFile(padded.toStdString()) == paddedBytes);
  EXPECT_TRUE(r.err.contains("2 件は切れていませんでした")) << r.err.toStdString();

  // As before, on request: the server's bytes are the file's own.
  r = RunRepair({"--json", "--retries", "0", "--all-listed", root});
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_GE(requests.load(), 3);  // a Range answer no longer than the file is asked again whole
  EXPECT_EQ(r.byUrl[Url("/ok/motion.jpg")]["outcome"].toString(), "same");
  EXPECT_EQ(r.byUrl[Url("/ok/padded.jpg")]["outcome"].toString(), "same");

  // A continuation that begins with the cut bytes and ends in the end
  // marker, through a Range answer whose overlap matched and through a 200.
  const Bytes other = EncodeJpeg({800, 800, JpegKind::Baseline, 90, 54, 16});
  const std::string otherTail = Str(other).substr(other.size() / 4);
  std::map<QString, Bytes> before;
  const QStringList corrupt = {"/ok/tail.jpg", "/norange/tail.jpg", "/ok/noise.jpg", "/norange/noise.jpg"};
  for (const QString& urlPath : corrupt) {
    const QString path = Place(urlPath, 55 + uint32_t(before.size()), 50);
    before[path] = ReadFile(path.toStdString());
    originals[urlPath.toStdString()] =
        Str(before[path]) + (urlPath.contains("tail") ? otherTail : noise + "\xFF\xD9");
  }
  rangeRequests = 0;
  r = RunRepair({"--json", "--retries", "0", root});
  EXPECT_EQ(r.code, 1);
  EXPECT_GE(rangeRequests.load(), 2);
  for (const QString& urlPath : corrupt) {
    const QJsonObject line = r.byUrl[Url(urlPath)];
    EXPECT_EQ(line["outcome"].toString(), "corrupt") << urlPath.toStdString();
    EXPECT_TRUE(line["detail"].toString().startsWith("Corrupt JPEG data")) << line["detail"].toString().toStdString();
  }
  for (const auto& [path, bytes] : before) EXPECT_TRUE(ReadFile(path.toStdString()) == bytes) << path.toStdString();
}

TEST_F(RepairCli, FormatsAllRepairsPngGifAndWebpAndChecksThemByTheirOwnTest) {
  Serve();
  struct Made {
    const char* urlPath;
    const char* encodeAs;
    int keepPercent;
    const char* outcome;
  };
  const std::vector<Made> made = {
      {"/ok/p/ranged.png", "a.png", 60, "repaired"},      // over 4 KB: a Range request
      {"/norange/whole.gif", "a.gif", 40, "repaired"},
      {"/ok/small.webp", "a.webp", 50, "repaired"},       // under 4 KB: fetched whole
      {"/badtail/bad.png", "a.png", 70, "repaired"},      // the overlap differs: fetched again whole
      {"/ok/named.gif", "a.png", 50, "repaired"},         // a PNG under a GIF's name
      {"/ok/incomplete.png", "a.png", 30, "incomplete"},  // the server's copy is cut too
      {"/ok/broken.gif", "a.gif", 30, "corrupt"},         // the server's copy is garbled after the cut
      {"/html/page.webp", "a.webp", 50, "html"},
  };
  std::map<std::string, Bytes> before;
  for (const Made& m : made) {
    const Bytes whole = ConvertPicture(m.encodeAs, {}, "160x120");
    ASSERT_FALSE(whole.empty());
    std::string served = Str(whole);
    if (std::string(m.outcome) == "incomplete") served.resize(served.size() * 8 / 10);
    if (std::string(m.outcome) == "corrupt") {
      for (size_t i = served.size() / 2; i < served.size() - 2; i += 7) served[i] = char(served[i] ^ 0x21);
    }
    originals[m.urlPath] = served;
    const QString path = host + m.urlPath;
    QDir().mkpath(QFileInfo(path).path());
    WriteFile(path.toStdString(), Truncated(whole, whole.size() * size_t(m.keepPercent) / 100));
    before[m.urlPath] = ReadFile(path.toStdString());
  }

  // JPEG alone, the default, does not see them.
  Result r = RunRepair({"--dry-run", root});
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();

  r = RunRepair({"--json", "--retries", "0", "--formats", "all", root});
  EXPECT_EQ(r.code, 1) << r.err.toStdString();
  EXPECT_EQ(r.byUrl.size(), made.size()) << r.out.toStdString();
  for (const Made& m : made) {
    SCOPED_TRACE(m.urlPath);
    const QJsonObject line = r.byUrl[Url(m.urlPath)];
    EXPECT_EQ(line["outcome"].toString(), m.outcome) << line["detail"].toString().toStdString();
    const Bytes now = ReadFile((host + m.urlPath).toStdString());
    if (std::string(m.outcome) == "repaired") {
      EXPECT_TRUE(now == Bytes(originals[m.urlPath].begin(), originals[m.urlPath].end()));
    } else {
      EXPECT_TRUE(now == before[m.urlPath]);
    }
  }
  EXPECT_TRUE(r.byUrl[Url("/ok/p/ranged.png")]["resumed"].toBool());
  EXPECT_EQ(RunRepair({"--formats", "bmp", root}).code, 2);
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

TEST_F(RepairCli, WhereTheOriginIsGoneTheArchiveCaptureThatContinuesTheFileRepairsIt) {
  Serve();
  const QString a = Place("/ok/a.jpg", 71);
  const QString c = Place("/ok/c.jpg", 73);
  const std::string aUrl = Url("/ok/a.jpg");
  const std::string cUrl = Url("/ok/c.jpg");
  // The captures are what wget recorded while the site still served them.
  originals["/ok/b.jpg"] = Str(EncodeJpeg({480, 360, JpegKind::Progressive, 80, 72}));
  const auto recorded = RecordWithWget({QString::fromStdString(aUrl), QString::fromStdString(Url("/ok/b.jpg"))},
                                       dir.path());
  ASSERT_EQ(recorded.size(), 2u);
  ASSERT_EQ(recorded.at(aUrl), originals["/ok/a.jpg"]);
  // Then the origin went away: a and c answer 404, b's host refuses.
  const Bytes cutC = ReadFile(c.toStdString());
  originals.clear();
  const QString gone = "127.0.0.1:" + QString::number(RefusedPort());
  const QString b = root + "/" + gone + "/b.jpg";
  QDir().mkpath(QFileInfo(b).path());
  const std::string wholeB = recorded.at(Url("/ok/b.jpg"));
  WriteFile(b.toStdString(), wholeB.substr(0, wholeB.size() / 3));
  const std::string bUrl = "http://" + gone.toStdString() + "/b.jpg";

  ArchiveServer archive;
  const std::string other = Str(EncodeJpeg({640, 480, JpegKind::Baseline, 85, 99}));
  archive.captures[aUrl] = {{"20240301120000", other}, {"20210611083000", recorded.at(aUrl)}};
  archive.captures[bUrl] = {{"20220101000000", wholeB}};
  archive.captures[cUrl] = {{"20230101000000", other}, {"20220101000000", "<html>moved</html>", "text/html"}};

  // Not asked: nothing goes to the archive.
  Result r = RunRepair({"--json", "--retries", "0", root});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(archive.Requests().empty());
  EXPECT_EQ(r.byUrl[bUrl]["outcome"].toString(), "transfer-failed");
  EXPECT_EQ(r.byUrl[aUrl]["source"].toString(), "origin");

  r = RunRepair({"--json", "--retries", "0", "--archive", QString::fromStdString(archive.Prefix()), "--archive-rate",
                 "50", root});
  EXPECT_EQ(r.code, 1) << r.out.toStdString();
  for (const auto& [url, capture] : {std::pair{aUrl, "20210611083000"}, std::pair{bUrl, "20220101000000"}}) {
    const QJsonObject& line = r.byUrl[url];
    EXPECT_EQ(line["outcome"].toString(), "repaired") << r.out.toStdString();
    EXPECT_EQ(line["source"].toString(), "archive");
    EXPECT_EQ(line["capture"].toString(), capture);
    EXPECT_EQ(line["detail"].toString(), QString("archive ") + capture);
  }
  EXPECT_EQ(Str(ReadFile(a.toStdString())), recorded.at(aUrl));
  EXPECT_EQ(Str(ReadFile(b.toStdString())), wholeB);
  // Only wrong captures: the file stays as it was, the reasons are reported.
  EXPECT_EQ(r.byUrl[cUrl]["outcome"].toString(), "http-error");
  EXPECT_TRUE(r.byUrl[cUrl]["detail"].toString().contains("archive: 20230101000000 another picture"));
  EXPECT_TRUE(ReadFile(c.toStdString()) == cutC);
  EXPECT_TRUE(r.err.contains("3 件中 2 件を修復しました")) << r.err.toStdString();
}

TEST_F(RepairCli, WithFormatsTheArchiveCaptureOfAPngIsCheckedAsAPng) {
  Serve();
  const Bytes whole = ConvertPicture("a.png", {}, "160x120");
  ASSERT_FALSE(whole.empty());
  const QString path = host + "/gone/p.png";  // the origin answers 404
  QDir().mkpath(QFileInfo(path).path());
  WriteFile(path.toStdString(), Truncated(whole, whole.size() / 2));
  ArchiveServer archive;
  archive.captures[Url("/gone/p.png")] = {{"20220101000000", Str(whole), "image/png"}};
  Result r = RunRepair({"--json", "--retries", "0", "--formats", "all", "--archive",
                        QString::fromStdString(archive.Prefix()), "--archive-rate", "50", root});
  EXPECT_EQ(r.code, 0) << r.out.toStdString();
  const QJsonObject line = r.byUrl[Url("/gone/p.png")];
  EXPECT_EQ(line["outcome"].toString(), "repaired") << line["detail"].toString().toStdString();
  EXPECT_EQ(line["source"].toString(), "archive");
  EXPECT_TRUE(ReadFile(path.toStdString()) == whole);
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
                                 QStringList{"--backup-dir"}, QStringList{"--archive", root},
                                 QStringList{"--archive-rate", "0", root}}) {
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
