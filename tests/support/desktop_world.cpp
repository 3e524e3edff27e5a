#include "desktop_world.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>
#include <atomic>
#include <cstdlib>
#include <filesystem>

namespace yuragi::testing {
namespace {

DesktopWorld* world = nullptr;

void Write(const QString& path, const QByteArray& text, QFileDevice::Permissions permissions = {}) {
  QDir().mkpath(path.left(path.lastIndexOf(QLatin1Char('/'))));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
  file.write(text);
  file.close();
  if (permissions) file.setPermissions(permissions);
}

QByteArray Entry(const QString& name, const QString& root, const QString& app, const QString& types) {
  return QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nIcon=image-viewer\n"
                        "Exec=%2/bin/record %2/out/%3 %f\nMimeType=%4\nTerminal=false\n")
      .arg(name, root, app, types)
      .toUtf8();
}

QByteArray LinkTarget(int fd) {
  char buffer[4096];
  const QByteArray link = "/proc/self/fd/" + QByteArray::number(fd);
  const ssize_t length = ::readlink(link.constData(), buffer, sizeof buffer);
  return length < 0 ? QByteArray() : QByteArray(buffer, int(length));
}

}  // namespace

DesktopWorld& DesktopWorld::Get() { return *world; }

void DesktopWorld::SetUp() {
  world = this;
  ASSERT_TRUE(root_.isValid());
  const QString root = root_.path();
  for (const char* folder : {"/data/applications", "/config", "/sys", "/etc", "/out", "/work", "/bin"}) {
    QDir().mkpath(root + QLatin1String(folder));
  }
  Write(root + QStringLiteral("/bin/record"),
        "#!/bin/sh\nout=$1\nshift\nprintf '%s\\0' \"$@\" > \"$out.part\" && mv \"$out.part\" \"$out\"\n",
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  const QString apps = root + QStringLiteral("/data/applications/");
  Write(apps + QStringLiteral("yuragi-viewer.desktop"),
        Entry(QStringLiteral("代役ビューア"), root, QStringLiteral("viewer"), QStringLiteral("image/jpeg;image/png;")));
  Write(apps + QStringLiteral("yuragi-painter.desktop"),
        Entry(QStringLiteral("代役ペイント"), root, QStringLiteral("painter"), QStringLiteral("image/jpeg;")));
  if (textEditor_) {
    Write(apps + QStringLiteral("yuragi-editor.desktop"),
          Entry(QStringLiteral("代役エディタ"), root, QStringLiteral("editor"), QStringLiteral("text/plain;")));
  }
  Write(apps + QStringLiteral("yuragi-files.desktop"),
        Entry(QStringLiteral("代役ファイル"), root, QStringLiteral("files"), QStringLiteral("inode/directory;")));
  Write(root + QStringLiteral("/config/mimeapps.list"),
        "[Default Applications]\n"
        "image/jpeg=yuragi-viewer.desktop\n"
        "inode/directory=yuragi-files.desktop\n" +
            QByteArray(textEditor_ ? "text/plain=yuragi-editor.desktop\n" : "") +
            "[Added Associations]\n"
            "image/jpeg=yuragi-viewer.desktop;yuragi-painter.desktop;\n");
  setenv("XDG_DATA_HOME", (root + QStringLiteral("/data")).toLocal8Bit().constData(), 1);
  setenv("XDG_CONFIG_HOME", (root + QStringLiteral("/config")).toLocal8Bit().constData(), 1);
  // The system's MIME database stays visible, its applications do not.
  ASSERT_TRUE(QFile::link(QStringLiteral("/usr/share/mime"), root + QStringLiteral("/sys/mime")));
  setenv("XDG_DATA_DIRS", (root + QStringLiteral("/sys")).toLocal8Bit().constData(), 1);
  setenv("XDG_CONFIG_DIRS", (root + QStringLiteral("/etc")).toLocal8Bit().constData(), 1);
  unsetenv("XDG_CURRENT_DESKTOP");
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

void DesktopWorld::TearDown() {
  // Names that are not UTF-8 cannot be removed through QString.
  std::error_code ignored;
  std::filesystem::remove_all(QFile::encodeName(root_.path()).toStdString(), ignored);
}

std::optional<std::vector<QByteArray>> DesktopWorld::WaitForLaunch(const QString& app) const {
  const QString out = Root() + QStringLiteral("/out/") + app;
  if (!WaitUntil([&] { return QFile::exists(out); })) return std::nullopt;
  QFile file(out);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  std::vector<QByteArray> arguments;
  for (const QByteArray& argument : file.readAll().split('\0')) arguments.push_back(argument);
  if (!arguments.empty() && arguments.back().isEmpty()) arguments.pop_back();
  return arguments;
}

void DesktopWorld::ForgetLaunches() const {
  for (const QString& name : QDir(Root() + QStringLiteral("/out")).entryList(QDir::Files)) {
    QFile::remove(Root() + QStringLiteral("/out/") + name);
  }
}

bool DesktopWorld::Launched(const QString& app) const {
  return QFile::exists(Root() + QStringLiteral("/out/") + app);
}

PrivateSessionBus::PrivateSessionBus() {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  // No service files anywhere: nothing on this bus starts by activation.
  environment.insert(QStringLiteral("XDG_DATA_HOME"), empty_.path());
  environment.insert(QStringLiteral("XDG_DATA_DIRS"), empty_.path());
  daemon_.setProcessEnvironment(environment);
  // A test that dies must not leave its bus behind.
  daemon_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
  daemon_.start(QStringLiteral("dbus-daemon"),
                {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
  if (!daemon_.waitForStarted(30000)) return;
  while (!daemon_.canReadLine() && daemon_.waitForReadyRead(30000)) {
  }
  address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
  if (!address_.isEmpty()) setenv("DBUS_SESSION_BUS_ADDRESS", address_.toUtf8().constData(), 1);
}

PrivateSessionBus::~PrivateSessionBus() {
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  daemon_.terminate();
  if (!daemon_.waitForFinished(30000)) daemon_.kill();
  daemon_.waitForFinished(30000);
}

QDBusObjectPath StandInPortal::OpenFile(const QString& parentWindow, const QDBusUnixFileDescriptor& fd,
                                        const QVariantMap& options) {
  calls.push_back({parentWindow, LinkTarget(fd.fileDescriptor()), options.value(QStringLiteral("ask")).toBool()});
  return QDBusObjectPath(QStringLiteral("/org/freedesktop/portal/desktop/request/1_1/t%1").arg(calls.size()));
}

QDBusObjectPath SilentPortal::OpenFile(const QString&, const QDBusUnixFileDescriptor&, const QVariantMap&) {
  ++calls;
  setDelayedReply(true);  // and never reply
  return {};
}

void StandInFileManager::ShowItemProperties(const QStringList& uris, const QString&) { calls.push_back(uris); }

StandInService::StandInService(const PrivateSessionBus& bus, const QString& service, const QString& path,
                               QObject* object) {
  static std::atomic<int> counter{0};
  connectionName_ = QStringLiteral("stand-in-%1").arg(++counter);
  QDBusConnection connection = QDBusConnection::connectToBus(bus.Address(), connectionName_);
  registered_ = connection.isConnected() && connection.registerObject(path, object, QDBusConnection::ExportAllSlots) &&
                connection.registerService(service);
}

StandInService::~StandInService() { QDBusConnection::disconnectFromBus(connectionName_); }

QString PortalService() { return QStringLiteral("org.freedesktop.portal.Desktop"); }
QString PortalPath() { return QStringLiteral("/org/freedesktop/portal/desktop"); }
QString FileManagerService() { return QStringLiteral("org.freedesktop.FileManager1"); }
QString FileManagerPath() { return QStringLiteral("/org/freedesktop/FileManager1"); }

}  // namespace yuragi::testing
