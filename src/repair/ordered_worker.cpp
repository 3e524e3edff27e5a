#include "repair/ordered_worker.h"

#include <pthread.h>
#include <sys/eventfd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <system_error>
#include <utility>

namespace yuragi {

OrderedWorker::OrderedWorker(int threads, size_t limit)
    : threadCount_(threads < 1 ? 1 : threads), limit_(limit == 0 ? 1 : limit) {}

OrderedWorker::~OrderedWorker() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

bool OrderedWorker::Start(std::string* error) {
  wake_ = std::make_unique<UniqueFd>(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!*wake_) {
    if (error) *error = std::string("eventfd: ") + std::strerror(errno);
    return false;
  }
  try {
    for (int i = 0; i < threadCount_; ++i) threads_.emplace_back([this] { Run(); });
  } catch (const std::system_error& failure) {
    // The threads already running are enough.
    if (threads_.empty()) {
      if (error) *error = failure.what();
      return false;
    }
  }
  return true;
}

void OrderedWorker::Submit(Job job) {
  std::unique_lock lock(mutex_);
  // Only what the threads still have to do counts: the ends wait for the
  // caller itself to collect them.
  changed_.wait(lock, [this] { return unfinished_ < limit_ || stop_; });
  if (stop_) return;
  waiting_.emplace_back(next_++, std::move(job));
  ends_.emplace_back();
  ++unfinished_;
  changed_.notify_all();
}

bool OrderedWorker::Collect() {
  // Read first: a job that ends after the look below wakes the owner again.
  uint64_t count = 0;
  while (wake_ && ::read(wake_->get(), &count, sizeof count) < 0 && errno == EINTR) {
  }
  std::vector<std::function<void()>> ready;
  bool outstanding = false;
  {
    const std::lock_guard lock(mutex_);
    while (!ends_.empty() && ends_.front()) {
      ready.push_back(std::move(*ends_.front()));
      ends_.pop_front();
      ++first_;
    }
    outstanding = !ends_.empty();
  }
  for (std::function<void()>& end : ready) {
    if (end) end();
  }
  return outstanding;
}

void OrderedWorker::Run() {
  // Ctrl-C and the like go to the owner's thread, whose loop watches for them;
  // here they would only break a system call of a check.
  sigset_t interrupts;
  sigemptyset(&interrupts);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&interrupts, signal);
  pthread_sigmask(SIG_BLOCK, &interrupts, nullptr);  // failing, they may land here as on any thread
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stop_ || !waiting_.empty(); });
    if (stop_) return;
    auto [number, job] = std::move(waiting_.front());
    waiting_.pop_front();
    lock.unlock();
    std::function<void()> end = job();
    job = nullptr;  // what it held (a temporary file) goes here, off the owner's thread
    lock.lock();
    ends_[size_t(number - first_)] = std::move(end);
    --unfinished_;
    changed_.notify_all();
    if (number == first_) {
      const uint64_t one = 1;
      while (::write(wake_->get(), &one, sizeof one) < 0 && errno == EINTR) {
      }
    }
  }
}

}  // namespace yuragi
