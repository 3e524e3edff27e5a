// A documentation site mirrored by real wget while its pictures came cut
// short, repaired by yuragimaru-repair --formats all from the same server.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "convert_pictures.h"
#include "jpeg_writer.h"
#include "test_server.h"

using namespace yuragi::testing;

namespace {

struct Picture {
  const char* path;
  const char* encodeAs;
  std::vector<std::string> extra;
  size_t keepPercent;  // of the bytes served while the mirror is made; 100 for the trailer-less GIF
};

int RunProgram(const QString& program, const QStringList& arguments, QString* out = nullptr) {
  QProcess process;
  process.start(program, arguments);
  if (!process.waitForFinished(120000)) return -1;
  if (out) *out = QString::fromUtf8(process.readAllStandardOutput()) + QString::fromUtf8(process.readAllStandardError());
  return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

TEST(FormatMirror, WgetMirrorWithCutPngGifAndWebpIsRepairedByteForByte) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  ASSERT_FALSE(dir.path().contains('.')) << "the URL rule takes the first folder with a dot as the host";
  const std::vector<Picture> pictures = {
      {"/docs/img/architecture.png", "a.png", {}, 45},
      {"/docs/img/interlaced.png", "a.png", {"-interlace", "PNG"}, 70},
      {"/docs/img/spinner.gif", "a.gif", {"(", "+clone", "-flip", ")"}, 60},
      {"/docs/img/badge.gif", "a.gif", {}, 100},  // only the trailer byte is missing
      {"/docs/img/screenshot.webp", "a.webp", {"-quality", "90"}, 50},
      {"/docs/img/diagram.webp", "a.webp", {"-define", "webp:lossless=true"}, 55},
      {"/docs/photo.jpg", "a.jpg", {}, 50},
      {"/docs/img/logo.png", "a.png", {}, 100},  // came whole
  };
  std::map<std::string, std::string> whole;
  std::map<std::string, std::string> cut;
  std::string page = "<html><head><title>Guide</title></head><body><h1>Guide</h1>\n";
  for (const Picture& picture : pictures) {
    const std::vector<uint8_t> bytes = ConvertPicture(picture.encodeAs, picture.extra, "200x150");
    ASSERT_FALSE(bytes.empty()) << picture.path;
    whole[picture.path] = std::string(bytes.begin(), bytes.end());
    std::string served = whole[picture.path];
    const bool trailerOnly = std::string(picture.encodeAs) == "a.gif" && picture.keepPercent == 100;
    if (trailerOnly) {
      served.pop_back();
    } else {
      served.resize(served.size() * picture.keepPercent / 100);
    }
    cut[picture.path] = served;
    page += "<p><img src=\"" + std::string(picture.path).substr(6) + "\"></p>\n";
  }
  page += "<p><a href=\"install.html\">Installing</a></p></body></html>\n";

  std::atomic<bool> cutting{true};
  TestServer server;
  server->Get(R"(/docs/.*)", [&](const httplib::Request& request, httplib::Response& response) {
    if (request.path == "/docs/" || request.path == "/docs/index.html") {
      response.set_content(page, "text/html");
      return;
    }
    if (request.path == "/docs/install.html") {
      response.set_content("<html><body><img src=\"img/logo.png\"></body></html>", "text/html");
      return;
    }
    const auto found = whole.find(request.path);
    if (found == whole.end()) {
      response.status = 404;
      return;
    }
    // cpp-httplib answers a Range request from the whole body by itself.
    const std::string& body = cutting ? cut.at(request.path) : found->second;
    response.set_content(body, "application/octet-stream");
  });
  server.Start();

  QString log;
  const int wget = RunProgram("wget", {"-r", "-l", "3", "-np", "-nv", "-P", dir.path(),
                                QString::fromStdString(server.Url("/docs/"))},
                       &log);
  ASSERT_EQ(wget, 0) << log.toStdString();
  const QString site = dir.path() + "/127.0.0.1:" + QString::number(server.Port());
  for (const Picture& picture : pictures) {
    const std::vector<uint8_t> saved = ReadFile((site + picture.path).toStdString());
    ASSERT_EQ(std::string(saved.begin(), saved.end()), cut[picture.path]) << picture.path;
  }

  cutting = false;
  QString report;
  EXPECT_EQ(RunProgram(REPAIR_BIN, {"--formats", "all", "--retries", "0", dir.path()}, &report), 0) << report.toStdString();
  for (const Picture& picture : pictures) {
    const std::vector<uint8_t> now = ReadFile((site + picture.path).toStdString());
    EXPECT_TRUE(std::string(now.begin(), now.end()) == whole[picture.path]) << picture.path << "\n"
                                                                            << report.toStdString();
  }
  EXPECT_TRUE(report.contains("7 件中 7 件を修復しました")) << report.toStdString();

  // Nothing is left to find.
  EXPECT_EQ(RunProgram(SCAN_BIN, {"--formats", "all", dir.path()}, &report), 0) << report.toStdString();
}

}  // namespace
