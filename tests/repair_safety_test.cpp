// The batch repair against a tree that changes under it, servers that
// misbehave and paths it cannot walk.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utime.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <memory>
#include <thread>

#include "jpeg_writer.h"
#include "nested_folders.h"
#include "repair_cli_support.h"
#include "test_server.h"

using namespace yuragi::testing;

namespace {

constexpr time_t kOldTime = 1'000'000'000;

// Endless bodies: chunks until the client goes away.
bool Endless(httplib::DataSink& sink) {
  static const std::string chunk(64 * 1024, 'x');
  return sink.write(chunk.data(), chunk.size());
}

class RepairSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    ASSERT_FALSE(dir.path().contains('.')) << "the URL rule takes the first folder with a dot as the host";
    root = dir.path() + "/mirror";
  }

  QString Host() const { return root + "/127.0.0.1:" + QString::number(server.Port()); }
  std::string Url(const std::string& urlPath) const { return server.Url(urlPath); }

  // A picture cut in half at its place below the host folder, with an old time.
  QString Cut(const std::string& urlPath, uint32_t seed) {
    const Bytes whole = EncodeJpeg({320, 240, JpegKind::Baseline, 85, seed});
    pictures[urlPath] = Str(whole);
    const QString path = Host() + QString::fromStdString(urlPath);
    QDir().mkpath(QFileInfo(path).path());
    WriteFile(path.toStdString(), Truncated(whole, whole.size() / 2));
    SetOldTime(path.toStdString());
    return path;
  }

  static void SetOldTime(const std::string& path) {
    const struct utimbuf times {kOldTime, kOldTime};
    ASSERT_EQ(::utime(path.c_str(), &times), 0) << path;
  }

  static time_t MTime(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mtime;
  }

  QTemporaryDir dir;
  QString root;
  TestServer server;
  std::map<std::string, std::string> pictures;
};

TEST_F(RepairSafety, TheSaveGoesToTheFileThatWasReadOrNowhere) {
  // Handlers held at the gate may run after the test body: they own what they use.
  const auto gate = std::make_shared<Gate>();
  const auto served = std::make_shared<std::map<std::string, std::string>>();
  server->Get(R"(/g/.*)", [gate, served](const httplib::Request& request, httplib::Response& response) {
    gate->Enter();
    response.set_content(served->at(request.path), "image/jpeg");
    gate->Leave();
  });
  server.Start();
  const std::string outside = dir.path().toStdString() + "/outside";
  QDir().mkpath(QString::fromStdString(outside + "/b"));
  const auto other = [](const Bytes& cut) {
    Bytes bytes = cut;
    for (size_t i = 200; i < 260; ++i) bytes[i] ^= 0x55;
    return bytes;
  };
  // How the tree is changed while the picture is on its way; the outside
  // files have the very bytes and time of the cut file.
  const struct {
    std::string urlPath;
    std::function<void(const std::string& path, const Bytes& cut)> change;
    std::string keeps;  // where the cut bytes (or the other writer's) must stay
  } cases[] = {
      {"/g/a/link.jpg",
       [&](const std::string& path, const Bytes& cut) {
         WriteFile(outside + "/link.jpg", cut);
         SetOldTime(outside + "/link.jpg");
         ASSERT_EQ(::unlink(path.c_str()), 0);
         ASSERT_EQ(::symlink((outside + "/link.jpg").c_str(), path.c_str()), 0);
       },
       outside + "/link.jpg"},
      {"/g/b/p.jpg",
       [&](const std::string& path, const Bytes& cut) {
         WriteFile(outside + "/b/p.jpg", cut);
         SetOldTime(outside + "/b/p.jpg");
         const std::string folder = path.substr(0, path.rfind('/'));
         ASSERT_EQ(::rename(folder.c_str(), (folder + "-moved").c_str()), 0);
         ASSERT_EQ(::symlink((outside + "/b").c_str(), folder.c_str()), 0);
       },
       outside + "/b/p.jpg"},
      {"/g/c/replaced.jpg",
       [&](const std::string& path, const Bytes& cut) {
         ASSERT_EQ(::unlink(path.c_str()), 0);
         WriteFile(path, other(cut));
         SetOldTime(path);
       },
       ""},
      {"/g/d/rewritten.jpg",
       [&](const std::string& path, const Bytes& cut) {
         const Bytes bytes = other(cut);
         const int fd = ::open(path.c_str(), O_WRONLY);
         ASSERT_GE(fd, 0);
         ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), 0), ssize_t(bytes.size()));
         ::close(fd);
         SetOldTime(path);
       },
       ""},
  };
  std::map<std::string, Bytes> cuts;
  for (const auto& c : cases) {
    const std::string path = Cut(c.urlPath, uint32_t(c.urlPath.size())).toStdString();
    cuts[c.urlPath] = ReadFile(path);
  }
  Cut("/g/e/untouched.jpg", 9);
  *served = pictures;

  QProcess process;
  process.start(QStringLiteral(REPAIR_BIN), {"--json", "--retries", "0", "--per-host", "8", root});
  ASSERT_TRUE(gate->WaitFor(5));
  for (const auto& c : cases) c.change((Host() + QString::fromStdString(c.urlPath)).toStdString(), cuts[c.urlPath]);
  gate->Open();
  ASSERT_TRUE(process.waitForFinished(60000));
  const Result r = Collect(process);
  EXPECT_EQ(r.code, 1) << r.out.toStdString() << r.err.toStdString();
  for (const auto& c : cases) {
    const QJsonObject line = r.byUrl.at(Url(c.urlPath));
    EXPECT_EQ(line["outcome"].toString(), "save-failed") << c.urlPath;
    EXPECT_TRUE(line["detail"].toString().startsWith("the file changed on disk meanwhile")) << c.urlPath;
    const std::string path = (Host() + QString::fromStdString(c.urlPath)).toStdString();
    if (!c.keeps.empty()) {
      EXPECT_TRUE(ReadFile(c.keeps) == cuts[c.urlPath]) << c.urlPath;
    } else {
      EXPECT_TRUE(ReadFile(path) == other(cuts[c.urlPath])) << c.urlPath;
    }
  }
  EXPECT_EQ(r.byUrl.at(Url("/g/e/untouched.jpg"))["outcome"].toString(), "repaired");
}

