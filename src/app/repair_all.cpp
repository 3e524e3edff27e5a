// 一覧をすべて修復: the batch repair of yuragimaru-repair on the files of the
// detection list, from the window, on the window's own thread.
#include <QAbstractItemView>
#include <QAction>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <algorithm>
#include <set>

#include "app/globals.h"
#include "app/main_window.h"
#include "app/repair_all_run.h"
#include "detect/detection_list_view.h"
#include "detect/detection_model.h"
#include "detect/end_marker.h"
#include "formats/ini_file.h"
#include "formats/number_format.h"
#include "platform/paths.h"
#include "platform/prompts.h"
#include "widgets/repair_progress_dialog.h"
#include "widgets/repair_results_dialog.h"

using namespace yuragi;

namespace {

const QByteArray kRepair = "REPAIR";

struct Chosen {
  std::vector<RepairCandidate> files;
  std::vector<RepairResult> complete;
};

// The one place that decides which listed files are fetched. A file that
// ends in the end marker by now (saved again meanwhile) is not fetched.
Chosen ChooseCandidates(const DetectionModel& model, const std::vector<int>& rows) {
  Chosen chosen;
  std::set<QByteArray> seen;
  for (const int row : rows) {
    const QByteArray& path = model.At(row).path;
    if (!seen.insert(path).second) continue;
    const std::string native = path.toStdString();
    if (HasJpegEndMarker(native)) {
      RepairResult result;
      result.entry.path = native;
      result.complete = true;
      chosen.complete.push_back(std::move(result));
      continue;
    }
    RepairCandidate& file = chosen.files.emplace_back();
    file.path = native;
    file.root = FolderPart(path).toStdString();
    file.state = model.At(row).state;
  }
  return chosen;
}

// [REPAIR] Jobs and PerHost, read at each start; the defaults and limits
// are those of yuragimaru-repair.
RepairOptions ReadRepairOptions() {
  const IniFile ini = IniFile::Load(SettingsFile);
  RepairOptions options;
  options.fetch.jobs = std::clamp(ini.ReadInteger(kRepair, "Jobs", options.fetch.jobs), 1, kMaxJobs);
  options.fetch.perHost = std::clamp(ini.ReadInteger(kRepair, "PerHost", options.fetch.perHost), 1, kMaxJobs);
  return options;
}

// Deleted from the loop, never here: this runs inside the run's own signal.
void Retire(std::unique_ptr<RepairAllRun> run) { run.release()->deleteLater(); }

}  // namespace

void TForm1::CreateRepairAllCommands() {
  const QString caption = QStringLiteral("一覧をすべて修復(&B)...");
  // In the file menu after the save commands; in the list's menu after the
  // commands for one row, beside the other command for the whole list.
  RepairAll1 = new QAction(caption, this);
  File1->insertAction(N1->menuAction(), RepairAll1);
  File1->insertSeparator(N1->menuAction());
  RepairAllP1 = new QAction(caption, this);
  PopupMenu1->insertAction(CopyToClipP1, RepairAllP1);
  for (QAction* action : {RepairAll1, RepairAllP1}) {
    connect(action, &QAction::triggered, this, [this] { RunHandler([this] { RepairAllClick(); }); });
  }
  connect(File1, &QMenu::aboutToShow, this, &TForm1::UpdateRepairAllEnabled);
  connect(PopupMenu1, &QMenu::aboutToShow, this, &TForm1::UpdateRepairAllEnabled);
  for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved}) {
    connect(ListModel, signal, this, &TForm1::UpdateRepairAllEnabled);
  }
  connect(ListModel, &QAbstractItemModel::modelReset, this, &TForm1::UpdateRepairAllEnabled);
  UpdateRepairAllEnabled();
}

void TForm1::UpdateRepairAllEnabled() {
  const bool enabled = ListModel->rowCount() > 0 && !detectionRunning_ && !downloadRunning_ && !repairRun_;
  RepairAll1->setEnabled(enabled);
  RepairAllP1->setEnabled(enabled);
}

RepairResultsDialog* TForm1::RepairResults() const { return qobject_cast<RepairResultsDialog*>(repairResults_.data()); }

