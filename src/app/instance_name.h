#pragma once

#include <QString>

namespace yuragi {

// The executable's file name without its last extension ("tool.old.exe" -> "tool.old").
QString InstanceName(const QString& executablePath);

// The toolkit's title before one is set: the name up to its first dot,
// every character after the first in lower case ("SCAN.exe" -> "Scan").
QString DefaultApplicationTitle(const QString& executablePath);

}  // namespace yuragi
