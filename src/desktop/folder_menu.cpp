// The folder tree's own context menu: the desktop lends no folder menu of
// its own, so the tree offers what a folder is used for here.
#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>

#include "app/main_window.h"
#include "platform/desktop_shell.h"
#include "platform/paths.h"
#include "widgets/folder_tree.h"

void TForm1::CreateFolderMenu() {
  PopupMenu3 = new QMenu(this);
  DetectP3 = PopupMenu3->addAction(QStringLiteral("検出開始(&D)"));
  PopupMenu3->setDefaultAction(DetectP3);
  PopupMenu3->addSeparator();
  OpenP3 = PopupMenu3->addAction(QStringLiteral("開く(&O)"));
  PropertyP3 = PopupMenu3->addAction(QStringLiteral("プロパティ(&R)"));
  PopupMenu3->addSeparator();
  CopyPathP3 = PopupMenu3->addAction(QStringLiteral("パスをコピー(&C)"));
  auto on = [this](QAction* item, void (TForm1::*handler)()) {
    connect(item, &QAction::triggered, this, [this, handler] { RunHandler([this, handler] { (this->*handler)(); }); });
  };
  connect(DetectP3, &QAction::triggered, this, [this] {
    RunHandler([this] {
      if (!RefusedDuringTransfer(QStringLiteral("ダウンロード中は検出を始められません"))) StartDetection();
    });
  });
  on(OpenP3, &TForm1::OpenP3Click);
  on(PropertyP3, &TForm1::PropertyP3Click);
  on(CopyPathP3, &TForm1::CopyPathP3Click);
}

void TForm1::ConnectFolderMenu() {
  FolderTree->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(FolderTree, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    // The press has selected the row; from the keyboard the menu opens at
    // the current row.
    if (!FolderTree || !FolderTree->currentIndex().isValid()) return;
    const QModelIndex under = FolderTree->indexAt(at);
    const QRect row = FolderTree->visualRect(FolderTree->currentIndex());
    const QPoint place = under.isValid() ? at : row.bottomLeft();
    if (under.isValid() || FolderTree->hasFocus()) PopupMenu3->popup(FolderTree->viewport()->mapToGlobal(place));
  });
}

void TForm1::OpenP3Click() {
  const QByteArray path = FolderTree ? FolderTree->SelectedPath() : QByteArray();
  if (!path.isEmpty()) shell_->OpenPath(this, path);
}

void TForm1::PropertyP3Click() {
  const QByteArray path = FolderTree ? FolderTree->SelectedPath() : QByteArray();
  if (!path.isEmpty()) ShowFileProperties(path);
}

void TForm1::CopyPathP3Click() {
  const QByteArray path = FolderTree ? FolderTree->SelectedPath() : QByteArray();
  if (!path.isEmpty()) QGuiApplication::clipboard()->setText(yuragi::DisplayPath(path));
}
