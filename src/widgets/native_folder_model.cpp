#include "widgets/native_folder_model.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QCollator>
#include <QFileIconProvider>
#include <algorithm>

#include "platform/dir_handle.h"
#include "platform/paths.h"

namespace yuragi {

struct NativeFolderModel::Node {
  QByteArray name;  // "/" for the root
  QString shown;
  Node* parent = nullptr;
  int row = 0;
  bool listed = false;
  std::vector<std::unique_ptr<Node>> children;
};

namespace {

bool IsFolderPath(const QByteArray& path) {
  struct stat st {};
  return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The folder entries of path: names only, "." and ".." and dot-folders left out.
std::vector<QByteArray> FolderEntries(const QByteArray& path) {
  std::vector<QByteArray> names;
  const DirHandle dir(::opendir(path.constData()));
  if (!dir) return names;
  QByteArray full;
  while (const dirent* entry = ::readdir(dir.get())) {
    if (entry->d_name[0] == '.') continue;
    const QByteArray name(entry->d_name);
    if (entry->d_type != DT_DIR) {
      if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN) continue;
      full = path.endsWith('/') ? path + name : path + '/' + name;
      if (!IsFolderPath(full)) continue;  // a link to a folder is a folder
    }
    names.push_back(name);
  }
  return names;
}

}  // namespace

NativeFolderModel::NativeFolderModel(QObject* parent)
    : QAbstractItemModel(parent),
      root_(std::make_unique<Node>()),
      folderIcon_(QFileIconProvider().icon(QFileIconProvider::Folder)) {
  // An invisible holder whose one child is "/".
  auto top = std::make_unique<Node>();
  top->name = "/";
  top->shown = QStringLiteral("/");
  top->parent = root_.get();
  root_->children.push_back(std::move(top));
  root_->listed = true;
}

NativeFolderModel::~NativeFolderModel() = default;

NativeFolderModel::Node* NativeFolderModel::NodeOf(const QModelIndex& index) const {
  return index.isValid() ? static_cast<Node*>(index.internalPointer()) : root_.get();
}

QModelIndex NativeFolderModel::index(int row, int column, const QModelIndex& parent) const {
  const Node* node = NodeOf(parent);
  if (column != 0 || row < 0 || size_t(row) >= node->children.size()) return {};
  return createIndex(row, 0, node->children[size_t(row)].get());
}

QModelIndex NativeFolderModel::parent(const QModelIndex& child) const {
  if (!child.isValid()) return {};
  const Node* up = NodeOf(child)->parent;
  if (!up || up == root_.get()) return {};
  return createIndex(up->row, 0, const_cast<Node*>(up));
}

int NativeFolderModel::rowCount(const QModelIndex& parent) const { return int(NodeOf(parent)->children.size()); }

int NativeFolderModel::columnCount(const QModelIndex&) const { return 1; }

QVariant NativeFolderModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole) return NodeOf(index)->shown;
  if (role == Qt::DecorationRole) return folderIcon_;
  return {};
}

bool NativeFolderModel::hasChildren(const QModelIndex& parent) const {
  const Node* node = NodeOf(parent);
  return !node->listed || !node->children.empty();
}

bool NativeFolderModel::canFetchMore(const QModelIndex& parent) const { return !NodeOf(parent)->listed; }

void NativeFolderModel::fetchMore(const QModelIndex& parent) {
  Node* node = NodeOf(parent);
  if (node->listed) return;
  node->listed = true;
  std::vector<QByteArray> names = FolderEntries(PathOf(parent));
  // Nodes already made for a path asked for (a dot-folder) stay.
  names.erase(std::remove_if(names.begin(), names.end(),
                             [node](const QByteArray& name) {
                               return std::any_of(node->children.begin(), node->children.end(),
                                                  [&name](const auto& child) { return child->name == name; });
                             }),
              names.end());
  if (names.empty()) return;
  std::vector<std::unique_ptr<Node>> fresh;
  for (QByteArray& name : names) {
    auto child = std::make_unique<Node>();
    child->shown = DisplayPath(name);
    child->name = std::move(name);
    child->parent = node;
    fresh.push_back(std::move(child));
  }
  QCollator collator;
  const auto byName = [&collator](const auto& a, const auto& b) { return collator.compare(a->shown, b->shown) < 0; };
  std::stable_sort(fresh.begin(), fresh.end(), byName);
  const int first = int(node->children.size());
  beginInsertRows(parent, first, first + int(fresh.size()) - 1);
  for (auto& child : fresh) {
    child->row = int(node->children.size());
    node->children.push_back(std::move(child));
  }
  endInsertRows();
  if (first == 0) return;
  // Folders made earlier for a path take their place in the order.
  emit layoutAboutToBeChanged({QPersistentModelIndex(parent)});
  const QModelIndexList before = persistentIndexList();
  std::stable_sort(node->children.begin(), node->children.end(), byName);
  for (size_t i = 0; i < node->children.size(); ++i) node->children[i]->row = int(i);
  QModelIndexList after;
  for (const QModelIndex& old : before) {
    Node* held = NodeOf(old);
    after.append(createIndex(held->row, 0, held));
  }
  changePersistentIndexList(before, after);
  emit layoutChanged({QPersistentModelIndex(parent)});
}

NativeFolderModel::Node* NativeFolderModel::Child(Node* node, const QByteArray& name) {
  const QModelIndex at = node == root_.get() ? QModelIndex() : createIndex(node->row, 0, node);
  fetchMore(at);
  for (const auto& child : node->children) {
    if (child->name == name) return child.get();
  }
  // A dot-folder asked for by its path joins the list.
  const QByteArray folder = PathOf(at);
  if (!IsFolderPath(folder.endsWith('/') ? folder + name : folder + '/' + name)) return nullptr;
  auto child = std::make_unique<Node>();
  child->name = name;
  child->shown = DisplayPath(name);
  child->parent = node;
  child->row = int(node->children.size());
  beginInsertRows(at, child->row, child->row);
  node->children.push_back(std::move(child));
  endInsertRows();
  return node->children.back().get();
}

QModelIndex NativeFolderModel::IndexOf(const QByteArray& path) {
  if (!path.startsWith('/') || !IsFolderPath(path)) return {};
  Node* node = root_->children.front().get();
  for (const QByteArray& name : path.split('/')) {
    if (name.isEmpty()) continue;
    node = Child(node, name);
    if (!node) return {};
  }
  return createIndex(node->row, 0, node);
}

QByteArray NativeFolderModel::PathOf(const QModelIndex& index) const {
  if (!index.isValid()) return {};
  QList<QByteArray> names;
  for (const Node* node = NodeOf(index); node && node != root_.get(); node = node->parent) names.prepend(node->name);
  if (names.size() == 1) return names.front();
  names.removeFirst();
  return '/' + names.join('/');
}

}  // namespace yuragi
