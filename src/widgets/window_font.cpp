#include "widgets/window_font.h"

#include <QStringList>

namespace yuragi {

QFont WindowFont() {
  QFont font;
  font.setFamilies({QStringLiteral("MS PGothic"), QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"),
                    QStringLiteral("Noto Sans CJK JP"), QStringLiteral("sans-serif")});
  font.setPixelSize(12);
  return font;
}

}  // namespace yuragi
