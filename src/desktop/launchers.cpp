// Registering the program as a launcher on the desktop, at log-in and in
// the applications menu.
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include "app/globals.h"
#include "app/main_window.h"
#include "desktop/help_file.h"
#include "desktop/launcher_entry.h"
#include "platform/prompts.h"
#include "platform/paths.h"

using namespace yuragi;

namespace {

constexpr char kIconName[] = "yuragimaru";

// A launcher names its icon; a program that was never installed puts its
// own icon into the user's icon theme so that the name finds one.
QString LauncherIcon() {
  const QString scalable = QStringLiteral("icons/hicolor/scalable/apps/%1.svg").arg(QLatin1String(kIconName));
  if (!QStandardPaths::locate(QStandardPaths::GenericDataLocation, scalable).isEmpty()) {
    return QLatin1String(kIconName);
  }
  const QString userIcons =
      QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/icons/hicolor/");
  for (const char* size : {"16x16", "32x32", "48x48", "64x64", "128x128", "256x256"}) {
    const QString folder = userIcons + QLatin1String(size) + QStringLiteral("/apps");
    const QString target = folder + QLatin1Char('/') + QLatin1String(kIconName) + QStringLiteral(".png");
    if (QFile::exists(target) || !QDir().mkpath(folder)) continue;
    QFile::copy(QStringLiteral(":/icons/%1/yuragimaru.png").arg(QLatin1String(size)), target);
  }
  const QString folder = userIcons + QStringLiteral("scalable/apps");
  const QString target = folder + QLatin1Char('/') + QLatin1String(kIconName) + QStringLiteral(".svg");
  if (!QFile::exists(target) && QDir().mkpath(folder)) {
    QFile::copy(QStringLiteral(":/icons/yuragimaru.svg"), target);
  }
  return QLatin1String(kIconName);
}

}  // namespace

void TForm1::DeskTop1Click() {
  RegisterLauncher(LauncherPlace::Desktop, QStringLiteral("デスクトップに登録しますか？"));
}

void TForm1::StartUp1Click() {
  RegisterLauncher(LauncherPlace::Autostart, QStringLiteral("スタートアップに登録しますか？"));
}

void TForm1::StartMenu1Click() {
  RegisterLauncher(LauncherPlace::Applications, QStringLiteral("スタートメニューのプログラムに登録しますか？"));
}

void TForm1::RegisterLauncher(LauncherPlace place, const QString& question) {
  // The clear that comes with it would cut into a running transfer's texts.
  if (downloadRunning_) return;
  if (!prompts_.Question(this, ProductName, question)) return;
  ClearBtnClick();
  const QByteArray folder = LauncherFolder(place);
  const QByteArray fileName = QFile::encodeName(ProductName + QStringLiteral(".desktop"));
  QString reason;
  const QByteArray text = LauncherText(ProductName, ExecutablePath(), LauncherIcon(), &reason);
  if (text.isEmpty() || !WriteLauncher(folder, fileName, text, place == LauncherPlace::Desktop, &reason)) {
    prompts_.Error(this, ApplicationTitle, reason);
    return;
  }
  prompts_.Message(this, ApplicationTitle,
                   QFile::decodeName(folder + '/' + fileName) + QStringLiteral(" に登録しました。"));
}
