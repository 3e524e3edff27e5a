// The desktop shell on freedesktop services.
#include <gio/gio.h>

#include <QFile>

#include "platform/desktop_shell.h"
#include "platform/prompts.h"

namespace yuragi {
namespace {

// Owns a GError.
struct GErrorOwner {
  GError* error = nullptr;
  ~GErrorOwner() { g_clear_error(&error); }
  QString Text() const { return error ? QString::fromUtf8(error->message) : QString(); }
};

struct GFreeDeleter {
  void operator()(gchar* text) const { g_free(text); }
};
using GText = std::unique_ptr<gchar, GFreeDeleter>;

QString ShellCaption() { return QStringLiteral("ゆらぎ丸"); }

class LinuxDesktopShell : public DesktopShell {
 public:
  explicit LinuxDesktopShell(Prompts& prompts) : prompts_(prompts) {}

  bool OpenPath(QWidget* parent, const QByteArray& path) override {
    const QString shown = QFile::decodeName(path);
    if (!g_file_test(path.constData(), G_FILE_TEST_EXISTS)) {
      prompts_.Error(parent, ShellCaption(), QStringLiteral("%1 が見つかりません。").arg(shown));
      return false;
    }
    GErrorOwner failure;
    GText uri(g_filename_to_uri(path.constData(), nullptr, &failure.error));
    if (!uri) {
      prompts_.Error(parent, ShellCaption(), QStringLiteral("%1 を開けません。\n%2").arg(shown, failure.Text()));
      return false;
    }
    return Launch(parent, uri.get(), shown);
  }

  bool OpenUrl(QWidget* parent, const QString& url) override {
    return Launch(parent, url.toUtf8().constData(), url);
  }

  void OpenWith(QWidget* parent, const QByteArray& path) override { NotYet(parent, path); }
  bool OpenInTextEditor(QWidget* parent, const QByteArray& path) override {
    NotYet(parent, path);
    return false;
  }
  void ShowProperties(QWidget* parent, const QByteArray& path) override { NotYet(parent, path); }
  bool MoveToTrash(QWidget* parent, const QByteArray& path) override {
    NotYet(parent, path);
    return false;
  }

 private:
  bool Launch(QWidget* parent, const char* uri, const QString& shown) {
    GErrorOwner failure;
    if (g_app_info_launch_default_for_uri(uri, nullptr, &failure.error)) return true;
    prompts_.Error(parent, ShellCaption(), QStringLiteral("%1 を開けません。\n%2").arg(shown, failure.Text()));
    return false;
  }

  void NotYet(QWidget* parent, const QByteArray& path) {
    prompts_.Error(parent, ShellCaption(),
                   QStringLiteral("%1: この操作はまだ使えません。").arg(QFile::decodeName(path)));
  }

  Prompts& prompts_;
};

}  // namespace

std::unique_ptr<DesktopShell> MakeDesktopShell(Prompts& prompts) {
  return std::make_unique<LinuxDesktopShell>(prompts);
}

}  // namespace yuragi
