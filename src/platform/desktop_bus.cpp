// Portal and file-manager calls over Qt D-Bus.
#include "platform/desktop_bus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusUnixFileDescriptor>
#include <QVariantMap>
#include <atomic>

namespace yuragi {
namespace {

void Send(const QDBusConnection& bus, QObject* context, const QDBusMessage& message, int timeoutMs,
          std::function<void(bool)> done) {
  if (!bus.isConnected()) {
    done(false);
    return;
  }
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, timeoutMs), context);
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                   [watcher, done = std::move(done)] {
                     watcher->deleteLater();
                     done(!watcher->isError());
                   });
}

QString NextHandleToken() {
  static std::atomic<int> counter{0};
  return QStringLiteral("yuragimaru%1").arg(++counter);
}

}  // namespace

void AskPortalToOpenWith(const QDBusConnection& bus, QObject* context, const QString& parentWindow, int fd,
                         int timeoutMs, std::function<void(bool)> done) {
  QDBusMessage message = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/freedesktop/portal/desktop"),
      QStringLiteral("org.freedesktop.portal.OpenURI"), QStringLiteral("OpenFile"));
  QVariantMap options;
  options.insert(QStringLiteral("ask"), true);
  options.insert(QStringLiteral("handle_token"), NextHandleToken());
  message << parentWindow << QVariant::fromValue(QDBusUnixFileDescriptor(fd)) << options;
  Send(bus, context, message, timeoutMs, std::move(done));
}

void AskFileManagerForProperties(const QDBusConnection& bus, QObject* context, const QString& uri, int timeoutMs,
                                 std::function<void(bool)> done) {
  QDBusMessage message = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItemProperties"));
  message << QStringList{uri} << QString();
  Send(bus, context, message, timeoutMs, std::move(done));
}

}  // namespace yuragi
