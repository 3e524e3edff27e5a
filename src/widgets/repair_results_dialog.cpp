#include "widgets/repair_results_dialog.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/paths.h"
#include "platform/prompts.h"

namespace yuragi {

namespace {

QString Tsv(QString text) {
  for (QChar& c : text) {
    if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r')) c = QLatin1Char(' ');
  }
  return text;
}

// detail starts with the status; what follows (the archive's answer, say)
// is shown in the detail column.
QString HttpText(const std::string& detail) {
  const std::string status = detail.substr(0, detail.find_first_not_of("0123456789"));
  if (status == "404") return QStringLiteral("見つかりません (404)");
  if (status == "410") return QStringLiteral("削除されています (410)");
  if (status == "403" || status == "401") return QStringLiteral("拒否されました (%1)").arg(QString::fromStdString(status));
  return QStringLiteral("サーバーのエラーです (%1)").arg(QString::fromStdString(status));
}

// "修復しました", "見つかりません (404)", ...
QString OutcomeText(const RepairResult& result) {
  if (result.complete) return QStringLiteral("完全な画像です");
  switch (result.entry.outcome) {
    case Outcome::Repaired: return QStringLiteral("修復しました");
    case Outcome::ReplacedChanged: return QStringLiteral("別の画像で置き換えました");
    case Outcome::Closed: return QStringLiteral("現状のまま補修しました");
    case Outcome::WouldFetch: return QStringLiteral("取得します（試行のみ）");
    case Outcome::HttpError: return HttpText(result.entry.detail);
    case Outcome::Html: return QStringLiteral("画像ではなく HTML が返りました");
    case Outcome::Empty: return QStringLiteral("空の応答です");
    case Outcome::NotJpeg: return QStringLiteral("JPEG ではありません");
    case Outcome::Smaller: return QStringLiteral("手元のファイルより小さいです");
    case Outcome::Changed: return QStringLiteral("変更されています");
    case Outcome::Incomplete: return QStringLiteral("届いた画像も欠けています");
    case Outcome::Same: return QStringLiteral("サーバーにも同じデータしかありません");
    case Outcome::Corrupt: return QStringLiteral("届いた画像が壊れています");
    case Outcome::Complete: return QStringLiteral("完全な画像です");
    case Outcome::Damaged: return QStringLiteral("破損した画像です（取得していません）");
    case Outcome::TooSlow: return QStringLiteral("転送が遅すぎます");
    case Outcome::TransferFailed: return QStringLiteral("接続できません");
    case Outcome::TooLarge: return QStringLiteral("大きすぎます");
    case Outcome::SaveFailed: return QStringLiteral("保存できません");
    case Outcome::Unreadable: return QStringLiteral("ファイルを読めません");
    case Outcome::Interrupted: return QStringLiteral("中止しました（元のまま）");
    case Outcome::NotStarted: return QStringLiteral("中止したため取得していません");
    default: return QString::fromLatin1(OutcomeWord(result.entry.outcome));
  }
}

QString ResultsTsv(const std::vector<RepairResult>& results) {
  QString text = QStringLiteral("ファイル\t結果\tURL\t詳細\n");
  for (const RepairResult& result : results) {
    const QByteArray path = QByteArray::fromStdString(result.entry.path);
    text += Tsv(DisplayPath(path)) + QLatin1Char('\t') + OutcomeText(result) + QLatin1Char('\t') +
            Tsv(QString::fromStdString(result.entry.url)) + QLatin1Char('\t') +
            Tsv(QString::fromStdString(result.entry.detail)) + QLatin1Char('\n');
  }
  return text;
}

QByteArray ResultsReport(const std::vector<RepairResult>& results) {
  QByteArray report;
  for (const RepairResult& result : results) {
    ReportEntry entry = result.entry;
    if (result.complete) {
      entry.outcome = Outcome::Complete;
      entry.detail = "ends in the end marker";
    }
    report += QByteArray::fromStdString(RepairLine(entry, false));
  }
  return report;
}

}  // namespace

RepairResultsDialog::RepairResultsDialog(QWidget* parent, Prompts& prompts, std::vector<RepairResult> results,
                                         const QString& summary)
    : QDialog(parent),
      prompts_(prompts),
      results_(std::move(results)),
      summary_(new QLabel(summary, this)),
      table_(new QTableWidget(int(results_.size()), 3, this)),
      copy_(new QPushButton(QStringLiteral("コピー(&C)"), this)),
      save_(new QPushButton(QStringLiteral("保存(&S)..."), this)) {
  setWindowTitle(QStringLiteral("一覧をすべて修復 - 結果"));
  table_->setHorizontalHeaderLabels({QStringLiteral("ファイル"), QStringLiteral("結果"), QStringLiteral("詳細")});
  table_->verticalHeader()->hide();
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setWordWrap(false);
  for (int row = 0; row < int(results_.size()); ++row) {
    const RepairResult& result = results_[size_t(row)];
    auto* file = new QTableWidgetItem(DisplayPath(QByteArray::fromStdString(result.entry.path)));
    file->setToolTip(QString::fromStdString(result.entry.url));
    table_->setItem(row, 0, file);
    table_->setItem(row, 1, new QTableWidgetItem(OutcomeText(result)));
    table_->setItem(row, 2, new QTableWidgetItem(QString::fromStdString(result.entry.detail)));
  }
  table_->setTextElideMode(Qt::ElideLeft);
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
  table_->resizeColumnsToContents();
  // A long path gives up its start, not the outcome beside it.
  table_->setColumnWidth(0, std::min(table_->columnWidth(0), 380));
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setMinimumSize(640, 300);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  buttons->addButton(copy_, QDialogButtonBox::ActionRole);
  buttons->addButton(save_, QDialogButtonBox::ActionRole);
  buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("閉じる"));
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(copy_, &QPushButton::clicked, this, &RepairResultsDialog::Copy);
  connect(save_, &QPushButton::clicked, this, &RepairResultsDialog::Save);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(summary_);
  layout->addWidget(table_);
  layout->addWidget(buttons);
  resize(760, 420);
}

void RepairResultsDialog::Copy() { QApplication::clipboard()->setText(ResultsTsv(results_)); }

void RepairResultsDialog::Save() {
  FileDialogSpec spec;
  spec.filter = QStringLiteral("TSVファイル(*.tsv)|*.tsv|すべてのファイル(*.*)|*.*");
  spec.defaultSuffix = QStringLiteral("tsv");
  spec.confirmOverwrite = true;
  const QString chosen = prompts_.SaveFile(this, spec);
  if (chosen.isEmpty()) return;
  QSaveFile file(QFile::decodeName(PathFromText(chosen)));
  const QByteArray report = ResultsReport(results_);
  if (!file.open(QIODevice::WriteOnly) || file.write(report) != report.size() || !file.commit()) {
    prompts_.Error(this, windowTitle(),
                   QStringLiteral("%1 に保存できません。\n%2").arg(chosen, file.errorString()));
  }
}

}  // namespace yuragi
