#pragma once

#include <QByteArray>
#include <QTreeView>

namespace yuragi {

class NativeFolderModel;

// A folder-only tree of the file system from "/" down, over the native
// entries (names that are not UTF-8 included): no watching for changes,
// selection shown when unfocused, a right click selects.
class FolderTree : public QTreeView {
  Q_OBJECT
 public:
  explicit FolderTree(QWidget* parent = nullptr);

  // Expands to the folder and selects it; false when it is not a folder.
  bool SetPath(const QByteArray& folder);
  // The selected folder's exact path, empty when none is selected.
  QByteArray SelectedPath() const;

 signals:
  void FolderClicked();
  void FolderDoubleClicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  NativeFolderModel* model_;
};

}  // namespace yuragi
