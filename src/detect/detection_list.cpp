// The detection list: sorting, view styles, context menu, clipboard and the
// hand-over of a row to the re-fetch tab.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCollator>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <algorithm>

#include "app/globals.h"
#include "app/main_window.h"
#include "detect/detection_list_view.h"
#include "detect/detection_model.h"
#include "platform/file_info.h"
#include "widgets/folder_tree.h"
#include "platform/paths.h"

using namespace yuragi;

namespace {

QCollator ListCollator() {
  QCollator collator;  // the user's locale
  collator.setCaseSensitivity(Qt::CaseSensitive);
  collator.setNumericMode(false);
  return collator;
}

const QString& SortText(const DetectionModel::Row& row, int magnitude) {
  static const QString none;
  if (magnitude == 1) return row.caption;
  if (magnitude == 2) return row.sizeText;
  return row.timeText ? *row.timeText : none;  // a missing time sorts as empty text
}

int CompareRows(const DetectionModel::Row& a, const DetectionModel::Row& b, int sortColumn,
                const QCollator& collator) {
  if (sortColumn == 0) return 0;
  const int magnitude = sortColumn < 0 ? -sortColumn : sortColumn;
  if (magnitude == 4) {
    const int sign = a.stateOrder < b.stateOrder ? -1 : (a.stateOrder > b.stateOrder ? 1 : 0);
    return sortColumn < 0 ? -sign : sign;
  }
  const int order = collator.compare(SortText(a, magnitude), SortText(b, magnitude));
  const int sign = order < 0 ? -1 : (order > 0 ? 1 : 0);
  return sortColumn < 0 ? -sign : sign;
}

}  // namespace

void TForm1::ListView1ColumnClick(int column) {
  const int k = column + 1;
  SortColumn = (k == (SortColumn < 0 ? -SortColumn : SortColumn)) ? -SortColumn : k;
  const QCollator collator = ListCollator();
  const int sortColumn = SortColumn;
  ListModel->Sort([&](const DetectionModel::Row& a, const DetectionModel::Row& b) {
    return CompareRows(a, b, sortColumn, collator);
  });
}

int TForm1::ListView1Compare(int row1, int row2) const {
  return CompareRows(ListModel->At(row1), ListModel->At(row2), SortColumn, ListCollator());
}

void TForm1::ListView1DblClick() {
  const int row = ListView1->SelectedRow();
  if (row < 0 || downloadRunning_) return;
  PageControl1->setCurrentIndex(0);
  const QByteArray path = ListModel->At(row).path;
  SetEdit1Path(path);
  int key = 13;
  Edit1KeyPress(this, key);
  TargetPath = path;
}

void TForm1::SetViewStyle(int style) {
  style = std::clamp(style, 0, 3);  // a hand-edited settings file can hold anything
  ListView1->SetViewStyle(style);
  QAction* items[] = {Popup1vsIcon, Popup1vsSmallIcon, Popup1vsList, Popup1vsReport};
  items[style]->setChecked(true);
}

void TForm1::Popup1vsIconClick() { SetViewStyle(0); }
void TForm1::Popup1vsSmallIconClick() { SetViewStyle(1); }
void TForm1::Popup1vsListClick() { SetViewStyle(2); }
void TForm1::Popup1vsReportClick() { SetViewStyle(3); }

void TForm1::PopupMenu1Popup() {
  const bool selected = ListView1->SelectedRow() >= 0;
  for (QAction* item : {RegetP1, OpenP1, OpenByP1, PropertyP1, MemoP1, DeleteP1, RepairP1, FolderP1}) {
    item->setEnabled(selected);
  }
}

void TForm1::CopyToClipP1Click() {
  // An empty list leaves the clipboard as it was.
  if (ListModel->rowCount() == 0) return;
  QString text;
  for (int row = 0; row < ListModel->rowCount(); ++row) {
    text += ListModel->At(row).caption;
    text += QLatin1Char('\n');  // a CR would end up in every path pasted into a shell
  }
  Memo1->setPlainText(text);
  QGuiApplication::clipboard()->setText(text);
}

void TForm1::PageControl1Change(int index) {
  if (index != 1 || !FolderTree || detectionRunning_) return;
  const QByteArray folder = IsRegularFile(TargetPath.toStdString()) ? FolderPart(TargetPath) : QByteArray();
  if (!folder.isEmpty()) {
    FolderTree->SetPath(folder);
    FolderTree->setFocus();
    return;
  }
  // Enter right after the switch starts a run, unless focus already came
  // back to something on this page.
  const QWidget* focused = QApplication::focusWidget();
  if (!focused || !TabSheet2->isAncestorOf(focused)) FolderTree->setFocus();
}
