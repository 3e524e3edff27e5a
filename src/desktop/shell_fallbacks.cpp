#include "desktop/shell_fallbacks.h"

#include <QApplication>
#include <QIcon>
#include <QStyle>
#include <vector>

#include "desktop/file_properties.h"
#include "platform/desktop_apps.h"
#include "platform/paths.h"
#include "platform/prompts.h"
#include "widgets/open_with_chooser.h"
#include "widgets/properties_dialog.h"

namespace yuragi {
namespace {

QIcon AppIcon(const std::string& icon) {
  const QString text = QString::fromStdString(icon);
  if (text.startsWith(QLatin1Char('/'))) return QIcon(text);
  // Every row gets an icon, so the names line up.
  const QIcon fallback = QIcon::fromTheme(QStringLiteral("application-x-executable"),
                                          QApplication::style()->standardIcon(QStyle::SP_FileIcon));
  return text.isEmpty() ? fallback : QIcon::fromTheme(text, fallback);
}

// shellAlive expires with the shell, whose prompts the chooser may outlive
// (it belongs to its parent window).
void ChooseApp(Prompts& prompts, std::weak_ptr<const int> shellAlive, QWidget* parent, const QByteArray& path,
               const std::function<void(const ChosenApp&)>& chosen) {
  std::vector<OpenWithChooser::Entry> entries;
  for (const DesktopApp& app : AppsForType(ContentTypeOf(path.toStdString()))) {
    entries.push_back({QString::fromStdString(app.id), QString::fromStdString(app.name), AppIcon(app.icon)});
  }
  auto browse = [&prompts, shellAlive, parent] {
    if (shellAlive.expired()) return QString();
    FileDialogSpec spec;
    spec.filter = QStringLiteral("すべてのファイル(*)|*");
    spec.initialFolder = QStringLiteral("/usr/bin");
    return prompts.OpenFile(parent, spec);
  };
  auto* chooser = new OpenWithChooser(parent, DisplayPath(path), entries, browse);
  QObject::connect(chooser, &OpenWithChooser::AppChosen, chooser,
                   [chosen](const QString& id) { chosen({id, QString()}); });
  QObject::connect(chooser, &OpenWithChooser::ProgramChosen, chooser,
                   [chosen](const QString& program) { chosen({QString(), program}); });
  chooser->open();
}

void ShowOwnProperties(Prompts& prompts, QWidget* parent, const QByteArray& path) {
  QString failure;
  const auto properties = ReadFileProperties(path, &failure);
  if (!properties) {
    prompts.Error(parent, QStringLiteral("ゆらぎ丸"),
                  QStringLiteral("%1 のプロパティを読めません。\n%2").arg(DisplayPath(path), failure));
    return;
  }
  ShowPropertiesDialog(parent, *properties);
}

}  // namespace

std::unique_ptr<DesktopShell> MakeDesktopShell(Prompts& prompts, DesktopShellOptions options) {
  DesktopShellFallbacks fallbacks;
  // Held by the shell's fallbacks only, so it dies with the shell.
  auto alive = std::make_shared<const int>(0);
  fallbacks.chooseApp = [&prompts, alive](QWidget* parent, const QByteArray& path,
                                          std::function<void(const ChosenApp&)> chosen) {
    ChooseApp(prompts, alive, parent, path, chosen);
  };
  fallbacks.showProperties = [&prompts](QWidget* parent, const QByteArray& path) {
    ShowOwnProperties(prompts, parent, path);
  };
  return MakeFreedesktopShell(prompts, std::move(fallbacks), options);
}

}  // namespace yuragi
