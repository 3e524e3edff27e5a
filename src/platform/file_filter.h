#pragma once

#include <QString>
#include <QStringList>

namespace yuragi {

// What an open or save dialog is asked to show.
struct FileDialogSpec {
  QString filter;         // "description|pattern;pattern|description|pattern"
  QString defaultSuffix;  // without the dot
  QString initialFolder;
  bool confirmOverwrite = false;
  bool confirmCreate = false;
  bool picturePreview = false;  // a preview of the chosen picture beside the list
};

// "jpegファイル(*.jp*)|*.jpg;*.jpeg" -> the toolkit's "desc (patterns)" list.
QStringList ToNameFilters(const QString& filter);

}  // namespace yuragi
