// Source URLs recorded by real mirroring tools, read by the scan and used by
// the repair.
#include <gtest/gtest.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <map>

#include "jpeg_writer.h"
#include "refetch/httrack_lines.h"
#include "refetch/recorded_url.h"
#include "test_server.h"

using namespace yuragi;
using namespace yuragi::testing;

namespace {

using Bytes = std::vector<uint8_t>;

struct Finished {
  int code = -1;
  QString out;
  QString err;
};

Finished Start(const QString& program, const QStringList& arguments, const QString& folder = {}) {
  QProcess process;
  if (!folder.isEmpty()) process.setWorkingDirectory(folder);
  process.start(program, arguments);
  EXPECT_TRUE(process.waitForFinished(120000)) << program.toStdString();
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

// --json lines keyed by their path.
std::map<QString, QJsonObject> ByPath(const QString& out) {
  std::map<QString, QJsonObject> lines;
  for (const QString& line : out.split('\n', Qt::SkipEmptyParts)) {
    const QJsonObject object = QJsonDocument::fromJson(line.toUtf8()).object();
    lines[object["path"].toString()] = object;
  }
  return lines;
}

void SetAttribute(const QString& path, const char* name, const std::string& value) {
  ASSERT_EQ(::setxattr(QFile::encodeName(path).constData(), name, value.data(), value.size(), 0), 0) << name;
}

std::string Zone(const std::string& url) { return "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=" + url + "\r\n"; }

class RecordedUrls : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    const std::string probe = (dir.path() + "/probe").toStdString();
    WriteFile(probe, std::string("x"));
    ASSERT_EQ(::setxattr(probe.c_str(), "user.probe", "1", 1, 0), 0)
        << "the temporary folder's file system keeps no user extended attributes; set TMPDIR to one that does";
    std::string page = "<html><body>";
    for (int i = 1; i <= 3; ++i) {
      const std::string path = "/img/2008/p" + std::to_string(i) + ".jpg";
      Bytes bytes = EncodeJpeg({200 + 40 * i, 150, JpegKind::Baseline, 90, uint32_t(i), 8});
      if (i == 3) {
        // A picture with a second one behind it, as some cameras write:
        // cut right after the first, the file still ends in its end marker.
        const Bytes tail = EncodeJpeg({40, 30});
        firstPart = bytes.size();
        bytes.insert(bytes.end(), tail.begin(), tail.end());
      }
      originals[path] = bytes;
      page += "<img src=\"" + path + "\">";
    }
    pages["/index.html"] = page + "</body></html>";
    server->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
      if (pages.count(request.path)) return response.set_content(pages[request.path], "text/html");
      const auto found = originals.find(request.path);
      if (found == originals.end()) {
        response.status = 404;
        return response.set_content("<html>404</html>", "text/html");
      }
      response.set_content(std::string(found->second.begin(), found->second.end()), "image/jpeg");
    });
    server.Start();
  }

  QString Folder(const QString& name) {
    const QString path = dir.path() + '/' + name;
    QDir().mkpath(path);
    return path;
  }
  // Cuts a saved file to two thirds; the third picture right after its first part.
  void Cut(const QString& path, const std::string& urlPath) {
    const Bytes& whole = originals.at(urlPath);
    ASSERT_EQ(ReadFile(path.toStdString()), whole) << path.toStdString();
    WriteFile(path.toStdString(), Truncated(whole, urlPath.ends_with("p3.jpg") ? firstPart : whole.size() * 2 / 3));
  }

  QTemporaryDir dir;
  TestServer server;
  std::map<std::string, Bytes> originals;
  std::map<std::string, std::string> pages;
  size_t firstPart = 0;
};

}  // namespace

