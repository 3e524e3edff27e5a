#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QHeaderView>
#include <QTreeView>
#include <algorithm>
#include <stdexcept>
#include <utility>

#include "detect/detection_list_view.h"
#include "detect/detection_model.h"
#include "jpeg_writer.h"
#include "nested_folders.h"
#include "widgets/folder_tree.h"
#include "window_fixture.h"

using namespace yuragi;
using namespace yuragi::testing;

namespace {

class DetectionWindow : public WindowTest {
 protected:
  void Cut(const QString& relative, uint32_t seed = 1) {
    const QString path = Path(relative);
    QDir().mkpath(QFileInfo(path).path());
    const std::vector<uint8_t> bytes = EncodeJpeg({120, 90, JpegKind::Baseline, 85, seed});
    WriteFile(path.toStdString(), Truncated(bytes, bytes.size() * 2 / 3));
  }
  void Whole(const QString& relative) {
    QDir().mkpath(QFileInfo(Path(relative)).path());
    WriteFile(Path(relative).toStdString(), EncodeJpeg({120, 90}));
  }
  // Enough cut pictures that decoding them takes a while.
  void Many(int count) {
    const std::vector<uint8_t> bytes = EncodeJpeg({400, 300, JpegKind::Baseline, 85, 9});
    const std::vector<uint8_t> cut = Truncated(bytes, bytes.size() * 2 / 3);
    for (int i = 0; i < count; ++i) {
      const QString path = Path(QStringLiteral("many/d%1/f%2.jpg").arg(i % 20).arg(i));
      QDir().mkpath(QFileInfo(path).path());
      WriteFile(path.toStdString(), cut);
    }
  }
  void RunOn(TForm1& f, const QString& folder) {
    ASSERT_TRUE(f.FolderTree->SetPath(folder.toUtf8()));
    f.StartDetection();
  }
};

}  // namespace

TEST_F(DetectionWindow, ARunListsTheTruncatedFilesWithTheirRows) {
  Cut("a.JPG");
  Cut("b.jpeg", 2);
  Cut("c.jpe");
  Whole("d.jpg");
  WriteFile(Path("e.txt").toStdString(), std::string("text"));
  TForm1& f = Open();
  RunOn(f, dir.path());
  EXPECT_EQ(f.StatusPanel1->text(), "2 / 5 検出しました");
  EXPECT_EQ(f.FileCount, 5);
  ASSERT_EQ(f.ListModel->rowCount(), 2);
  EXPECT_TRUE(f.ListView1->isEnabled());
  EXPECT_TRUE(f.CancelBtn1->isHidden());
  EXPECT_EQ(f.ImageList1.size(), 2u);
  EXPECT_EQ(f.ImageList3.size(), 2u);
  EXPECT_EQ(f.ImageList1[0].size(), QSize(96, 96));
  const DetectionModel::Row& row = f.ListModel->At(0);
  EXPECT_TRUE(row.caption.startsWith(dir.path() + "/"));
  const qint64 size = QFileInfo(row.caption).size();
  EXPECT_EQ(row.sizeText, " " + QLocale().toString(size));
  ASSERT_TRUE(row.timeText);
  EXPECT_TRUE(row.timeText->startsWith(QFileInfo(row.caption).lastModified().toString("yyyy/MM/dd")));

  // A second run replaces the rows; an empty folder says so.
  QDir().mkpath(Path("empty"));
  RunOn(f, Path("empty"));
  EXPECT_EQ(f.ListModel->rowCount(), 0);
  EXPECT_TRUE(f.ImageList1.empty());
  EXPECT_EQ(f.StatusPanel1->text(), "0 / 0 該当ありません");
}

TEST_F(DetectionWindow, DuringARunTheListIsOffAndCancelStopsIt) {
  Many(400);
  TForm1& f = Open();
  bool listWasOff = false, buttonWasShown = false;
  QTimer::singleShot(0, &f, [&] {
    listWasOff = !f.ListView1->isEnabled();
    buttonWasShown = !f.CancelBtn1->isHidden();
    f.StartDetection();  // a second double-click: no nested run
    f.CancelBtn1->click();
  });
  RunOn(f, Path("many"));
  EXPECT_TRUE(listWasOff);
  EXPECT_TRUE(buttonWasShown);
  EXPECT_GT(f.FileCount, 0);
  EXPECT_LT(f.FileCount, 400);
  EXPECT_TRUE(f.StatusPanel1->text().endsWith(" 検出しました"));
  EXPECT_EQ(f.StatusPanel1->text().split(" / ")[0].toInt(), f.ListModel->rowCount());
  EXPECT_TRUE(CancelRequested);
  EXPECT_TRUE(f.CancelBtn1->isHidden());
  EXPECT_TRUE(f.ListView1->isEnabled());
}

TEST_F(DetectionWindow, ClosingDuringARunWaitsForTheWalkToUnwind) {
  Many(400);
  TForm1& f = Open();
  bool stillOpenInside = false;
  QTimer::singleShot(0, &f, [&] {
    f.close();
    stillOpenInside = f.isVisible();
  });
  // Started from the tree's own key handler, which is still running when
  // the close lets go of the tree.
  ASSERT_TRUE(f.FolderTree->SetPath(Path("many").toUtf8()));
  QTest::keyClick(f.FolderTree, Qt::Key_Return);
  EXPECT_TRUE(stillOpenInside);
  EXPECT_LT(f.FileCount, 400);
  EXPECT_TRUE(WaitFor([&] { return !f.isVisible(); }));
}

