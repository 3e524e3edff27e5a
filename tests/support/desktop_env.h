#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cstdlib>

namespace yuragi::testing {

// A home of its own for a test process: HOME and the XDG folders point into
// a temporary folder, and a stand-in browser, registered through the
// user's mimeapps.list for HTML files and web addresses, appends every URI
// it is given to a file. GLib reads these folders once, so this must be
// made before anything calls GLib.
class DesktopEnvironment {
 public:
  DesktopEnvironment() {
    home_.setAutoRemove(true);
    const QString home = home_.path();
    Set("HOME", home);
    Set("XDG_CONFIG_HOME", home + "/.config");
    Set("XDG_DATA_HOME", home + "/.local/share");
    Set("XDG_CACHE_HOME", home + "/.cache");
    setenv("XDG_DATA_DIRS", "/usr/local/share:/usr/share", 1);
    setenv("XDG_CONFIG_DIRS", "/etc/xdg", 1);
    for (const char* folder : {"/.config", "/.local/share/applications", "/.cache"}) QDir().mkpath(home + folder);
    received_ = home + "/browser-received.txt";
    const QString browser = home + "/browser.sh";
    Write(browser, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + received_.toUtf8() + "'\n");
    QFile::setPermissions(browser, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    Write(home + "/.local/share/applications/standin-browser.desktop",
          "[Desktop Entry]\nType=Application\nName=Stand-in browser\nExec=" + browser.toUtf8() +
              " %u\nMimeType=text/html;x-scheme-handler/http;x-scheme-handler/https;\n");
    Write(home + "/.config/mimeapps.list",
          "[Default Applications]\ntext/html=standin-browser.desktop\n"
          "x-scheme-handler/http=standin-browser.desktop\nx-scheme-handler/https=standin-browser.desktop\n");
  }

  QString Home() const { return home_.path(); }

  // The URIs the stand-in browser has received so far, one a line.
  QStringList Received() const {
    QFile file(received_);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  }

  static void Write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(bytes);
  }

 private:
  static void Set(const char* name, const QString& value) { setenv(name, QFile::encodeName(value).constData(), 1); }

  QTemporaryDir home_;
  QString received_;
};

}  // namespace yuragi::testing
