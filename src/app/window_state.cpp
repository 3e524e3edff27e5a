// The settings file as the main window reads it at start-up and writes it at
// exit: the window placement, the options, the start folder, the folder
// pane, the tree's scroll position and the list's view style.
#include <QAction>
#include <QGuiApplication>
#include <QScreen>
#include <QSplitter>
#include <QTabWidget>
#include <algorithm>

#include "app/globals.h"
#include "app/main_window.h"
#include "detect/detection_list_view.h"
#include "formats/ini_file.h"
#include "platform/paths.h"
#include "platform/prompts.h"
#include "platform/settings_location.h"
#include "refetch/archive_client.h"
#include "widgets/folder_tree.h"

using namespace yuragi;

namespace {

const QByteArray kProgram = "PROGRAM";
const QByteArray kPosition = "POSITION";
const QByteArray kOption = "OPTION";
constexpr int kGripAllowance = 32;


}  // namespace

void TForm1::ReadSettings() {
  if (SettingsFile.isEmpty()) SettingsFile = SettingsFilePath(ExecutablePath());
  const IniFile ini = IniFile::Load(SettingsFile);

  // No screen at all while outputs come and go: plan for a common one.
  const QScreen* primary = QGuiApplication::primaryScreen();
  const QRect screen = primary ? primary->geometry() : QRect(0, 0, 1920, 1080);
  const QRect available = primary ? primary->availableGeometry() : screen;
  // On a small screen (or a large scale factor) the window may not ask
  // for more than the screen has. The status bar's size grip joins in
  // only when the window is shown.
  const QSize needed = minimumSizeHint() + QSize(kGripAllowance, 0);
  const QSize least = needed.boundedTo(available.size());
  // Set even when it fits now: controls made later must not push past it.
  setMinimumSize(least);

  placement_.flags = ini.ReadInteger(kPosition, "Flags", placement_.flags);
  placement_.showCmd = ini.ReadInteger(kPosition, "ShowCmd", placement_.showCmd);
  placement_.maxX = ini.ReadInteger(kPosition, "MaxX", placement_.maxX);
  placement_.maxY = ini.ReadInteger(kPosition, "MaxY", placement_.maxY);
  const QSize size = StartSize(screen, available, least);
  resize(size);
  placement_.top = ini.ReadInteger(kPosition, "Top", screen.y() + (screen.height() - size.height()) / 2);
  placement_.left = ini.ReadInteger(kPosition, "Left", screen.x() + (screen.width() - size.width()) / 2);
  placement_.right = ini.ReadInteger(kPosition, "Right", placement_.left + size.width());
  placement_.bottom = ini.ReadInteger(kPosition, "Bottom", placement_.top + size.height());
  QList<QRect> areas;
  for (const QScreen* each : QGuiApplication::screens()) areas << each->availableGeometry();
  placement_.SetNormalRect(FitOntoScreens(placement_.NormalRect(), areas, available, size));
  // Placed while hidden; the state is applied when the window is shown.
  setGeometry(placement_.NormalRect());
  normalRect_ = placement_.NormalRect();
  switch (ini.ReadInteger(kPosition, "state", kStateNormal)) {
    case kStateMaximised:
      setWindowState(Qt::WindowMaximized);
      break;
    case kStateMinimised:
      setWindowState(Qt::WindowMinimized);
      break;
    default:
      break;
  }

  CloseQuery1->setChecked(ini.ReadBool(kOption, "CloseQuery", false));
  SaveStatus1->setChecked(ini.ReadBool(kOption, "SaveStatus", false));
  // Off unless asked for: the archive learns which URLs are fetched.
  UseArchive1->setChecked(ini.ReadBool(kOption, "UseArchive", false));
  ArchivePrefix = QString::fromUtf8(ini.ReadText(kOption, "ArchivePrefix", kDefaultArchivePrefix));
  startFolder_ = ini.ReadText(kOption, "InitialDir", DefaultStartFolder(ExecutablePath()));
  InitialFolder = startFolder_;
  const int pane = std::max(0, ini.ReadInteger(kOption, "FolderPaneWidth", width() / 3));
  Splitter1->setSizes({pane, std::max(0, width() - pane)});
  // The detection page is laid out only once it is shown; until then the
  // width read here is the pane's width.
  paneWidth_ = pane;
  connect(PageControl1, &QTabWidget::currentChanged, this, [this](int index) { paneShown_ |= index == 1; });
  TreeScrollPos = ini.ReadInteger(kOption, "ScrollPosX", 0);
  // Only the low byte counts; a number past the four styles means the first.
  const int style = ini.ReadInteger(kOption, "ViewStyle", 0) & 0xFF;
  SetViewStyle(style <= 3 ? style : 0);
}

