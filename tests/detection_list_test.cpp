#include <QAction>
#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QHeaderView>
#include <QScrollBar>
#include <QSplitter>
#include <map>
#include <set>
#include <QTreeView>

#include "detect/detection_list_view.h"
#include "detect/detection_model.h"
#include "jpeg_writer.h"
#include "widgets/folder_tree.h"
#include "window_fixture.h"

using namespace yuragi;
using namespace yuragi::testing;

namespace {

class DetectionList : public WindowTest {
 protected:
  static void Add(TForm1& f, const QString& path, const QString& size, std::optional<QString> time = {}) {
    f.ListModel->Append({path.toUtf8(), path, size, std::move(time), QIcon(), {}, 0, JpegEnd::Cut});
  }
  static QStringList Captions(TForm1& f) {
    QStringList captions;
    for (int row = 0; row < f.ListModel->rowCount(); ++row) captions << f.ListModel->At(row).caption;
    return captions;
  }
  QString Cut(const QString& relative) {
    const QString path = Path(relative);
    QDir().mkpath(QFileInfo(path).path());
    const std::vector<uint8_t> bytes = EncodeJpeg({120, 90});
    WriteFile(path.toStdString(), Truncated(bytes, bytes.size() * 2 / 3));
    return path;
  }
  void Detect(TForm1& f, const QString& folder) {
    ASSERT_TRUE(f.FolderTree->SetPath(folder.toUtf8()));
    f.StartDetection();
  }
};

}  // namespace

TEST_F(DetectionList, ColumnsSortByTheirTextAndTheSameColumnAgainReverses) {
  TForm1& f = Open();
  Add(f, "/b/987.jpg", " 987", "2007/05/12 9:04:22");
  Add(f, "/a/1234.jpg", " 1,234", "2007/05/12 13:04:22");
  Add(f, "/d/9999.jpg", " 9,999");
  Add(f, "/c/10000.jpg", " 10,000", "2001/01/01");
  f.ListView1ColumnClick(1);
  EXPECT_EQ(f.SortColumn, 2);
  EXPECT_EQ(Captions(f), QStringList({"/a/1234.jpg", "/c/10000.jpg", "/d/9999.jpg", "/b/987.jpg"}));
  EXPECT_LT(f.ListView1Compare(0, 3), 0);
  f.ListView1ColumnClick(1);
  EXPECT_EQ(f.SortColumn, -2);
  EXPECT_EQ(Captions(f), QStringList({"/b/987.jpg", "/d/9999.jpg", "/c/10000.jpg", "/a/1234.jpg"}));
  f.ListView1ColumnClick(0);
  EXPECT_EQ(Captions(f), QStringList({"/a/1234.jpg", "/b/987.jpg", "/c/10000.jpg", "/d/9999.jpg"}));
  // Times as text: the row without one first, 13:04 before 9:04.
  f.ListView1ColumnClick(2);
  EXPECT_EQ(Captions(f), QStringList({"/d/9999.jpg", "/c/10000.jpg", "/a/1234.jpg", "/b/987.jpg"}));
  // Rows appended later go to the end until the next click.
  Add(f, "/0/first-by-name.jpg", " 1");
  EXPECT_EQ(Captions(f).last(), "/0/first-by-name.jpg");
  f.ListView1ColumnClick(2);
  EXPECT_EQ(f.SortColumn, -3);
}

TEST_F(DetectionList, AHeaderClickInTheDetailViewSorts) {
  TForm1& f = Open();
  Add(f, "/z.jpg", " 2");
  Add(f, "/a.jpg", " 1");
  f.ListView1->setEnabled(true);
  f.Popup1vsReport->trigger();
  auto* details = qobject_cast<QTreeView*>(f.ListView1->CurrentView());
  ASSERT_NE(details, nullptr);
  EXPECT_EQ(f.ListModel->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), "サイズ");
  emit details->header()->sectionClicked(0);
  EXPECT_EQ(Captions(f), QStringList({"/a.jpg", "/z.jpg"}));
  EXPECT_EQ(f.ListModel->data(f.ListModel->index(0, 1), Qt::TextAlignmentRole).toInt() & Qt::AlignRight,
            int(Qt::AlignRight));
}

TEST_F(DetectionList, RowItemsNeedASelectedRow) {
  TForm1& f = Open();
  Add(f, "/a.jpg", " 1");
  QList<QAction*> rowItems = {f.RegetP1, f.OpenP1, f.OpenByP1, f.PropertyP1, f.MemoP1, f.DeleteP1, f.FolderP1};
  f.PopupMenu1Popup();
  for (QAction* item : rowItems) EXPECT_FALSE(item->isEnabled()) << item->text().toStdString();
  for (QAction* item : {f.Popup1vsIcon, f.Popup1vsSmallIcon, f.Popup1vsList, f.Popup1vsReport, f.CopyToClipP1}) {
    EXPECT_TRUE(item->isEnabled());
  }
  f.ListView1->SelectRow(0);
  f.PopupMenu1Popup();
  for (QAction* item : rowItems) EXPECT_TRUE(item->isEnabled()) << item->text().toStdString();
}

