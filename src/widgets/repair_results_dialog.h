#pragma once

#include <QDialog>
#include <QString>
#include <vector>

#include "repair/repair_report.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace yuragi {

class Prompts;

// One file of 一覧をすべて修復 as it ended.
struct RepairResult {
  ReportEntry entry;
  // Ended in the end marker when the run began: not fetched; reported as
  // not-started in the saved report.
  bool complete = false;
};

// The result list shown when the run has ended, with コピー and 保存.
class RepairResultsDialog : public QDialog {
  Q_OBJECT
 public:
  RepairResultsDialog(QWidget* parent, Prompts& prompts, std::vector<RepairResult> results, const QString& summary);

  QTableWidget* Table() const { return table_; }
  QPushButton* CopyButton() const { return copy_; }
  QPushButton* SaveButton() const { return save_; }
  QLabel* Summary() const { return summary_; }

  // ファイル TAB 結果 TAB URL TAB 詳細 per file, under a heading line.
  void Copy();
  // The report of yuragimaru-repair: path TAB URL TAB outcome TAB bytes TAB detail.
  void Save();

 private:
  Prompts& prompts_;
  std::vector<RepairResult> results_;
  QLabel* summary_;
  QTableWidget* table_;
  QPushButton* copy_;
  QPushButton* save_;
};

}  // namespace yuragi
