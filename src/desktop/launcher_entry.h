#pragma once

#include <QByteArray>
#include <QString>

namespace yuragi {

// Where a launcher goes: the desktop, the programs started at log-in, or
// the applications menu.
enum class LauncherPlace { Desktop, Autostart, Applications };

// The folder of that place for the current user, from the environment as
// it is now ($HOME, $XDG_CONFIG_HOME, $XDG_DATA_HOME, user-dirs.dirs).
QByteArray LauncherFolder(LauncherPlace place);

// One argument of an Exec line as the Desktop Entry rules want it: quoted
// when it holds a reserved character, with `"`, `` ` ``, `$` and `\`
// escaped inside the quotes and `%` doubled. The key file's own escaping
// comes on top when the entry is written. Takes and gives UTF-8.
QByteArray QuoteExecArgument(const QByteArray& argument);

// The whole launcher file for a program: Type, Name, Exec, Icon, Terminal,
// Categories. Empty with a reason when the path is not UTF-8, which a
// launcher cannot hold.
QByteArray LauncherText(const QString& name, const QByteArray& executable, const QString& icon,
                        QString* reason);

// Writes the launcher into folder/fileName with mode 0755, replacing an
// earlier one in one rename; makes a missing folder. On the desktop it is
// also marked trusted where the desktop keeps such marks. False with the
// reason when the file could not be written.
bool WriteLauncher(const QByteArray& folder, const QByteArray& fileName, const QByteArray& text,
                   bool markTrusted, QString* reason);

}  // namespace yuragi
