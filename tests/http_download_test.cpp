#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <QDir>
#include <QTemporaryDir>
#include <atomic>
#include <thread>

#include "jpeg_writer.h"
#include "platform/http_client.h"
#include "platform/output_file.h"
#include "platform/temp_dir.h"
#include "refetch/download.h"
#include "refetch/source_url.h"
#include "test_server.h"

using namespace yuragi;
using namespace yuragi::testing;

namespace {

class HttpDownload : public ::testing::Test {
 protected:
  void SetUp() override {
    picture = EncodeJpeg({300, 200});
    server->Get("/pic.jpg", [this](const httplib::Request& request, httplib::Response& response) {
      agent = request.get_header_value("User-Agent");
      cacheControl = request.get_header_value("Cache-Control");
      pragma = request.get_header_value("Pragma");
      encoding = request.get_header_value("Accept-Encoding");
      response.set_content(std::string(picture.begin(), picture.end()), "image/jpeg");
    });
    server->Get("/missing.jpg", [](const httplib::Request&, httplib::Response& response) {
      response.status = 404;
      response.set_content("<html><body>Not Found</body></html>", "text/html");
    });
    server->Get("/empty.jpg", [](const httplib::Request&, httplib::Response& response) {
      response.set_content("", "image/jpeg");
    });
    server->Get("/big.bin", [](const httplib::Request&, httplib::Response& response) {
      std::string body(9 << 20, '\0');
      for (size_t i = 0; i < body.size(); ++i) body[i] = char(i * 7 + (i >> 12));
      response.set_content(body, "application/octet-stream");
    });
    // Headers only once released: the wait for them is what is tested.
    server->Get("/silent.jpg", [this](const httplib::Request&, httplib::Response& response) {
      for (int i = 0; i < 6000 && !server.release; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      answered = true;
      response.set_content("late", "image/jpeg");
    });
    // A body without a length that never ends.
    server->Get("/endless.jpg", [](const httplib::Request&, httplib::Response& response) {
      response.set_chunked_content_provider("image/jpeg", [](size_t, httplib::DataSink& sink) {
        const std::string block(64 * 1024, 'x');
        return sink.write(block.data(), block.size());
      });
    });
    server.ServeCut("/cut.jpg", picture);
    server.ServeStalling("/slow.jpg", picture);
    server.ServeRedirect("/moved", "/pic.jpg");
    server.ServeRedirect("/to-file", "file:///etc/passwd");
    server.Start();
  }

  struct Fetched {
    bool opened = false;
    HttpError openError;
    TransferResult transfer;
    std::vector<uint8_t> bytes;
  };

  Fetched Fetch(const std::string& url, const std::atomic<bool>* cancel = nullptr,
                std::function<void(uint64_t)> onCount = {}, const HttpOptions& options = {}) {
    Fetched out;
    std::unique_ptr<HttpRequest> request = HttpRequest::Open(url, [] {}, {}, &out.openError, options);
    out.opened = request != nullptr;
    if (!request) return out;
    const std::string path = dir.path().toStdString() + "/download.jpg";
    std::unique_ptr<OutputFile> file = OutputFile::Create(path, nullptr);
    TransferSteps steps;
    steps.cancelRequested = cancel;
    steps.showCount = std::move(onCount);
    out.transfer = TransferToFile(*request, *file, steps);
    file.reset();
    out.bytes = ReadFile(path);
    return out;
  }

  TestServer server;
  QTemporaryDir dir;
  std::vector<uint8_t> picture;
  std::string agent, cacheControl, pragma, encoding;
  std::atomic<bool> answered{false};
};

// Answers a CONNECT like a proxy, with headers of its own, then says
// nothing more: the tunnel's own response never comes.
class SilentProxy {
 public:
  SilentProxy() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    ::listen(listener_, 1);
    thread_ = std::thread([this] {
      client_ = ::accept(listener_, nullptr, nullptr);
      std::string request;
      char c;
      while (request.find("\r\n\r\n") == std::string::npos && ::read(client_, &c, 1) == 1) request += c;
      connectSeen = request.rfind("CONNECT ", 0) == 0;
      const std::string answer = "HTTP/1.1 200 Connection established\r\nProxy-Agent: test\r\n\r\n";
      if (::write(client_, answer.data(), answer.size()) < 0) return;
    });
  }
  ~SilentProxy() {
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    if (client_ >= 0) ::close(client_);
    ::close(listener_);
  }
  int Port() const { return port_; }
  std::atomic<bool> connectSeen{false};

