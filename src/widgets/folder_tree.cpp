#include "widgets/folder_tree.h"

#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <algorithm>

#include "widgets/face_colour.h"

namespace yuragi {

FolderTree::FolderTree(QWidget* parent) : QTreeView(parent), model_(new QFileSystemModel(this)) {
  model_->setOption(QFileSystemModel::DontWatchForChanges);
  model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
  model_->setRootPath(QStringLiteral("/"));
  setModel(model_);
  for (int column = 1; column < model_->columnCount(); ++column) hideColumn(column);
  header()->hide();
  header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  header()->setStretchLastSection(false);
  setSelectionMode(SingleSelection);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  // A double-click starts a run; it must not also open or close the folder.
  setExpandsOnDoubleClick(false);
  setAnimated(false);
  // Keep the selection visible while another control has the focus.
  KeepSelectionVisibleUnfocused(this);
  connect(this, &QTreeView::clicked, this, &FolderTree::FolderClicked);
  connect(model_, &QAbstractItemModel::layoutChanged, this, &FolderTree::KeepWantedSelection);
  connect(model_, &QAbstractItemModel::rowsInserted, this, &FolderTree::KeepWantedSelection);
  connect(model_, &QFileSystemModel::directoryLoaded, this, &FolderTree::KeepWantedSelection);
  QScrollBar* bar = horizontalScrollBar();
  connect(bar, &QScrollBar::rangeChanged, this, &FolderTree::KeepWantedPosition);
  connect(bar, &QScrollBar::valueChanged, this, &FolderTree::KeepWantedPosition);
  connect(bar, &QScrollBar::actionTriggered, this, [this] { wantedX_ = -1; });
}

void FolderTree::KeepHorizontalPosition(int x) {
  wantedX_ = std::max(0, x);
  KeepWantedPosition();
}

int FolderTree::HorizontalPosition() const { return wantedX_ >= 0 ? wantedX_ : horizontalScrollBar()->value(); }

void FolderTree::KeepWantedPosition() {
  // Selecting a folder scrolls back to the left edge; the held position wins.
  QScrollBar* bar = horizontalScrollBar();
  if (wantedX_ >= 0 && bar->maximum() >= wantedX_ && bar->value() != wantedX_) bar->setValue(wantedX_);
}

void FolderTree::KeepWantedSelection() {
  if (wanted_.isEmpty() || SelectedPath() == wanted_) return;
  const QModelIndex index = model_->index(wanted_);
  if (index.isValid()) setCurrentIndex(index);
}

bool FolderTree::SetPath(const QString& folder) {
  const QFileInfo info(folder);
  if (folder.isEmpty() || !info.isDir()) return false;
  const QModelIndex index = model_->index(info.absoluteFilePath());
  if (!index.isValid()) return false;
  for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) expand(up);
  wanted_ = model_->filePath(index);
  setCurrentIndex(index);
  scrollTo(index);
  return true;
}

QString FolderTree::SelectedPath() const {
  const QModelIndex index = currentIndex();
  return index.isValid() ? model_->filePath(index) : QString();
}

void FolderTree::keyPressEvent(QKeyEvent* event) {
  wanted_.clear();
  wantedX_ = -1;
  // Enter starts a run as a double-click does, for keyboard users.
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentIndex().isValid()) {
    emit FolderDoubleClicked();
    return;
  }
  QTreeView::keyPressEvent(event);
}

void FolderTree::wheelEvent(QWheelEvent* event) {
  wantedX_ = -1;
  QTreeView::wheelEvent(event);
}

void FolderTree::mousePressEvent(QMouseEvent* event) {
  wanted_.clear();
  wantedX_ = -1;
  if (event->button() == Qt::RightButton) {
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid()) setCurrentIndex(index);
    return;
  }
  QTreeView::mousePressEvent(event);
}

void FolderTree::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeView::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton && indexAt(event->position().toPoint()).isValid()) {
    emit FolderDoubleClicked();
  }
}

}  // namespace yuragi
