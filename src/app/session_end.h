#pragma once

#include <QObject>
#include <memory>

class QSocketNotifier;
class TForm1;

namespace yuragi {

// The ways a session ends the window besides its own close: the session
// manager's request to save (logout, shutdown) and SIGTERM, SIGHUP and
// SIGINT. Each runs the window's close path, so the settings are written,
// the temporary files removed and the single-instance socket closed.
class SessionEnd : public QObject {
 public:
  // Installs the signal handlers; false, with the reason, when the pipe or
  // a handler cannot be set up (the window then still works).
  explicit SessionEnd(TForm1& form);
  ~SessionEnd() override;
  const QString& Failure() const { return failure_; }

 private:
  void SignalArrived();

  TForm1& form_;
  int pipe_[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> notifier_;
  QString failure_;
};

}  // namespace yuragi
