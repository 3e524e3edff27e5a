// The file actions of the list and preview menus: open, open with, text
// editor, folder and properties, each on the path of its menu's source.
#include <QAbstractItemView>
#include <QAction>
#include <QItemSelectionModel>
#include <QLineEdit>

#include "app/globals.h"
#include "app/main_window.h"
#include "detect/detection_list_view.h"
#include "detect/detection_model.h"
#include "platform/desktop_shell.h"
#include "platform/paths.h"
#include "widgets/image_view.h"

QByteArray TForm1::SelectedRowPath() const {
  const int row = ListView1->SelectedRow();
  return row < 0 ? QByteArray() : ListModel->At(row).path;
}

bool TForm1::ShowFileProperties(const QByteArray& path) {
  shell_->ShowProperties(this, path);
  return true;
}

void TForm1::OpenP1Click() {
  const QByteArray path = SelectedRowPath();
  if (!path.isEmpty()) shell_->OpenPath(this, path);
}

void TForm1::OpenByP1Click() {
  const QByteArray path = SelectedRowPath();
  if (!path.isEmpty()) shell_->OpenWith(this, path);
}

void TForm1::MemoP1Click() {
  const QByteArray path = SelectedRowPath();
  if (!path.isEmpty()) shell_->OpenInTextEditor(this, path);
}

void TForm1::PropertyP1Click() {
  const QByteArray path = SelectedRowPath();
  if (!path.isEmpty()) ShowFileProperties(path);
}

void TForm1::FolderP1Click() {
  const QByteArray path = SelectedRowPath();
  if (!path.isEmpty()) shell_->OpenPath(this, yuragi::FolderPart(path));
}

// Edit1's current text: the bytes it was set to, or typed text as UTF-8.
void TForm1::OpenP21Click() { shell_->OpenPath(this, Edit1Path()); }
void TForm1::OpenByP21Click() { shell_->OpenWith(this, Edit1Path()); }
void TForm1::PropertyP21Click() { ShowFileProperties(Edit1Path()); }

void TForm1::OpenP22Click() { shell_->OpenPath(this, TempImagePath); }
void TForm1::OpenByP22Click() { shell_->OpenWith(this, TempImagePath); }
void TForm1::PropertyP22Click() { ShowFileProperties(TempImagePath); }

void TForm1::ConnectFileActions() {
  auto on = [this](QAction* item, void (TForm1::*handler)()) {
    connect(item, &QAction::triggered, this, [this, handler] { RunHandler([this, handler] { (this->*handler)(); }); });
  };
  on(OpenP1, &TForm1::OpenP1Click);
  on(OpenByP1, &TForm1::OpenByP1Click);
  on(MemoP1, &TForm1::MemoP1Click);
  on(DeleteP1, &TForm1::DeleteP1Click);
  on(PropertyP1, &TForm1::PropertyP1Click);
  on(FolderP1, &TForm1::FolderP1Click);
  on(OpenP21, &TForm1::OpenP21Click);
  on(OpenByP21, &TForm1::OpenByP21Click);
  on(PropertyP21, &TForm1::PropertyP21Click);
  on(OpenP22, &TForm1::OpenP22Click);
  on(OpenByP22, &TForm1::OpenByP22Click);
  on(PropertyP22, &TForm1::PropertyP22Click);
  // The list's keys follow the selection, not only the last menu shown:
  // Delete must work on a row selected after the menu was opened on none.
  connect(ListView1->ListPart()->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { RunHandler([this] { PopupMenu1Popup(); }); });
  // A preview's double-click is its menu's Open, while it shows a picture.
  connect(Image1, &yuragi::ImageView::DoubleClicked, this, [this] {
    if (Image1->isEnabled()) RunHandler([this] { OpenP21Click(); });
  });
  connect(Image2, &yuragi::ImageView::DoubleClicked, this, [this] {
    if (Image2->isEnabled()) RunHandler([this] { OpenP22Click(); });
  });
}
