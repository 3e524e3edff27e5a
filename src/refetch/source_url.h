#pragma once

#include <QString>

namespace yuragi {

// "／" and "\" become "/".
QString NormalizeSlashes(const QString& path);

// The assumed source URL of a saved file: the first folder whose name holds
// a dot is the host, everything above it is dropped. Pure text, never fails.
QString BuildSourceUrl(const QString& path);

}  // namespace yuragi
