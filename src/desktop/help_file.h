#pragma once

#include <QByteArray>

namespace yuragi {


// The manual beside the program: its path with the extension replaced by
// ".html" (appended when the name has none).
QByteArray HelpFileBeside(const QByteArray& executable);

// The manual the program opens: the one beside it when present, else the
// installed copy (share/doc/yuragimaru/ of the program's own prefix, then of
// the configured one) when present, else empty.
QByteArray FindHelpFile(const QByteArray& executable);

}  // namespace yuragi
