// A FetchEngine driven by poll(), for the command line.
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <optional>

#include "repair/batch_fetch.h"

namespace yuragi {

namespace {

using Clock = std::chrono::steady_clock;

// The longest wait, so an interrupt is noticed soon.
constexpr auto kLongestWait = std::chrono::milliseconds(100);

}  // namespace

struct FetchPollLoop::State {
  std::map<int, short> sockets;
  std::optional<Clock::time_point> due;
};

FetchPollLoop::FetchPollLoop(FetchEngine& engine) : engine_(engine), state_(std::make_unique<State>()) {
  State& state = *state_;
  FetchWatcher watcher;
  watcher.socket = [&state](int fd, int what) {
    if (what == kWatchRemove) {
      state.sockets.erase(fd);
      return;
    }
    state.sockets[fd] = short(((what & kWatchIn) ? POLLIN : 0) | ((what & kWatchOut) ? POLLOUT : 0));
  };
  watcher.timer = [&state](long ms) {
    if (ms < 0) {
      state.due.reset();
    } else {
      state.due = Clock::now() + std::chrono::milliseconds(ms);
    }
  };
  engine_.SetWatcher(std::move(watcher));
}

// The engine may still call its watcher while it is destroyed.
FetchPollLoop::~FetchPollLoop() { engine_.SetWatcher(FetchWatcher()); }

bool FetchPollLoop::Run(const std::atomic<int>* interrupts, std::string* error) {
  State& state = *state_;
  std::vector<pollfd> watched;
  while (!engine_.Finished()) {
    if (interrupts) engine_.Interrupt(interrupts->load());
    if (engine_.Finished()) break;
    watched.clear();
    for (const auto& [fd, events] : state.sockets) watched.push_back({fd, events, 0});
    auto wait = kLongestWait;
    if (state.due) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*state.due - Clock::now());
      wait = std::min(wait, std::max(left, std::chrono::milliseconds(0)));
    }
    const int ready = ::poll(watched.data(), watched.size(), int(wait.count()));
    if (ready < 0 && errno != EINTR) {
      if (error) *error = std::string("poll: ") + std::strerror(errno);
      return false;
    }
    for (const pollfd& entry : watched) {
      if (ready <= 0 || entry.revents == 0 || !state.sockets.contains(entry.fd)) continue;
      const int events = ((entry.revents & (POLLIN | POLLHUP)) ? kSocketIn : 0) |
                         ((entry.revents & POLLOUT) ? kSocketOut : 0) |
                         ((entry.revents & (POLLERR | POLLNVAL)) ? kSocketError : 0);
      engine_.OnSocket(entry.fd, events);
    }
    if (state.due && *state.due <= Clock::now()) {
      state.due.reset();
      engine_.OnTimer();
    }
  }
  return true;
}

bool FetchAll(const std::vector<FetchItem>& items, const FetchSettings& settings, const FetchHooks& hooks,
              std::string* error) {
  FetchEngine engine(items, settings, hooks);
  FetchPollLoop loop(engine);
  if (!engine.Start(error)) return false;
  return loop.Run(hooks.interrupts, error);
}

}  // namespace yuragi
