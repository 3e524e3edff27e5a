#pragma once

#include <QStackedWidget>
#include <QTimer>

class QListView;
class QTreeView;
class QItemSelectionModel;
class QAbstractItemView;

namespace yuragi {

class DetectionModel;

// The detection list: one model shown as thumbnails (0), small icons (1),
// a list (2) or details (3, with the state column last).
class DetectionListView : public QStackedWidget {
  Q_OBJECT
 public:
  explicit DetectionListView(DetectionModel* model, QWidget* parent = nullptr);

  void SetViewStyle(int style);
  int ViewStyle() const { return style_; }
  QAbstractItemView* CurrentView() const;
  // The two views behind the styles, in keyboard-focus order.
  QAbstractItemView* ListPart() const;
  QAbstractItemView* DetailPart() const;

  int SelectedRow() const;  // -1 when none
  void SelectRow(int row);
  void ScrollToRow(int row);
  // Sizes each column to its widest entry (every row, not a sample) now.
  // Rows added in the details view refit the columns at most a few times a
  // second on their own.
  void FitColumns();

  // Button-face colour until the first run, window colour afterwards.
  void SetFaceColour(bool face);

 signals:
  void RowDoubleClicked();
  void ColumnClicked(int column);
  void ContextMenuWanted(const QPoint& globalPos);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Configure(QAbstractItemView* view);
  // Small icons: measures rows first..last (all of them again when anew)
  // and sizes the grid's cells to the widest name the view has room for.
  void FitSmallIcons(int first, int last, bool anew = false);

  DetectionModel* model_;
  QListView* list_;
  QTreeView* details_;
  QItemSelectionModel* selection_;
  QTimer fitTimer_;
  // Widest entry per column over the first measuredRows_ rows: rows are
  // appended at the end, so each is measured once.
  int widest_[4] = {0, 0, 0, 0};
  int measuredRows_ = 0;
  int style_ = 0;
  int widestSmallIcon_ = 0;  // natural width of the widest small-icon item
};

}  // namespace yuragi
