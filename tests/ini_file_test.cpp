#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>

#include "app/window_placement.h"
#include "formats/ini_file.h"
#include "platform/settings_location.h"
#include "platform/paths.h"

using namespace yuragi;

namespace {

QByteArray Bytes(const QByteArray& path) {
  QFile file(QFile::decodeName(path));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void Put(const QByteArray& path, const QByteArray& bytes) {
  QFile file(QFile::decodeName(path));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(bytes);
}

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.isValid()); }
  QByteArray Path(const char* name) const { return QFile::encodeName(dir.path()) + '/' + name; }
  QTemporaryDir dir;
};

}  // namespace

TEST_F(IniFileTest, EveryReadRule) {
  Put(Path("a.ini"),
      "[Option]\r\n"
      "Dec=42\r\nNeg=-7\r\nDollar=$10\r\nHex=0x10\r\nHexUpper=0X1f\r\nWord=abc\r\nMixed=12abc\r\n"
      "Empty=\r\nAllOnes=$FFFFFFFF\r\nTooBig=4294967296\r\nHuge=99999999999\r\nSpaced=  16  \r\n"
      "On=5\r\nOff=0\r\nYes=yes\r\n"
      "Path=/home/user/写真/\r\n");
  const IniFile ini = IniFile::Load(Path("a.ini"));
  EXPECT_EQ(ini.ReadInteger("OPTION", "dec", -1), 42);  // section and key in any case
  EXPECT_EQ(ini.ReadInteger("option", "DEC", -1), 42);
  EXPECT_EQ(ini.ReadInteger("Option", "Neg", 0), -7);
  EXPECT_EQ(ini.ReadInteger("Option", "Dollar", 0), 16);
  EXPECT_EQ(ini.ReadInteger("Option", "Hex", 0), 16);
  EXPECT_EQ(ini.ReadInteger("Option", "HexUpper", 0), 31);
  EXPECT_EQ(ini.ReadInteger("Option", "Word", 99), 99);
  EXPECT_EQ(ini.ReadInteger("Option", "Mixed", 99), 99);
  EXPECT_EQ(ini.ReadInteger("Option", "Empty", 99), 99);
  EXPECT_EQ(ini.ReadInteger("Option", "AllOnes", 0), -1);
  EXPECT_EQ(ini.ReadInteger("Option", "TooBig", 5), 5);
  EXPECT_EQ(ini.ReadInteger("Option", "Huge", 5), 5);
  EXPECT_EQ(ini.ReadInteger("Option", "Spaced", 0), 16);
  EXPECT_EQ(ini.ReadInteger("Option", "Missing", 123), 123);
  EXPECT_EQ(ini.ReadInteger("Nowhere", "Dec", 123), 123);
  EXPECT_TRUE(ini.ReadBool("Option", "On", false));
  EXPECT_FALSE(ini.ReadBool("Option", "Off", true));
  EXPECT_TRUE(ini.ReadBool("Option", "Yes", true));  // not a number: the default
  EXPECT_FALSE(ini.ReadBool("Option", "Yes", false));
  EXPECT_TRUE(ini.ReadBool("Option", "Missing", true));
  EXPECT_EQ(ini.ReadText("Option", "Path", "x"), QByteArray("/home/user/写真/"));
  EXPECT_EQ(ini.ReadText("Option", "Empty", "x"), QByteArray());
  EXPECT_EQ(ini.ReadText("Option", "Missing", "x"), QByteArray("x"));
  EXPECT_TRUE(ini.HasKey("OPTION", "path"));
  EXPECT_FALSE(ini.HasKey("OPTION", "paths"));

  // A missing file reads as an empty one.
  const IniFile none = IniFile::Load(Path("absent.ini"));
  EXPECT_FALSE(none.HasSection("Option"));
  EXPECT_EQ(none.ReadInteger("Option", "Dec", 8), 8);
  EXPECT_TRUE(none.Text().isEmpty());
}

TEST_F(IniFileTest, LongTextsComeBackCutAtWholeCharacters) {
  const QByteArray ascii(3000, 'a');
  QByteArray kana;
  for (int i = 0; i < 3000; ++i) kana += "あ";
  QByteArray raw(3000, '\x89');  // a name in another encoding: bytes count one each
  IniFile ini;
  ini.WriteText("T", "Ascii", ascii);
  ini.WriteText("T", "Kana", kana);
  ini.WriteText("T", "Raw", raw);
  ini.WriteText("T", "Short", "abc");
  const IniFile back = IniFile::Parse(ini.Text());
  EXPECT_EQ(back.ReadText("T", "Ascii", {}), ascii.left(2047));
  EXPECT_EQ(back.ReadText("T", "Kana", {}), kana.left(2047 * 3));
  EXPECT_EQ(back.ReadText("T", "Raw", {}), raw.left(2047));
  EXPECT_EQ(back.ReadText("T", "Short", {}), QByteArray("abc"));
  // The whole value stays in the file.
  EXPECT_TRUE(back.Text().contains("Ascii=" + ascii + "\r\n"));
}

