#pragma once

class QWidget;

namespace yuragi {

// Paints a control's background in the button-face colour (disabled look of
// the layout) or back in the window colour.
void SetFaceColour(QWidget* widget, bool face);

}  // namespace yuragi