TEST_F(RecordedUrls, MirrorsOfRealToolsAreScannedWithTheirUrlsAndRepairedByteForByte) {
  const QString root = Folder("saved");
  // wget without host folders, and curl into one downloads folder: only the
  // attributes know the URLs.
  const QString wget = Folder("saved/wget");
  ASSERT_EQ(Start("wget", {"-q", "-r", "-nH", "--xattr", "-P", wget, QString::fromStdString(server.Url("/index.html"))}).code, 0);
  const QString downloads = Folder("saved/downloads");
  for (const char* name : {"p1.jpg", "p2.jpg"}) {
    const QString url = QString::fromStdString(server.Url(std::string("/img/2008/") + name));
    ASSERT_EQ(Start("curl", {"-s", "-f", "--xattr", "-O", url}, downloads).code, 0);
  }
  // HTTrack on a port other than 80: its host folder is "127.0.0.1_PORT".
  const QString mirror = Folder("saved/httrack");
  ASSERT_EQ(Start("httrack", {QString::fromStdString(server.Url("/index.html")), "-O", mirror, "-q"}).code, 0);
  const QString hostFolder = QStringLiteral("%1/127.0.0.1_%2").arg(mirror).arg(server.Port());
  // Files copied from Windows, with the download mark in each of its forms.
  const QString windows = Folder("saved/windows");
  const std::map<QString, std::string> zoneFiles = {
      {"zone/p1.jpg", "user.Zone.Identifier"}, {"dos/p2.jpg", "user.DosStream.Zone.Identifier:$DATA"},
      {"wsl/p1.jpg", ""}};
  for (const auto& [name, attribute] : zoneFiles) {
    const std::string urlPath = "/img/2008/" + name.section('/', 1).toStdString();
    const QString path = windows + '/' + name;
    QDir().mkpath(QFileInfo(path).path());
    WriteFile(path.toStdString(), originals.at(urlPath));
    if (attribute.empty()) {
      WriteFile((path + ":Zone.Identifier").toStdString(), Zone(server.Url(urlPath)));
    } else {
      SetAttribute(path, attribute.c_str(), Zone(server.Url(urlPath)));
    }
  }

  const struct {
    QString path;
    std::string urlPath;
    const char* source;
  } saved[] = {
      {wget + "/img/2008/p1.jpg", "/img/2008/p1.jpg", "xattr"},
      {wget + "/img/2008/p2.jpg", "/img/2008/p2.jpg", "xattr"},
      {downloads + "/p1.jpg", "/img/2008/p1.jpg", "xattr"},
      {downloads + "/p2.jpg", "/img/2008/p2.jpg", "xattr"},
      {hostFolder + "/img/2008/p1.jpg", "/img/2008/p1.jpg", "httrack"},
      {hostFolder + "/img/2008/p2.jpg", "/img/2008/p2.jpg", "httrack"},
      {hostFolder + "/img/2008/p3.jpg", "/img/2008/p3.jpg", "httrack"},
      {windows + "/zone/p1.jpg", "/img/2008/p1.jpg", "zone"},
      {windows + "/dos/p2.jpg", "/img/2008/p2.jpg", "zone"},
      {windows + "/wsl/p1.jpg", "/img/2008/p1.jpg", "zone"},
  };
  for (const auto& file : saved) Cut(file.path, file.urlPath);

  const Finished scan = Start(SCAN_BIN, {"--json", root});
  EXPECT_EQ(scan.code, 1) << scan.err.toStdString();
  const std::map<QString, QJsonObject> listed = ByPath(scan.out);
  for (const auto& file : saved) {
    SCOPED_TRACE(file.path.toStdString());
    const QString url = QString::fromStdString(server.Url(file.urlPath));
    EXPECT_EQ(Start(SCAN_BIN, {"--url", file.path}).out, url + '\n');
    // The third picture ends in an end marker: only HTTrack's size tells it is cut.
    const auto line = listed.find(file.path);
    if (file.urlPath.ends_with("p3.jpg")) {
      EXPECT_EQ(line, listed.end());
      continue;
    }
    ASSERT_NE(line, listed.end());
    EXPECT_EQ(line->second["url"].toString(), url);
    EXPECT_EQ(line->second["request_url"].toString(), url);
    EXPECT_EQ(line->second["url_source"].toString().toStdString(), file.source);
    EXPECT_TRUE(line->second["folder_url"].toString().startsWith("http://"));
    EXPECT_FALSE(line->second.contains("url_note")) << line->second["url_note"].toString().toStdString();
  }

  const Finished repair = Start(REPAIR_BIN, {"--json", root});
  EXPECT_EQ(repair.code, 0) << repair.out.toStdString() << repair.err.toStdString();
  const std::map<QString, QJsonObject> report = ByPath(repair.out);
  for (const auto& file : saved) {
    SCOPED_TRACE(file.path.toStdString());
    EXPECT_EQ(ReadFile(file.path.toStdString()), originals.at(file.urlPath));
    const QJsonObject& line = report.at(file.path);
    EXPECT_EQ(line["outcome"].toString(), "repaired");
    EXPECT_EQ(line["url_source"].toString().toStdString(), file.source);
    if (file.urlPath.ends_with("p3.jpg")) {
      EXPECT_TRUE(line["detail"].toString().startsWith(
          QStringLiteral("shorter than the %1 bytes HTTrack recorded").arg(originals.at(file.urlPath).size())));
    }
  }
}