 private:
  int listener_ = -1;
  int client_ = -1;
  int port_ = 0;
  std::thread thread_;
};

}  // namespace

TEST_F(HttpDownload, FetchesTheBytesAsTheServerSentThem) {
  uint64_t lastCount = 0;
  int counts = 0;
  const Fetched f = Fetch(server.Url("/pic.jpg"), nullptr, [&](uint64_t total) {
    lastCount = total;
    ++counts;
  });
  ASSERT_TRUE(f.opened);
  EXPECT_EQ(f.transfer.end, TransferEnd::Finished);
  EXPECT_EQ(f.bytes, picture);
  EXPECT_EQ(f.transfer.total, picture.size());
  EXPECT_EQ(lastCount, picture.size());
  EXPECT_GE(counts, int(picture.size() / kTransferBlock));  // one count per block, the final empty read too
  EXPECT_EQ(agent, "Quistrelle");
  EXPECT_EQ(cacheControl, "no-cache");
  EXPECT_EQ(pragma, "no-cache");
  EXPECT_TRUE(encoding.empty());
}

TEST_F(HttpDownload, NoStatusIsExaminedAndAnEmptyBodyIsEmpty) {
  Fetched f = Fetch(server.Url("/missing.jpg"));
  ASSERT_TRUE(f.opened);
  EXPECT_EQ(std::string(f.bytes.begin(), f.bytes.end()), "<html><body>Not Found</body></html>");
  f = Fetch(server.Url("/empty.jpg"));
  ASSERT_TRUE(f.opened);
  EXPECT_EQ(f.transfer.end, TransferEnd::Finished);
  EXPECT_EQ(f.transfer.total, 0u);
}

TEST_F(HttpDownload, LargeBodiesArriveWhole) {
  const Fetched f = Fetch(server.Url("/big.bin"));
  ASSERT_EQ(f.bytes.size(), size_t(9 << 20));
  bool same = true;
  for (size_t i = 0; i < f.bytes.size() && same; ++i) same = f.bytes[i] == uint8_t(char(i * 7 + (i >> 12)));
  EXPECT_TRUE(same);
}

TEST_F(HttpDownload, ACutConnectionIsAReadFailure) {
  const Fetched f = Fetch(server.Url("/cut.jpg"));
  ASSERT_TRUE(f.opened);
  EXPECT_EQ(f.transfer.end, TransferEnd::ReadFailed);
  EXPECT_FALSE(f.transfer.error.empty());
}

TEST_F(HttpDownload, OpeningFailsForBadHostsPortsAndSchemes) {
  for (const std::string& url : {"http://127.0.0.1:" + std::to_string(RefusedPort()) + "/a.jpg",
                                 std::string("file:///etc/passwd"), std::string("not a url"),
                                 server.Url("/to-file")}) {
    const Fetched f = Fetch(url);
    EXPECT_FALSE(f.opened) << url;
    EXPECT_NE(f.openError.code, 0) << url;
    EXPECT_FALSE(f.openError.text.empty()) << url;
  }
}

TEST_F(HttpDownload, RedirectsToHttpAreFollowed) {
  const Fetched f = Fetch(server.Url("/moved"));
  ASSERT_TRUE(f.opened);
  EXPECT_EQ(f.bytes, picture);
}

TEST_F(HttpDownload, CancelEndsTheTransferWithWhatArrived) {
  std::atomic<bool> cancel{false};
  const Fetched f = Fetch(server.Url("/slow.jpg"), &cancel, [&](uint64_t total) {
    if (total >= picture.size() / 2) cancel = true;
  });
  // Without the cancel the stalled server would cut the connection: a failure.
  EXPECT_EQ(f.transfer.end, TransferEnd::Finished);
  EXPECT_EQ(f.bytes.size(), picture.size() / 2);
  server.release = true;
}

