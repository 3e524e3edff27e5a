#include "platform/file_icons.h"

#include <QIcon>
#include <QMimeDatabase>
#include <QPainter>

namespace yuragi {

namespace {

QPixmap DrawnJpegIcon() {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setPen(QColor(90, 90, 90));
  painter.setBrush(Qt::white);
  painter.drawRect(2, 0, 11, 15);
  painter.fillRect(4, 7, 8, 6, QColor(70, 140, 210));
  painter.fillRect(4, 10, 8, 3, QColor(60, 160, 80));
  painter.setBrush(QColor(250, 200, 40));
  painter.setPen(Qt::NoPen);
  painter.drawEllipse(5, 2, 4, 4);
  return pixmap;
}

}  // namespace

QPixmap JpegFileIcon() {
  const QMimeType type = QMimeDatabase().mimeTypeForName(QStringLiteral("image/jpeg"));
  QIcon icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName()));
  if (!icon.isNull()) {
    QPixmap pixmap = icon.pixmap(16, 16);
    if (!pixmap.isNull()) return pixmap.scaled(16, 16, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  }
  return DrawnJpegIcon();
}

QIcon ProgramIcon() {
  // The PNG sizes rendered from data/icons/yuragimaru.svg, built into the program.
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    icon.addFile(QStringLiteral(":/icons/%1x%1/yuragimaru.png").arg(size), QSize(size, size));
  }
  return icon;
}

}  // namespace yuragi
