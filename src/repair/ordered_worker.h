#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/unique_fd.h"

namespace yuragi {

// Runs jobs one at a time on a thread of its own, in the order given. What
// a job returns is run later on the owner's thread by Collect, in the same
// order; WakeFd becomes readable whenever there is something to collect, so
// the owner's event loop can watch it beside its sockets.
class OrderedWorker {
 public:
  using Job = std::function<std::function<void()>()>;

  // Submit waits while limit jobs are waiting or running.
  explicit OrderedWorker(size_t limit);
  // Waits for the job under way; the ones not yet begun are dropped.
  ~OrderedWorker();
  OrderedWorker(const OrderedWorker&) = delete;
  OrderedWorker& operator=(const OrderedWorker&) = delete;

  // False, with the system's reason, when the thread or descriptor cannot be made.
  bool Start(std::string* error);
  int WakeFd() const { return wake_ ? wake_->get() : -1; }
  void Submit(Job job);
  // Runs the ends of the finished jobs; true while submitted jobs are still
  // outstanding.
  bool Collect();

 private:
  void Run();

  const size_t limit_;
  std::unique_ptr<UniqueFd> wake_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> waiting_;
  std::deque<std::function<void()>> done_;
  size_t busy_ = 0;  // waiting or running
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace yuragi
