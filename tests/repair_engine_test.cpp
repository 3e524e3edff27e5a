// The fetch engine driven from outside, as an event loop of a window drives it.
#include <gtest/gtest.h>
#include <poll.h>

#include <QTemporaryDir>
#include <chrono>
#include <condition_variable>
#include <future>
#include <map>
#include <mutex>

#include "jpeg_writer.h"
#include "repair/batch_fetch.h"
#include "repair/ordered_worker.h"
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

// Bodies handed to worker threads: whatever order the checks end in, their
// ends come back in the order the transfers ended, and the engine is not
// finished while one is outstanding, even after the second interrupt.
TEST(FetchEngine, WorkHandedToThreadsComesBackInOrderBeforeTheEngineFinishes) {
  const std::vector<uint8_t> picture = EncodeJpeg({160, 120, JpegKind::Baseline, 85, 6});
  TestServer server;
  server->Get("/p.jpg", [&](const httplib::Request&, httplib::Response& response) {
    response.set_content(std::string(picture.begin(), picture.end()), "image/jpeg");
  });
  server.Start();
  QTemporaryDir dir;
  const std::string cut = dir.path().toStdString() + "/p.jpg";
  WriteFile(cut, Truncated(picture, picture.size() / 2));
  constexpr size_t kItems = 4;
  struct Row {
    std::vector<size_t> order;  // in which the checks are let end
    bool interrupted;           // the second interrupt comes before the first ends
  };
  const std::vector<Row> rows = {{{0, 1, 2, 3}, false}, {{3, 2, 1, 0}, false}, {{1, 3, 0, 2}, true}};
  for (const auto& [order, interrupted] : rows) {
    SCOPED_TRACE(::testing::PrintToString(order));
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<bool> ran(kItems, false);
    std::vector<size_t> collected;  // by the number the job was handed over as
    size_t handed = 0;
    OrderedWorker worker(int(kItems), kItems);
    ASSERT_TRUE(worker.Start(nullptr));
    // After the worker: a test that fails early breaks the gates before the
    // worker waits for its jobs.
    std::vector<std::promise<void>> gates(kItems);
    FetchHooks hooks;
    hooks.finished = [&](size_t, FetchOutcome&& outcome) {
      EXPECT_EQ(outcome.end, FetchEnd::Received) << outcome.error;
      const size_t number = handed++;
      std::shared_future<void> gate = gates[number].get_future().share();
      worker.Submit([&, number, gate]() -> std::function<void()> {
        gate.wait();
        {
          const std::lock_guard lock(mutex);
          ran[number] = true;
        }
        changed.notify_all();
        return [&collected, number] { collected.push_back(number); };
      });
    };
    hooks.wakeFd = worker.WakeFd();
    hooks.collect = [&worker] { return worker.Collect(); };
    FetchEngine engine(std::vector<FetchItem>(kItems, {server.Url("/p.jpg"), cut, {}}), FetchSettings(), hooks);
    Driver driver(engine);
    ASSERT_TRUE(engine.Start(nullptr));
    for (int round = 0; round < 600 && handed < kItems; ++round) driver.Round();
    ASSERT_EQ(handed, kItems);
    if (interrupted) engine.Interrupt(2);
    size_t released = 0;
    for (const size_t number : order) {
      driver.Round();
      EXPECT_FALSE(engine.Finished());
      gates[number].set_value();
      size_t ready = 0;  // jobs ended without a gap from the first
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return bool(ran[number]); });
        while (ready < kItems && ran[ready]) ++ready;
      }
      ++released;
      for (int round = 0; round < 600 && collected.size() < ready; ++round) driver.Round();
      std::vector<size_t> expected(ready);
      for (size_t i = 0; i < ready; ++i) expected[i] = i;
      EXPECT_EQ(collected, expected) << released << " released";
    }
    for (int round = 0; round < 600 && !engine.Finished(); ++round) driver.Round();
    EXPECT_TRUE(engine.Finished());
    EXPECT_EQ(collected.size(), kItems);
  }
}

}  // namespace
