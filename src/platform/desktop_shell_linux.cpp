// The desktop shell on freedesktop services: GIO for applications and the
// trash, the portal and the file manager over the session bus, and the
// caller's dialogs where no service offers one.
#include <fcntl.h>
#include <sys/stat.h>

#include <QDBusConnection>
#include <QFile>
#include <QGuiApplication>
#include <QPointer>
#include <QWidget>
#include <atomic>

#include "platform/desktop_apps.h"
#include "platform/paths.h"
#include "platform/desktop_bus.h"
#include "platform/desktop_shell.h"
#include "platform/prompts.h"
#include "platform/trash.h"
#include "platform/unique_fd.h"

namespace yuragi {
namespace {

QString ShellCaption() { return QStringLiteral("ゆらぎ丸"); }

QString Shown(const QByteArray& path) { return DisplayPath(path); }

QString FileName(const QByteArray& path) { return DisplayPath(path.mid(path.lastIndexOf('/') + 1)); }

bool Exists(const QByteArray& path) {
  struct stat status {};
  return !path.isEmpty() && ::stat(path.constData(), &status) == 0;
}

// The portal wants its parent as "x11:<id>"; other platforms get none.
QString ParentWindowHandle(QWidget* parent) {
  if (!parent || QGuiApplication::platformName() != QLatin1String("xcb")) return {};
  return QStringLiteral("x11:%1").arg(parent->window()->winId(), 0, 16);
}

// The session's bus as announced now. Never autolaunched: a bus started
// for one request would only outlive it. Read afresh, not through libdbus,
// which remembers the first address it saw for the life of the process.
QString SessionBusAddress() {
  const QString announced = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
  if (!announced.isEmpty()) return announced;
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  const QString socket = runtime + QStringLiteral("/bus");
  struct stat status {};
  if (!runtime.isEmpty() && ::stat(QFile::encodeName(socket).constData(), &status) == 0 && S_ISSOCK(status.st_mode)) {
    return QStringLiteral("unix:path=") + socket;
  }
  return {};
}

class LinuxDesktopShell : public DesktopShell {
 public:
  LinuxDesktopShell(Prompts& prompts, DesktopShellFallbacks fallbacks, DesktopShellOptions options)
      : prompts_(prompts),
        fallbacks_(std::move(fallbacks)),
        options_(options),
        context_(std::make_unique<QObject>()) {}

  ~LinuxDesktopShell() override {
    context_.reset();  // no reply handler runs after this
    if (!busName_.isEmpty()) QDBusConnection::disconnectFromBus(busName_);
  }

  bool OpenPath(QWidget* parent, const QByteArray& path) override {
    if (!Exists(path)) return Missing(parent, path);
    std::string failure;
    const std::string uri = FileUri(path.toStdString(), &failure);
    if (uri.empty()) return CannotOpen(parent, Shown(path), failure);
    return Launched(parent, Shown(path), LaunchDefaultForUri(uri));
  }

  bool OpenUrl(QWidget* parent, const QString& url) override {
    return Launched(parent, url, LaunchDefaultForUri(url.toStdString()));
  }

  void OpenWith(QWidget* parent, const QByteArray& path) override {
    if (!Exists(path)) {
      Missing(parent, path);
      return;
    }
    UniqueFd fd(::open(path.constData(), O_PATH | O_CLOEXEC));
    if (!fd) {
      ShowChooser(parent, path);
      return;
    }
    QPointer<QWidget> owner(parent);
    AskPortalToOpenWith(Bus(), context_.get(), ParentWindowHandle(parent), fd.get(), options_.busTimeoutMs,
                        [this, owner, hadOwner = parent != nullptr, path](bool accepted) {
                          if (accepted || (hadOwner && !owner)) return;
                          ShowChooser(owner, path);
                        });
  }

  bool OpenInTextEditor(QWidget* parent, const QByteArray& path) override {
    if (!Exists(path)) return Missing(parent, path);
    const EditorLaunch launch = LaunchTextEditor(path.toStdString());
    if (!launch.found) {
      prompts_.Error(parent, ShellCaption(),
                     QStringLiteral("%1 を開けません。\nテキストエディタが見つかりません。").arg(Shown(path)));
      return false;
    }
    return Launched(parent, Shown(path), launch.error);
  }

