#include "app/window_placement.h"

#include <algorithm>
#include <cstdint>

namespace yuragi {

namespace {

// Enough of a window to take hold of it and drag it back.
constexpr int kGripWidth = 64;
constexpr int kGripHeight = 32;

}  // namespace

QRect WindowPlacement::NormalRect() const {
  // Far beyond any screen and far from overflowing once added up.
  static constexpr int64_t kMost = int64_t(1) << 24;
  const auto bound = [](int64_t value, int64_t low) { return int(std::clamp(value, low, kMost)); };
  return QRect(bound(left, -kMost), bound(top, -kMost), bound(int64_t(right) - left, 0),
               bound(int64_t(bottom) - top, 0));
}

void WindowPlacement::SetNormalRect(const QRect& rect) {
  left = rect.x();
  top = rect.y();
  right = rect.x() + rect.width();
  bottom = rect.y() + rect.height();
}

QSize StartSize(const QRect& screen, const QRect& available, const QSize& least) {
  const QSize half(screen.width() / 2, screen.height() / 2);
  return half.expandedTo(least).boundedTo(available.size());
}

QRect FitOntoScreens(const QRect& rect, const QList<QRect>& availableAreas, const QRect& primaryAvailable,
                     const QSize& fallbackSize) {
  QRect wanted = rect;
  if (wanted.width() <= 0 || wanted.height() <= 0) wanted.setSize(fallbackSize);
  const int needX = std::min(kGripWidth, wanted.width());
  const int needY = std::min(kGripHeight, wanted.height());
  QRect desktop = primaryAvailable;
  for (const QRect& area : availableAreas) desktop |= area;
  for (const QRect& area : availableAreas) {
    const QRect seen = area.intersected(wanted);
    if (seen.width() >= needX && seen.height() >= needY) {
      return QRect(wanted.topLeft(), wanted.size().boundedTo(desktop.size()));
    }
  }
  const QSize size = wanted.size().boundedTo(primaryAvailable.size());
  // Halving toward zero, as every centring of the window does.
  const QPoint topLeft(primaryAvailable.x() + (primaryAvailable.width() - size.width()) / 2,
                       primaryAvailable.y() + (primaryAvailable.height() - size.height()) / 2);
  return QRect(topLeft, size);
}

}  // namespace yuragi
