#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
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
    form = std::make_unique<TForm1>(prompts, std::move(arguments));
    form->resize(1000, 700);
    Settle();
    return *form;
  }

  static void Settle(int ms = 20) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }

  QString Path(const QString& name) const { return dir.path() + QLatin1Char('/') + name; }

  QTemporaryDir dir;
  ScriptedPrompts prompts;
  std::unique_ptr<TForm1> form;
};

}  // namespace yuragi::testing
