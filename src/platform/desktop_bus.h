#pragma once

#include <QString>
#include <functional>

class QDBusConnection;
class QObject;

// Requests to desktop services over the session bus. Each is asynchronous
// and calls done exactly once, on the GUI thread: true when the service took
// the request, false when it refused, is absent or gave no answer within
// timeoutMs. Nothing is called after context is destroyed.
namespace yuragi {

// org.freedesktop.portal.OpenURI.OpenFile with ask = true; fd is dup'ed.
void AskPortalToOpenWith(const QDBusConnection& bus, QObject* context, const QString& parentWindow, int fd,
                         int timeoutMs, std::function<void(bool)> done);

// org.freedesktop.FileManager1.ShowItemProperties for one URI.
void AskFileManagerForProperties(const QDBusConnection& bus, QObject* context, const QString& uri, int timeoutMs,
                                 std::function<void(bool)> done);

}  // namespace yuragi