TEST_F(DetectionList, CopyPutsEveryPathOnItsOwnLineInListOrder) {
  TForm1& f = Open();
  QGuiApplication::clipboard()->setText("before");
  f.CopyToClipP1Click();  // an empty list leaves the clipboard alone
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "before");
  Add(f, "/b/y.jpeg", " 2");
  Add(f, "/a/x.jpg", " 1");
  f.ListView1ColumnClick(0);
  f.CopyToClipP1->trigger();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "/a/x.jpg\n/b/y.jpeg\n");
}

TEST_F(DetectionList, DoubleClickHandsTheRowToTheRefetchTab) {
  const QString path = Cut("img.example/pics/cut.jpg");
  TForm1& f = Open();
  f.PageControl1->setCurrentIndex(1);
  Detect(f, dir.path());
  ASSERT_EQ(f.ListModel->rowCount(), 1);
  f.ListView1DblClick();  // nothing selected: nothing happens
  EXPECT_EQ(f.PageControl1->currentIndex(), 1);
  f.ListView1->SelectRow(0);
  f.ListView1DblClick();
  EXPECT_EQ(f.PageControl1->currentIndex(), 0);
  EXPECT_EQ(f.Edit1->text(), path);
  EXPECT_EQ(TargetPath, path);
  EXPECT_EQ(f.Edit2->text(), "http://img.example/pics/cut.jpg");
  EXPECT_EQ(f.StatusPanel1->text(), "cut.jpg をセットしました");
  EXPECT_EQ(f.windowTitle(), "cut.jpg - ゆらぎ丸");
  // The bold default item does the same.
  f.Edit1->clear();
  f.PageControl1->setCurrentIndex(1);
  f.RegetP1->trigger();
  EXPECT_EQ(f.PageControl1->currentIndex(), 0);
  EXPECT_EQ(f.Edit1->text(), path);
}

TEST_F(DetectionList, ReturningToTheDetectionTabSelectsTheTargetsFolder) {
  const QString path = Cut("site.example/deep/folder/t.jpg");
  QDir().mkpath(Path("elsewhere"));
  TForm1& f = Open();
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  f.FolderTree->SetPath(Path("elsewhere").toUtf8());
  f.Edit1->setText(path);
  QTest::keyClick(f.Edit1, Qt::Key_Return);
  f.PageControl1->setCurrentIndex(1);
  EXPECT_EQ(f.FolderTree->SelectedPath(), Path("site.example/deep/folder").toUtf8());
  EXPECT_TRUE(f.FolderTree->hasFocus());

  // Not for a target that has vanished, but keys still go to the tree.
  f.PageControl1->setCurrentIndex(0);
  f.FolderTree->SetPath(Path("elsewhere").toUtf8());
  f.PageControl1->tabBar()->setFocus();  // where focus is at start
  QFile::remove(path);
  QTest::keyClick(f.PageControl1->tabBar(), Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(f.PageControl1->currentIndex(), 1);
  EXPECT_EQ(f.FolderTree->SelectedPath(), Path("elsewhere").toUtf8());
  EXPECT_TRUE(f.FolderTree->hasFocus());
  // Focus given to the list before is left there.
  f.ListView1->setEnabled(true);
  f.ListView1->CurrentView()->setFocus();
  f.PageControl1->setCurrentIndex(0);
  f.PageControl1->setCurrentIndex(1);
  EXPECT_EQ(QApplication::focusWidget(), f.ListView1->CurrentView());
  f.ListView1->setEnabled(false);

  // Not while a run is in progress.
  Cut("site.example/deep/folder/t.jpg");
  for (int i = 0; i < 400; ++i) Cut(QStringLiteral("run/%1.jpg").arg(i));
  f.PageControl1->setCurrentIndex(0);
  QString selectedDuringRun;
  QTimer::singleShot(0, &f, [&] {
    f.PageControl1->setCurrentIndex(0);
    f.PageControl1->setCurrentIndex(1);
    selectedDuringRun = QString::fromUtf8(f.FolderTree->SelectedPath());
    f.CancelBtn1Click();
  });
  Detect(f, Path("run"));
  EXPECT_EQ(selectedDuringRun.toStdString(), Path("run").toStdString());
}

TEST_F(DetectionList, EachViewStyleCanBeChosen) {
  TForm1& f = Open();
  Add(f, "/a.jpg", " 1");
  f.PageControl1->setCurrentIndex(1);
  QAction* items[] = {f.Popup1vsIcon, f.Popup1vsSmallIcon, f.Popup1vsList, f.Popup1vsReport};
  for (int style : {3, 1, 2, 0}) {
    items[style]->trigger();
    EXPECT_EQ(f.ListView1->ViewStyle(), style);
    for (int other = 0; other < 4; ++other) EXPECT_EQ(items[other]->isChecked(), other == style);
    EXPECT_EQ(f.ListView1->currentWidget(), f.ListView1->CurrentView());
    EXPECT_TRUE(f.ListView1->CurrentView()->isVisible());
  }
  EXPECT_EQ(f.ListView1->CurrentView()->iconSize(), QSize(96, 96));
  // A value from outside the range (a hand-edited settings file) is clamped.
  f.ListView1->SetViewStyle(7);
  EXPECT_EQ(f.ListView1->ViewStyle(), 3);
  EXPECT_EQ(f.ListView1->CurrentView(), f.ListView1->DetailPart());
  f.ListView1->SetViewStyle(-2);
  EXPECT_EQ(f.ListView1->ViewStyle(), 0);
  EXPECT_EQ(f.ListView1->CurrentView(), f.ListView1->ListPart());
}

TEST_F(DetectionList, TabFromTheFolderTreeReachesTheList) {
  TForm1& f = Open();
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  f.PageControl1->setCurrentIndex(1);
  f.ListView1->setEnabled(true);
  f.FolderTree->setFocus();
  QTest::keyClick(f.windowHandle(), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), f.ListView1->CurrentView())
      << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className() : "none");
}

