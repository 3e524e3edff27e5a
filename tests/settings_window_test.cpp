// The settings file as the window reads and writes it. Runs on an offscreen
// screen of 1920 x 1080 (see CMakeLists.txt).
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <cstdlib>

#include "detect/detection_list_view.h"
#include "jpeg_writer.h"
#include "formats/ini_file.h"
#include "platform/settings_location.h"
#include "widgets/folder_tree.h"
#include "window_fixture.h"
#include "platform/paths.h"

using namespace yuragi;
using namespace yuragi::testing;

namespace {

QByteArray Bytes(const QByteArray& path) {
  QFile file(QFile::decodeName(path));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void Put(const QByteArray& path, const QByteArray& bytes) {
  QFile file(QFile::decodeName(path));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(bytes);
}

QByteArray ProgramSection() {
  const QByteArray exe = ExecutablePath();
  const qsizetype slash = exe.lastIndexOf('/');
  return "[PROGRAM]\r\nName=" + exe.mid(slash + 1) + "\r\nPath=" + exe.left(slash + 1) + "\r\nVersion=V1.7\r\n\r\n";
}

// The keys of every section, in file order: "[SECTION]" then its keys.
QStringList Layout(const QByteArray& text) {
  QStringList keys;
  for (const QByteArray& line : text.split('\n')) {
    if (line.startsWith('[')) keys << QString::fromUtf8(line.trimmed());
    else if (line.contains('=')) keys << QString::fromUtf8(line.left(line.indexOf('=')));
  }
  return keys;
}

class SettingsWindow : public WindowTest {
 protected:
  // Opens a window without the fixture's resize: the start placement counts.
  TForm1& Start() {
    form = std::make_unique<TForm1>(prompts, QList<QByteArray>{});
    Settle();
    return *form;
  }
  // Closes the window the way the title bar does.
  bool Close() {
    const bool closed = form->close();
    Settle();
    return closed;
  }
  void ShowDetectionPage() {
    form->PageControl1->setCurrentIndex(1);
    Settle();
  }
  const QByteArray& File() const { return SettingsFile; }
};

}  // namespace

TEST_F(SettingsWindow, FirstStartWithoutAFile) {
  ASSERT_FALSE(QFile::exists(QFile::decodeName(File())));
  TForm1& f = Start();
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  ASSERT_EQ(screen.size(), QSize(1920, 1080));
  EXPECT_EQ(f.geometry(), QRect(480, 270, 960, 540));
  EXPECT_EQ(f.windowState(), Qt::WindowNoState);
  EXPECT_FALSE(f.CloseQuery1->isChecked());
  EXPECT_FALSE(f.SaveStatus1->isChecked());
  EXPECT_EQ(f.ListView1->ViewStyle(), 0);
  EXPECT_TRUE(f.Popup1vsIcon->isChecked());
  const QByteArray exe = ExecutablePath();
  EXPECT_EQ(InitialFolder, QFile::decodeName(exe.left(exe.lastIndexOf('/') + 1)));
  ShowDetectionPage();
  EXPECT_EQ(f.Panel4->width(), 960 / 3);
  // Nothing is written before the exit; then only the program's own section.
  EXPECT_FALSE(QFile::exists(QFile::decodeName(File())));
  EXPECT_TRUE(Close());
  EXPECT_TRUE(prompts.shown.empty());
  EXPECT_EQ(Bytes(File()), ProgramSection());
}

TEST_F(SettingsWindow, ASavedMaximisedWindowStartsMaximisedAndRestoresToItsRectangle) {
  Put(File(),
      "[POSITION]\r\nFlags=2\r\nShowCmd=3\r\nMaxX=-5\r\nMaxY=7\r\nLeft=100\r\nTop=80\r\nRight=900\r\nBottom=680\r\n"
      "State=2\r\n\r\n[OPTION]\r\nSaveStatus=1\r\n\r\n");
  TForm1& f = Start();
  EXPECT_TRUE(f.isMaximized());
  EXPECT_EQ(f.normalGeometry(), QRect(100, 80, 800, 600));
  // Closed while maximised: the normal rectangle is kept, not the maximised one.
  EXPECT_TRUE(Close());
  const IniFile saved = IniFile::Load(File());
  EXPECT_EQ(saved.ReadInteger("POSITION", "Left", 0), 100);
  EXPECT_EQ(saved.ReadInteger("POSITION", "Top", 0), 80);
  EXPECT_EQ(saved.ReadInteger("POSITION", "Right", 0), 900);
  EXPECT_EQ(saved.ReadInteger("POSITION", "Bottom", 0), 680);
  EXPECT_EQ(saved.ReadInteger("POSITION", "State", 0), 2);
  EXPECT_EQ(saved.ReadInteger("POSITION", "ShowCmd", 0), 3);
  // Meaningless here, but kept as they were.
  EXPECT_EQ(saved.ReadInteger("POSITION", "Flags", 0), 2);
  EXPECT_EQ(saved.ReadInteger("POSITION", "MaxX", 0), -5);
  EXPECT_EQ(saved.ReadInteger("POSITION", "MaxY", 0), 7);

  TForm1& again = Start();
  EXPECT_TRUE(again.isMaximized());
  again.showNormal();
  WaitFor([&] { return again.geometry() == QRect(100, 80, 800, 600); });
  EXPECT_EQ(again.geometry(), QRect(100, 80, 800, 600));
}

TEST_F(SettingsWindow, EverythingSurvivesACloseAndANewWindow) {
  QDir().mkpath(Path("photos/2007"));
  TForm1& f = Start();
  f.SaveStatus1->trigger();
  f.CloseQuery1->trigger();
  EXPECT_FALSE(f.UseArchive1->isChecked());
  f.UseArchive1->trigger();
  f.setGeometry(150, 120, 700, 500);
  ShowDetectionPage();
  f.Splitter1->setSizes({250, 450});
  Settle();
  const int pane = f.Panel4->width();
  f.Popup1vsReport->trigger();
  ASSERT_TRUE(f.FolderTree->SetPath(QFile::encodeName(Path("photos/2007"))));
  prompts.answers = {true};
  EXPECT_TRUE(Close());
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].kind, "question");
  EXPECT_EQ(prompts.shown[0].text, "終了してもよいですか？");
  EXPECT_EQ(prompts.shown[0].caption, ProductName);
  EXPECT_EQ(Layout(Bytes(File())),
            QStringList({"[PROGRAM]", "Name", "Path", "Version", "[POSITION]", "Flags", "ShowCmd", "MaxX", "MaxY",
                         "Left", "Top", "Right", "Bottom", "State", "[OPTION]", "CloseQuery", "SaveStatus",
                         "UseArchive", "ArchivePrefix", "InitialDir", "FolderPaneWidth", "ScrollPosX", "ViewStyle"}));
  EXPECT_TRUE(Bytes(File()).contains("UseArchive=1\r\nArchivePrefix=https://web.archive.org/web/\r\n"));
  EXPECT_TRUE(Bytes(File()).endsWith("ViewStyle=3\r\n\r\n"));
  EXPECT_TRUE(Bytes(File()).startsWith(ProgramSection()));

  TForm1& next = Start();
  EXPECT_EQ(next.geometry(), QRect(150, 120, 700, 500));
  EXPECT_TRUE(next.CloseQuery1->isChecked());
  EXPECT_TRUE(next.SaveStatus1->isChecked());
  EXPECT_TRUE(next.UseArchive1->isChecked());
  EXPECT_EQ(next.ListView1->ViewStyle(), 3);
  EXPECT_TRUE(next.Popup1vsReport->isChecked());
  EXPECT_EQ(InitialFolder, Path("photos/2007"));
  EXPECT_EQ(next.FolderTree->SelectedPath(), Path("photos/2007"));
  ShowDetectionPage();
  EXPECT_EQ(next.Panel4->width(), pane);
  // The pane's width is kept also when its page was never shown.
  form.reset();
  Start();
  prompts.answers = {true};
  EXPECT_TRUE(Close());
  EXPECT_EQ(IniFile::Load(File()).ReadInteger("OPTION", "FolderPaneWidth", 0), pane);
}