TEST_F(HttpDownload, ManyRequestsOpenedAndDroppedMidwayLeakNothing) {
  server.release = true;
  for (int i = 0; i < 50; ++i) {
    HttpError error;
    std::unique_ptr<HttpRequest> request = HttpRequest::Open(server.Url(i % 2 ? "/big.bin" : "/slow.jpg"), {}, &error);
    ASSERT_TRUE(request);
    char block[1024];
    EXPECT_GT(request->Read(block, sizeof block, {}, {}), 0);
  }
}

TEST_F(HttpDownload, TheWaitForHeadersEndsWhenCancelled) {
  int waits = 0;
  HttpError error;
  const std::unique_ptr<HttpRequest> request =
      HttpRequest::Open(server.Url("/silent.jpg"), [&] { ++waits; }, [&] { return waits >= 3; }, &error);
  EXPECT_FALSE(request);
  EXPECT_TRUE(error.cancelled);
  EXPECT_FALSE(answered);  // given up while the server still kept its headers
  server.release = true;
}

TEST_F(HttpDownload, AnEndlessBodyStopsAtTheCap) {
  HttpOptions options;
  options.maxBodyBytes = 1 << 20;
  const Fetched f = Fetch(server.Url("/endless.jpg"), nullptr, {}, options);
  ASSERT_TRUE(f.opened);
  EXPECT_EQ(f.transfer.end, TransferEnd::TooLarge);
  EXPECT_LE(f.transfer.total, options.maxBodyBytes);
  EXPECT_GE(f.transfer.total, options.maxBodyBytes / 2);
  // A body of exactly the cap is whole.
  options.maxBodyBytes = picture.size();
  const Fetched whole = Fetch(server.Url("/pic.jpg"), nullptr, {}, options);
  EXPECT_EQ(whole.transfer.end, TransferEnd::Finished);
  EXPECT_EQ(whole.bytes, picture);
  options.maxBodyBytes = picture.size() - 1;
  EXPECT_EQ(Fetch(server.Url("/pic.jpg"), nullptr, {}, options).transfer.end, TransferEnd::TooLarge);
}

TEST_F(HttpDownload, AProxysConnectAnswerIsNotTheResponse) {
  SilentProxy proxy;
  const std::string proxyUrl = "http://127.0.0.1:" + std::to_string(proxy.Port());
  // The environment is put back as it was, whatever this test changes.
  const QByteArray noProxy = qgetenv("no_proxy"), noProxyUpper = qgetenv("NO_PROXY"), httpsProxy = qgetenv("https_proxy");
  const auto restore = [](const char* name, const QByteArray& value) {
    if (value.isNull()) {
      qunsetenv(name);
    } else {
      qputenv(name, value);
    }
  };
  setenv("https_proxy", proxyUrl.c_str(), 1);
  unsetenv("no_proxy");
  unsetenv("NO_PROXY");
  int waits = 0;
  HttpError error;
  const std::unique_ptr<HttpRequest> request = HttpRequest::Open(
      "https://pictures.example/a.jpg", [&] { ++waits; }, [&] { return proxy.connectSeen && waits >= 20; }, &error);
  restore("https_proxy", httpsProxy);
  restore("no_proxy", noProxy);
  restore("NO_PROXY", noProxyUpper);
  EXPECT_TRUE(proxy.connectSeen);
  EXPECT_FALSE(request);  // still waiting for the real headers when given up
  EXPECT_TRUE(error.cancelled);
}

// Sets a variable for one scope and puts it back however the test ends: a
// failed assertion returns early.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const QByteArray& value)
      : name_(name), wasSet_(qEnvironmentVariableIsSet(name)), saved_(qgetenv(name)) {
    qputenv(name, value);
  }
  ~ScopedVariable() {
    if (wasSet_) {
      qputenv(name_, saved_);
    } else {
      qunsetenv(name_);
    }
  }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
  bool wasSet_;
  QByteArray saved_;
};

