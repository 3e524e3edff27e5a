// The list and preview menus' file actions, from the window down to real
// applications, a real trash and stand-in services on a private bus.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QToolTip>
#include <QLineEdit>
#include <QTabWidget>
#include <QThread>
#include <QtTest/QTest>

#include "desktop_world.h"
#include "detect/detection_list_view.h"
#include "detect/detection_model.h"
#include "jpeg_writer.h"
#include "widgets/folder_tree.h"
#include "widgets/image_view.h"
#include "widgets/open_with_chooser.h"
#include "window_fixture.h"

using namespace yuragi;
using namespace yuragi::testing;

namespace {

const auto* const kWorld = ::testing::AddGlobalTestEnvironment(new DesktopWorld);

QWidget* FindWindow(const QString& name) {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == name && widget->isVisible()) return widget;
  }
  return nullptr;
}

class FileActionsTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    world.ForgetLaunches();
    folder = world.Scratch() + "/" + QString::fromUtf8(::testing::UnitTest::GetInstance()->current_test_info()->name());
    ASSERT_TRUE(QDir().mkpath(folder));
  }
  void TearDown() override {
    form.reset();
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (widget->objectName() == "OpenWithChooser" || widget->objectName() == "PropertiesDialog") delete widget;
    }
  }

  QString MakeJpeg(const QString& name) {
    const QString path = folder + "/" + name;
    WriteFile(QFile::encodeName(path).toStdString(), EncodeJpeg({}));
    return path;
  }

  // The list holding these files, with the row at selected chosen.
  void FillList(const QStringList& paths, int selected) {
    for (const QString& path : paths) form->ListModel->Append({QFile::encodeName(path), path, QStringLiteral(" 1"), std::nullopt, QIcon(), {}, 0, JpegEnd::Cut});
    form->ListView1->setEnabled(true);
    if (selected >= 0) form->ListView1->SelectRow(selected);
  }

  QStringList Rows() const {
    QStringList rows;
    for (int row = 0; row < form->ListModel->rowCount(); ++row) rows << form->ListModel->At(row).caption;
    return rows;
  }

  static std::vector<QByteArray> Args(const QString& path) { return {QFile::encodeName(path)}; }

  DesktopWorld& world = DesktopWorld::Get();
  QString folder;
};

TEST_F(FileActionsTest, ListActionsTakeTheSelectedRow) {
  PrivateSessionBus bus;
  ASSERT_TRUE(bus.Running());
  StandInFileManager manager;
  StandInService managerService(bus, FileManagerService(), FileManagerPath(), &manager);
  StandInPortal portal;
  StandInService portalService(bus, PortalService(), PortalPath(), &portal);
  ASSERT_TRUE(managerService.Registered() && portalService.Registered());
  Open();
  const QStringList files = {MakeJpeg("a b.jpg"), MakeJpeg("c'#%.jpg"), MakeJpeg("画像.jpg")};
  FillList(files, 1);

  form->OpenP1->trigger();
  auto viewer = world.WaitForLaunch("viewer");
  ASSERT_TRUE(viewer);
  EXPECT_EQ(*viewer, Args(files[1]));

  form->MemoP1->trigger();
  auto editor = world.WaitForLaunch("editor");
  ASSERT_TRUE(editor);
  EXPECT_EQ(*editor, Args(files[1]));

  form->FolderP1->trigger();
  auto folderApp = world.WaitForLaunch("files");
  ASSERT_TRUE(folderApp);
  EXPECT_EQ(*folderApp, Args(folder));  // the folder itself, no file selected in it

  form->PropertyP1->trigger();
  ASSERT_TRUE(WaitUntil([&] { return manager.calls.size() == 1; }));
  EXPECT_EQ(QByteArray::fromPercentEncoding(manager.calls[0].value(0).mid(7).toLatin1()), QFile::encodeName(files[1]));

  form->OpenByP1->trigger();
  ASSERT_TRUE(WaitUntil([&] { return portal.calls.size() == 1; }));
  EXPECT_TRUE(portal.calls[0].ask);
  EXPECT_EQ(portal.calls[0].path, QFile::encodeName(files[1]));
  EXPECT_TRUE(prompts.shown.empty()) << prompts.Texts().join(" | ").toStdString();

  // No selected row: nothing happens.
  world.ForgetLaunches();
  form->ListView1->CurrentView()->selectionModel()->clearSelection();
  for (QAction* item : {form->OpenP1, form->MemoP1, form->FolderP1, form->DeleteP1}) item->trigger();
  form->PropertyP1Click();
  EXPECT_TRUE(prompts.shown.empty());
  EXPECT_EQ(Rows(), files);
  EXPECT_FALSE(world.Launched("viewer") || world.Launched("editor") || world.Launched("files"));
}