TEST_F(IniFileTest, AHandEditedFileIsRewrittenInTheFixedLayout) {
  Put(Path("hand.ini"),
      "; written by hand\n"
      "stray=before any section\n"
      "\n"
      "[Program]\n"
      "name = old.exe\n"
      "  Extra  =  kept value  \n"
      "; a note\n"
      "\n"
      "[Mine]\r\n"
      "Colour=blue\r\n"
      "bare line\r\n"
      "\r\n"
      "[POSITION]\n"
      "left=5\n"
      "Unknown=1\n");
  IniFile ini = IniFile::Load(Path("hand.ini"));
  ini.WriteText("PROGRAM", "Name", "yuragimaru");
  ini.WriteText("PROGRAM", "Version", "V1.7");
  ini.WriteInteger("POSITION", "Left", 100);
  ini.WriteInteger("POSITION", "Top", 50);
  ini.WriteBool("OPTION", "SaveStatus", true);
  QString error;
  ASSERT_TRUE(ini.Save(Path("hand.ini"), &error)) << error.toStdString();
  EXPECT_EQ(Bytes(Path("hand.ini")),
            QByteArray("[Program]\r\n"
                       "Name=yuragimaru\r\n"
                       "Extra=kept value  \r\n"
                       "Version=V1.7\r\n"
                       "\r\n"
                       "[Mine]\r\n"
                       "Colour=blue\r\n"
                       "bare line\r\n"
                       "\r\n"
                       "[POSITION]\r\n"
                       "Left=100\r\n"
                       "Unknown=1\r\n"
                       "Top=50\r\n"
                       "\r\n"
                       "[OPTION]\r\n"
                       "SaveStatus=1\r\n"
                       "\r\n"));
  // Loading what was written and writing it again changes nothing.
  ASSERT_TRUE(IniFile::Load(Path("hand.ini")).Save(Path("again.ini"), &error));
  EXPECT_EQ(Bytes(Path("again.ini")), Bytes(Path("hand.ini")));
}

TEST_F(IniFileTest, AFreshFileKeepsTheWritingOrderAndErasingKeepsUnknownSections) {
  IniFile ini;
  ini.WriteText("PROGRAM", "Name", "yuragimaru");
  ini.WriteText("PROGRAM", "Path", "/opt/yuragimaru/");
  ini.WriteText("PROGRAM", "Version", "V1.7");
  ini.WriteInteger("POSITION", "Flags", 0);
  ini.WriteInteger("POSITION", "MaxX", -1);
  ini.WriteInteger("OPTION", "ViewStyle", 3);
  ini.WriteInteger("Extra", "Kept", 9);
  EXPECT_EQ(ini.Text(), QByteArray("[PROGRAM]\r\nName=yuragimaru\r\nPath=/opt/yuragimaru/\r\nVersion=V1.7\r\n\r\n"
                                   "[POSITION]\r\nFlags=0\r\nMaxX=-1\r\n\r\n"
                                   "[OPTION]\r\nViewStyle=3\r\n\r\n"
                                   "[Extra]\r\nKept=9\r\n\r\n"));
  ini.EraseSection("position");
  ini.EraseSection("Option");
  EXPECT_EQ(ini.Text(), QByteArray("[PROGRAM]\r\nName=yuragimaru\r\nPath=/opt/yuragimaru/\r\nVersion=V1.7\r\n\r\n"
                                   "[Extra]\r\nKept=9\r\n\r\n"));
  EXPECT_FALSE(ini.HasSection("OPTION"));
  EXPECT_EQ(ini.ReadInteger("OPTION", "ViewStyle", 0), 0);
}