TEST(TempFolder, MadeAgainWhenRemovedAndOneFallbackPerProcess) {
  QTemporaryDir base;
  const ScopedVariable tmpdir("TMPDIR", base.path().toLocal8Bit());
  const QString first = QFile::decodeName(PrivateTempDir());
  EXPECT_TRUE(first.startsWith(base.path() + "/"));
  ASSERT_TRUE(QDir(first).removeRecursively());
  EXPECT_EQ(QFile::decodeName(PrivateTempDir()), first);
  EXPECT_TRUE(QFileInfo(first).isDir());
  EXPECT_EQ(QFile(first).permissions() & 0x0077, 0);

  // The usual name taken by something else: a folder of this process,
  // the same on every call, removed when the process ends.
  ASSERT_TRUE(QDir(first).removeRecursively());
  WriteFile(first.chopped(1).toStdString(), std::string("squatter"));
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const QString a = QFile::decodeName(PrivateTempDir());
    const QString b = QFile::decodeName(PrivateTempDir());
    WriteFile((a + "inside.jpg").toStdString(), std::string("x"));
    const QByteArray path = a.toLocal8Bit();
    if (a != b || a == first || write(pipeEnds[1], path.constData(), size_t(path.size())) < 0) _exit(1);
    exit(0);  // static objects are destroyed: the folder goes
  }
  close(pipeEnds[1]);
  char buffer[4096];
  const ssize_t n = read(pipeEnds[0], buffer, sizeof buffer);
  close(pipeEnds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_GT(n, 0);
  const QString fallback = QString::fromLocal8Bit(buffer, n);
  EXPECT_TRUE(fallback.startsWith(first.chopped(1) + "-"));
  EXPECT_FALSE(QFileInfo::exists(fallback));
}

TEST(DownloadNames, UrlFileNameAndTempName) {
  EXPECT_EQ(DownloadUrl("http://img.example/a/photo.jpg/"), "http://img.example/a/photo.jpg");
  EXPECT_EQ(DownloadUrl("http://img.example//"), "http://img.example/");
  EXPECT_EQ(UrlFileNameOf("http://img.example/a/photo.jpg"), "photo.jpg");
  EXPECT_EQ(UrlFileNameOf("http://img.example"), "img.example");
  EXPECT_EQ(UrlFileNameOf("http://127.0.0.1:8080"), "8080");
  const QDateTime now(QDate(2009, 12, 31), QTime(23, 59, 59, 1));
  EXPECT_EQ(TempDownloadName("/tmp/y/", now, "photo.jpg"), "/tmp/y/$20091231-235959001-photo.jpg");
  EXPECT_EQ(TempDownloadName("/tmp/y/", now, "a.b.png"), "/tmp/y/$20091231-235959001-a.b.jpg");
  EXPECT_EQ(TempDownloadName("/tmp/y.d/", now, "noext"), "/tmp/y.d/$20091231-235959001-noext.jpg");
  // Long names are shortened to fit 255 bytes, at a character's boundary.
  const QByteArray longName = TempDownloadName("/tmp/y/", now, QByteArray(246, 'n') + ".jpg");
  EXPECT_EQ(longName.size() - 7, 255);
  EXPECT_TRUE(longName.startsWith("/tmp/y/$20091231-235959001-nnn"));
  EXPECT_TRUE(longName.endsWith("n.jpg"));
  const QByteArray wide = TempDownloadName("/tmp/y/", now, QString(80, QChar(0x5199)).toUtf8() + ".png");
  const QByteArray wideName = wide.mid(7);
  EXPECT_LE(wideName.size(), 255);
  EXPECT_GT(wideName.size(), 250);
  EXPECT_EQ(QString::fromUtf8(wideName).toUtf8(), wideName);
  EXPECT_TRUE(wide.endsWith(QString(QChar(0x5199)).toUtf8() + ".jpg"));
  // A name that is not UTF-8 is cut by bytes.
  const QByteArray raw = TempDownloadName("/tmp/y/", now, QByteArray(300, '\x83') + ".jpg");
  EXPECT_EQ(raw.size() - 7, 255);
}

