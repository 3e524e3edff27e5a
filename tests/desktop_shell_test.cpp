// The desktop-shell layer against real GIO applications, a real trash and
// stand-in desktop services on a private session bus.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <QWidget>

#include "desktop_world.h"
#include "jpeg_writer.h"
#include "desktop/shell_fallbacks.h"
#include "platform/paths.h"
#include "scripted_prompts.h"
#include "widgets/open_with_chooser.h"

using namespace yuragi;
using namespace yuragi::testing;

namespace {

const auto* const kWorld = ::testing::AddGlobalTestEnvironment(new DesktopWorld);

// File names a shell must pass on unchanged, the last one not UTF-8.
std::vector<QByteArray> AwkwardNames() {
  return {"with blank.jpg", "quote'\"s.jpg", "100%25 %.jpg", "#hash?x.jpg",
          QStringLiteral("日本語の画像.jpg").toUtf8(), QByteArray("\x89\xE6\x91\x9C raw.jpg")};
}

template <typename T>
T* FindWindow(const QString& name) {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == name && widget->isVisible()) return qobject_cast<T*>(widget);
  }
  return nullptr;
}

class DesktopShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    world.ForgetLaunches();
    folder = QFile::encodeName(world.Scratch()) + "/" +
             QByteArray(::testing::UnitTest::GetInstance()->current_test_info()->name());
    ASSERT_TRUE(QDir().mkpath(QFile::decodeName(folder)));
    window.resize(300, 200);
  }
  void TearDown() override {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (widget != &window && (widget->objectName() == "OpenWithChooser" || widget->objectName() == "PropertiesDialog")) {
        delete widget;
      }
    }
  }

  QByteArray MakeJpeg(const QByteArray& name, bool truncated = false) {
    const QByteArray path = folder + "/" + name;
    auto bytes = EncodeJpeg({.width = 40, .height = 30});
    if (truncated) bytes = Truncated(bytes, bytes.size() * 2 / 3);
    WriteFile(path.toStdString(), bytes);
    return path;
  }

  std::unique_ptr<DesktopShell> Shell(int timeoutMs = 10000) {
    return MakeDesktopShell(prompts, {.busTimeoutMs = timeoutMs});
  }

  DesktopWorld& world = DesktopWorld::Get();
  ScriptedPrompts prompts;
  QWidget window;
  QByteArray folder;
};

TEST_F(DesktopShellTest, OpenEditorAndFolderGetTheExactBytes) {
  auto shell = Shell();
  for (const QByteArray& name : AwkwardNames()) {
    SCOPED_TRACE(name.toStdString());
    const QByteArray file = MakeJpeg(name);
    ASSERT_TRUE(shell->OpenPath(&window, file));
    auto viewer = world.WaitForLaunch("viewer");
    ASSERT_TRUE(viewer);
    EXPECT_EQ(*viewer, std::vector<QByteArray>{file});

    ASSERT_TRUE(shell->OpenInTextEditor(&window, file));
    auto editor = world.WaitForLaunch("editor");
    ASSERT_TRUE(editor);
    EXPECT_EQ(*editor, std::vector<QByteArray>{file});

    const QByteArray sub = folder + "/" + name + " folder";
    ASSERT_EQ(::mkdir(sub.constData(), 0700), 0);
    ASSERT_TRUE(shell->OpenPath(&window, sub + "/"));
    auto files = world.WaitForLaunch("files");
    ASSERT_TRUE(files);
    EXPECT_EQ(*files, std::vector<QByteArray>{sub});
    world.ForgetLaunches();
  }
  EXPECT_TRUE(prompts.shown.empty()) << prompts.Texts().join(" | ").toStdString();
}

// A launch leaves GIO connected to the session bus. The bus going away (a
// session restarting it) must not end the program, as GIO's default would.
TEST_F(DesktopShellTest, ABusThatGoesAwayDoesNotEndTheProgram) {
  auto shell = Shell();
  GDBusConnection* shared = nullptr;  // GIO's own session connection, kept alive here
  {
    PrivateSessionBus bus;
    ASSERT_TRUE(bus.Running());
    shared = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    ASSERT_NE(shared, nullptr);
    ASSERT_TRUE(shell->OpenPath(&window, MakeJpeg("bus goes.jpg")));
    ASSERT_TRUE(world.WaitForLaunch("viewer"));
  }
  EXPECT_FALSE(g_dbus_connection_get_exit_on_close(shared));
  // With GIO's default the process would get SIGTERM here and the test die.
  EXPECT_TRUE(WaitUntil([&] { return g_dbus_connection_is_closed(shared); }));
  QCoreApplication::processEvents();
  g_object_unref(shared);
}

