#pragma once

#include <QFont>

namespace yuragi {

// "ＭＳ Ｐゴシック" 12 px where it exists, else IPA P Gothic or the system's Japanese sans.
QFont WindowFont();

}  // namespace yuragi
