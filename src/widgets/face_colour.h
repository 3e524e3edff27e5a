#pragma once

class QWidget;

namespace yuragi {

// Paints a control's background in the button-face colour (disabled look of
// the layout) or back in the window colour.
void SetFaceColour(QWidget* widget, bool face);

// Shows the selection in its active colours also while the widget lacks the focus.
void KeepSelectionVisibleUnfocused(QWidget* widget);

}  // namespace yuragi