TEST_F(DesktopShellTest, FailuresAreShownNotSwallowed) {
  auto shell = Shell();
  const QByteArray missing = folder + "/typed but missing.jpg";
  EXPECT_FALSE(shell->OpenPath(&window, missing));
  EXPECT_FALSE(shell->OpenInTextEditor(&window, missing));
  shell->ShowProperties(&window, missing);
  shell->OpenWith(&window, missing);
  ASSERT_EQ(prompts.shown.size(), 4u);
  for (const auto& box : prompts.shown) {
    EXPECT_EQ(box.kind, "error");
    EXPECT_TRUE(box.text.contains(QStringLiteral("typed but missing.jpg が見つかりません。"))) << box.text.toStdString();
  }
  EXPECT_EQ(FindWindow<QDialog>("PropertiesDialog"), nullptr);
  EXPECT_EQ(FindWindow<QDialog>("OpenWithChooser"), nullptr);

  // No application is registered for arbitrary binary data.
  prompts.shown.clear();
  const QByteArray blob = folder + "/blob.bin";
  WriteFile(blob.toStdString(), std::string("\x00\x01\x02\x03\xFE\xFF", 6));
  EXPECT_FALSE(shell->OpenPath(&window, blob));
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].kind, "error");
  EXPECT_TRUE(prompts.shown[0].text.startsWith(QStringLiteral("%1 を開けません。").arg(DisplayPath(blob))));
  EXPECT_FALSE(world.Launched("viewer"));
}

TEST_F(DesktopShellTest, PropertiesGoToTheFileManagerOnTheBus) {
  PrivateSessionBus bus;
  ASSERT_TRUE(bus.Running());
  StandInFileManager manager;
  StandInService service(bus, FileManagerService(), FileManagerPath(), &manager);
  ASSERT_TRUE(service.Registered());
  auto shell = Shell();
  const std::vector<QByteArray> names = AwkwardNames();
  for (size_t i = 0; i < names.size(); ++i) {
    const QByteArray file = MakeJpeg(names[i]);
    shell->ShowProperties(&window, file);
    ASSERT_TRUE(WaitUntil([&] { return manager.calls.size() == i + 1; }));
    ASSERT_EQ(manager.calls[i].size(), 1);
    const QString uri = manager.calls[i][0];
    // Plain ASCII, every awkward byte escaped, and the exact bytes back.
    EXPECT_TRUE(uri.startsWith(QStringLiteral("file:///"))) << uri.toStdString();
    for (QChar c : uri) EXPECT_TRUE(c.unicode() > 32 && c.unicode() < 127 && c != '#' && c != '?') << uri.toStdString();
    EXPECT_EQ(QByteArray::fromPercentEncoding(uri.mid(7).toLatin1()), file);
  }
  EXPECT_EQ(FindWindow<QDialog>("PropertiesDialog"), nullptr);
  EXPECT_TRUE(prompts.shown.empty());
}

QString Field(QDialog* dialog, const char* name) {
  auto* label = dialog->findChild<QLabel*>(QLatin1String(name));
  return label ? label->text() : QStringLiteral("<none>");
}

TEST_F(DesktopShellTest, PropertiesSheetOfOurOwnWithoutFileManager) {
  PrivateSessionBus bus;  // a bus, but no file manager on it
  ASSERT_TRUE(bus.Running());
  auto shell = Shell();
  const QByteArray cut = MakeJpeg(QByteArray("\x89\xE6 cut.jpg"), true);
  ASSERT_EQ(::chmod(cut.constData(), 0640), 0);
  shell->ShowProperties(&window, cut);
  QDialog* sheet = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (sheet = FindWindow<QDialog>("PropertiesDialog")) != nullptr; }));
  EXPECT_FALSE(sheet->isModal());
  EXPECT_EQ(Field(sheet, "name"), DisplayPath(cut.mid(cut.lastIndexOf('/') + 1)));
  EXPECT_EQ(Field(sheet, "folder"), DisplayPath(folder) + "/");
  EXPECT_TRUE(Field(sheet, "type").contains("image/jpeg")) << Field(sheet, "type").toStdString();
  struct stat status {};
  ASSERT_EQ(::stat(cut.constData(), &status), 0);
  EXPECT_EQ(Field(sheet, "size"), QLocale().toString(qint64(status.st_size)) + QStringLiteral("バイト"));
  EXPECT_EQ(Field(sheet, "pixels"), QStringLiteral("40 × 30 ピクセル"));
  EXPECT_TRUE(Field(sheet, "endMarker").startsWith(QStringLiteral("なし")));
  EXPECT_EQ(Field(sheet, "permissions"), QStringLiteral("rw-r----- (640)"));
  EXPECT_FALSE(Field(sheet, "modified").isEmpty());
  EXPECT_FALSE(Field(sheet, "owner").isEmpty());
  delete sheet;

  // A whole JPEG ends in its marker; a text file has no picture rows.
  const QByteArray whole = MakeJpeg("whole.jpg");
  shell->ShowProperties(&window, whole);
  ASSERT_TRUE(WaitUntil([&] { return (sheet = FindWindow<QDialog>("PropertiesDialog")) != nullptr; }));
  EXPECT_EQ(Field(sheet, "endMarker"), QStringLiteral("あり"));
  delete sheet;
  const QByteArray text = folder + "/note.txt";
  WriteFile(text.toStdString(), std::string("hello\n"));
  shell->ShowProperties(&window, text);
  ASSERT_TRUE(WaitUntil([&] { return (sheet = FindWindow<QDialog>("PropertiesDialog")) != nullptr; }));
  EXPECT_EQ(Field(sheet, "pixels"), QStringLiteral("<none>"));
  EXPECT_TRUE(Field(sheet, "type").contains("text/plain"));
  delete sheet;
  EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(DesktopShellTest, OpenWithAsksThePortal) {
  PrivateSessionBus bus;
  ASSERT_TRUE(bus.Running());
  StandInPortal portal;
  StandInService service(bus, PortalService(), PortalPath(), &portal);
  ASSERT_TRUE(service.Registered());
  auto shell = Shell();
  const std::vector<QByteArray> names = AwkwardNames();
  for (size_t i = 0; i < names.size(); ++i) {
    const QByteArray file = MakeJpeg(names[i]);
    shell->OpenWith(&window, file);
    ASSERT_TRUE(WaitUntil([&] { return portal.calls.size() == i + 1; }));
    EXPECT_TRUE(portal.calls[i].ask);
    EXPECT_EQ(portal.calls[i].path, file);
  }
  EXPECT_EQ(FindWindow<QDialog>("OpenWithChooser"), nullptr);
  EXPECT_TRUE(prompts.shown.empty());
}

