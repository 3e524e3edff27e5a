#pragma once

class QFileDialog;

namespace yuragi {

// Adds a picture preview beside the dialog's file list: the file under the
// cursor, scaled to fit, with its size in pixels below it. The dialog must
// be Qt's own (not the desktop's), which this makes it.
void AddPicturePreview(QFileDialog& dialog);

}  // namespace yuragi