TEST_F(RecordedUrls, AnErrorAtTheRecordedUrlFallsBackToTheFolderRule) {
  // The host folder names the server; the attribute names a page it lost.
  const QString path = Folder(QStringLiteral("127.0.0.1:%1/img/2008").arg(server.Port())) + "/p1.jpg";
  WriteFile(path.toStdString(), originals.at("/img/2008/p1.jpg"));
  Cut(path, "/img/2008/p1.jpg");
  SetAttribute(path, "user.xdg.origin.url", server.Url("/moved/p1.jpg"));
  const Finished repair = Start(REPAIR_BIN, {"--json", dir.path()});
  ASSERT_EQ(repair.out.count('\n'), 1);
  EXPECT_EQ(repair.code, 0) << repair.out.toStdString();
  EXPECT_EQ(ReadFile(path.toStdString()), originals.at("/img/2008/p1.jpg"));
  const QJsonObject line = ByPath(repair.out).at(path);
  EXPECT_EQ(line["url"].toString(), QString::fromStdString(server.Url("/img/2008/p1.jpg")));
  EXPECT_EQ(line["url_source"].toString(), "folder");
  EXPECT_EQ(line["detail"].toString(), QString::fromStdString("the recorded URL " + server.Url("/moved/p1.jpg") +
                                                              " answered 404, the folder rule's URL was used"));
}

