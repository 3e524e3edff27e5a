#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <stdexcept>

#include "detect/detection_list_view.h"
#include "widgets/folder_tree.h"
#include "widgets/image_view.h"
#include "platform/paths.h"
#include "formats/time_format.h"
#include "widgets/tab_bar.h"
#include "window_fixture.h"

using namespace yuragi;
using yuragi::testing::WindowTest;

using MainWindow = WindowTest;

TEST_F(MainWindow, StartsOnTheRefetchPageWithEverythingButTheTargetControlsOff) {
  TForm1& f = Open();
  EXPECT_EQ(f.windowTitle(), ProductName);
  EXPECT_EQ(ApplicationTitle, ProductName);
  EXPECT_EQ(f.PageControl1->currentIndex(), 0);
  EXPECT_EQ(f.PageControl1->tabText(0), "再取得");
  EXPECT_EQ(f.PageControl1->tabText(1), "検出");
  EXPECT_TRUE(f.Edit1->isEnabled());
  EXPECT_TRUE(f.Edit1->text().isEmpty());
  EXPECT_TRUE(f.RefferBtn->isEnabled());
  EXPECT_FALSE(f.Edit2->isEnabled());
  EXPECT_NE(f.Edit2->palette().color(QPalette::Base), f.Edit1->palette().color(QPalette::Base));
  for (QPushButton* off : {f.BrowseBtn, f.ReGetBtn, f.SaveBtn, f.SaveAsBtn, f.ClearBtn}) {
    EXPECT_FALSE(off->isEnabled()) << off->text().toStdString();
  }
  EXPECT_FALSE(f.Save1->isEnabled());
  EXPECT_FALSE(f.SaveAs1->isEnabled());
  EXPECT_TRUE(f.CancelBtn0->isHidden());
  EXPECT_TRUE(f.CancelBtn1->isHidden());
  EXPECT_FALSE(f.Image1->isEnabled());
  EXPECT_FALSE(f.Image2->isEnabled());
  EXPECT_FALSE(f.ListView1->isEnabled());
  EXPECT_TRUE(f.Memo1->isHidden());
  EXPECT_EQ(f.GroupBox1->title(), "PC内のファイル(&F)");
  EXPECT_EQ(f.GroupBox2->title(), "元の想定URL(&U)");
  EXPECT_EQ(f.GroupBox3->title(), "プレビュー(&P)");
  EXPECT_TRUE(f.GroupBox4->title().isEmpty());
  EXPECT_TRUE(f.GroupBox5->title().isEmpty());
  EXPECT_EQ(f.ReGetBtn->text(), "再取得(&G)");
  EXPECT_EQ(f.ClearBtn->text(), "クリア(&C)");
  EXPECT_EQ(f.CancelBtn1->size(), QSize(161, 44));
  EXPECT_EQ(f.CancelBtn0->size(), QSize(121, 49));
  EXPECT_EQ(f.RefferBtn->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(f.StatusPanel0->width(), 160);
  EXPECT_EQ(f.StatusPanel1->width(), 450);
  EXPECT_EQ(f.StatusPanel1->alignment(), Qt::AlignCenter);
  EXPECT_EQ(f.font().pixelSize(), 12);
  EXPECT_TRUE(f.font().families().contains("IPAPGothic"));
}

TEST_F(MainWindow, FolderTreeOpensAtTheExecutablesFolder) {
  TForm1& f = Open();
  ASSERT_NE(f.FolderTree, nullptr);
  QByteArray expected = FolderPart(QCoreApplication::applicationFilePath().toUtf8());
  expected.chop(1);
  EXPECT_EQ(f.FolderTree->SelectedPath(), expected);
  EXPECT_EQ(InitialFolder, expected + "/");
  EXPECT_EQ(f.FolderTree->toolTip(), "ダブルクリックで検出開始");
  EXPECT_EQ(f.StatusPanel1->text(), QString::fromUtf8(expected));
  // A folder that does not exist skips only that step.
  EXPECT_FALSE(f.FolderTree->SetPath(Path("gone").toUtf8()));
  EXPECT_EQ(f.FolderTree->SelectedPath(), expected);
}

TEST_F(MainWindow, MenusCarryTheirCaptionsShortcutsAndStates) {
  TForm1& f = Open();
  EXPECT_EQ(f.File1->title(), "ファイル(&F)");
  EXPECT_EQ(f.O1->title(), "オプション(&O)");
  EXPECT_EQ(f.Help1->title(), "ヘルプ(&H)");
  EXPECT_EQ(f.Open1->text(), "開く(&O)...");
  EXPECT_EQ(f.Open1->shortcut(), QKeySequence("Ctrl+O"));
  EXPECT_EQ(f.Save1->shortcut(), QKeySequence("Ctrl+S"));
  EXPECT_EQ(f.Exit1->shortcut(), QKeySequence("Alt+F4"));
  EXPECT_EQ(f.H1->shortcut(), QKeySequence("F1"));
  EXPECT_EQ(f.N1->title(), "ショートカット(&C)");
  EXPECT_EQ(f.N1->actions().size(), 3);
  for (QAction* on : {f.Open1, f.DeskTop1, f.StartUp1, f.StartMenu1, f.Exit1, f.H1, f.About1, f.Site1}) {
    EXPECT_TRUE(on->isEnabled()) << on->text().toStdString();
  }
  EXPECT_TRUE(f.CloseQuery1->isCheckable());
  EXPECT_FALSE(f.CloseQuery1->isChecked());
  f.CloseQuery1->trigger();
  EXPECT_TRUE(f.CloseQuery1->isChecked());
  EXPECT_FALSE(f.SaveStatus1->isChecked());

  // The list's menu: radio group first, the default item bold, one hidden item.
  QList<QAction*> items = f.PopupMenu1->actions();
  ASSERT_EQ(items.size(), 18);
  EXPECT_EQ(items[0], f.Popup1vsIcon);
  EXPECT_TRUE(f.Popup1vsIcon->isChecked());
  EXPECT_TRUE(items[4]->isSeparator());
  EXPECT_EQ(f.PopupMenu1->defaultAction(), f.RegetP1);
  EXPECT_EQ(f.RegetP1->shortcut(), QKeySequence(Qt::Key_Return));
  EXPECT_EQ(f.DeleteP1->shortcut(), QKeySequence(Qt::Key_Delete));
  EXPECT_EQ(f.CopyToClipP1->shortcut(), QKeySequence("Ctrl+C"));
  EXPECT_EQ(items[13], f.RepairP1);
  // The command for the whole list follows the commands for one row.
  EXPECT_EQ(items[16], f.RepairAllP1);
  EXPECT_EQ(items[17], f.CopyToClipP1);
  EXPECT_EQ(f.RepairAllP1->text(), "一覧をすべて修復(&B)...");
  const QList<QAction*> file = f.File1->actions();
  ASSERT_EQ(file.indexOf(f.RepairAll1), file.indexOf(f.SaveAs1) + 2);  // a group of its own
  EXPECT_TRUE(file[file.indexOf(f.RepairAll1) - 1]->isSeparator());
  EXPECT_TRUE(file[file.indexOf(f.RepairAll1) + 1]->isSeparator());
  EXPECT_FALSE(f.RepairAll1->isEnabled());  // the list is empty
  EXPECT_TRUE(f.RepairP1->isVisible());  // enabled only while a row is selected
  EXPECT_FALSE(f.RepairP1->isEnabled());
  EXPECT_EQ(f.PopupMenu21->actions().size(), 3);
  EXPECT_EQ(f.PopupMenu22->actions()[2]->text(), "プロパティ(&R)");

  f.Popup1vsReport->trigger();
  EXPECT_FALSE(f.Popup1vsIcon->isChecked());
  EXPECT_EQ(f.ListView1->ViewStyle(), 3);
}

TEST_F(MainWindow, DialogsAndImageListsAreSetUp) {
  TForm1& f = Open();
  EXPECT_EQ(f.OpenPictureDialog1.defaultSuffix, "jpg");
  EXPECT_EQ(f.OpenPictureDialog1.filter,
            "jpegファイル(*.jp*)|*.jp*|bmpファイル(*.bmp)|*.bmp|すべてのファイル(*.*)|*.*");
  EXPECT_EQ(f.SaveDialog1.filter, "jpegファイル(*.jp*)|*.jpg;*.jpeg;*.jpe|すべてのファイル(*.*)|*.*");
  EXPECT_TRUE(f.SaveDialog1.confirmOverwrite);
  EXPECT_TRUE(f.SaveDialog1.confirmCreate);
  ASSERT_EQ(f.ImageList2.size(), 1u);
  EXPECT_EQ(f.ImageList2[0].size(), QSize(16, 16));
  EXPECT_TRUE(f.ImageList1.empty());
  EXPECT_TRUE(f.ImageList3.empty());
}

TEST_F(MainWindow, TabWidthIsAThirdOfTheClientWidth) {
  TForm1& f = Open();
  f.PageControl1->resize(300, f.PageControl1->height());
  f.FormResize();
  EXPECT_EQ(f.PageControl1Tabs->TabWidth(), 100);
  EXPECT_EQ(f.PageControl1Tabs->tabRect(0).width(), 100);
  f.PageControl1->resize(301, f.PageControl1->height());
  f.FormResize();
  EXPECT_EQ(f.PageControl1Tabs->tabRect(1).width(), 100);
  // A real resize of the window follows the same rule.
  f.resize(905, 600);
  EXPECT_TRUE(WaitFor([&] { return f.PageControl1Tabs->TabWidth() == f.PageControl1->width() / 3; }))
      << f.PageControl1Tabs->TabWidth() << " " << f.PageControl1->width();
}

TEST_F(MainWindow, CancelButtonsAreCentredAndRoundTowardZero) {
  TForm1& f = Open();
  f.PlaceCancelButtons();
  EXPECT_EQ(f.CancelBtn0->x(), (f.GroupBox5->width() - 121) / 2);
  EXPECT_EQ(f.CancelBtn0->y(), (f.GroupBox5->height() - 49) / 2);
  const int listLeft = f.ListView1->mapTo(f.TabSheet2, QPoint()).x();
  EXPECT_EQ(f.CancelBtn1->x(), listLeft + (f.ListView1->width() - 161) / 2);
  EXPECT_EQ(f.CancelBtn1->y(), (f.TabSheet2->height() - 44) / 2);
  // A box smaller than the button: a difference of -3 gives -1, not -2.
  f.GroupBox5->setGeometry(f.GroupBox5->x(), f.GroupBox5->y(), 118, 46);
  f.PlaceCancelButtons();
  EXPECT_EQ(f.CancelBtn0->pos(), QPoint(-1, -1));
}

TEST_F(MainWindow, ClockShowsTheJapaneseDateWithinATick) {
  TForm1& f = Open();
  ASSERT_TRUE(WaitFor([&] { return !f.StatusPanel0->text().isEmpty(); }));
  const QString text = f.StatusPanel0->text();
  EXPECT_TRUE(QRegularExpression(R"(^\d{4}/\d{2}/\d{2}\([日月火水木金土]\) \d{2}:\d{2}:\d{2}$)")
                  .match(text)
                  .hasMatch())
      << text.toStdString();
  EXPECT_TRUE(f.Timer1->isActive());
  EXPECT_EQ(f.Timer1->interval(), 100);
}

TEST_F(MainWindow, TheClockPanelHoldsItsWholeTextInAnyLocale) {
  for (const QLocale& locale : {QLocale(QLocale::Japanese, QLocale::Japan), QLocale(QLocale::English),
                                QLocale(QLocale::German, QLocale::Germany)}) {
    SCOPED_TRACE(locale.name().toStdString());
    QLocale::setDefault(locale);
    TForm1& f = Open();
    QLabel* clock = f.StatusPanel0;
    EXPECT_GE(clock->width(), 160);
    EXPECT_EQ(clock->width(), clock->minimumWidth()) << "the panel gives way to the window's width";
    // Every day of the week, at the widest time of day.
    for (int day = 0; day < 7; ++day) {
      const QString text = FormatClock(QDateTime(QDate(2026, 12, 7).addDays(day), QTime(20, 58, 58)));
      EXPECT_LE(clock->fontMetrics().horizontalAdvance(text), clock->contentsRect().width()) << text.toStdString();
    }
    EXPECT_LE(clock->fontMetrics().horizontalAdvance(clock->text()), clock->contentsRect().width());
    EXPECT_TRUE(f.StatusBar1->rect().contains(clock->geometry()));
    form.reset();
  }
  QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
}

TEST_F(MainWindow, AcceleratorsReachTheirButtons) {
  TForm1& f = Open();
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  f.Edit1->setFocus();
  QTest::keyClick(f.windowHandle(), Qt::Key_R, Qt::AltModifier);  // 参照(&R) opens the dialog
  // A mnemonic presses the button visibly before it clicks.
  ASSERT_TRUE(WaitFor([&] { return !prompts.shown.empty(); }));
  EXPECT_EQ(prompts.shown.back().kind, "open");
  QTest::keyClick(f.windowHandle(), Qt::Key_O, Qt::ControlModifier);  // Open1, Ctrl+O
  EXPECT_TRUE(WaitFor([&] { return prompts.shown.size() == 2; }));
  EXPECT_EQ(prompts.shown.size(), 2u);
}

TEST_F(MainWindow, CtrlQEndsTheProgramAsAltF4Does) {
  TForm1& f = Open();
  EXPECT_EQ(f.Exit1->shortcuts(), (QList<QKeySequence>{QKeySequence("Alt+F4"), QKeySequence("Ctrl+Q")}));
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  f.Edit1->setFocus();
  QTest::keyClick(f.windowHandle(), Qt::Key_Q, Qt::ControlModifier);
  QTRY_VERIFY_WITH_TIMEOUT(!f.isVisible(), 10000);
}

TEST_F(MainWindow, AFailureInAHandlerIsReportedAndTheProgramGoesOn) {
  TForm1& f = Open();
  f.RunHandler([] { throw std::runtime_error("ファイル \"x\" を作成できません。"); });
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].kind, "error");
  EXPECT_EQ(prompts.shown[0].caption, ProductName);
  EXPECT_EQ(prompts.shown[0].text, "ファイル \"x\" を作成できません。");
  EXPECT_TRUE(f.isVisible());
}