TEST_F(SettingsWindow, AnsweringNoKeepsTheWindowTheFileAndTheTemporaryFiles) {
  const QByteArray before = "[OPTION]\r\nCloseQuery=1\r\n\r\n";
  Put(File(), before);
  TForm1& f = Start();
  ASSERT_TRUE(f.CloseQuery1->isChecked());
  TempDownloadPath = QFile::encodeName(Path("download.tmp"));
  TempImagePath = QFile::encodeName(Path("$VantrelTemp.jpg"));
  Put(QFile::encodeName(TempDownloadPath), "partial");
  Put(QFile::encodeName(TempImagePath), "copy");
  f.SetCaption("pic.jpg - " + ProductName);
  prompts.answers = {false};
  EXPECT_FALSE(Close());
  EXPECT_TRUE(f.isVisible());
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].caption, "pic.jpg - " + ProductName);
  EXPECT_EQ(Bytes(File()), before);
  EXPECT_TRUE(QFile::exists(TempDownloadPath));
  EXPECT_TRUE(QFile::exists(TempImagePath));
  EXPECT_NE(f.FolderTree, nullptr);

  // Yes, through the menu: written, deleted, destroyed, closed.
  prompts.answers = {true};
  f.Exit1->trigger();
  Settle();
  EXPECT_FALSE(f.isVisible());
  EXPECT_EQ(f.FolderTree, nullptr);
  EXPECT_FALSE(QFile::exists(TempDownloadPath));
  EXPECT_FALSE(QFile::exists(TempImagePath));
  EXPECT_TRUE(Bytes(File()).startsWith(ProgramSection()));
}

