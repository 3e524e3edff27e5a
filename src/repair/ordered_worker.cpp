#include "repair/ordered_worker.h"

#include <sys/eventfd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <utility>

namespace yuragi {

OrderedWorker::OrderedWorker(size_t limit) : limit_(limit == 0 ? 1 : limit) {}

OrderedWorker::~OrderedWorker() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool OrderedWorker::Start(std::string* error) {
  wake_ = std::make_unique<UniqueFd>(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!*wake_) {
    if (error) *error = std::string("eventfd: ") + std::strerror(errno);
    return false;
  }
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error& failure) {
    if (error) *error = failure.what();
    return false;
  }
  return true;
}

void OrderedWorker::Submit(Job job) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return busy_ < limit_ || stop_; });
  if (stop_) return;
  waiting_.push_back(std::move(job));
  ++busy_;
  changed_.notify_all();
}

bool OrderedWorker::Collect() {
  // Read first: a job that ends after the swap below wakes the owner again.
  uint64_t count = 0;
  while (wake_ && ::read(wake_->get(), &count, sizeof count) < 0 && errno == EINTR) {
  }
  std::deque<std::function<void()>> ends;
  bool outstanding = false;
  {
    const std::lock_guard lock(mutex_);
    ends.swap(done_);
    outstanding = busy_ > 0;
  }
  for (std::function<void()>& end : ends) end();
  return outstanding;
}

void OrderedWorker::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stop_ || !waiting_.empty(); });
    if (stop_) return;
    Job job = std::move(waiting_.front());
    waiting_.pop_front();
    lock.unlock();
    std::function<void()> end = job();
    job = nullptr;  // what it held (a temporary file) goes here, off the owner's thread
    lock.lock();
    done_.push_back(std::move(end));
    --busy_;
    changed_.notify_all();
    const uint64_t one = 1;
    while (::write(wake_->get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
  }
}

}  // namespace yuragi