void TForm1::RepairAllClick() {
  UpdateRepairAllEnabled();
  if (!RepairAll1->isEnabled()) return;
  std::vector<int> rows;
  for (const QModelIndex& index : ListView1->CurrentView()->selectionModel()->selectedRows()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  const int all = ListModel->rowCount();
  if (!rows.empty() && int(rows.size()) < all) {
    const QString selected = FormatNumber(int64_t(rows.size()));
    const QString listed = FormatNumber(all);
    const int answer = prompts_.Choice(
        this, ApplicationTitle,
        QStringLiteral("選択した %1 件を修復しますか、一覧の %2 件すべてを修復しますか？").arg(selected, listed),
        {QStringLiteral("選択した %1 件(&S)").arg(selected), QStringLiteral("すべての %1 件(&A)").arg(listed)});
    if (answer < 0) return;
    if (answer == 1) rows.clear();
  }
  if (rows.empty()) {
    rows.resize(size_t(all));
    for (int row = 0; row < all; ++row) rows[size_t(row)] = row;
  }

  Chosen chosen = ChooseCandidates(*ListModel, rows);
  RepairOptions options = ReadRepairOptions();
  // Rows picked by hand are fetched whatever their state; the whole list
  // fetches only the cut ones, as yuragimaru-repair does.
  options.allListed = !rows.empty() && int(rows.size()) < all;
  // The option of 再取得: files the origin failed are looked for there afterwards.
  if (UseArchive1->isChecked()) options.archive.prefix = ArchivePrefix.toStdString();
  repairRun_ = std::make_unique<RepairAllRun>(this, std::move(chosen.files), options,
                                              std::move(chosen.complete));
  connect(repairRun_.get(), &RepairAllRun::Ended, this, [this] { RunHandler([this] { RepairAllEnded(); }); });
  UpdateRepairAllEnabled();
  StatusPanel1->setText(QStringLiteral("一覧のファイルを修復しています..."));
  std::string error;
  if (!repairRun_->Start(&error)) {
    repairRun_.reset();
    UpdateRepairAllEnabled();
    StatusPanel1->clear();
    prompts_.Error(this, ApplicationTitle,
                   QStringLiteral("修復を始められません。\n") + QString::fromLocal8Bit(error.c_str()));
  }
}

void TForm1::RepairAllEnded() {
  std::unique_ptr<RepairAllRun> run = std::move(repairRun_);
  const std::vector<RepairResult>& results = run->Results();
  // A repaired file is no longer cut: its row leaves the list.
  std::set<QByteArray> settled;
  for (const RepairResult& result : results) {
    if (IsSettled(result.entry.outcome)) settled.insert(QByteArray::fromStdString(result.entry.path));
  }
  for (int row = ListModel->rowCount() - 1; row >= 0; --row) {
    if (settled.count(ListModel->At(row).path)) ListModel->Remove(row);
  }
  const QString summary = QStringLiteral("%1 件中 %2 件を修復しました")
                              .arg(FormatNumber(int64_t(results.size())), FormatNumber(run->RepairedCount()));
  StatusPanel1->setText(summary);
  if (closePending_) {
    // The window is closing: no result list, the run goes with the window.
    Retire(std::move(run));
    UpdateRepairAllEnabled();
    FinishPendingClose();
    return;
  }
  if (repairResults_) repairResults_->close();
  auto* dialog = new RepairResultsDialog(this, prompts_, results, summary);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  repairResults_ = dialog;
  Retire(std::move(run));
  UpdateRepairAllEnabled();
  dialog->show();
}

void TForm1::RepairAllCloseRequested() {
  if (!repairRun_) return;
  if (closePending_) {
    // A second close: running transfers are abandoned.
    repairRun_->Stop();
    return;
  }
  if (!prompts_.Question(this, ApplicationTitle,
                         QStringLiteral("一覧の修復中です。修復を中止して終了しますか？\n"
                                        "転送中のファイルの終わりを待ってから終了します。"))) {
    return;
  }
  closePending_ = true;
  if (repairRun_->StopLevel() == 0) repairRun_->Stop();
}