TEST(RequestUrl, EncodesWhatAPathCannotHoldAndKeepsTheRest) {
  EXPECT_EQ(WireUrl("http://img.example/a b/写真.jpg"), "http://img.example/a%20b/%E5%86%99%E7%9C%9F.jpg");
  // A "%" of the name is a character of its own, not an escape.
  EXPECT_EQ(WireUrl("http://img.example/%7Euser/100%.jpg"), "http://img.example/%257Euser/100%25.jpg");
  EXPECT_EQ(WireUrl("http://img.example/a#1.jpg"), "http://img.example/a%231.jpg");
  EXPECT_EQ(WireUrl("http://img.example/\"<>\\^`{|}\x7f\t.jpg"),
            "http://img.example/%22%3C%3E%5C%5E%60%7B%7C%7D%7F%09.jpg");
  // "/", "?" and the query stay; what the query cannot hold is encoded too.
  EXPECT_EQ(WireUrl("http://img.example/p.jpg?w=1&h=2/x y"), "http://img.example/p.jpg?w=1&h=2/x%20y");
  // A host taken from a folder name: another script goes as its ASCII
  // form, bytes no URL may hold are escaped.
  EXPECT_EQ(WireUrl("http://写真.example/a.jpg"), "http://xn--g7qs82g.example/a.jpg");
  EXPECT_EQ(WireUrl("http://a b\t.example/a.jpg"), "http://a%20b%09.example/a.jpg");
  EXPECT_EQ(WireUrl("http://a b.example"), "http://a%20b.example");
  EXPECT_EQ(WireUrl("ht tp://img.example/"), "ht%20tp://img.example/");
  // The URL text carries a byte that is not UTF-8 as its escape: kept.
  EXPECT_EQ(WireUrl("http://img.example/%83e%83X/%95%5C.jpg"), "http://img.example/%83e%83X/%95%5C.jpg");
  EXPECT_EQ(WireUrl("http://img.example/%5C%83.jpg"), "http://img.example/%255C%83.jpg");
  // The host passes as it is; unreserved characters too.
  EXPECT_EQ(WireUrl("http://127.0.0.1:8080/a-b_c.~d!$&'()*+,;=:@.jpg"),
            "http://127.0.0.1:8080/a-b_c.~d!$&'()*+,;=:@.jpg");
  EXPECT_EQ(WireUrl("http://img.example"), "http://img.example");
}

// Saved files with awkward names, fetched from a real server by the URL the
// rule builds from their bytes and the request the HTTP layer makes of it.
TEST(RequestUrl, AwkwardNamesAreFetchedFromARealServer) {
  TestServer server;
  std::string seenPath, seenQuery;
  server->Get(".*", [&](const httplib::Request& request, httplib::Response& response) {
    seenPath = request.path;
    seenQuery.clear();
    for (const auto& [key, value] : request.params) seenQuery += key + "=" + value + ";";
    response.set_content("served:" + request.path, "image/jpeg");
  });
  server.Start();
  const QByteArray site = "/srv/mirror/127.0.0.1:" + QByteArray::number(server.Port()) + "/img/";
  struct Case {
    QByteArray name;     // as stored on disk
    std::string path;    // what the server must see, decoded
    std::string query;
  };
  const Case cases[] = {
      {"night market.jpg", "/img/night market.jpg", ""},
      {"a#1.jpg", "/img/a#1.jpg", ""},
      {"100%.jpg", "/img/100%.jpg", ""},
      {"%7Euser.jpg", "/img/%7Euser.jpg", ""},
      {"p.jpg?w=1&h=2", "/img/p.jpg", "h=2;w=1;"},
      {"写真 1.jpg", "/img/写真 1.jpg", ""},
      {"\x83\x65\x83\x58\x83\x67.jpg", "/img/\x83\x65\x83\x58\x83\x67.jpg", ""},  // テスト in Shift-JIS
      {"\x95\x5C.jpg", "/img/\x95\x5C.jpg", ""},  // 表: its second byte is "\\"
      {"\x89\xE6\x91\x9C/\xC9\xBD.jpg", "/img/\x89\xE6\x91\x9C/\xC9\xBD.jpg", ""},
  };
  for (const Case& c : cases) {
    const QString url = SourceUrlOfPath(site + c.name);
    HttpError error;
    std::unique_ptr<HttpRequest> request = HttpRequest::Open(WireUrl(url), [] {}, &error);
    ASSERT_TRUE(request) << url.toStdString() << ": " << error.text;
    std::string body;
    char block[1024];
    for (long n; (n = request->Read(block, sizeof block, {}, {})) > 0;) body.append(block, size_t(n));
    EXPECT_EQ(request->ResponseCode(), 200) << url.toStdString();
    EXPECT_EQ(seenPath, c.path) << url.toStdString();
    EXPECT_EQ(seenQuery, c.query) << url.toStdString();
    EXPECT_EQ(body, "served:" + c.path);
  }
}
