#include <QMessageBox>
#include <QScreen>
#include <cstring>

#include "app/application.h"
#include "app/build_info.h"
#include "app/command_line.h"
#include "app/globals.h"
#include "app/instance_name.h"
#include "app/main_window.h"
#include "app/session_end.h"
#include "platform/file_icons.h"
#include "platform/instance_activation.h"
#include "platform/prompts.h"
#include "platform/single_instance.h"
#include "platform/toolkit_translations.h"
#include "widgets/window_font.h"

using namespace yuragi;

int main(int argc, char** argv) {
  if (AnswerInformationOption(argc, argv)) return 0;
  Application app(argc, argv);
  // Lets a Wayland compositor match the window to the installed entry and its icon.
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopId));
  // One language beside the window's own texts, whatever the system's.
  const auto translations = UseJapaneseThroughout();
  app.setWindowIcon(ProgramIcon());
  app.setFont(WindowFont());
  const QString executable = QCoreApplication::applicationFilePath();
  const QString instanceName = InstanceName(executable);

  if (IsAlreadyRunning(instanceName)) {
    // No title has been set yet: the box shows the toolkit's default one.
    QMessageBox box(QMessageBox::NoIcon, DefaultApplicationTitle(executable),
                    QStringLiteral("既に起動されています。"), QMessageBox::Ok);
    box.adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      box.move(screen->geometry().center() - box.rect().center());
    }
    box.exec();
    ActivateRunningInstance(instanceName);
    return 0;
  }

  ActivationServer activation(instanceName);
  ApplicationTitle = ProductName;
  const std::unique_ptr<Prompts> prompts = MakeDesktopPrompts();
  app.SetPrompts(prompts.get());
  // The bytes of argv: a file name need not be text.
  QList<QByteArray> arguments;
  const int first = argc > 1 && std::strcmp(argv[1], "--") == 0 ? 2 : 1;
  for (int i = first; i < argc; ++i) arguments << QByteArray(argv[i]);
  TForm1 form(*prompts, arguments);
  activation.SetWindow(&form);
  const SessionEnd sessionEnd(form);
  if (!sessionEnd.Failure().isEmpty()) {
    // The window works without it; only a signal would end it the hard way.
    qWarning("yuragimaru: termination signals are not handled: %s", qUtf8Printable(sessionEnd.Failure()));
  }
  const int code = app.exec();
  app.SetPrompts(nullptr);
  return code;
}
