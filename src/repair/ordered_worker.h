#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/unique_fd.h"

namespace yuragi {

// Runs jobs on threads of its own, several at once. What a job returns is
// run later on the owner's thread by Collect, in the order the jobs were
// submitted; WakeFd becomes readable whenever there is something to
// collect, so the owner's event loop can watch it beside its sockets.
class OrderedWorker {
 public:
  using Job = std::function<std::function<void()>()>;

  // Submit waits while limit jobs are waiting or running.
  OrderedWorker(int threads, size_t limit);
  // Waits for the jobs under way; the ones not yet begun are dropped.
  ~OrderedWorker();
  OrderedWorker(const OrderedWorker&) = delete;
  OrderedWorker& operator=(const OrderedWorker&) = delete;

  // False, with the system's reason, when no thread or descriptor can be made.
  bool Start(std::string* error);
  int WakeFd() const { return wake_ ? wake_->get() : -1; }
  void Submit(Job job);
  // Runs the ends of the jobs finished so far, in order; true while
  // submitted jobs are still outstanding.
  bool Collect();

 private:
  void Run();

  const int threadCount_;
  const size_t limit_;
  std::unique_ptr<UniqueFd> wake_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::pair<uint64_t, Job>> waiting_;
  // One place per job not yet collected, from number first_ on; filled when it ends.
  std::deque<std::optional<std::function<void()>>> ends_;
  uint64_t first_ = 0;
  uint64_t next_ = 0;
  size_t unfinished_ = 0;  // waiting or running
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace yuragi
