// The help menu: the manual, the About box and the homepage.
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include "app/globals.h"
#include "app/main_window.h"
#include "app/product_info.h"
#include "desktop/about_box.h"
#include "desktop/help_file.h"
#include "platform/desktop_shell.h"
#include "platform/file_icons.h"
#include "platform/prompts.h"
#include "platform/paths.h"

using namespace yuragi;

void TForm1::H1Click() {
  const QByteArray executable = ExecutablePath();
  const QByteArray help = FindHelpFile(executable);
  if (help.isEmpty()) {
    prompts_.Error(this, ApplicationTitle,
                   QStringLiteral("ヘルプファイル %1 が見つかりません。").arg(QFile::decodeName(HelpFileBeside(executable))));
    return;
  }
  shell_->OpenPath(this, help);
}

void TForm1::Site1Click() { shell_->OpenUrl(this, HomePageUrl); }

void TForm1::About1Click() {
  // The box is gone before the browser is asked for the homepage.
  if (ShowAboutBox() == AboutHomePage) Site1Click();
}

int TForm1::ShowAboutBox() {
  AboutBox box(this, AboutText(QFile::decodeName(ExecutablePath())), ProgramIcon(),
               [this](QWidget* dialog, QPainter& painter) { PaintAboutBackground(dialog, painter); });
  box.adjustSize();
  const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  const QRect desktop = screen ? screen->availableGeometry() : QRect(frameGeometry());
  box.move(AboutBoxPosition(frameGeometry(), box.frameGeometry().size(), desktop));
  return box.exec();
}

void TForm1::PaintAboutBackground(QWidget* dialog, QPainter& painter) {
  painter.fillRect(dialog->rect(), AboutGradient(DrawAboutColour(), dialog->size()));
}