TEST_F(RepairSafety, EachMisbehavingServerEndsItsTransferWithAReason) {
  server->Get("/endless404.jpg", [](const httplib::Request&, httplib::Response& response) {
    response.status = 404;
    response.set_chunked_content_provider("text/html", [](size_t, httplib::DataSink& sink) { return Endless(sink); });
  });
  server->Get("/endless503.jpg", [](const httplib::Request&, httplib::Response& response) {
    response.status = 503;
    response.set_chunked_content_provider("text/html", [](size_t, httplib::DataSink& sink) { return Endless(sink); });
  });
  server->Get("/drip.jpg", [this](const httplib::Request&, httplib::Response& response) {
    const std::string body = pictures.at("/drip.jpg");
    response.set_chunked_content_provider("image/jpeg", [body](size_t offset, httplib::DataSink& sink) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      return offset < body.size() && sink.write(body.data() + offset, std::min<size_t>(10, body.size() - offset));
    });
  });
  server->Get("/giant-header.jpg", [](const httplib::Request&, httplib::Response& response) {
    response.set_header("X-Padding", std::string(2 << 20, 'p'));
    response.set_content("x", "image/jpeg");
  });
  server->Get("/far-future.jpg", [this](const httplib::Request&, httplib::Response& response) {
    response.set_header("Last-Modified", "Fri, 31 Dec 9999 23:59:59 GMT");
    response.set_content(pictures.at("/far-future.jpg"), "image/jpeg");
  });
  server.Start();
  const struct {
    std::string urlPath;
    std::string outcome;
    std::string detail;  // the start of it
  } cases[] = {
      {"/endless404.jpg", "http-error", "404"},
      {"/endless503.jpg", "http-error", "503"},
      {"/drip.jpg", "too-slow", "below 1000 bytes a second over 2 s"},
      {"/giant-header.jpg", "transfer-failed", "the server's response header is too large"},
      {"/far-future.jpg", "repaired", "the server's time 253402300799 lies in the future: the old time stays"},
  };
  std::map<std::string, Bytes> before;
  for (const auto& c : cases) before[c.urlPath] = ReadFile(Cut(c.urlPath, uint32_t(c.urlPath.size())).toStdString());

  Result r = RunRepair(
      {"--json", "--retries", "0", "--per-host", "8", "--min-speed", "1000", "--speed-window", "2", root});
  EXPECT_EQ(r.code, 1) << r.err.toStdString();
  for (const auto& c : cases) {
    const QJsonObject line = r.byUrl[Url(c.urlPath)];
    EXPECT_EQ(line["outcome"].toString().toStdString(), c.outcome) << c.urlPath;
    EXPECT_TRUE(line["detail"].toString().startsWith(QString::fromStdString(c.detail)))
        << c.urlPath << ": " << line["detail"].toString().toStdString();
    // No error page is read beyond a few kilobytes.
    EXPECT_LT(line["bytes"].toInteger(), 256 * 1024) << c.urlPath;
    const std::string path = (Host() + QString::fromStdString(c.urlPath)).toStdString();
    if (c.outcome != "repaired") {
      EXPECT_TRUE(ReadFile(path) == before[c.urlPath]) << c.urlPath;
    }
    EXPECT_EQ(MTime(path), kOldTime) << c.urlPath;
  }
}