TEST_F(FileActionsTest, DeleteTrashesAndRemovesOnlyThatRow) {
  Open();
  const QStringList files = {MakeJpeg("one.jpg"), MakeJpeg("two 2.jpg"), MakeJpeg("three.jpg"), MakeJpeg("four.jpg")};
  FillList(files, 1);

  prompts.answers = {false};
  form->DeleteP1Click();
  EXPECT_TRUE(QFile::exists(files[1]));
  EXPECT_EQ(Rows(), files);
  EXPECT_EQ(prompts.shown.back().kind, "question");

  prompts.answers = {true};
  form->DeleteP1Click();
  EXPECT_FALSE(QFile::exists(files[1]));
  EXPECT_TRUE(QFile::exists(world.TrashFiles() + "/two 2.jpg"));
  EXPECT_TRUE(QFile::exists(world.TrashInfo() + "/two 2.jpg.trashinfo"));
  EXPECT_EQ(Rows(), (QStringList{files[0], files[2], files[3]}));
  EXPECT_EQ(form->ListView1->SelectedRow(), 1);  // the next file, "three"

  // The Delete key in the list does the same, also after the menu was
  // last opened with no row selected; at the end the selection moves back
  // to the row before.
  form->ListView1->CurrentView()->selectionModel()->clearSelection();
  form->PopupMenu1Popup();
  EXPECT_FALSE(form->DeleteP1->isEnabled());
  form->ListView1->SelectRow(2);
  EXPECT_TRUE(form->DeleteP1->isEnabled());
  form->PageControl1->setCurrentIndex(1);
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  form->ListView1->CurrentView()->setFocus();
  ASSERT_TRUE(WaitUntil([&] { return form->ListView1->CurrentView()->hasFocus(); }));
  prompts.answers = {true};
  QTest::keyClick(form->windowHandle(), Qt::Key_Delete);
  ASSERT_TRUE(WaitUntil([&] { return Rows().size() == 2; }));
  EXPECT_FALSE(QFile::exists(files[3]));
  EXPECT_EQ(Rows(), (QStringList{files[0], files[2]}));
  EXPECT_EQ(form->ListView1->SelectedRow(), 1);

  // A trash that fails keeps file and row, and says why.
  const QString trash = world.DataHome() + "/Trash";
  ASSERT_TRUE(QDir().rename(trash, trash + ".away"));
  WriteFile(QFile::encodeName(trash).toStdString(), std::string("not a folder"));
  prompts.answers = {true};
  form->ListView1->SelectRow(0);
  form->DeleteP1Click();
  QFile::remove(trash);
  QDir().rename(trash + ".away", trash);
  EXPECT_TRUE(QFile::exists(files[0]));
  EXPECT_EQ(Rows(), (QStringList{files[0], files[2]}));
  EXPECT_EQ(prompts.shown.back().kind, "error");
  EXPECT_TRUE(prompts.shown.back().text.startsWith(QStringLiteral("one.jpg をごみ箱に移動できません。")));

  // A file already gone takes its row with it, after saying so.
  ASSERT_TRUE(QFile::remove(files[2]));
  form->ListView1->SelectRow(1);
  const size_t boxes = prompts.shown.size();
  form->DeleteP1Click();
  EXPECT_EQ(Rows(), QStringList{files[0]});
  ASSERT_EQ(prompts.shown.size(), boxes + 1);
  EXPECT_EQ(prompts.shown.back().kind, "error");
}

TEST_F(FileActionsTest, TheFolderTreesMenuActsOnTheFolderRightClicked) {
  PrivateSessionBus bus;
  ASSERT_TRUE(bus.Running());
  StandInFileManager manager;
  StandInService managerService(bus, FileManagerService(), FileManagerPath(), &manager);
  ASSERT_TRUE(managerService.Registered());
  const QString sub = folder + "/写真 a";
  ASSERT_TRUE(QDir().mkpath(sub + "/inner"));
  const std::vector<uint8_t> whole = EncodeJpeg({});
  WriteFile(QFile::encodeName(sub + "/cut.jpg").toStdString(), Truncated(whole, whole.size() * 2 / 3));
  Open();
  form->PageControl1->setCurrentIndex(1);
  FolderTree* tree = form->FolderTree;
  ASSERT_TRUE(tree->SetPath(QFile::encodeName(sub + "/inner")));
  ASSERT_TRUE(tree->SetPath(QFile::encodeName(folder)));
  QCoreApplication::processEvents();
  const QModelIndex row = tree->indexAt(tree->visualRect(tree->currentIndex()).center() + QPoint(0, 1) +
                                        QPoint(0, tree->visualRect(tree->currentIndex()).height()));
  ASSERT_TRUE(row.isValid());
  const QPoint at = tree->visualRect(row).center();

  // Over a folder row the hint is seen, below the folder's name.
  QHelpEvent help(QEvent::ToolTip, at, tree->viewport()->mapToGlobal(at));
  QCoreApplication::sendEvent(tree->viewport(), &help);
  EXPECT_EQ(QToolTip::text(), QStringLiteral("写真 a\nダブルクリックで検出開始"));
  QToolTip::hideText();

  // A right click selects the row and shows the menu.
  QTest::mouseClick(tree->viewport(), Qt::RightButton, {}, at);
  QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, at, tree->viewport()->mapToGlobal(at));
  QCoreApplication::sendEvent(tree->viewport(), &menuEvent);
  ASSERT_TRUE(WaitUntil([&] { return form->PopupMenu3->isVisible(); }));
  EXPECT_EQ(tree->SelectedPath(), QFile::encodeName(sub));
  QStringList items;
  for (const QAction* item : form->PopupMenu3->actions()) {
    if (!item->isSeparator()) items << item->text();
  }
  EXPECT_EQ(items, QStringList({"検出開始(&D)", "開く(&O)", "プロパティ(&R)", "パスをコピー(&C)"}));
  form->PopupMenu3->close();

  form->OpenP3->trigger();
  auto files = world.WaitForLaunch("files");
  ASSERT_TRUE(files);
  EXPECT_EQ(*files, Args(sub));
  form->PropertyP3->trigger();
  ASSERT_TRUE(WaitUntil([&] { return manager.calls.size() == 1; }));
  EXPECT_EQ(QByteArray::fromPercentEncoding(manager.calls[0].value(0).mid(7).toLatin1()), QFile::encodeName(sub));
  form->CopyPathP3->trigger();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), sub);
  form->DetectP3->trigger();
  EXPECT_EQ(form->ListModel->rowCount(), 1) << form->StatusPanel1->text().toStdString();
  EXPECT_TRUE(prompts.shown.empty()) << prompts.Texts().join(" | ").toStdString();

  // A folder gone meanwhile is reported as the file actions report it.
  ASSERT_TRUE(QDir(sub).removeRecursively());
  form->OpenP3->trigger();
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].kind, "error");
  EXPECT_TRUE(prompts.shown[0].text.contains(QStringLiteral("写真 a が見つかりません。")))
      << prompts.shown[0].text.toStdString();
}