TEST_F(SettingsWindow, WithoutSaveStatusOnlyTheProgramAndUnknownSectionsStay) {
  Put(File(),
      "; mine\r\n[Mine]\r\nColour=blue\r\n\r\n[POSITION]\r\nLeft=10\r\nTop=10\r\nRight=900\r\nBottom=700\r\n\r\n"
      "[OPTION]\r\nCloseQuery=1\r\nSaveStatus=1\r\nViewStyle=2\r\n\r\n[Other]\r\nx=1\r\n\r\n");
  TForm1& f = Start();
  EXPECT_EQ(f.ListView1->ViewStyle(), 2);
  f.SaveStatus1->trigger();
  prompts.answers = {true};  // the confirmation is still asked at this exit
  EXPECT_TRUE(Close());
  EXPECT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(Bytes(File()), "[Mine]\r\nColour=blue\r\n\r\n[Other]\r\nx=1\r\n\r\n" + ProgramSection());
  // The next start looks like the first.
  prompts.shown.clear();
  TForm1& next = Start();
  EXPECT_EQ(next.geometry(), QRect(480, 270, 960, 540));
  EXPECT_FALSE(next.CloseQuery1->isChecked());
  EXPECT_FALSE(next.SaveStatus1->isChecked());
  EXPECT_EQ(next.ListView1->ViewStyle(), 0);
  EXPECT_TRUE(Close());
  EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(SettingsWindow, TheSessionsEndAsksOnlyWhenItMayAndThenClosesAsExitDoes) {
  Put(File(), "[OPTION]\r\nCloseQuery=1\r\n\r\n");
  TForm1& f = Start();
  TempImagePath = QFile::encodeName(Path("$VantrelTemp.jpg"));
  Put(QFile::encodeName(TempImagePath), "copy");
  // The session lets us ask, and the user says No: the logout is cancelled.
  prompts.answers = {false};
  EXPECT_FALSE(f.EndSession(true));
  EXPECT_EQ(prompts.shown.size(), 1u);
  EXPECT_TRUE(f.isVisible());
  EXPECT_TRUE(QFile::exists(TempImagePath));
  // A signal, or a session that lets no one ask: closed without a question.
  EXPECT_TRUE(f.EndSession(false));
  Settle();
  EXPECT_EQ(prompts.shown.size(), 1u);
  EXPECT_FALSE(f.isVisible());
  EXPECT_FALSE(QFile::exists(TempImagePath));
  EXPECT_TRUE(Bytes(File()).startsWith(ProgramSection()));
}

TEST_F(SettingsWindow, ASettingsFileThatCannotBeWrittenStillLetsTheWindowClose) {
  ASSERT_TRUE(QDir().mkpath(Path("locked")));
  SettingsFile = QFile::encodeName(Path("locked/settings.ini"));
  const QByteArray before = "[OPTION]\r\nSaveStatus=1\r\n\r\n";
  Put(File(), before);
  ASSERT_EQ(chmod(QFile::encodeName(Path("locked")).constData(), 0555), 0);
  if (geteuid() == 0) {
    // Permissions do not stop root: a file in the folder's place does.
    Put(QFile::encodeName(Path("plain")), "file");
    SettingsFile = QFile::encodeName(Path("plain/settings.ini"));
  }
  TForm1& f = Start();
  TempImagePath = QFile::encodeName(Path("$VantrelTemp.jpg"));
  Put(QFile::encodeName(TempImagePath), "copy");
  EXPECT_TRUE(Close());
  EXPECT_FALSE(f.isVisible());
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].kind, "error");
  EXPECT_EQ(prompts.shown[0].caption, ProductName);
  EXPECT_TRUE(prompts.shown[0].text.contains(QFile::decodeName(File()))) << prompts.shown[0].text.toStdString();
  EXPECT_TRUE(prompts.shown[0].text.contains(geteuid() == 0 ? strerror(ENOTDIR) : strerror(EACCES)))
      << prompts.shown[0].text.toStdString();
  EXPECT_FALSE(QFile::exists(TempImagePath));
  EXPECT_EQ(f.FolderTree, nullptr);
  chmod(QFile::encodeName(Path("locked")).constData(), 0755);
  EXPECT_EQ(Bytes(QFile::encodeName(Path("locked/settings.ini"))), before);
}

