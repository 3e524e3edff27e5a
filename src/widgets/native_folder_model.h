#pragma once

#include <QAbstractItemModel>
#include <QByteArray>
#include <QIcon>
#include <memory>
#include <vector>

namespace yuragi {

// The folders of the file system from "/" down, listed from the native
// entries: a folder whose name is not UTF-8 is shown (its odd bytes as
// escapes) and reached by its exact bytes. Folders are listed when first
// expanded; dot-folders are left out unless asked for by path.
class NativeFolderModel : public QAbstractItemModel {
  Q_OBJECT
 public:
  explicit NativeFolderModel(QObject* parent = nullptr);
  ~NativeFolderModel() override;

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;

  // The folder at an absolute path, listing the folders on the way;
  // invalid when it is not a folder.
  QModelIndex IndexOf(const QByteArray& path);
  // The exact bytes of the folder's path.
  QByteArray PathOf(const QModelIndex& index) const;

 private:
  struct Node;
  Node* NodeOf(const QModelIndex& index) const;
  void List(Node* node);
  Node* Child(Node* node, const QByteArray& name);

  std::unique_ptr<Node> root_;
  QIcon folderIcon_;
};

}  // namespace yuragi
