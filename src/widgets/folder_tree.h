#pragma once

#include <QByteArray>
#include <QTreeView>

namespace yuragi {

class NativeFolderModel;

// A folder-only tree of the file system from "/" down, over the native
// entries (names that are not UTF-8 included): no watching for changes,
// selection shown when unfocused, a right click selects. The tree's tool
// tip is shown over every folder row, below the folder's name.
class FolderTree : public QTreeView {
  Q_OBJECT
 public:
  explicit FolderTree(QWidget* parent = nullptr);

  // Expands to the folder and selects it; false when it is not a folder.
  bool SetPath(const QByteArray& folder);
  // The selected folder's exact path, empty when none is selected.
  QByteArray SelectedPath() const;
  // Holds the horizontal scroll position at x until the user scrolls,
  // clicks or types: the column widens as folders are expanded.
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
  bool viewportEvent(QEvent* event) override;

 private:
  void KeepWantedPosition();

  NativeFolderModel* model_;
  int wantedX_ = -1;  // the held horizontal position; -1 when none
};

}  // namespace yuragi
