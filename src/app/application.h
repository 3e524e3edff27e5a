#pragma once

#include <QApplication>

namespace yuragi {

class Prompts;

// The toolkit's application with the top-level error report: a failure that
// escapes an event handler is shown in an error box with the application
// title, and the program goes on.
class Application : public QApplication {
 public:
  Application(int& argc, char** argv);
  void SetPrompts(Prompts* prompts) { prompts_ = prompts; }
  bool notify(QObject* receiver, QEvent* event) override;

 private:
  void Report(const QString& text);
  Prompts* prompts_ = nullptr;
};

}  // namespace yuragi
