#pragma once

#include <QDialog>

namespace yuragi {

struct FileProperties;

// A modeless sheet of a file's properties; deletes itself when closed.
QDialog* ShowPropertiesDialog(QWidget* parent, const FileProperties& properties);

}  // namespace yuragi
