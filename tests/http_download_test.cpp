#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <atomic>
#include <thread>

#include "jpeg_writer.h"
#include "platform/http_client.h"
#include "platform/output_file.h"
#include "refetch/download.h"
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
  EXPECT_EQ(WireUrl("http://img.example/a b/写真.jpg"), "http://img.example/a%20b/%E5%86%99%E7%9C%9F.jpg");
  EXPECT_EQ(WireUrl("http://img.example/%7Euser/p.jpg"), "http://img.example/~user/p.jpg");  // the same URL
}