TEST_F(SettingsWindow, OddValuesGiveSafeWindows) {
  // A view style past the four, a window on a monitor that is gone.
  Put(File(), "[POSITION]\r\nLeft=5000\r\nTop=5000\r\nRight=5800\r\nBottom=5600\r\n\r\n[OPTION]\r\nViewStyle=7\r\n\r\n");
  TForm1& f = Start();
  EXPECT_EQ(f.geometry(), QRect(560, 240, 800, 600));
  EXPECT_EQ(f.ListView1->ViewStyle(), 0);
  EXPECT_TRUE(f.Popup1vsIcon->isChecked());
  form.reset();
  // Only the low byte of the view style counts: 258 is 2. The pane is as
  // narrow as the file says, down to 16 pixels.
  for (const auto& [entry, width] : {std::pair{"$F0", 240}, std::pair{"0x10", 16}, std::pair{"40", 40}}) {
    SCOPED_TRACE(entry);
    form.reset();
    Put(File(), QByteArray("[OPTION]\r\nViewStyle=258\r\nFolderPaneWidth=") + entry + "\r\n\r\n");
    TForm1& g = Start();
    EXPECT_EQ(g.ListView1->ViewStyle(), 2);
    EXPECT_TRUE(g.Popup1vsList->isChecked());
    ShowDetectionPage();
    EXPECT_EQ(g.Panel4->width(), width);
  }
}

