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
  // Holds the horizontal scroll position at x until the user scrolls,
  // clicks or types: the folders arrive, and the column widens, later.
  void KeepHorizontalPosition(int x);
  // The held position while it is held, else the scroll bar's.
  int HorizontalPosition() const;

 signals:
  void FolderClicked();
  void FolderDoubleClicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void KeepWantedSelection();
  void KeepWantedPosition();

  QFileSystemModel* model_;
  // The folder last chosen through SetPath. The model fills and sorts its
  // folders later, in the background, and the selection must not drift
  // to a neighbour while it does.
  QString wanted_;
  int wantedX_ = -1;  // the held horizontal position; -1 when none
};

}  // namespace yuragi
