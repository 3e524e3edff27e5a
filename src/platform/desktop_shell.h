#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

class QWidget;

namespace yuragi {

class Prompts;

// What the desktop's shell does for us: default applications, "open with",
// the text editor, properties and the trash. Like a shell it reports its own
// failures (an error box with the reason) instead of passing them to the
// caller. Paths are the file system's exact bytes.
class DesktopShell {
 public:
  virtual ~DesktopShell() = default;

  // A file or folder with its default application. False after an error box.
  virtual bool OpenPath(QWidget* parent, const QByteArray& path) = 0;
  // A web address (or any URI) with the default handler, the browser for http.
  virtual bool OpenUrl(QWidget* parent, const QString& url) = 0;
  // Lets the user choose the program that opens the file. Returns at once;
  // the choice and the launch follow later.
  virtual void OpenWith(QWidget* parent, const QByteArray& path) = 0;
  // The desktop's text editor on the file. False after an error box.
  virtual bool OpenInTextEditor(QWidget* parent, const QByteArray& path) = 0;
  // A modeless properties sheet; returns at once.
  virtual void ShowProperties(QWidget* parent, const QByteArray& path) = 0;
  // Asks first. True when the file is no longer there afterwards (trashed,
  // or already gone); false when the user said No or it could not be moved.
  virtual bool MoveToTrash(QWidget* parent, const QByteArray& path) = 0;
};

struct DesktopShellOptions {
  // How long a portal or file manager may take to accept a request before
  // our own dialog is shown instead.
  int busTimeoutMs = 10000;
};

// A program the user chose to open a file with: a desktop entry's id, or
// else a program's path.
struct ChosenApp {
  QString desktopId;
  QString program;
};

// The window's own dialogs, shown where no desktop service answered.
struct DesktopShellFallbacks {
  // Lets the user choose a program for the file; chosen is called with the
  // choice, or never when the user cancels.
  std::function<void(QWidget* parent, const QByteArray& path, std::function<void(const ChosenApp&)> chosen)> chooseApp;
  // A modeless properties sheet of the file.
  std::function<void(QWidget* parent, const QByteArray& path)> showProperties;
};

// The freedesktop implementation (GIO, portal and file manager over D-Bus);
// its boxes go through prompts. The session bus is joined on first use.
std::unique_ptr<DesktopShell> MakeFreedesktopShell(Prompts& prompts, DesktopShellFallbacks fallbacks,
                                                   DesktopShellOptions options = {});

}  // namespace yuragi
