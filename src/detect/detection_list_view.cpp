#include "detect/detection_list_view.h"

#include <QEvent>
#include <QHeaderView>
#include <QListView>
#include <QMouseEvent>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <algorithm>
#include <iterator>

#include "detect/detection_model.h"
#include "detect/folder_scan.h"
#include "widgets/face_colour.h"

namespace yuragi {

namespace {

constexpr int kFitInterval = 250;  // ms

// Underlines the item under the mouse. Given a cell width, every item is
// that wide, so a long name is elided inside its cell instead of running
// over its neighbour's.
class HotTrackDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void SetCellWidth(int width) { cellWidth_ = width; }
  int CellWidth() const { return cellWidth_; }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    if (cellWidth_ > 0) size.setWidth(cellWidth_);
    return size;
  }

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    if (option->state & QStyle::State_MouseOver) option->font.setUnderline(true);
  }

 private:
  int cellWidth_ = 0;  // 0: as wide as the item's own text
};

// Room between two small-icon cells, and the narrowest cell worth showing.
constexpr int kSmallIconGap = 12;
constexpr int kSmallIconMinimum = 120;

HotTrackDelegate* Delegate(QListView* view) { return static_cast<HotTrackDelegate*>(view->itemDelegate()); }

}  // namespace

DetectionListView::DetectionListView(DetectionModel* model, QWidget* parent)
    : QStackedWidget(parent), model_(model), list_(new QListView(this)), details_(new QTreeView(this)) {
  list_->setModel(model_);
  details_->setModel(model_);
  selection_ = list_->selectionModel();
  details_->setSelectionModel(selection_);
  Configure(list_);
  Configure(details_);
  details_->setRootIsDecorated(false);
  details_->setItemsExpandable(false);
  details_->setUniformRowHeights(true);
  details_->setAllColumnsShowFocus(true);
  details_->header()->setSectionsClickable(true);
  details_->header()->setSortIndicatorShown(false);
  details_->header()->setStretchLastSection(false);
  details_->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  connect(details_->header(), &QHeaderView::sectionClicked, this, &DetectionListView::ColumnClicked);
  list_->setTextElideMode(Qt::ElideLeft);
  addWidget(list_);
  addWidget(details_);
  // Refitting after every row made a long run quadratic; a few fits a
  // second look the same to the user.
  fitTimer_.setSingleShot(true);
  fitTimer_.setInterval(kFitInterval);
  connect(&fitTimer_, &QTimer::timeout, this, &DetectionListView::FitColumns);
  connect(model_, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex&, int first, int last) {
    if (style_ == 3 && !fitTimer_.isActive()) fitTimer_.start();
    if (style_ == 1) FitSmallIcons(first, last);
  });
  auto remeasure = [this] {
    measuredRows_ = 0;
    std::fill(std::begin(widest_), std::end(widest_), 0);
    if (style_ == 1) FitSmallIcons(0, model_->rowCount() - 1, true);
  };
  connect(model_, &QAbstractItemModel::modelReset, this, remeasure);
  connect(model_, &QAbstractItemModel::rowsRemoved, this, remeasure);
  connect(model_, &QAbstractItemModel::layoutChanged, this, remeasure);
  SetViewStyle(0);
  setFrameShape(QFrame::NoFrame);
}

void DetectionListView::Configure(QAbstractItemView* view) {
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setItemDelegate(new HotTrackDelegate(view));
  view->setMouseTracking(true);
  view->setAttribute(Qt::WA_Hover);
  view->viewport()->setAttribute(Qt::WA_Hover);
  view->viewport()->installEventFilter(this);
  view->setContextMenuPolicy(Qt::CustomContextMenu);
  view->setFrameShape(QFrame::NoFrame);
  KeepSelectionVisibleUnfocused(view);
  connect(view, &QAbstractItemView::doubleClicked, this, &DetectionListView::RowDoubleClicked);
  connect(view, &QWidget::customContextMenuRequested, this,
          [this, view](const QPoint& pos) { emit ContextMenuWanted(view->viewport()->mapToGlobal(pos)); });
}

