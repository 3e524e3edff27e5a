#include "app/fetch_engine_driver.h"

#include <QSocketNotifier>
#include <algorithm>

#include "repair/batch_fetch.h"

namespace yuragi {

FetchEngineDriver::FetchEngineDriver(FetchEngine& engine, QObject* parent) : QObject(parent), engine_(engine) {
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, [this] {
    engine_.OnTimer();
    CheckFinished();
  });
  FetchWatcher watcher;
  watcher.socket = [this](int fd, int what) { WatchSocket(fd, what); };
  watcher.timer = [this](long ms) { SetTimer(ms); };
  engine_.SetWatcher(std::move(watcher));
}

FetchEngineDriver::~FetchEngineDriver() {
  // The engine may outlive us by a moment and call back while it tears its
  // transfers down: it must find nobody listening.
  engine_.SetWatcher({});
}

void FetchEngineDriver::Retire(std::unique_ptr<QSocketNotifier>& notifier) {
  if (!notifier) return;
  // It may be the notifier whose signal is being handled right now: it is
  // switched off at once and deleted once control is back in the loop.
  notifier->setEnabled(false);
  QSocketNotifier* retired = notifier.release();
  retired->setParent(this);
  retired->deleteLater();
}

void FetchEngineDriver::WatchSocket(int fd, int what) {
  if (what == kWatchRemove) {
    const auto found = sockets_.find(fd);
    if (found == sockets_.end()) return;
    Retire(found->second.read);
    Retire(found->second.write);
    sockets_.erase(found);
    return;
  }
  Watch& watch = sockets_[fd];
  const auto want = [this, fd](std::unique_ptr<QSocketNotifier>& notifier, bool wanted, QSocketNotifier::Type type,
                               int event) {
    if (!wanted) {
      Retire(notifier);
      return;
    }
    if (notifier) return;
    notifier = std::make_unique<QSocketNotifier>(qintptr(fd), type);
    connect(notifier.get(), &QSocketNotifier::activated, this, [this, fd, event] { Activated(fd, event); });
  };
  want(watch.read, what == kWatchIn || what == kWatchInOut, QSocketNotifier::Read, kSocketIn);
  want(watch.write, what == kWatchOut || what == kWatchInOut, QSocketNotifier::Write, kSocketOut);
}

void FetchEngineDriver::SetTimer(long ms) {
  // Never a call back into libcurl from inside its own callback: even "now"
  // waits for the loop.
  if (ms < 0) {
    timer_.stop();
  } else {
    timer_.start(int(std::min<long>(ms, 24L * 3600 * 1000)));
  }
}

void FetchEngineDriver::Activated(int fd, int events) {
  engine_.OnSocket(fd, events);
  CheckFinished();
}

void FetchEngineDriver::Interrupt(int level) {
  engine_.Interrupt(level);
  CheckFinished();
}

void FetchEngineDriver::Started() { CheckFinished(); }

void FetchEngineDriver::CheckFinished() {
  if (finishSent_ || !engine_.Finished()) return;
  finishSent_ = true;
  timer_.stop();
  QMetaObject::invokeMethod(this, &FetchEngineDriver::Finished, Qt::QueuedConnection);
}

}  // namespace yuragi
