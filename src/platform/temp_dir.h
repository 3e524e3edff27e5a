#pragma once

#include <QByteArray>
#include <QString>

namespace yuragi {

// This user's private folder under the system temporary folder, with a
// trailing "/": created 0700 and used only if it is a real folder owned by
// this user; otherwise a private folder of this process is made (once, and
// removed at exit). Checked, and made again if it went, on every call.
QByteArray PrivateTempDir();

// The folder for the single-instance lock and socket: $XDG_RUNTIME_DIR if
// usable, else the private temporary folder. With a trailing "/".
QString RuntimeDir();

}  // namespace yuragi
