// "現状のまま補修": closes the selected cut file with the end marker, for a
// picture that can no longer be fetched.
#include <QAction>
#include <QLabel>

#include "app/globals.h"
#include "app/main_window.h"
#include "detect/detection_list_view.h"
#include "detect/detection_model.h"
#include "platform/paths.h"
#include "platform/prompts.h"
#include "repair/repair_save.h"

using namespace yuragi;

void TForm1::RepairP1Click() {
  const int row = ListView1->SelectedRow();
  if (row < 0 || detectionRunning_ || downloadRunning_) return;
  const QByteArray path = ListModel->At(row).path;
  const QString shown = ListModel->At(row).caption;
  const QString question = shown + QStringLiteral(
                                      "\nの終わりに JPEG の終了マーカーを付け加えます。\n"
                                      "欠けた部分は灰色のまま残り、元のバイトは失われません。よろしいですか？");
  if (!prompts_.Question(this, ApplicationTitle, question)) return;
  std::string error;
  if (!CloseCutFile(path.toStdString(), &error)) {
    prompts_.Error(this, ApplicationTitle,
                   shown + QStringLiteral("\nを補修できませんでした。\n") + QString::fromLocal8Bit(error.c_str()));
    return;
  }
  ListModel->Remove(row);
  StatusPanel1->setText(DisplayPath(FileNamePart(path)) + QStringLiteral(" を補修しました。"));
}