void TForm1::ApplyTreeScrollPosition() {
  if (FolderTree) FolderTree->KeepHorizontalPosition(TreeScrollPos);
}

WindowPlacement TForm1::CurrentPlacement() const {
  WindowPlacement placement = placement_;
  const Qt::WindowStates state = windowState();
  placement.showCmd = state & Qt::WindowMinimized ? 2 : state & Qt::WindowMaximized ? 3 : 1;
  const QRect normal = state & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)
                           ? normalGeometry()
                           : geometry();
  placement.SetNormalRect(normal.isValid() ? normal : normalRect_);
  return placement;
}

QByteArray TForm1::CurrentFolderSetting() const {
  const QByteArray selected = FolderTree ? FolderTree->SelectedPath() : QByteArray();
  // With nothing selected, the folder the tree was asked to open is kept,
  // in its own bytes: a name that is not UTF-8, a drive not mounted now.
  return selected.isEmpty() ? startFolder_ : selected;
}

void TForm1::WriteSettings() {
  IniFile ini = IniFile::Load(SettingsFile);
  const QByteArray executable = ExecutablePath();
  ini.WriteText(kProgram, "Name", FileNamePart(executable));
  ini.WriteText(kProgram, "Path", FolderPart(executable));
  ini.WriteText(kProgram, "Version", ProductVersion.toUtf8());
  if (SaveStatus1->isChecked()) {
    const WindowPlacement placement = CurrentPlacement();
    const Qt::WindowStates state = windowState();
    ini.WriteInteger(kPosition, "Flags", placement.flags);
    ini.WriteInteger(kPosition, "ShowCmd", placement.showCmd);
    ini.WriteInteger(kPosition, "MaxX", placement.maxX);
    ini.WriteInteger(kPosition, "MaxY", placement.maxY);
    ini.WriteInteger(kPosition, "Left", placement.left);
    ini.WriteInteger(kPosition, "Top", placement.top);
    ini.WriteInteger(kPosition, "Right", placement.right);
    ini.WriteInteger(kPosition, "Bottom", placement.bottom);
    ini.WriteInteger(kPosition, "State",
                     state & Qt::WindowMinimized   ? kStateMinimised
                     : state & Qt::WindowMaximized ? kStateMaximised
                                                   : kStateNormal);
    if (FolderTree) TreeScrollPos = FolderTree->HorizontalPosition();
    ini.WriteBool(kOption, "CloseQuery", CloseQuery1->isChecked());
    ini.WriteBool(kOption, "SaveStatus", SaveStatus1->isChecked());
    ini.WriteBool(kOption, "UseArchive", UseArchive1->isChecked());
    ini.WriteText(kOption, "ArchivePrefix", ArchivePrefix.toUtf8());
    ini.WriteText(kOption, "InitialDir", CurrentFolderSetting());
    ini.WriteInteger(kOption, "FolderPaneWidth", paneShown_ ? Panel4->width() : paneWidth_);
    ini.WriteInteger(kOption, "ScrollPosX", TreeScrollPos);
    ini.WriteInteger(kOption, "ViewStyle", ListView1->ViewStyle());
  } else {
    ini.EraseSection(kPosition);
    ini.EraseSection(kOption);
  }
  QString reason;
  if (!ini.Save(SettingsFile, &reason)) {
    // Reported, but never a reason to keep the window open.
    prompts_.Error(this, ApplicationTitle,
                   QStringLiteral("設定ファイル \"%1\" に書き込めません。%2\n設定は保存されません。")
                       .arg(DisplayPath(SettingsFile), reason));
  }
}
