// gtest main for window tests: one application object for the process, a
// Japanese locale so texts are predictable, and a private runtime folder
// and temporary folder, so no test sees another program's files.
#include <gtest/gtest.h>

#include <QLocale>
#include <QTemporaryDir>
#include <cstdlib>

#include "app/application.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QTemporaryDir runtime;
  QTemporaryDir temp;
  if (!runtime.isValid() || !temp.isValid()) return 2;
  setenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit().constData(), 1);
  setenv("TMPDIR", temp.path().toLocal8Bit().constData(), 1);
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
  yuragi::Application app(argc, argv);
  return RUN_ALL_TESTS();
}
