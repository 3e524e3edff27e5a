#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QPixmap;

namespace yuragi {

// What an open or save dialog is asked to show.
struct FileDialogSpec {
  QString filter;         // "description|pattern;pattern|description|pattern"
  QString defaultSuffix;  // without the dot
  QString initialFolder;
  bool confirmOverwrite = false;
  bool confirmCreate = false;
  // When set, a preview beside the list shows the file under the cursor as
  // this loads it (a null pixmap: nothing to show).
  QPixmap (*picturePreview)(const QByteArray& path) = nullptr;
};

// "jpegファイル(*.jp*)|*.jpg;*.jpeg" -> the toolkit's "desc (patterns)" list.
QStringList ToNameFilters(const QString& filter);

}  // namespace yuragi