TEST_F(IniFileTest, PathBytesAndBrokenLinesSurvive) {
  const QByteArray folder("/data/\x89\xE6\x91\x9C/");  // a Shift-JIS folder name
  IniFile ini;
  ini.WriteText("OPTION", "InitialDir", folder);
  QString error;
  ASSERT_TRUE(ini.Save(Path("bytes.ini"), &error));
  EXPECT_EQ(IniFile::Load(Path("bytes.ini")).ReadText("option", "initialdir", {}), folder);

  // A name holding a line break cannot be kept: the key goes, nothing else.
  ini.WriteText("OPTION", "InitialDir", "/data/two\nlines");
  ini.WriteText("OPTION", "Other", "a\rb");
  EXPECT_FALSE(ini.HasKey("OPTION", "InitialDir"));
  EXPECT_FALSE(ini.HasKey("OPTION", "Other"));
  EXPECT_TRUE(ini.HasSection("OPTION"));
  // A hand-edited file may hold the key twice: no copy is left to be read.
  IniFile twice = IniFile::Parse("[OPTION]\r\nInitialDir=/a\r\ninitialdir=/b\r\n");
  twice.WriteText("OPTION", "InitialDir", "/c\nd");
  EXPECT_FALSE(twice.HasKey("OPTION", "InitialDir"));
  EXPECT_EQ(twice.Text(), QByteArray("[OPTION]\r\n\r\n"));

  // A byte-order mark left by an editor does not hide the first section.
  const IniFile marked = IniFile::Parse("\xEF\xBB\xBF[OPTION]\r\nViewStyle=2\r\n");
  EXPECT_EQ(marked.ReadInteger("OPTION", "ViewStyle", 0), 2);
}

