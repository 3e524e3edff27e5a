#include "platform/file_icons.h"

#include <QIcon>
#include <QMimeDatabase>
#include <QPainter>
#include <QPainterPath>

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
  QIcon icon;
  for (int size : {16, 32, 64}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(30, 110, 190));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QRectF(0.5, 0.5, size - 1.0, size - 1.0));
    painter.setPen(QPen(Qt::white, size / 10.0));
    // A wave: the program mends what wavered.
    QPainterPath wave;
    wave.moveTo(size * 0.18, size * 0.55);
    wave.cubicTo(size * 0.35, size * 0.25, size * 0.5, size * 0.85, size * 0.82, size * 0.45);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(wave);
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace yuragi
