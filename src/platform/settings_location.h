#pragma once

#include <QByteArray>

namespace yuragi {


// Where the program keeps its settings file: beside the executable when
// that folder can be written (a program unpacked into a folder of its own),
// else in $XDG_CONFIG_HOME/yuragimaru/ (an installed program; also for root
// in the system's program folders and the configured install folder). The name is
// the executable's with its extension replaced by ".ini", or ".ini" appended
// when it has none, so a renamed copy keeps its own file.
QByteArray SettingsFilePath(const QByteArray& executable);

// The folder tree's start folder when the settings name none, with a
// trailing "/": the executable's folder when the settings file lives beside
// it, else (an installed program) the user's pictures folder as
// xdg-user-dirs names it, else the home folder.
QByteArray DefaultStartFolder(const QByteArray& executable);

// $XDG_CONFIG_HOME, else ~/.config; with a trailing "/".
QByteArray ConfigHome();

}  // namespace yuragi
