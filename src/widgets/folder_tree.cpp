#include "widgets/folder_tree.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QHelpEvent>
#include <QScrollBar>
#include <QToolTip>
#include <algorithm>

#include "platform/paths.h"
#include "widgets/face_colour.h"
#include "widgets/native_folder_model.h"

namespace yuragi {

FolderTree::FolderTree(QWidget* parent) : QTreeView(parent), model_(new NativeFolderModel(this)) {
  setModel(model_);
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

bool FolderTree::SetPath(const QByteArray& folder) {
  if (folder.isEmpty()) return false;
  const QModelIndex index = model_->IndexOf(ResolvedPath(folder, WorkingFolder()));
  if (!index.isValid()) return false;
  for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) expand(up);
  setCurrentIndex(index);
  // Centred: at an edge the horizontal scroll bar, shown later, covers it.
  scrollTo(index, PositionAtCenter);
  return true;
}

QByteArray FolderTree::SelectedPath() const { return model_->PathOf(currentIndex()); }

void FolderTree::keyPressEvent(QKeyEvent* event) {
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
  wantedX_ = -1;
  if (event->button() == Qt::RightButton) {
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid()) setCurrentIndex(index);
    return;
  }
  QTreeView::mousePressEvent(event);
}

bool FolderTree::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::ToolTip && !toolTip().isEmpty()) {
    const auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = indexAt(help->pos());
    if (index.isValid()) {
      // A name cut by a narrow pane is seen whole; the hint is what a row
      // does when double-clicked.
      QToolTip::showText(help->globalPos(), index.data(Qt::ToolTipRole).toString() + QLatin1Char('\n') + toolTip(),
                         viewport(), visualRect(index));
      return true;
    }
  }
  return QTreeView::viewportEvent(event);
}

void FolderTree::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeView::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton && indexAt(event->position().toPoint()).isValid()) {
    emit FolderDoubleClicked();
  }
}

}  // namespace yuragi