TEST_F(FileActionsTest, PreviewActionsTakeEdit1AndTempImagePath) {
  PrivateSessionBus bus;  // no file manager, no portal: our own dialogs
  ASSERT_TRUE(bus.Running());
  Open();
  const QString target = MakeJpeg("target file.jpg");
  const QString edited = MakeJpeg("edited #2.jpg");
  const QString received = MakeJpeg("$VantrelTemp.jpg");
  TargetPath = QFile::encodeName(target);
  TempImagePath = QFile::encodeName(received);
  form->Edit1->setText(edited);  // typed over since the preview was loaded
  form->Image1->setEnabled(true);
  form->Image2->setEnabled(true);

  form->OpenP21->trigger();
  auto viewer = world.WaitForLaunch("viewer");
  ASSERT_TRUE(viewer);
  EXPECT_EQ(*viewer, Args(edited));
  world.ForgetLaunches();
  emit form->Image1->DoubleClicked();
  viewer = world.WaitForLaunch("viewer");
  ASSERT_TRUE(viewer);
  EXPECT_EQ(*viewer, Args(edited));

  world.ForgetLaunches();
  form->OpenP22->trigger();
  viewer = world.WaitForLaunch("viewer");
  ASSERT_TRUE(viewer);
  EXPECT_EQ(*viewer, Args(received));
  world.ForgetLaunches();
  emit form->Image2->DoubleClicked();
  viewer = world.WaitForLaunch("viewer");
  ASSERT_TRUE(viewer);
  EXPECT_EQ(*viewer, Args(received));

  form->PropertyP22->trigger();
  QWidget* sheet = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (sheet = FindWindow("PropertiesDialog")) != nullptr; }));
  EXPECT_EQ(sheet->findChild<QLabel*>("name")->text(), QStringLiteral("$VantrelTemp.jpg"));
  delete sheet;
  form->PropertyP21->trigger();
  ASSERT_TRUE(WaitUntil([&] { return (sheet = FindWindow("PropertiesDialog")) != nullptr; }));
  EXPECT_EQ(sheet->findChild<QLabel*>("name")->text(), QStringLiteral("edited #2.jpg"));
  delete sheet;

  form->OpenByP22->trigger();
  QWidget* chooser = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (chooser = FindWindow("OpenWithChooser")) != nullptr; }));
  EXPECT_TRUE(chooser->findChildren<QLabel*>().first()->text().contains(received));
  delete chooser;
  EXPECT_TRUE(prompts.shown.empty()) << prompts.Texts().join(" | ").toStdString();

  // A typed path that names no file is reported by every action.
  world.ForgetLaunches();
  form->Edit1->setText(folder + "/nothing here.jpg");
  form->OpenP21->trigger();
  form->OpenByP21->trigger();
  form->PropertyP21->trigger();
  ASSERT_EQ(prompts.shown.size(), 3u);
  for (const auto& box : prompts.shown) {
    EXPECT_EQ(box.kind, "error");
    EXPECT_TRUE(box.text.contains(QStringLiteral("nothing here.jpg が見つかりません。")));
  }
  EXPECT_FALSE(world.Launched("viewer"));

  // Double-clicks on a preview without picture do nothing.
  form->Image2->setEnabled(false);
  emit form->Image2->DoubleClicked();
  QCoreApplication::processEvents();
  EXPECT_EQ(prompts.shown.size(), 3u);
  EXPECT_FALSE(world.Launched("viewer"));
}

}  // namespace
