#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <thread>

#include "jpeg_writer.h"
#include "platform/http_client.h"
#include "platform/output_file.h"
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
                std::function<void(uint64_t)> onCount = {}) {
    Fetched out;
    std::unique_ptr<HttpRequest> request = HttpRequest::Open(url, [] {}, &out.openError);
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
  for (const std::string& url : {std::string("http://nonexistent.invalid/a.jpg"),
                                 "http://127.0.0.1:" + std::to_string(RefusedPort()) + "/a.jpg",
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
  const auto started = std::chrono::steady_clock::now();
  const Fetched f = Fetch(server.Url("/slow.jpg"), &cancel, [&](uint64_t total) {
    if (total >= picture.size() / 2) cancel = true;
  });
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
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