TEST_F(RepairSafety, FoldersAreResolvedAsTheScanResolvesThemAndBackupsStayInTheirFolder) {
  server->Get(R"(/ok/.*)", [this](const httplib::Request& request, httplib::Response& response) {
    response.set_content(pictures.at(request.path), "image/jpeg");
  });
  server.Start();
  const QString port = "127.0.0.1:" + QString::number(server.Port());
  const struct {
    QString workingFolder;
    QString folder;
    QString backupName;  // below the backup folder
  } cases[] = {
      {root, ".", "mirror/" + port + "/ok/x.jpg"},
      {Host(), "ok", "ok/x.jpg"},
      {QString(), Host() + "/ok/..", port + "/ok/x.jpg"},
  };
  int n = 0;
  for (const auto& c : cases) {
    const QString path = Cut("/ok/x.jpg", 7);
    const Bytes cut = ReadFile(path.toStdString());
    const QString backups = dir.path() + "/backups/" + QString::number(++n);
    Result r = RunRepair({"--json", "--backup-dir", backups, c.folder}, c.workingFolder);
    EXPECT_EQ(r.code, 0) << c.folder.toStdString() << r.out.toStdString() << r.err.toStdString();
    EXPECT_EQ(r.byUrl[Url("/ok/x.jpg")]["outcome"].toString(), "repaired") << c.folder.toStdString();
    EXPECT_TRUE(ReadFile((backups + "/" + c.backupName).toStdString()) == cut) << c.folder.toStdString();
    // Nothing was written beside the backup folders.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList({"backups", "mirror"}));
  }
}

TEST_F(RepairSafety, WhatCannotBeWalkedIsNamedAndCounted) {
  server->Get("/ok/x.jpg", [this](const httplib::Request&, httplib::Response& response) {
    response.set_content(pictures.at("/ok/x.jpg"), "image/jpeg");
  });
  server.Start();
  Cut("/ok/x.jpg", 3);
  // Deeper than PATH_MAX allows: a folder the walk cannot enter.
  const int depth = 2100;
  ASSERT_LT(root.size(), 4096 - 2 * 2000 - 16);
  NestFolders(root.toStdString(), depth, [](int, int) {});

  Result r = RunRepair({"--json", root});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.byUrl[Url("/ok/x.jpg")]["outcome"].toString(), "repaired");
  EXPECT_EQ(r.byUrl[""]["outcome"].toString(), "cannot-enter") << r.out.toStdString();
  EXPECT_TRUE(r.byUrl[""]["path"].toString().startsWith(root + "/d/d/"));
  EXPECT_TRUE(r.err.contains(": cannot enter: File name too long\n")) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains("1 件中 1 件を修復しました（開けないフォルダ 1）\n")) << r.err.toStdString();
  QProcess scan;
  scan.start(QStringLiteral(SCAN_BIN), {root});
  ASSERT_TRUE(scan.waitForFinished(60000));
  EXPECT_TRUE(QString::fromUtf8(scan.readAllStandardError()).endsWith("（開けないフォルダ 1）\n"));
  RemoveNested(root.toStdString(), depth);

  // Paths that are not what a run walks are named with what they are.
  const std::string odd = dir.path().toStdString() + "/odd";
  QDir().mkpath(QString::fromStdString(odd));
  ASSERT_EQ(::mkfifo((odd + "/fifo").c_str(), 0600), 0);
  ASSERT_EQ(::symlink((odd + "/loop").c_str(), (odd + "/loop").c_str()), 0);
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = odd + "/socket";
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const QString file = Host() + "/ok/x.jpg";
  const struct {
    const char* program;
    QStringList arguments;
    QString message;
  } cases[] = {
      {REPAIR_BIN, {file}, file + ": a regular file: give the folder it is in"},
      {REPAIR_BIN, {"--jobs", "65", root}, "--jobs needs 1 to 64"},
      {SCAN_BIN, {QString::fromStdString(odd + "/fifo")}, "/fifo: a named pipe (FIFO): only folders and regular"},
      {SCAN_BIN, {QString::fromStdString(odd + "/loop")}, "/loop: a link that leads round in a loop: only"},
      {SCAN_BIN, {QString::fromStdString(socketPath)}, "/socket: a socket: only"},
      {SCAN_BIN, {"/dev/null"}, "/dev/null: a character device: only"},
  };
  for (const auto& c : cases) {
    QProcess process;
    process.start(QString::fromUtf8(c.program), c.arguments);
    ASSERT_TRUE(process.waitForFinished(60000));
    const QString err = QString::fromUtf8(process.readAllStandardError());
    EXPECT_EQ(process.exitCode(), 2) << c.arguments.join(' ').toStdString();
    EXPECT_TRUE(err.contains(c.message)) << err.toStdString();
  }
  ::close(sock);
}

}  // namespace