TEST_F(IniFileTest, SavingReplacesInOneRenameAndReportsWhyItCannot) {
  Put(Path("s.ini"), "[A]\r\nB=1\r\n\r\n");
  IniFile ini = IniFile::Load(Path("s.ini"));
  ini.WriteInteger("A", "B", 2);
  QString error;
  ASSERT_TRUE(ini.Save(Path("s.ini"), &error));
  EXPECT_EQ(Bytes(Path("s.ini")), QByteArray("[A]\r\nB=2\r\n\r\n"));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);  // no temporary left

  // Missing folders are made.
  ASSERT_TRUE(ini.Save(Path("deep/er/s.ini"), &error)) << error.toStdString();
  EXPECT_EQ(Bytes(Path("deep/er/s.ini")), QByteArray("[A]\r\nB=2\r\n\r\n"));

  // A folder that cannot be made: the reason comes back, nothing is written.
  Put(Path("plain"), "file");
  error.clear();
  EXPECT_FALSE(ini.Save(Path("plain/s.ini"), &error));
  EXPECT_FALSE(error.isEmpty());
  // A file made read-only is not replaced behind the user's back.
  ASSERT_EQ(chmod(Path("s.ini").constData(), 0444), 0);
  if (geteuid() != 0) {
    error.clear();
    ini.WriteInteger("A", "B", 3);
    EXPECT_FALSE(ini.Save(Path("s.ini"), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(Bytes(Path("s.ini")), QByteArray("[A]\r\nB=2\r\n\r\n"));
  }
}

TEST_F(IniFileTest, TheSettingsFileLivesBesideTheProgramOrInTheConfigFolder) {
  const QByteArray home = Path("config");
  setenv("XDG_CONFIG_HOME", home.constData(), 1);
  EXPECT_EQ(ConfigHome(), home + '/');
  ASSERT_TRUE(QDir().mkpath(dir.path() + "/portable"));
  EXPECT_EQ(SettingsFilePath(Path("portable/yuragimaru")), Path("portable/yuragimaru.ini"));
  EXPECT_EQ(SettingsFilePath(Path("portable/tool.old.exe")), Path("portable/tool.old.ini"));
  // An installed program's folder cannot be written.
  ASSERT_TRUE(QDir().mkpath(dir.path() + "/installed"));
  ASSERT_EQ(chmod(Path("installed").constData(), 0555), 0);
  if (geteuid() != 0) {
    EXPECT_EQ(SettingsFilePath(Path("installed/yuragimaru")), home + "/yuragimaru/yuragimaru.ini");
  }
  EXPECT_EQ(SettingsFilePath(Path("gone/yuragimaru")), home + "/yuragimaru/yuragimaru.ini");
  // Root may write /usr/bin, but an installed program never keeps its settings there.
  EXPECT_EQ(SettingsFilePath("/usr/bin/yuragimaru"), home + "/yuragimaru/yuragimaru.ini");
  EXPECT_EQ(SettingsFilePath("/usr/local/bin/yuragimaru"), home + "/yuragimaru/yuragimaru.ini");
  // A relative XDG_CONFIG_HOME is not valid: ~/.config is used.
  setenv("XDG_CONFIG_HOME", "relative", 1);
  EXPECT_EQ(ConfigHome(), QFile::encodeName(QDir::homePath()) + "/.config/");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(ConfigHome(), QFile::encodeName(QDir::homePath()) + "/.config/");
  EXPECT_TRUE(ExecutablePath().endsWith("/ini_file_test"));
}

TEST_F(IniFileTest, AnInstalledProgramStartsTheTreeInThePicturesFolder) {
  const QByteArray home = Path("home");
  ASSERT_TRUE(QDir().mkpath(home + "/.config"));
  const QByteArray oldHome = qgetenv("HOME");
  setenv("HOME", home.constData(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/.config").constData(), 1);
  Put(home + "/.config/user-dirs.dirs", "XDG_PICTURES_DIR=\"$HOME/写真\"\n");
  ASSERT_TRUE(QDir().mkpath(dir.path() + "/portable"));
  const struct {
    bool picturesExist;
    QByteArray executable;
    QByteArray start;
  } cases[] = {
      {true, Path("portable/yuragimaru"), Path("portable/")},
      {true, "/usr/bin/yuragimaru", home + "/写真/"},
      {false, "/usr/bin/yuragimaru", home + "/"},
      {true, Path("gone/yuragimaru"), home + "/写真/"},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(each.executable.toStdString());
    if (each.picturesExist) ASSERT_TRUE(QDir().mkpath(QString::fromUtf8(home + "/写真")));
    else ASSERT_TRUE(QDir(QString::fromUtf8(home + "/写真")).removeRecursively());
    EXPECT_EQ(DefaultStartFolder(each.executable), each.start);
  }
  setenv("HOME", oldHome.constData(), 1);
  unsetenv("XDG_CONFIG_HOME");
}

TEST(WindowPlacementTest, StartSizeAndScreensThatAreGone) {
  const QRect screen(0, 0, 1920, 1080);
  const QRect usable(0, 0, 1920, 1050);
  EXPECT_EQ(StartSize(screen, usable, QSize(600, 400)), QSize(960, 540));
  // The window needs more than half: it gets that, but never more than the screen.
  EXPECT_EQ(StartSize(QRect(0, 0, 640, 512), QRect(0, 0, 640, 512), QSize(642, 300)), QSize(640, 300));

  const QList<QRect> areas{usable, QRect(1920, 0, 1280, 1024)};
  const QRect onSecond(2000, 100, 800, 600);
  EXPECT_EQ(FitOntoScreens(onSecond, areas, usable, QSize(960, 540)), onSecond);
  // Half off the edge still shows enough to grab it.
  const QRect overEdge(-700, 500, 800, 600);
  EXPECT_EQ(FitOntoScreens(overEdge, areas, usable, QSize(960, 540)), overEdge);
  // The second monitor was unplugged: centred on the primary, same size.
  EXPECT_EQ(FitOntoScreens(onSecond, {usable}, usable, QSize(960, 540)), QRect(560, 225, 800, 600));
  // Too large for the primary: it shrinks to fit.
  EXPECT_EQ(FitOntoScreens(QRect(5000, 0, 2500, 1200), {usable}, usable, QSize(960, 540)), QRect(0, 0, 1920, 1050));
  // A rectangle with no size takes the start size where it is.
  EXPECT_EQ(FitOntoScreens(QRect(100, 100, -20, 0), {usable}, usable, QSize(960, 540)), QRect(100, 100, 960, 540));
  // Only a sliver on screen counts as off screen.
  EXPECT_EQ(FitOntoScreens(QRect(1900, 1040, 800, 600), {usable}, usable, QSize(960, 540)),
            QRect(560, 225, 800, 600));

  WindowPlacement placement;
  placement.SetNormalRect(QRect(10, 20, 300, 200));
  EXPECT_EQ(placement.right, 310);
  EXPECT_EQ(placement.bottom, 220);
  EXPECT_EQ(placement.NormalRect(), QRect(10, 20, 300, 200));

  // A hand-edited file: no overflow, and no window larger than all screens
  // (its backing store alone would take gigabytes).
  placement.left = -2000000000;
  placement.right = 2000000000;
  placement.top = 0;
  placement.bottom = 100000;
  const QRect wild = placement.NormalRect();
  EXPECT_EQ(wild.x(), -(1 << 24));
  EXPECT_EQ(wild.width(), 1 << 24);
  EXPECT_EQ(wild.height(), 100000);
  EXPECT_EQ(FitOntoScreens(wild, areas, usable, QSize(960, 540)), usable);  // ends left of every screen
  EXPECT_EQ(FitOntoScreens(QRect(10, 10, 100000, 100000), areas, usable, QSize(960, 540)),
            QRect(10, 10, 3200, 1050));
}
