// The main menu, the three context menus and the two file dialogs.
#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>

#include "app/main_window.h"
#include "detect/detection_list_view.h"
#include "widgets/picture_loader.h"

namespace {

QAction* Item(QMenu* menu, const QString& caption, const QKeySequence& shortcut = {}) {
  QAction* action = menu->addAction(caption);
  if (!shortcut.isEmpty()) action->setShortcut(shortcut);
  return action;
}

}  // namespace

void TForm1::CreateMainMenu() {
  QMenuBar* bar = menuBar();
  File1 = bar->addMenu(QStringLiteral("ファイル(&F)"));
  Open1 = Item(File1, QStringLiteral("開く(&O)..."), QKeySequence(Qt::CTRL | Qt::Key_O));
  Save1 = Item(File1, QStringLiteral("上書き保存(&S)"), QKeySequence(Qt::CTRL | Qt::Key_S));
  SaveAs1 = Item(File1, QStringLiteral("名前を付けて保存(&A)..."));
  File1->addSeparator();  // N2
  N1 = File1->addMenu(QStringLiteral("ショートカット(&C)"));
  DeskTop1 = Item(N1, QStringLiteral("デスクトップ登録(&D)"));
  StartUp1 = Item(N1, QStringLiteral("スタートアップ登録(&S)"));
  StartMenu1 = Item(N1, QStringLiteral("スタートメニュー登録(&M)"));
  Exit1 = Item(File1, QStringLiteral("終了(&X)"), QKeySequence(Qt::ALT | Qt::Key_F4));
  // Ctrl+Q as well, as every desktop program ends; the menu shows Alt+F4.
  Exit1->setShortcuts({QKeySequence(Qt::ALT | Qt::Key_F4), QKeySequence(Qt::CTRL | Qt::Key_Q)});
  Save1->setEnabled(false);
  SaveAs1->setEnabled(false);

  O1 = bar->addMenu(QStringLiteral("オプション(&O)"));
  CloseQuery1 = Item(O1, QStringLiteral("終了時に確認する(&Q)"));
  SaveStatus1 = Item(O1, QStringLiteral("終了時の状態を保存(&S)"));
  UseArchive1 = Item(O1, QStringLiteral("見つからない時はアーカイブから取得(&W)"));
  CloseQuery1->setCheckable(true);
  SaveStatus1->setCheckable(true);
  UseArchive1->setCheckable(true);

  Help1 = bar->addMenu(QStringLiteral("ヘルプ(&H)"));
  H1 = Item(Help1, QStringLiteral("ヘルプ表示(&H)"), QKeySequence(Qt::Key_F1));
  About1 = Item(Help1, QStringLiteral("バージョン情報(&A)"));
  Help1->addSeparator();  // N5
  Site1 = Item(Help1, QStringLiteral("ホームページ表示(&S)"));
}

void TForm1::CreatePopupMenus() {
  PopupMenu1 = new QMenu(this);
  ViewStyleGroup = new QActionGroup(this);
  ViewStyleGroup->setExclusive(true);
  Popup1vsIcon = Item(PopupMenu1, QStringLiteral("サムネイル表示(&V)"));
  Popup1vsSmallIcon = Item(PopupMenu1, QStringLiteral("並べて表示(&S)"));
  Popup1vsList = Item(PopupMenu1, QStringLiteral("リスト表示(&L)"));
  Popup1vsReport = Item(PopupMenu1, QStringLiteral("詳細表示(&D)"));
  for (QAction* style : {Popup1vsIcon, Popup1vsSmallIcon, Popup1vsList, Popup1vsReport}) {
    style->setCheckable(true);
    ViewStyleGroup->addAction(style);
  }
  Popup1vsIcon->setChecked(true);
  PopupMenu1->addSeparator();  // N7
  RegetP1 = Item(PopupMenu1, QStringLiteral("再取得に設定(&R)"), QKeySequence(Qt::Key_Return));
  PopupMenu1->setDefaultAction(RegetP1);
  PopupMenu1->addSeparator();  // N3
  OpenP1 = Item(PopupMenu1, QStringLiteral("開く(&O)"));
  OpenByP1 = Item(PopupMenu1, QStringLiteral("プログラムを選択して開く(&P)..."));
  MemoP1 = Item(PopupMenu1, QStringLiteral("メモ帳で開く(&M)"));
  DeleteP1 = Item(PopupMenu1, QStringLiteral("削除(&D)"), QKeySequence(Qt::Key_Delete));
  PropertyP1 = Item(PopupMenu1, QStringLiteral("プロパティ(&T)"));
  PopupMenu1->addSeparator();  // N6
  RepairP1 = Item(PopupMenu1, QStringLiteral("現状のまま補修(&A)"));
  RepairP1->setEnabled(false);
  FolderP1 = Item(PopupMenu1, QStringLiteral("フォルダを開く(&F)"));
  PopupMenu1->addSeparator();  // N4
  CopyToClipP1 = Item(PopupMenu1, QStringLiteral("リストをクリップボードにコピー(&C)"),
                      QKeySequence(Qt::CTRL | Qt::Key_C));
  // The shortcuts act while the list has the keyboard focus.
  for (QAction* action : PopupMenu1->actions()) {
    if (action->shortcut().isEmpty()) continue;
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    ListView1->addAction(action);
  }
  // Enter in the list also accepts the keypad's Enter.
  RegetP1->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});

  PopupMenu21 = new QMenu(this);
  OpenP21 = Item(PopupMenu21, QStringLiteral("開く(&O)"));
  OpenByP21 = Item(PopupMenu21, QStringLiteral("プログラムを選択して開く(&P)"));
  PropertyP21 = Item(PopupMenu21, QStringLiteral("プロパティ(&R)"));
  PopupMenu22 = new QMenu(this);
  OpenP22 = Item(PopupMenu22, QStringLiteral("開く(&O)"));
  OpenByP22 = Item(PopupMenu22, QStringLiteral("プログラムを選択して開く(&P)"));
  PropertyP22 = Item(PopupMenu22, QStringLiteral("プロパティ(&R)"));
}

void TForm1::CreateDialogs() {
  OpenPictureDialog1.defaultSuffix = QStringLiteral("jpg");
  OpenPictureDialog1.picturePreview = yuragi::LoadPicture;
  OpenPictureDialog1.filter =
      QStringLiteral("jpegファイル(*.jp*)|*.jp*|bmpファイル(*.bmp)|*.bmp|すべてのファイル(*.*)|*.*");
  SaveDialog1.defaultSuffix = QStringLiteral("jpg");
  SaveDialog1.filter = QStringLiteral("jpegファイル(*.jp*)|*.jpg;*.jpeg;*.jpe|すべてのファイル(*.*)|*.*");
  SaveDialog1.confirmOverwrite = true;
  SaveDialog1.confirmCreate = true;
}