namespace {

// The small-icon cells of every row: none may lie over another or reach
// past the view's right edge.
std::vector<QRect> SmallIconCells(TForm1& f) {
  QAbstractItemView* view = f.ListView1->CurrentView();
  std::vector<QRect> cells;
  for (int row = 0; row < f.ListModel->rowCount(); ++row) {
    const QRect cell = view->visualRect(f.ListModel->index(row, 0));
    for (const QRect& other : cells) EXPECT_FALSE(cell.intersects(other)) << row;
    EXPECT_LE(cell.right() + view->horizontalScrollBar()->value(), view->viewport()->width()) << row;
    cells.push_back(cell);
  }
  return cells;
}

// A row as a run adds it, with the JPEG file icon.
void AddWithIcon(TForm1& f, const QString& path, const QString& size) {
  f.ListModel->Append({path.toUtf8(), path, size, QString("2007/05/12 9:04:22"), QIcon(f.ImageList2.front()), {}, 0, JpegEnd::Cut});
}

// Room for the icon and the whole name.
bool Whole(TForm1& f, int row, const QRect& cell) {
  const QAbstractItemView* view = f.ListView1->CurrentView();
  return view->fontMetrics().horizontalAdvance(f.ListModel->At(row).caption) + view->iconSize().width() <= cell.width();
}

}  // namespace

TEST_F(DetectionList, SmallIconsGiveEveryNameACellOfItsOwn) {
  TForm1& f = Open();
  f.PageControl1->setCurrentIndex(1);
  f.ListView1->setEnabled(true);
  for (int i = 0; i < 12; ++i) AddWithIcon(f, QString("/s/%1.jpg").arg(i), " 1");
  f.Popup1vsSmallIcon->trigger();
  Settle();
  std::vector<QRect> cells = SmallIconCells(f);
  std::set<int> columns;
  for (size_t row = 0; row < cells.size(); ++row) {
    EXPECT_TRUE(Whole(f, int(row), cells[row])) << row;
    columns.insert(cells[row].x());
  }
  EXPECT_GT(columns.size(), 2u) << "short names sit side by side";

  // A longer name arriving during a run widens every cell to hold it.
  AddWithIcon(f, "/saved/img.example/photos/2024/" + QString(40, 'n') + ".jpg", " 2");
  Settle();
  cells = SmallIconCells(f);
  for (size_t row = 0; row < cells.size(); ++row) EXPECT_TRUE(Whole(f, int(row), cells[row])) << row;
  EXPECT_EQ(cells.front().width(), cells.back().width());

  // A name wider than the view: one column, each name elided in its cell.
  AddWithIcon(f, "/" + QString(400, 'w') + "/far.jpg", " 3");
  Settle();
  cells = SmallIconCells(f);
  for (const QRect& cell : cells) EXPECT_EQ(cell.x(), cells.front().x());
  EXPECT_FALSE(Whole(f, int(cells.size()) - 1, cells.back()));

  // A narrower view keeps the rule; removing the long rows gives room back.
  f.Splitter1->setSizes({700, 300});
  Settle();
  SmallIconCells(f);
  f.Splitter1->setSizes({200, 800});
  f.ListModel->Remove(f.ListModel->rowCount() - 1);
  f.ListModel->Remove(f.ListModel->rowCount() - 1);
  Settle();
  columns.clear();
  for (const QRect& cell : SmallIconCells(f)) columns.insert(cell.x());
  EXPECT_GT(columns.size(), 2u);

  // The other styles keep their own layout.
  f.Popup1vsList->trigger();
  Settle();
  const QRect listed = f.ListView1->CurrentView()->visualRect(f.ListModel->index(0, 0));
  EXPECT_LT(listed.width(), cells.front().width());
}

