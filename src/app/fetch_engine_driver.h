#pragma once

#include <QObject>
#include <QTimer>
#include <map>
#include <memory>

class QSocketNotifier;

namespace yuragi {

class FetchEngine;

// Drives a FetchEngine from the Qt event loop of the calling thread: one
// QSocketNotifier per socket and direction libcurl asks for, one
// single-shot QTimer for libcurl's time-outs. Nothing runs on another
// thread and no event loop is spun here.
class FetchEngineDriver : public QObject {
  Q_OBJECT
 public:
  // Installs itself as the engine's watcher; start the engine afterwards.
  explicit FetchEngineDriver(FetchEngine& engine, QObject* parent = nullptr);
  ~FetchEngineDriver() override;

  // Passes an interrupt level on (see FetchEngine::Interrupt).
  void Interrupt(int level);
  // To be called once after the engine has been started.
  void Started();

 signals:
  // The engine has reported every item; emitted from the event loop, never
  // from inside one of the engine's calls, so the receiver may destroy it.
  void Finished();

 private:
  struct Watch {
    std::unique_ptr<QSocketNotifier> read;
    std::unique_ptr<QSocketNotifier> write;
  };

  void WatchSocket(int fd, int what);
  void SetTimer(long ms);
  void Activated(int fd, int events);
  void CheckFinished();
  void Retire(std::unique_ptr<QSocketNotifier>& notifier);

  FetchEngine& engine_;
  std::map<int, Watch> sockets_;
  QTimer timer_;
  bool finishSent_ = false;
};

}  // namespace yuragi
