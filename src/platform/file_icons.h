#pragma once

#include <QPixmap>

namespace yuragi {

// The desktop's small icon for JPEG files (16 x 16), with a built-in fallback.
QPixmap JpegFileIcon();

// The program's own icon.
QIcon ProgramIcon();

}  // namespace yuragi
