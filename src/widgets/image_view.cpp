#include "widgets/image_view.h"

#include <QMouseEvent>
#include <QPainter>

namespace yuragi {

ImageView::ImageView(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
}

void ImageView::SetPicture(const QPixmap& picture) {
  picture_ = picture;
  update();
}

void ImageView::paintEvent(QPaintEvent*) {
  if (picture_.isNull()) return;
  QSize size = picture_.size();
  if (size.width() > width() || size.height() > height()) size.scale(this->size(), Qt::KeepAspectRatio);
  const QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawPixmap(target, picture_);
}

void ImageView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit DoubleClicked();
}

}  // namespace yuragi
