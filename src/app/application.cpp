#include "app/application.h"

#include <exception>

#include "app/globals.h"
#include "platform/prompts.h"

namespace yuragi {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& failure) {
    Report(QString::fromUtf8(failure.what()));
  } catch (...) {
    Report(QStringLiteral("予期しないエラーが発生しました。"));
  }
  return false;
}

void Application::Report(const QString& text) {
  if (prompts_) prompts_->Error(activeWindow(), ApplicationTitle, text);
}

}  // namespace yuragi