TEST_F(RecordedUrls, RecordsThatCannotBeUsedAreSkippedWithANote) {
  // Given a relative output folder, new.txt names the files relative to it.
  const QString mirror = Folder("ht");
  ASSERT_EQ(Start("httrack", {QString::fromStdString(server.Url("/index.html")), "-O", "ht", "-q"}, dir.path()).code, 0);
  const QString hostFolder = QStringLiteral("%1/127.0.0.1_%2").arg(mirror).arg(server.Port());
  // A new.zip that is no zip (2 GB, nearly all hole): new.txt is read instead.
  const std::string zip = (mirror + "/hts-cache/new.zip").toStdString();
  ASSERT_EQ(::truncate(zip.c_str(), 0), 0);
  ASSERT_EQ(::truncate(zip.c_str(), int64_t(2) << 30), 0);
  const QString inMirror = hostFolder + "/img/2008/p1.jpg";
  Cut(inMirror, "/img/2008/p1.jpg");
  // Not an http URL, and the Windows mark of a file from the local zone.
  const QString other = Folder("x.example/img") + "/p2.jpg";
  WriteFile(other.toStdString(), originals.at("/img/2008/p2.jpg"));
  Cut(other, "/img/2008/p2.jpg");
  SetAttribute(other, "user.xdg.origin.url", "ftp://x.example/p2.jpg");
  SetAttribute(other, "user.Zone.Identifier", Zone("about:internet"));
  // A file in a folder below the mirror that HTTrack never wrote.
  const QString stranger = Folder("ht/other.example") + "/p3.jpg";
  WriteFile(stranger.toStdString(), Truncated(originals.at("/img/2008/p2.jpg"), 3000));

  const std::map<QString, QJsonObject> listed = ByPath(Start(SCAN_BIN, {"--json", dir.path()}).out);
  const QJsonObject& mirrored = listed.at(inMirror);
  EXPECT_EQ(mirrored["url_source"].toString(), "httrack");
  EXPECT_EQ(mirrored["url"].toString(), QString::fromStdString(server.Url("/img/2008/p1.jpg")));
  EXPECT_TRUE(mirrored["url_note"].toString().contains("new.zip: not a zip archive")) << mirrored["url_note"].toString().toStdString();
  const QJsonObject& skipped = listed.at(other);
  EXPECT_EQ(skipped["url_source"].toString(), "folder");
  EXPECT_EQ(skipped["url"].toString(), "http://x.example/img/p2.jpg");
  EXPECT_EQ(skipped["url_note"].toString(),
            "user.xdg.origin.url: not an http(s) URL; user.Zone.Identifier: not an http(s) URL");
  const QJsonObject& unknown = listed.at(stranger);
  EXPECT_EQ(unknown["url_source"].toString(), "folder");
  EXPECT_TRUE(unknown["url_note"].toString().endsWith("hts-cache: no entry for this file"));
}

TEST(RecordedUrlText, RecordsAreCheckedAndShownReadable) {
  const struct {
    std::string recorded;
    bool usable;
    const char* shown;
    const char* sent;
  } cases[] = {
      {"http://h.example/a%20b/%E7%94%BB.jpg", true, "http://h.example/a b/画.jpg", "http://h.example/a%20b/%E7%94%BB.jpg"},
      {"https://h.example/%89%E6/x%2Fy.jpg?q=1#top", true, "https://h.example/%89%E6/x%2Fy.jpg?q=1",
       "https://h.example/%89%E6/x%2Fy.jpg?q=1"},
      {"HTTP://h.example/a b\"c%zz.jpg", true, "HTTP://h.example/a b\"c%zz.jpg", "HTTP://h.example/a%20b%22c%25zz.jpg"},
      {"about:internet", false, "", ""},
      {"http:///nohost.jpg", false, "", ""},
      {"http://h.example/\n.jpg", false, "", ""},
      {"http://h.example/" + std::string(9000, 'a'), false, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.recorded);
    EXPECT_EQ(IsUsableRecordedUrl(c.recorded), c.usable);
    if (!c.usable) continue;
    EXPECT_EQ(ReadableUrl(c.recorded), QString::fromUtf8(c.shown));
    EXPECT_EQ(RecordedRequestUrl(c.recorded), c.sent);
  }
  EXPECT_EQ(ZoneHostUrl("[ZoneTransfer]\nZoneId=3\n[Other]\nHostUrl=http://no/\n"), std::nullopt);
  EXPECT_EQ(ZoneHostUrl("[Other]\r\n[zonetransfer]\r\n hosturl = http://h/a.jpg \r\n"), "http://h/a.jpg");
  const std::optional<HttrackRecord> line = ParseHttrackLogLine(
      "10:50:42\t336/400\t---M--\t200\tadded ('OK')\timage/jpeg\tdate:x\thttp://h/a.jpg\t/m/h/a.jpg\t(from )\r");
  ASSERT_TRUE(line);
  EXPECT_EQ(line->local, "/m/h/a.jpg");
  EXPECT_EQ(line->size, 400u);
  EXPECT_FALSE(ParseHttrackLogLine("date\tsize'/'remotesize\tflags\tstatuscode\tstatus\tMIME\tEtag\tURL\tlocalfile"));
}