  void ShowProperties(QWidget* parent, const QByteArray& path) override {
    if (!Exists(path)) {
      Missing(parent, path);
      return;
    }
    std::string failure;
    const std::string uri = FileUri(path.toStdString(), &failure);
    if (uri.empty()) {
      ShowOwnProperties(parent, path);
      return;
    }
    QPointer<QWidget> owner(parent);
    AskFileManagerForProperties(Bus(), context_.get(), QString::fromStdString(uri), options_.busTimeoutMs,
                                [this, owner, hadOwner = parent != nullptr, path](bool accepted) {
                                  if (accepted || (hadOwner && !owner)) return;
                                  ShowOwnProperties(owner, path);
                                });
  }

  bool MoveToTrash(QWidget* parent, const QByteArray& path) override {
    struct stat status {};
    if (path.isEmpty() || ::lstat(path.constData(), &status) != 0) {
      Missing(parent, path);
      return true;
    }
    if (!prompts_.Question(parent, ShellCaption(),
                           QStringLiteral("このファイルをごみ箱に移動しますか？\n\n%1").arg(FileName(path)))) {
      return false;
    }
    const TrashResult result = MoveFileToTrash(path.toStdString());
    if (!result.trashed) {
      prompts_.Error(parent, ShellCaption(),
                     QStringLiteral("%1 をごみ箱に移動できません。\n%2")
                         .arg(FileName(path), QString::fromStdString(result.error)));
    }
    return !result.stillThere;
  }

 private:
  // Joined on first use; a bus that was not there last time is tried again.
  QDBusConnection Bus() {
    if (!busName_.isEmpty()) {
      QDBusConnection joined(busName_);
      if (joined.isConnected()) return joined;
      QDBusConnection::disconnectFromBus(busName_);
    }
    static std::atomic<int> counter{0};
    busName_ = QStringLiteral("yuragimaru-shell-%1").arg(++counter);
    const QString address = SessionBusAddress();
    if (address.isEmpty()) return QDBusConnection(busName_);
    return QDBusConnection::connectToBus(address, busName_);
  }

  void ShowChooser(QWidget* parent, const QByteArray& path) {
    // The chooser may outlive this shell (it belongs to its parent window).
    QPointer<QObject> alive(context_.get());
    QPointer<QWidget> owner(parent);
    fallbacks_.chooseApp(parent, path, [this, alive, owner, path](const ChosenApp& app) {
      if (!alive) return;
      Launched(owner, Shown(path),
               app.desktopId.isEmpty() ? LaunchProgram(QFile::encodeName(app.program).toStdString(), path.toStdString())
                                       : LaunchApp(app.desktopId.toStdString(), path.toStdString()));
    });
  }

  void ShowOwnProperties(QWidget* parent, const QByteArray& path) { fallbacks_.showProperties(parent, path); }

  bool Missing(QWidget* parent, const QByteArray& path) {
    prompts_.Error(parent, ShellCaption(),
                   path.isEmpty() ? QStringLiteral("ファイルが指定されていません。")
                                  : QStringLiteral("%1 が見つかりません。").arg(Shown(path)));
    return false;
  }

  bool CannotOpen(QWidget* parent, const QString& shown, const std::string& reason) {
    prompts_.Error(parent, ShellCaption(), QStringLiteral("%1 を開けません。\n%2").arg(shown, QString::fromStdString(reason)));
    return false;
  }

  bool Launched(QWidget* parent, const QString& shown, const std::string& error) {
    if (error.empty()) return true;
    return CannotOpen(parent, shown, error);
  }

  Prompts& prompts_;
  DesktopShellFallbacks fallbacks_;
  DesktopShellOptions options_;
  std::unique_ptr<QObject> context_;  // parent of pending bus calls and chooser hooks
  QString busName_;
};

}  // namespace

std::unique_ptr<DesktopShell> MakeFreedesktopShell(Prompts& prompts, DesktopShellFallbacks fallbacks,
                                                   DesktopShellOptions options) {
  return std::make_unique<LinuxDesktopShell>(prompts, std::move(fallbacks), options);
}

}  // namespace yuragi
