#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive_server.h"
#include "jpeg_writer.h"
#include "refetch/archive_client.h"
#include "refetch/archive_timemap.h"
#include "repair/archive_repair.h"

using namespace yuragi;
using namespace yuragi::testing;

namespace {

std::string Str(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(TimeMap, ReadsCapturesNewestFirstWhateverTheLayout) {
  struct Case {
    const char* name;
    std::string text;
    bool cut;
    std::vector<std::string> times;
  };
  const std::vector<Case> cases = {
      {"links split over lines, commas in dates and in other values",
       "<http://a.example/x.jpg>;rel=\"original\",\n"
       "<http://ar.example/timemap/link/http://a.example/x.jpg>\n  ; rel=\"self\";type=\"application/link-format\"\n"
       "  ; from=\"Tue, 20 Jun 2000 18:02:59 GMT\"\n  ; until=\"Wed, 09 Apr 2008 20:30:51 GMT\",\n"
       "<http://ar.example/20000620180259/http://a.example/x.jpg>\n  ; rel=\"first memento\";datetime=\"Tue, 20 Jun "
       "2000 18:02:59 GMT\"\n  ; license=\"http://creativecommons.org/publicdomain/zero/1.0/\",\n"
       "<http://ar.example/20080409203051/http://a.example/x.jpg>;title=\"a, b; c\" ; rel=\"last memento\"; "
       "datetime=\"Wed, 09 Apr 2008 20:30:51 GMT\",\n"
       "<http://ar.example/2004/x,y;z.jpg>; rel=memento; DATETIME=\"Sat, 03 Jan 2004 12:00:00 GMT\"",
       false,
       {"20080409203051", "20040103120000", "20000620180259"}},
      {"quoted strings with escapes and a rel that is not a memento",
       "<u1>; rel=\"timegate\"; datetime=\"Sat, 03 Jan 2004 12:00:00 GMT\", <u2>; title=\"say \\\"hi, there\\\"\"; "
       "rel=\"first last memento\"; datetime=\"Sun, 04 Jan 2004 12:00:00 GMT\"",
       false,
       {"20040104120000"}},
      {"the same time twice, a date that is none, a link with no date",
       "<u1>; rel=memento; datetime=\"Sat, 03 Jan 2004 12:00:00 GMT\", <u2>; rel=memento; datetime=\"Sat, 03 Jan "
       "2004 12:00:00 GMT\", <u3>; rel=memento; datetime=\"not a date\", <u4>; rel=memento",
       false,
       {"20040103120000"}},
      {"a text cut at the cap drops the link it ends in",
       "<u1>; rel=memento; datetime=\"Sat, 03 Jan 2004 12:00:00 GMT\",\n<u2>; rel=memento; datetime=\"Sun, 04 Jan "
       "2004 12:00:00 GMT\"",
       true,
       {"20040103120000"}},
      {"an unclosed quote and an unclosed bracket end the list",
       "<u1>; rel=memento; datetime=\"Sat, 03 Jan 2004 12:00:00 GMT\", <u2>; rel=\"memento, <u3>; rel=memento", false,
       {"20040103120000"}},
      {"text that is no link list", "<html><body>Not found</body></html>", false, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseTimeMap(c.text, c.cut), c.times) << c.name;
}

TEST(TimeMap, OfTenThousandCapturesTheNewestFiftyAreConsidered) {
  ArchiveServer archive;
  std::vector<ArchiveServer::Capture> list;
  for (int i = 0; i < 10000; ++i) {
    char time[32];
    std::snprintf(time, sizeof time, "2%03d010100%02d%02d", i / 100, i % 100 / 60, i % 60);
    list.push_back({time, ""});
  }
  const std::string text = archive.TimeMapOf("http://a.example/x.jpg", list);
  const std::vector<std::string> times = ParseTimeMap(text, false);
  ASSERT_EQ(times.size(), kCapturesConsidered);
  EXPECT_EQ(times.front(), "20990101000139");
  EXPECT_EQ(times.back(), "20990101000050");
  EXPECT_TRUE(std::is_sorted(times.rbegin(), times.rend()));
}

class Archive : public ::testing::Test {
 protected:
  void SetUp() override {
    whole = Str(EncodeJpeg({640, 480, JpegKind::Baseline, 85, 7}));
    local = whole.substr(0, whole.size() / 2);
    other = Str(EncodeJpeg({640, 480, JpegKind::Baseline, 85, 8}));
    settings.prefix = archive.Prefix();
    settings.requestsPerSecond = 20;
    settings.stallSeconds = 2;
  }

  ArchiveRepair Find(const std::string& url) {
    ArchiveClient client(settings);
    return RepairFromArchive(client, url, local);
  }

  ArchiveServer archive;
  ArchiveSettings settings;
  std::string whole, local, other;
};

// Captures made from real encodes: the picture whole, cut, another one.
TEST_F(Archive, ChoosesTheNewestCaptureThatContinuesTheCutFile) {
  const std::string url = "http://gone.example/img/a.jpg";
  const std::string padded = other + std::string(size_t(24) << 20, '\0');  // abandoned long before its end
  archive.captures[url] = {
      {"20240101000000", whole.substr(0, whole.size() * 9 / 10)},  // itself cut
      {"20230101000000", "<html><body>Got snapshot?</body></html>", "text/html"},
      {"20220101000000", padded},
      {"20210101000000", whole, "image/jpeg", ArchiveServer::Mode::Drip},
      {"20200101000000", whole},
      {"20190101000000", other},
  };
  const auto start = std::chrono::steady_clock::now();
  const ArchiveRepair found = Find(url);
  ASSERT_TRUE(found.found) << found.detail;
  EXPECT_EQ(found.capture, "20200101000000");
  EXPECT_EQ(found.body, whole);
  EXPECT_EQ(found.detail, "archive 20200101000000");
  EXPECT_LT(archive.sent["20220101000000"], padded.size() / 2);
  const std::vector<ArchiveServer::Seen> seen = archive.Requests();
  std::vector<std::string> paths;
  for (const auto& each : seen) paths.push_back(each.path);
  const std::string base = "/web/";
  EXPECT_EQ(paths, (std::vector<std::string>{base + "timemap/link/" + url, base + "20240101000000id_/" + url,
                                              base + "20230101000000id_/" + url, base + "20220101000000id_/" + url,
                                              base + "20210101000000id_/" + url, base + "20200101000000id_/" + url}));
  for (const auto& each : seen) EXPECT_EQ(each.agent, "Quistrelle (+mailto:yuragimaru@example.org)");
  // At 20 a second the sixth request cannot go before 250 ms have passed.
  EXPECT_GE(seen.back().when - start, std::chrono::milliseconds(50) * (seen.size() - 1));

  // What each passed-over capture was, newest first, when nothing fits.
  archive.captures[url].erase(archive.captures[url].begin() + 4);
  const ArchiveRepair none = Find(url);
  EXPECT_FALSE(none.found);
  for (const char* why : {"20240101000000 picture data ends early", "20230101000000 an HTML page (differs at byte 0)",
                          "20220101000000 another picture (differs at byte", "20210101000000 transfer failed",
                          "20190101000000 another picture"}) {
    EXPECT_NE(none.detail.find(why), std::string::npos) << why << " in " << none.detail;
  }
}

TEST_F(Archive, AtMostSixCaptureDownloadsOfATenThousandCaptureTimeMap) {
  const std::string url = "http://gone.example/many.jpg";
  std::vector<ArchiveServer::Capture> list;
  for (int i = 0; i < 10000; ++i) list.push_back({std::to_string(20000000000000LL + i), other});
  archive.timeMaps[url] = archive.TimeMapOf(url, list);
  archive.captures[url] = list;
  const ArchiveRepair found = Find(url);
  EXPECT_FALSE(found.found);
  EXPECT_EQ(archive.CaptureRequests(), 6);
  EXPECT_NE(found.detail.find("44 older captures not tried"), std::string::npos) << found.detail;
}

TEST_F(Archive, ATimeMapOverTheCapIsReadUpToItsFourMegabytes) {
  const std::string url = "http://gone.example/long.jpg";
  archive.captures[url] = {{"20200101000000", whole}};
  std::string text = archive.TimeMapOf(url, archive.captures[url]);
  while (text.size() < kTimeMapCap + (size_t(1) << 20)) text += ",\n<http://mirror.example/x.jpg>; rel=\"alternate\"";
  archive.timeMaps[url] = text;
  const ArchiveRepair found = Find(url);
  EXPECT_TRUE(found.found) << found.detail;
  EXPECT_LE(found.received, kTimeMapCap + whole.size());
}

TEST_F(Archive, WaitsForRetryAfterAndGivesUpOnAWaitTooLong) {
  const std::string url = "http://gone.example/busy.jpg";
  archive.captures[url] = {{"20200101000000", whole}};
  archive.tooMany = 1;
  const ArchiveRepair found = Find(url);
  EXPECT_TRUE(found.found) << found.detail;
  const std::vector<ArchiveServer::Seen> seen = archive.Requests();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_GE(seen[1].when - seen[0].when, std::chrono::milliseconds(950));

  archive.tooMany = 1;
  archive.retryAfter = "3600";
  const ArchiveRepair refused = Find(url);
  EXPECT_FALSE(refused.found);
  EXPECT_EQ(refused.detail, "archive: TimeMap: HTTP 429, Retry-After 3600 s");

  EXPECT_EQ(Find("http://never.example/x.jpg").detail, "archive: not in the archive");
}

}  // namespace
