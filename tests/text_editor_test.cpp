// The text editor when none is registered for text/plain: a common editor
// found on PATH, else an error box.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QWidget>
#include <cstdlib>

#include "desktop_world.h"
#include "jpeg_writer.h"
#include "desktop/shell_fallbacks.h"
#include "scripted_prompts.h"

using namespace yuragi;
using namespace yuragi::testing;

namespace {

const auto* const kWorld = ::testing::AddGlobalTestEnvironment(new DesktopWorld(false));

TEST(TextEditorTest, CommonEditorOnPathElseAnError) {
  DesktopWorld& world = DesktopWorld::Get();
  const QString bin = world.Root() + "/editors";
  ASSERT_TRUE(QDir().mkpath(bin));
  const std::string savedPath = getenv("PATH") ? getenv("PATH") : "";
  // A stand-in for the first of the common editors, ahead on PATH.
  WriteFile((bin + "/gnome-text-editor").toStdString(),
            "#!/bin/sh\nexec '" + world.Root().toStdString() + "/bin/record' '" + world.Root().toStdString() +
                "/out/gnome-text-editor' \"$@\"\n");
  ASSERT_TRUE(QFile::setPermissions(bin + "/gnome-text-editor",
                                    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
  const QByteArray file = QFile::encodeName(world.Scratch()) + "/note \x89\xE6 #1.txt";
  WriteFile(file.toStdString(), std::string("text\n"));

  ScriptedPrompts prompts;
  QWidget window;
  auto shell = MakeDesktopShell(prompts);
  setenv("PATH", (bin + ":/usr/bin:/bin").toLocal8Bit().constData(), 1);
  const bool started = shell->OpenInTextEditor(&window, file);
  auto editor = world.WaitForLaunch("gnome-text-editor");

  setenv("PATH", bin.toLocal8Bit().constData(), 1);
  QFile::remove(bin + "/gnome-text-editor");
  const bool startedWithout = shell->OpenInTextEditor(&window, file);
  setenv("PATH", savedPath.c_str(), 1);

  EXPECT_TRUE(started);
  ASSERT_TRUE(editor);
  EXPECT_EQ(*editor, std::vector<QByteArray>{file});
  EXPECT_FALSE(startedWithout);
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].kind, "error");
  EXPECT_TRUE(prompts.shown[0].text.endsWith(QStringLiteral("テキストエディタが見つかりません。")));
}

}  // namespace