TEST_F(DetectionWindow, AClickShowsTheFolderShortenedToFit) {
  QDir().mkpath(Path("photos/2007/summer"));
  TForm1& f = Open();
  ASSERT_TRUE(f.FolderTree->SetPath(Path("photos/2007/summer").toUtf8()));
  f.FolderTreeClick();
  EXPECT_EQ(f.StatusPanel1->text(), Path("photos/2007/summer"));
  f.StatusBar1->setFixedWidth(f.StatusPanel0->width() + 80 + 60);
  f.FolderTreeClick();
  const QString shown = f.StatusPanel1->text();
  EXPECT_TRUE(shown.endsWith("summer")) << shown.toStdString();
  EXPECT_TRUE(shown.startsWith("/.../") || shown.startsWith(".../") || shown == "summer") << shown.toStdString();
  EXPECT_LE(QFontMetrics(f.StatusPanel1->font()).horizontalAdvance(shown), 60 + 0 * shown.size());
}

TEST_F(DetectionWindow, AFailureInsideARunLeavesTheNextRunPossible) {
  Cut("a.jpg");
  TForm1& f = Open();
  bool fail = true;
  QObject::connect(f.ListModel, &QAbstractItemModel::modelReset, &f, [&] {
    if (std::exchange(fail, false)) throw std::runtime_error("ディスクがいっぱいです");
  });
  ASSERT_TRUE(f.FolderTree->SetPath(QFile::encodeName(dir.path())));
  f.RunHandler([&] { f.StartDetection(); });
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].kind, "error");
  EXPECT_EQ(prompts.shown[0].text, "ディスクがいっぱいです");
  EXPECT_TRUE(f.CancelBtn1->isHidden());
  EXPECT_TRUE(f.ListView1->isEnabled());

  RunOn(f, dir.path());
  EXPECT_EQ(f.StatusPanel1->text(), "1 / 1 検出しました");
  EXPECT_EQ(f.ListModel->rowCount(), 1);
  // A close is not held back by the run that failed.
  f.close();
  EXPECT_FALSE(f.isVisible());
}

TEST_F(DetectionWindow, TwoThousandRowsInTheDetailsView) {
  const std::vector<uint8_t> bytes = EncodeJpeg({32, 24, JpegKind::Baseline, 80, 3});
  const std::vector<uint8_t> cut = Truncated(bytes, bytes.size() - 40);
  for (int i = 0; i < 2000; ++i) {
    const QString path = Path(QStringLiteral("rows/f%1/p%2.jpg").arg(i % 40).arg(i));
    if (i < 40) QDir().mkpath(QFileInfo(path).path());
    WriteFile(path.toStdString(), cut);
  }
  const QString longest = Path("rows/f0/" + QString(120, QLatin1Char('w')) + ".jpg");
  WriteFile(longest.toStdString(), cut);
  TForm1& f = Open();
  f.Popup1vsReportClick();
  ASSERT_EQ(f.ListView1->ViewStyle(), 3);
  RunOn(f, Path("rows"));
  EXPECT_EQ(f.StatusPanel1->text(), "2,001 / 2,001 検出しました");
  ASSERT_EQ(f.ListModel->rowCount(), 2001);
  EXPECT_EQ(f.ImageList1.size(), 2001u);
  // The run ends with each column as wide as its widest entry, all rows
  // counted.
  auto* details = static_cast<QTreeView*>(f.ListView1->DetailPart());
  for (int column = 0; column < 3; ++column) {
    int widest = details->header()->sectionSizeHint(column);
    for (int row = 0; row < f.ListModel->rowCount(); ++row) {
      widest = std::max(widest, details->sizeHintForIndex(f.ListModel->index(row, column)).width());
    }
    EXPECT_EQ(details->columnWidth(column), widest) << column;
  }
  EXPECT_GE(details->columnWidth(0), QFontMetrics(details->font()).horizontalAdvance(longest));
  // Sorting keeps the widths; removing the widest row lets the column shrink.
  const int before = details->columnWidth(0);
  f.ListView1ColumnClick(0);
  f.ListView1->FitColumns();
  EXPECT_EQ(details->columnWidth(0), before);
  for (int row = 0; row < f.ListModel->rowCount(); ++row) {
    if (f.ListModel->At(row).caption == longest) f.ListModel->Remove(row);
  }
  f.ListView1->FitColumns();
  EXPECT_LT(details->columnWidth(0), before);
}

TEST_F(DetectionWindow, FoldersThatCannotBeEnteredAreCountedInTheResult) {
  Cut("pics/a.jpg");
  const std::string base = Path("pics").toStdString();
  const int depth = int(4096 - base.size()) / 2 + 2;  // the deepest levels lie beyond PATH_MAX
  NestFolders(base, depth, [](int, int) {});
  TForm1& f = Open();
  RunOn(f, Path("pics"));
  EXPECT_EQ(f.StatusPanel1->text(), "1 / 1 検出しました（開けないフォルダ 1）");
  RemoveNested(base, depth);
}
