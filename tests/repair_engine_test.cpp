// The fetch engine driven from outside, as an event loop of a window drives it.
#include <gtest/gtest.h>
#include <poll.h>

#include <QTemporaryDir>
#include <chrono>
#include <map>

#include "jpeg_writer.h"
#include "repair/batch_fetch.h"
#include "test_server.h"

using namespace yuragi;
using namespace yuragi::testing;

namespace {

// A loop of the test's own over the engine's watcher.
class Driver {
 public:
  explicit Driver(FetchEngine& engine) : engine_(engine) {
    FetchWatcher watcher;
    watcher.socket = [this](int fd, int what) {
      if (what == kWatchRemove) {
        sockets.erase(fd);
      } else {
        sockets[fd] = what;
      }
    };
    watcher.timer = [this](long ms) { timer = ms; };
    engine_.SetWatcher(std::move(watcher));
  }

  // One round: waits for the sockets or the timer, then tells the engine.
  void Round() {
    std::vector<pollfd> fds;
    for (const auto& [fd, what] : sockets) {
      fds.push_back({fd, short(((what & kWatchIn) ? POLLIN : 0) | ((what & kWatchOut) ? POLLOUT : 0)), 0});
    }
    const long wait = timer < 0 ? 100 : std::min(timer, 100L);
    const int ready = ::poll(fds.data(), fds.size(), int(wait));
    for (const pollfd& entry : fds) {
      if (ready <= 0 || entry.revents == 0) continue;
      engine_.OnSocket(entry.fd, ((entry.revents & (POLLIN | POLLHUP)) ? kSocketIn : 0) |
                                     ((entry.revents & POLLOUT) ? kSocketOut : 0) |
                                     ((entry.revents & POLLERR) ? kSocketError : 0));
    }
    if (timer >= 0 && ready == 0) engine_.OnTimer();
  }

  std::map<int, int> sockets;
  long timer = -1;

 private:
  FetchEngine& engine_;
};

TEST(FetchEngine, DrivenFromOutsideItReportsEachItemOnceAndCanBeDroppedMidTransfer) {
  const std::vector<uint8_t> picture = EncodeJpeg({320, 240, JpegKind::Baseline, 85, 5});
  TestServer server;
  server->Get("/p.jpg", [&](const httplib::Request&, httplib::Response& response) {
    response.set_content(std::string(picture.begin(), picture.end()), "image/jpeg");
  });
  server.ServeStalling("/stalls.jpg", picture);
  server.Start();
  QTemporaryDir dir;
  const std::string cut = dir.path().toStdString() + "/p.jpg";
  WriteFile(cut, Truncated(picture, picture.size() / 2));

  std::map<size_t, FetchOutcome> ended;
  FetchHooks hooks;
  hooks.finished = [&](size_t index, FetchOutcome&& outcome) {
    EXPECT_EQ(ended.count(index), 0u);
    ended[index] = std::move(outcome);
  };
  {
    auto engine = std::make_unique<FetchEngine>(
        std::vector<FetchItem>{{server.Url("/p.jpg"), cut, {}}, {server.Url("/p.jpg"), cut, {}}}, FetchSettings(), hooks);
    Driver driver(*engine);
    std::string error;
    ASSERT_TRUE(engine->Start(&error)) << error;
    for (int round = 0; round < 600 && !engine->Finished(); ++round) driver.Round();
    ASSERT_TRUE(engine->Finished());
    engine.reset();  // the watcher may still be told to let sockets go
    EXPECT_TRUE(driver.sockets.empty());
  }
  ASSERT_EQ(ended.size(), 2u);
  for (auto& [index, outcome] : ended) {
    ASSERT_EQ(outcome.end, FetchEnd::Received) << outcome.error;
    std::string body;
    ASSERT_TRUE(outcome.body && outcome.body->ReadAll(body));
    EXPECT_EQ(body, std::string(picture.begin(), picture.end()));
  }

  // Dropped while a body is arriving: nothing is reported, every socket is let go.
  ended.clear();
  auto engine = std::make_unique<FetchEngine>(std::vector<FetchItem>{{server.Url("/stalls.jpg"), cut, {}}},
                                              FetchSettings(), hooks);
  Driver driver(*engine);
  ASSERT_TRUE(engine->Start(nullptr));
  for (int round = 0; round < 600 && engine->Progress().received == 0; ++round) driver.Round();
  ASSERT_GT(engine->Progress().received, 0u);
  ASSERT_FALSE(driver.sockets.empty());
  engine.reset();
  EXPECT_TRUE(driver.sockets.empty());
  EXPECT_TRUE(ended.empty());
}

}  // namespace
