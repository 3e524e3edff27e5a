#pragma once

#include <QList>
#include <QRect>

namespace yuragi {

// The placement kept in the settings file. The normal rectangle is the
// restored window's client area: right = left + width, bottom = top + height.
struct WindowPlacement {
  int flags = 0;     // no meaning here: read and written back unchanged
  int showCmd = 1;   // 1 normal, 2 minimised, 3 maximised
  int maxX = -1;     // no meaning here either
  int maxY = -1;
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  // Any numbers a hand-edited file holds give a rectangle without overflow.
  QRect NormalRect() const;
  void SetNormalRect(const QRect& rect);
};

// Window states as the settings file numbers them.
enum SavedWindowState { kStateNormal = 0, kStateMinimised = 1, kStateMaximised = 2 };

// The start-up size: half the screen each way, but never below what the
// window needs nor beyond the area windows may use.
QSize StartSize(const QRect& screen, const QRect& available, const QSize& least);

// A rectangle that no screen shows enough of to grab it (its monitor was
// unplugged, the resolution lowered) is centred on the primary screen's
// usable area, keeping its size where that fits. An empty one takes
// fallbackSize. Anything else keeps its place, no larger than all screens.
QRect FitOntoScreens(const QRect& rect, const QList<QRect>& availableAreas, const QRect& primaryAvailable,
                     const QSize& fallbackSize);

}  // namespace yuragi