TEST_F(DetectionList, TheListStyleShowsEveryPathWhole) {
  TForm1& f = Open();
  f.PageControl1->setCurrentIndex(1);
  f.ListView1->setEnabled(true);
  // The first row is the shortest: no row may be cut to its width.
  const QStringList paths = {"/t1/a.jpg", "/saved/it12/t1/.hidden/h.jpg", "/saved/img.example/photos/2024/long-name.jpg",
                             "/b.jpg"};
  for (const QString& path : paths) AddWithIcon(f, path, " 1");
  f.Popup1vsList->trigger();
  Settle();
  QAbstractItemView* view = f.ListView1->CurrentView();
  std::vector<QRect> cells;
  for (int row = 0; row < paths.size(); ++row) {
    const QRect cell = view->visualRect(f.ListModel->index(row, 0));
    EXPECT_TRUE(Whole(f, row, cell)) << paths[row].toStdString() << " in " << cell.width();
    for (const QRect& other : cells) EXPECT_FALSE(cell.intersects(other)) << row;
    cells.push_back(cell);
  }
}

TEST_F(DetectionList, TheDetailsViewShowsEachStateLastAndSortsByItTheOthersInTheTooltip) {
  const std::vector<uint8_t> whole = EncodeJpeg({160, 480, JpegKind::Baseline, 85, 3, 12});
  QDir().mkpath(Path("s"));
  WriteFile(Path("s/a-cut.jpg").toStdString(), Truncated(whole, whole.size() * 3 / 4));
  WriteFile(Path("s/b-cut.jpg").toStdString(), Truncated(whole, whole.size() / 3));
  std::vector<uint8_t> padded = whole;
  padded.resize(padded.size() + 64, 0);
  WriteFile(Path("s/c-padded.jpg").toStdString(), padded);
  std::vector<uint8_t> damaged = whole;
  for (size_t i = 0; i < 16; i += 2) {
    damaged[damaged.size() / 2 + i] = 0xFF;
    damaged[damaged.size() / 2 + i + 1] = 0x00;
  }
  damaged.resize(damaged.size() + 64, 0);  // listed: no end marker in its last bytes
  WriteFile(Path("s/d-damaged.jpg").toStdString(), damaged);

  TForm1& f = Open();
  f.PageControl1->setCurrentIndex(1);
  Detect(f, Path("s"));
  ASSERT_EQ(f.ListModel->rowCount(), 4);
  f.ListView1ColumnClick(0);
  std::map<QString, QString> states;
  for (int row = 0; row < 4; ++row) {
    states[QFileInfo(f.ListModel->At(row).caption).fileName()] = f.ListModel->At(row).stateText;
  }
  EXPECT_TRUE(states["a-cut.jpg"].startsWith("途中まで (")) << states["a-cut.jpg"].toStdString();
  EXPECT_EQ(states["c-padded.jpg"], "後ろにデータ");
  EXPECT_EQ(states["d-damaged.jpg"], "破損");

  f.Popup1vsReport->trigger();
  auto* details = qobject_cast<QTreeView*>(f.ListView1->CurrentView());
  ASSERT_NE(details, nullptr);
  EXPECT_EQ(f.ListModel->columnCount(), 4);
  EXPECT_EQ(f.ListModel->headerData(3, Qt::Horizontal, Qt::DisplayRole).toString(), "状態");
  EXPECT_FALSE(details->header()->isSectionHidden(3));
  emit details->header()->sectionClicked(3);
  EXPECT_EQ(Captions(f), QStringList({Path("s/b-cut.jpg"), Path("s/a-cut.jpg"), Path("s/c-padded.jpg"),
                                      Path("s/d-damaged.jpg")}));
  EXPECT_EQ(f.ListModel->data(f.ListModel->index(2, 3), Qt::DisplayRole).toString(), "後ろにデータ");
  // The other views: the state under the path in the tooltip.
  f.Popup1vsIcon->trigger();
  EXPECT_EQ(f.ListModel->data(f.ListModel->index(3, 0), Qt::ToolTipRole).toString(),
            Path("s/d-damaged.jpg") + "\n破損");
}
