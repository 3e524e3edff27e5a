#pragma once

#include <QByteArray>

class QFileDialog;
class QPixmap;

namespace yuragi {

// Adds a picture preview beside the dialog's file list: the file under the
// cursor as load reads it, scaled to fit, with its size in pixels below it. The dialog must
// be Qt's own (not the desktop's), which this makes it.
void AddPicturePreview(QFileDialog& dialog, QPixmap (*load)(const QByteArray& path));

}  // namespace yuragi
