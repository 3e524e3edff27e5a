// Closing the main window: the confirmation, the settings, the temporary
// files of the last download and the folder tree.
#include <unistd.h>

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QTimer>

#include "app/globals.h"
#include "app/main_window.h"
#include "platform/prompts.h"
#include "widgets/folder_tree.h"

void TForm1::Exit1Click() { close(); }

void TForm1::FormCloseQuery(bool& canClose) {
  if (askOnClose_ && CloseQuery1->isChecked() &&
      !prompts_.Question(this, ApplicationTitle, QStringLiteral("終了してもよいですか？"))) {
    canClose = false;
    return;
  }
  WriteSettings();
  DeleteTempFiles();
  DestroyFolderTree();
}

bool TForm1::EndSession(bool mayAsk) {
  askOnClose_ = mayAsk;
  const bool closed = close();
  askOnClose_ = true;
  // During a long operation the close waits for it to unwind; agreed all the same.
  return closed || closeAgreed_;
}

void TForm1::FormClose() {
  // Let the clean-up's repaints and deferred work run before the window
  // goes; what the user types now no longer reaches it.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TForm1::closeEvent(QCloseEvent* event) {
  // 一覧をすべて修復 asks first, and the window closes when it has ended.
  if (RepairAllRunning()) {
    RunHandler([this] { RepairAllCloseRequested(); });
    event->ignore();
    return;
  }
  if (!closeAgreed_) {
    bool canClose = true;
    RunHandler([this, &canClose] { FormCloseQuery(canClose); });
    if (!canClose) {
      event->ignore();
      return;
    }
    // Asked once: the window may stay a little longer, but without a tree.
    closeAgreed_ = true;
  }
  // Long work runs inside a handler: let it unwind first, then close.
  if (detectionRunning_ || downloadRunning_) {
    CancelRequested = true;
    closePending_ = true;
    event->ignore();
    return;
  }
  // A download that was still ending at the query may have left its copy.
  DeleteTempFiles();
  Timer1->stop();
  RunHandler([this] { FormClose(); });
  event->accept();
}

void TForm1::FinishPendingClose() {
  if (!std::exchange(closePending_, false)) return;
  QTimer::singleShot(0, this, &QWidget::close);
}

void TForm1::DeleteTempFiles() {
  // Missing files, or no download in this run, are no error.
  if (!TempDownloadPath.isEmpty()) ::unlink(TempDownloadPath.constData());
  if (!TempImagePath.isEmpty()) ::unlink(TempImagePath.constData());
}

void TForm1::DestroyFolderTree() {
  yuragi::FolderTree* tree = std::exchange(FolderTree, nullptr);
  if (!tree) return;
  disconnect(tree, nullptr, this, nullptr);
  tree->hide();
  // Later, not now: the close may run inside one of the tree's own
  // handlers (a double-click that started a detection run).
  tree->deleteLater();
}