TEST_F(SettingsWindow, TheTreesScrollPositionIsHeldUntilItCanBeShownAndSavedBack) {
  // A narrow pane over a deep folder: the tree scrolls sideways.
  QString deep = Path("a-rather-long-folder-name/another-long-folder-name/and-one-more-long-name");
  QDir().mkpath(deep);
  Put(File(), "[OPTION]\r\nSaveStatus=1\r\nFolderPaneWidth=120\r\nScrollPosX=30\r\nInitialDir=" +
                  QFile::encodeName(deep) + "\r\n\r\n");
  TForm1& f = Start();
  // Closed before the page was ever shown: the held position is written.
  EXPECT_EQ(f.FolderTree->HorizontalPosition(), 30);
  EXPECT_TRUE(Close());
  EXPECT_EQ(IniFile::Load(File()).ReadInteger("OPTION", "ScrollPosX", 0), 30);

  TForm1& g = Start();
  ShowDetectionPage();
  QScrollBar* bar = g.FolderTree->horizontalScrollBar();
  WaitFor([&] { return bar->maximum() >= 30 && bar->value() == 30; });
  EXPECT_EQ(bar->value(), 30);
  // The user scrolls: that position is the one saved.
  bar->triggerAction(QAbstractSlider::SliderToMinimum);
  EXPECT_EQ(g.FolderTree->HorizontalPosition(), 0);
  EXPECT_TRUE(Close());
  EXPECT_EQ(IniFile::Load(File()).ReadInteger("OPTION", "ScrollPosX", 0), 0);
}

TEST_F(SettingsWindow, AFolderNameThatIsNotUtf8ComesBackAsTheSameBytes) {
  const QByteArray folder = QFile::encodeName(dir.path()) + "/\x89\xE6\x91\x9C";
  ASSERT_EQ(mkdir(folder.constData(), 0755), 0);
  Put(File(), "[OPTION]\r\nSaveStatus=1\r\nInitialDir=" + folder + "\r\n\r\n");
  Start();
  EXPECT_TRUE(Close());
  EXPECT_EQ(IniFile::Load(File()).ReadText("OPTION", "InitialDir", {}), folder);
}

TEST_F(SettingsWindow, ACloseThatAgreedDuringARunLeavesNoTreeToTouch) {
  // Truncated pictures, each decoded for its thumbnail: the walk takes a while.
  const std::vector<uint8_t> bytes = EncodeJpeg({400, 300, JpegKind::Baseline, 85, 9});
  const std::vector<uint8_t> cut = Truncated(bytes, bytes.size() * 2 / 3);
  for (int i = 0; i < 400; ++i) {
    const QString path = Path(QStringLiteral("many/d%1/f%2.jpg").arg(i % 20).arg(i));
    QDir().mkpath(QFileInfo(path).path());
    WriteFile(path.toStdString(), cut);
  }
  Put(File(), "[OPTION]\r\nSaveStatus=1\r\n\r\n");
  TForm1& f = Start();
  ASSERT_TRUE(f.FolderTree->SetPath(QFile::encodeName(Path("many"))));
  bool written = false, treeGone = false, stillOpen = false;
  QTimer::singleShot(0, &f, [&] {
    EXPECT_FALSE(f.close());
    written = IniFile::Load(File()).ReadText("OPTION", "InitialDir", {}) == QFile::encodeName(Path("many"));
    treeGone = f.FolderTree == nullptr;
    stillOpen = f.isVisible();
    // Later uses of the tree find none and do nothing.
    f.PageControl1->setCurrentIndex(0);
    f.PageControl1->setCurrentIndex(1);
    f.FolderTreeClick();
    f.StartDetection();
    EXPECT_FALSE(f.close());  // asked once only
  });
  f.StartDetection();
  EXPECT_TRUE(written);
  EXPECT_TRUE(treeGone);
  EXPECT_TRUE(stillOpen);
  WaitFor([&] { return !f.isVisible(); });
  EXPECT_FALSE(f.isVisible());
  EXPECT_TRUE(prompts.shown.empty());
}

// Run with QT_SCALE_FACTOR=2 on a 1280 x 1024 screen (see CMakeLists.txt).
using ScaledScreen = SettingsWindow;

TEST_F(ScaledScreen, TheFirstWindowNeverExceedsTheScreen) {
  if (qEnvironmentVariable("QT_SCALE_FACTOR") != "2") GTEST_SKIP() << "needs QT_SCALE_FACTOR=2";
  TForm1& f = Start();
  const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_EQ(available.width(), 640);
  EXPECT_LE(f.width(), available.width());
  EXPECT_LE(f.height(), available.height());
  EXPECT_GE(f.x(), available.x());
  EXPECT_GE(f.y(), available.y());
}
