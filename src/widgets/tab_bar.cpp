#include "widgets/tab_bar.h"

namespace yuragi {

FixedWidthTabBar::FixedWidthTabBar(QWidget* parent) : QTabBar(parent) {
  setExpanding(false);
  setElideMode(Qt::ElideRight);
  setAttribute(Qt::WA_Hover);
}

void FixedWidthTabBar::SetTabWidth(int width) {
  if (width == width_) return;
  width_ = width;
  setElideMode(elideMode());  // makes the bar lay its tabs out again
  updateGeometry();
}

QSize FixedWidthTabBar::tabSizeHint(int index) const {
  QSize size = QTabBar::tabSizeHint(index);
  if (width_ > 0) size.setWidth(width_);
  return size;
}

}  // namespace yuragi
