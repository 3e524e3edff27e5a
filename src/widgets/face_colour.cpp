#include "widgets/face_colour.h"

#include <QStyle>
#include <QWidget>

namespace yuragi {

void SetFaceColour(QWidget* widget, bool face) {
  QPalette colours = widget->palette();
  const QPalette standard = widget->style()->standardPalette();
  const QColor base = standard.color(face ? QPalette::Button : QPalette::Base);
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    colours.setColor(group, QPalette::Base, base);
  }
  widget->setPalette(colours);
}

void KeepSelectionVisibleUnfocused(QWidget* widget) {
  QPalette colours = widget->palette();
  for (auto role : {QPalette::Highlight, QPalette::HighlightedText}) {
    colours.setColor(QPalette::Inactive, role, colours.color(QPalette::Active, role));
  }
  widget->setPalette(colours);
}

}  // namespace yuragi