void DetectionListView::SetViewStyle(int style) {
  style = std::clamp(style, 0, 3);
  style_ = style;
  if (style == 3) {
    setCurrentWidget(details_);
    details_->setIconSize(QSize(16, 16));
    FitColumns();
  } else {
    setCurrentWidget(list_);
    list_->setResizeMode(QListView::Adjust);
    list_->setWrapping(true);
    list_->setMovement(QListView::Static);
    if (style == 0) {
      list_->setViewMode(QListView::IconMode);
      list_->setIconSize(QSize(kThumbnailSize, kThumbnailSize));
      list_->setGridSize(QSize(kThumbnailSize + 64, kThumbnailSize + 40));
      list_->setFlow(QListView::LeftToRight);
      list_->setWordWrap(false);  // elided from the left, the file name stays in view
    } else {
      list_->setViewMode(QListView::ListMode);
      list_->setIconSize(QSize(16, 16));
      list_->setGridSize(QSize());
      list_->setWordWrap(false);
      list_->setFlow(style == 1 ? QListView::LeftToRight : QListView::TopToBottom);
    }
    // The list shows each path whole, as wide as it is; the grids of the
    // other two styles give every cell one size anyway.
    list_->setUniformItemSizes(style != 2);
    if (style == 1) {
      FitSmallIcons(0, model_->rowCount() - 1, true);
    } else if (Delegate(list_)->CellWidth() != 0) {
      Delegate(list_)->SetCellWidth(0);
      list_->doItemsLayout();
    }
  }
  setFocusProxy(CurrentView());
  const int row = SelectedRow();
  if (row >= 0) ScrollToRow(row);
}

QAbstractItemView* DetectionListView::CurrentView() const {
  return style_ == 3 ? static_cast<QAbstractItemView*>(details_) : list_;
}

QAbstractItemView* DetectionListView::ListPart() const { return list_; }
QAbstractItemView* DetectionListView::DetailPart() const { return details_; }

int DetectionListView::SelectedRow() const {
  const QModelIndexList rows = selection_->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

void DetectionListView::SelectRow(int row) {
  const QModelIndex index = model_->index(row, 0);
  selection_->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void DetectionListView::ScrollToRow(int row) { CurrentView()->scrollTo(model_->index(row, 0)); }

void DetectionListView::FitColumns() {
  fitTimer_.stop();
  const int rows = model_->rowCount();
  for (; measuredRows_ < rows; ++measuredRows_) {
    for (int column = 0; column < 4; ++column) {
      const int width = details_->sizeHintForIndex(model_->index(measuredRows_, column)).width();
      widest_[column] = std::max(widest_[column], width);
    }
  }
  QHeaderView* header = details_->header();
  for (int column = 0; column < 4; ++column) {
    const int wanted = std::max(widest_[column], header->isHidden() ? 0 : header->sectionSizeHint(column));
    if (header->sectionSize(column) != wanted) header->resizeSection(column, wanted);
  }
}

void DetectionListView::FitSmallIcons(int first, int last, bool anew) {
  // Cells as wide as the widest name, but never wider than the view: names
  // stay whole where there is room and are elided (from the left, keeping
  // the file name) where there is not.
  HotTrackDelegate* delegate = Delegate(list_);
  const int kept = delegate->CellWidth();
  delegate->SetCellWidth(0);
  if (anew) widestSmallIcon_ = 0;
  int height = 0;
  for (int row = std::max(first, 0); row <= last; ++row) {
    const QSize natural = list_->sizeHintForIndex(model_->index(row, 0));
    widestSmallIcon_ = std::max(widestSmallIcon_, natural.width());
    height = std::max(height, natural.height());
  }
  const int room = list_->viewport()->width() - 2 * list_->spacing();
  const int cell =
      std::max(std::min(std::max(widestSmallIcon_ + kSmallIconGap, kSmallIconMinimum), room), 2 * kSmallIconGap);
  const QSize grid(cell, std::max(list_->gridSize().height(), std::max(height + 2, 22)));
  delegate->SetCellWidth(cell - kSmallIconGap);
  if (grid != list_->gridSize()) {
    list_->setGridSize(grid);
  } else if (kept != delegate->CellWidth()) {
    list_->doItemsLayout();
  }
}

void DetectionListView::SetFaceColour(bool face) {
  yuragi::SetFaceColour(list_, face);
  yuragi::SetFaceColour(details_, face);
}

bool DetectionListView::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize && style_ == 1 && watched == list_->viewport()) {
    FitSmallIcons(0, -1);
  }
  // A hand over an item, the normal pointer elsewhere.
  if (event->type() == QEvent::MouseMove || event->type() == QEvent::HoverMove) {
    auto* viewport = static_cast<QWidget*>(watched);
    QPoint pos = viewport->mapFromGlobal(QCursor::pos());
    if (event->type() == QEvent::MouseMove) pos = static_cast<QMouseEvent*>(event)->position().toPoint();
    const bool overItem = CurrentView()->indexAt(pos).isValid();
    viewport->setCursor(overItem ? Qt::PointingHandCursor : Qt::ArrowCursor);
  }
  return QStackedWidget::eventFilter(watched, event);
}

}  // namespace yuragi
