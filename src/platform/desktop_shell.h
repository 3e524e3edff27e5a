#pragma once

#include <QByteArray>
#include <QString>
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
  // Lets the user choose the program that opens the file.
  virtual void OpenWith(QWidget* parent, const QByteArray& path) = 0;
  // The desktop's text editor on the file.
  virtual bool OpenInTextEditor(QWidget* parent, const QByteArray& path) = 0;
  virtual void ShowProperties(QWidget* parent, const QByteArray& path) = 0;
  // Asks first; true only when the file went to the trash.
  virtual bool MoveToTrash(QWidget* parent, const QByteArray& path) = 0;
};

// The freedesktop implementation (GIO, portal and file manager over D-Bus);
// its boxes go through prompts.
std::unique_ptr<DesktopShell> MakeDesktopShell(Prompts& prompts);

}  // namespace yuragi
