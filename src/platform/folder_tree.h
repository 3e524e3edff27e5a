#pragma once

#include <QTreeView>

class QFileSystemModel;

namespace yuragi {

// A folder-only tree of the file system from "/" down: no watching for
// changes, selection shown when unfocused, a right click selects.
class FolderTree : public QTreeView {
  Q_OBJECT
 public:
  explicit FolderTree(QWidget* parent = nullptr);

  // Expands to the folder and selects it; false when it is not a folder.
  bool SetPath(const QString& folder);
  // The selected folder's path, empty when none is selected.
  QString SelectedPath() const;

 signals:
  void FolderClicked();
  void FolderDoubleClicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  QFileSystemModel* model_;
};

}  // namespace yuragi
