#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QWidget;

namespace yuragi {

// The first instance listens here; a later start asks it to come forward.
class ActivationServer : public QObject {
  Q_OBJECT
 public:
  ActivationServer(const QString& instanceName, QObject* parent = nullptr);
  ~ActivationServer() override;
  void SetWindow(QWidget* window) { window_ = window; }
  bool IsListening() const;  // false when the socket could not be set up (reported on stderr)

 private:
  void OnConnection();
  QLocalServer* server_;
  QWidget* window_ = nullptr;
};

// Restores the running instance's window if minimised and raises it. Nothing
// happens, and nothing is reported, when no instance answers.
void ActivateRunningInstance(const QString& instanceName);

// Brings a window forward: shown normally when minimised, raised, activated.
void BringToFront(QWidget* window);

}  // namespace yuragi