OpenWithChooser* WaitForChooser() {
  OpenWithChooser* chooser = nullptr;
  WaitUntil([&] { return (chooser = FindWindow<OpenWithChooser>("OpenWithChooser")) != nullptr; });
  return chooser;
}

QStringList Names(OpenWithChooser* chooser) {
  QStringList names;
  for (int row = 0; row < chooser->Apps()->count(); ++row) names << chooser->Apps()->item(row)->text();
  return names;
}

TEST_F(DesktopShellTest, OurChooserWithoutPortal) {
  PrivateSessionBus bus;  // nobody offers the portal
  ASSERT_TRUE(bus.Running());
  auto shell = Shell();
  const QByteArray file = MakeJpeg(QByteArray("open with \x89\xE6 #1.jpg"));
  shell->OpenWith(&window, file);
  OpenWithChooser* chooser = WaitForChooser();
  ASSERT_NE(chooser, nullptr);
  const QStringList names = Names(chooser);
  // The default first, then the others registered for JPEG; not the editor.
  EXPECT_EQ(names, (QStringList{QStringLiteral("代役ビューア"), QStringLiteral("代役ペイント")}));
  chooser->Apps()->setCurrentRow(int(names.indexOf(QStringLiteral("代役ペイント"))));
  QMetaObject::invokeMethod(chooser, [chooser] {
    for (QPushButton* button : chooser->findChildren<QPushButton*>()) {
      if (button->text() == "OK") button->click();
    }
  });
  auto painter = world.WaitForLaunch("painter");
  ASSERT_TRUE(painter);
  EXPECT_EQ(*painter, std::vector<QByteArray>{file});
  EXPECT_FALSE(world.Launched("viewer"));

  // Any program by browsing; one that cannot run is reported.
  const QString notProgram = QFile::decodeName(folder) + "/not a program";
  WriteFile(notProgram.toStdString(), std::string("just text\n"));
  ASSERT_TRUE(QFile::setPermissions(notProgram, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
  prompts.files = {notProgram};
  shell->OpenWith(&window, file);
  chooser = WaitForChooser();
  ASSERT_NE(chooser, nullptr);
  chooser->BrowseButton()->click();
  ASSERT_EQ(prompts.shown.size(), 2u) << prompts.Texts().join(" | ").toStdString();
  EXPECT_EQ(prompts.shown[0].kind, "open");
  EXPECT_EQ(prompts.shown[1].kind, "error");
  EXPECT_TRUE(prompts.shown[1].text.startsWith(QStringLiteral("%1 を開けません。").arg(DisplayPath(file))));
  EXPECT_TRUE(WaitUntil([] { return FindWindow<QDialog>("OpenWithChooser") == nullptr; }));

  // A program that runs gets the file.
  const QString program = QFile::decodeName(folder) + "/any program";
  WriteFile(program.toStdString(), "#!/bin/sh\nprintf '%s\\0' \"$@\" > '" + world.Root().toStdString() +
                                       "/out/browsed.part' && mv '" + world.Root().toStdString() +
                                       "/out/browsed.part' '" + world.Root().toStdString() + "/out/browsed'\n");
  ASSERT_TRUE(QFile::setPermissions(program, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
  prompts.files = {program};
  shell->OpenWith(&window, file);
  chooser = WaitForChooser();
  ASSERT_NE(chooser, nullptr);
  chooser->BrowseButton()->click();
  auto browsed = world.WaitForLaunch("browsed");
  ASSERT_TRUE(browsed);
  EXPECT_EQ(*browsed, std::vector<QByteArray>{file});
  EXPECT_EQ(prompts.shown.size(), 3u);
}

TEST_F(DesktopShellTest, SilentPortalFallsBackToOurChooser) {
  PrivateSessionBus bus;
  ASSERT_TRUE(bus.Running());
  SilentPortal portal;
  StandInService service(bus, PortalService(), PortalPath(), &portal);
  ASSERT_TRUE(service.Registered());
  auto shell = Shell(300);
  shell->OpenWith(&window, MakeJpeg("silent.jpg"));
  // The window keeps running events while the portal says nothing.
  OpenWithChooser* chooser = WaitForChooser();
  ASSERT_NE(chooser, nullptr);
  EXPECT_EQ(portal.calls, 1);
}

TEST_F(DesktopShellTest, TrashAsksAndMovesWithTrashInfo) {
  auto shell = Shell();
  const QByteArray name = QByteArray("trash me \x89\xE6 #1.jpg");
  const QByteArray file = MakeJpeg(name);
  prompts.answers = {false};
  EXPECT_FALSE(shell->MoveToTrash(&window, file));
  EXPECT_TRUE(QFile::exists(QFile::decodeName(file)) || ::access(file.constData(), F_OK) == 0);
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].kind, "question");
  EXPECT_EQ(prompts.shown[0].text,
            QStringLiteral("このファイルをごみ箱に移動しますか？\n\n") + DisplayPath(name));

  prompts.answers = {true};
  EXPECT_TRUE(shell->MoveToTrash(&window, file));
  EXPECT_NE(::access(file.constData(), F_OK), 0);
  const QByteArray trashFiles = QFile::encodeName(world.TrashFiles());
  const QByteArray trashInfo = QFile::encodeName(world.TrashInfo());
  EXPECT_EQ(::access((trashFiles + "/" + name).constData(), F_OK), 0);
  const auto infoBytes = ReadFile((trashInfo + "/" + name + ".trashinfo").toStdString());
  const QByteArray infoText(reinterpret_cast<const char*>(infoBytes.data()), qsizetype(infoBytes.size()));
  EXPECT_TRUE(infoText.contains("[Trash Info]"));
  EXPECT_TRUE(infoText.contains("Path=")) << infoText.toStdString();
  EXPECT_EQ(prompts.shown.size(), 2u);
}

TEST_F(DesktopShellTest, TrashThatFailsKeepsTheFileAndSaysWhy) {
  auto shell = Shell();
  const QByteArray file = MakeJpeg("cannot trash.jpg");
  // A file where the trash folder should be: no trash can be made.
  const QString trash = world.DataHome() + "/Trash";
  const QString moved = world.DataHome() + "/Trash.away";
  if (QFileInfo::exists(trash)) {
    ASSERT_TRUE(QDir().rename(trash, moved));
  }
  WriteFile(trash.toStdString(), std::string("not a folder"));
  prompts.answers = {true};
  const bool gone = shell->MoveToTrash(&window, file);
  QFile::remove(trash);
  if (QFileInfo::exists(moved)) QDir().rename(moved, trash);
  EXPECT_FALSE(gone);
  EXPECT_EQ(::access(file.constData(), F_OK), 0);
  ASSERT_EQ(prompts.shown.size(), 2u);
  EXPECT_EQ(prompts.shown[1].kind, "error");
  EXPECT_TRUE(prompts.shown[1].text.startsWith(QStringLiteral("cannot trash.jpg をごみ箱に移動できません。\n")));
  EXPECT_GT(prompts.shown[1].text.size(), QStringLiteral("cannot trash.jpg をごみ箱に移動できません。\n").size());

  // A read-only folder keeps its file (root may write anywhere).
  if (::geteuid() != 0) {
    const QByteArray locked = folder + "/locked";
    ASSERT_EQ(::mkdir(locked.constData(), 0700), 0);
    const QByteArray inside = locked + "/kept.jpg";
    WriteFile(inside.toStdString(), EncodeJpeg({}));
    ASSERT_EQ(::chmod(locked.constData(), 0500), 0);
    prompts.answers = {true};
    EXPECT_FALSE(shell->MoveToTrash(&window, inside));
    ::chmod(locked.constData(), 0700);
    EXPECT_EQ(::access(inside.constData(), F_OK), 0);
    EXPECT_EQ(prompts.shown.back().kind, "error");
  }
}

}  // namespace
