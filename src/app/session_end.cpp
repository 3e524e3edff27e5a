#include "app/session_end.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>

#include "app/main_window.h"

namespace yuragi {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};
int signalPipe = -1;  // the write end, for the handler

// Only write() is safe here; the loop reads the byte and does the work.
extern "C" void NoteSignal(int number) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(number);
  if (signalPipe >= 0) (void)!::write(signalPipe, &byte, 1);
  errno = saved;
}

QString ErrnoText(int number) { return QString::fromLocal8Bit(std::strerror(number)); }

}  // namespace

SessionEnd::SessionEnd(TForm1& form) : form_(form) {
  connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
    // Asked only when the user wants the question and the session lets us.
    const bool ask = form_.CloseQuery1->isChecked() && manager.allowsInteraction();
    const bool agreed = form_.EndSession(ask);
    if (ask) manager.release();
    if (!agreed) manager.cancel();
  });

  if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
    failure_ = QStringLiteral("pipe: ") + ErrnoText(errno);
    return;
  }
  signalPipe = pipe_[1];
  notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { SignalArrived(); });
  struct sigaction action {};
  action.sa_handler = NoteSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int number : kSignals) {
    if (::sigaction(number, &action, nullptr) != 0) failure_ = QStringLiteral("sigaction: ") + ErrnoText(errno);
  }
}

SessionEnd::~SessionEnd() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (const int number : kSignals) ::sigaction(number, &action, nullptr);
  signalPipe = -1;
  notifier_.reset();
  for (const int fd : pipe_) {
    if (fd >= 0) ::close(fd);
  }
}

void SessionEnd::SignalArrived() {
  unsigned char bytes[64];
  while (::read(pipe_[0], bytes, sizeof bytes) > 0) {
  }
  // No one is there to answer a box: open ones are cancelled, and the
  // close asks nothing.
  while (QWidget* box = QApplication::activeModalWidget()) {
    if (auto* dialog = qobject_cast<QDialog*>(box)) dialog->reject();
    else box->close();
    if (QApplication::activeModalWidget() == box) break;
  }
  form_.EndSession(false);
}

}  // namespace yuragi
