#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDeadlineTimer>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <QVariantMap>
#include <memory>
#include <optional>
#include <vector>

namespace yuragi::testing {

// Runs the event loop until done() or a generous limit.
template <typename Done>
bool WaitUntil(Done done) {
  QDeadlineTimer limit(30000);
  while (!done()) {
    if (limit.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  return true;
}


// A private desktop for the whole test program: XDG folders holding real
// .desktop entries and a mimeapps.list, whose programs are stand-ins that
// write the arguments they receive to a file. GIO reads the XDG variables
// once, so this is set up before the first test.
class DesktopWorld : public ::testing::Environment {
 public:
  // Without a text editor, nothing is registered for text/plain.
  explicit DesktopWorld(bool textEditor = true) : textEditor_(textEditor) {}
  void SetUp() override;
  void TearDown() override;

  static DesktopWorld& Get();
  QString Root() const { return root_.path(); }
  QString DataHome() const { return root_.path() + QStringLiteral("/data"); }
  QString TrashFiles() const { return DataHome() + QStringLiteral("/Trash/files"); }
  QString TrashInfo() const { return DataHome() + QStringLiteral("/Trash/info"); }
  // A scratch folder on the same file system as the trash.
  QString Scratch() const { return root_.path() + QStringLiteral("/work"); }

  // The arguments the stand-in application got last ("viewer", "painter",
  // "editor", "files"); waits for the program to have run.
  std::optional<std::vector<QByteArray>> WaitForLaunch(const QString& app) const;
  void ForgetLaunches() const;
  bool Launched(const QString& app) const;

 private:
  bool textEditor_;
  QTemporaryDir root_{QDir::tempPath() + QStringLiteral("/yuragi-desktop-XXXXXX")};
};

// A session bus of the test's own, announced in DBUS_SESSION_BUS_ADDRESS
// while it lives. No service can be started on it by activation.
class PrivateSessionBus {
 public:
  PrivateSessionBus();
  ~PrivateSessionBus();
  bool Running() const { return !address_.isEmpty(); }
  const QString& Address() const { return address_; }

 private:
  QProcess daemon_;
  QTemporaryDir empty_;
  QString address_;
};

// The portal's OpenURI: records every OpenFile call.
class StandInPortal : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.OpenURI")
 public:
  struct Call {
    QString parentWindow;
    QByteArray path;  // of the file descriptor passed
    bool ask = false;
  };
  std::vector<Call> calls;

 public slots:
  QDBusObjectPath OpenFile(const QString& parentWindow, const QDBusUnixFileDescriptor& fd, const QVariantMap& options);
};

// A portal that takes the call and never answers.
class SilentPortal : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.OpenURI")
 public:
  int calls = 0;

 public slots:
  QDBusObjectPath OpenFile(const QString& parentWindow, const QDBusUnixFileDescriptor& fd, const QVariantMap& options);
};

// The file manager's FileManager1: records ShowItemProperties.
class StandInFileManager : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
 public:
  std::vector<QStringList> calls;

 public slots:
  void ShowItemProperties(const QStringList& uris, const QString& startupId);
};

// Owns a bus name and object path for a stand-in while it lives.
class StandInService {
 public:
  StandInService(const PrivateSessionBus& bus, const QString& service, const QString& path, QObject* object);
  ~StandInService();
  bool Registered() const { return registered_; }

 private:
  QString connectionName_;
  bool registered_ = false;
};

QString PortalService();
QString PortalPath();
QString FileManagerService();
QString FileManagerPath();

}  // namespace yuragi::testing
