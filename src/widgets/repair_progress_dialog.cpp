#include "widgets/repair_progress_dialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "formats/number_format.h"

namespace yuragi {

RepairProgressDialog::RepairProgressDialog(QWidget* parent)
    : QDialog(parent),
      count_(new QLabel(this)),
      bytes_(new QLabel(this)),
      elapsed_(new QLabel(this)),
      state_(new QLabel(this)),
      current_(new QListWidget(this)),
      stop_(new QPushButton(QStringLiteral("中止"), this)) {
  setWindowTitle(QStringLiteral("一覧をすべて修復"));
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("ファイル:"), count_);
  form->addRow(QStringLiteral("受信:"), bytes_);
  form->addRow(QStringLiteral("経過時間:"), elapsed_);
  // The file's own name is the end of its path: long paths lose their start.
  current_->setTextElideMode(Qt::ElideLeft);
  current_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  current_->setSelectionMode(QAbstractItemView::NoSelection);
  current_->setFocusPolicy(Qt::NoFocus);
  current_->setMinimumSize(480, 140);
  state_->setText(QStringLiteral("転送中のファイル:"));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(stop_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(state_);
  layout->addWidget(current_);
  layout->addLayout(buttons);
  connect(stop_, &QPushButton::clicked, this, &RepairProgressDialog::StopPressed);
  SetProgress(0, 0, 0);
  clock_.start();
  ticker_.setInterval(500);
  connect(&ticker_, &QTimer::timeout, this, &RepairProgressDialog::Tick);
  ticker_.start();
  Tick();
}

void RepairProgressDialog::SetProgress(int64_t done, int64_t total, uint64_t received) {
  count_->setText(QStringLiteral("%1 / %2 件").arg(FormatNumber(done), FormatNumber(total)));
  bytes_->setText(FormatNumber(int64_t(received)) + QStringLiteral(" バイト"));
}

void RepairProgressDialog::SetCurrentFiles(const QStringList& paths) {
  if (CurrentText() == paths.join(QLatin1Char('\n'))) return;
  current_->clear();
  current_->addItems(paths);
}

void RepairProgressDialog::SetStopLevel(int level) {
  if (level == 1) {
    state_->setText(QStringLiteral("中止します: 転送中のファイルの終わりを待っています（もう一度 中止 で打ち切ります）"));
  } else if (level >= 2) {
    state_->setText(QStringLiteral("中止します: 転送中のファイルを打ち切ります"));
    stop_->setEnabled(false);
  }
}

QString RepairProgressDialog::CountText() const { return count_->text(); }
QString RepairProgressDialog::BytesText() const { return bytes_->text(); }
QString RepairProgressDialog::ElapsedText() const { return elapsed_->text(); }
QString RepairProgressDialog::CurrentText() const {
  QStringList paths;
  for (int row = 0; row < current_->count(); ++row) paths << current_->item(row)->text();
  return paths.join(QLatin1Char('\n'));
}
QString RepairProgressDialog::StateText() const { return state_->text(); }

void RepairProgressDialog::reject() {
  // The dialog goes when the run has ended, not before: Esc and the close
  // box ask for the end as 中止 does.
  if (stop_->isEnabled()) emit StopPressed();
}

void RepairProgressDialog::Tick() {
  const qint64 seconds = clock_.elapsed() / 1000;
  elapsed_->setText(QStringLiteral("%1:%2:%3")
                        .arg(seconds / 3600)
                        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                        .arg(seconds % 60, 2, 10, QLatin1Char('0')));
}

}  // namespace yuragi
