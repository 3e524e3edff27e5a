#pragma once

#include <QString>
#include <functional>

namespace yuragi {

// Shortens a "/"-separated path from the left until measure() of it fits
// maxWidth: /photos/2007/summer, /.../2007/summer, /.../summer,
// .../summer, summer.
QString FitPathToWidth(const QString& path, const std::function<int(const QString&)>& measure, int maxWidth);

}  // namespace yuragi
