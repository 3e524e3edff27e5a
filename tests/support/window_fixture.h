#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QTest>
#include <QTemporaryDir>
#include <memory>

#include "app/globals.h"
#include "app/main_window.h"
#include "scripted_prompts.h"

namespace yuragi::testing {

// A fresh main window per test, with the shared texts reset.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ApplicationTitle = ProductName;
    TargetPath.clear();
    TempDownloadPath.clear();
    TempImagePath.clear();
    CancelRequested = false;
    ASSERT_TRUE(dir.isValid());
    // Each test reads and writes its own settings, never the build folder's.
    SettingsFile = QFile::encodeName(Path("settings.ini"));
  }

  TForm1& Open(QStringList arguments = {}) {
    QList<QByteArray> bytes;
    for (const QString& argument : arguments) bytes << argument.toUtf8();
    form = std::make_unique<TForm1>(prompts, std::move(bytes));
    form->resize(1000, 700);
    Settle();
    return *form;
  }

  // Handles what is already queued (layout, resize, show), without waiting.
  static void Settle() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
  }

  // Processes events until the condition holds; false only after a limit
  // generous enough for a loaded machine.
  template <typename Condition>
  static bool WaitFor(Condition condition, int limitMs = 30000) {
    return QTest::qWaitFor(condition, limitMs);
  }

  QString Path(const QString& name) const { return dir.path() + QLatin1Char('/') + name; }

  QTemporaryDir dir;
  ScriptedPrompts prompts;
  std::unique_ptr<TForm1> form;
};

}  // namespace yuragi::testing
