#include "widgets/open_with_chooser.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace yuragi {

OpenWithChooser::OpenWithChooser(QWidget* parent, const QString& fileName, const std::vector<Entry>& apps,
                                 std::function<QString()> browse)
    : QDialog(parent), browse_(std::move(browse)) {
  setObjectName(QStringLiteral("OpenWithChooser"));
  setWindowTitle(QStringLiteral("プログラムを選択して開く"));
  setAttribute(Qt::WA_DeleteOnClose);
  auto* layout = new QVBoxLayout(this);
  auto* prompt = new QLabel(QStringLiteral("次のファイルを開くプログラムを選んでください:\n%1").arg(fileName), this);
  prompt->setWordWrap(true);
  prompt->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(prompt);

  list_ = new QListWidget(this);
  list_->setIconSize(QSize(32, 32));
  list_->setUniformItemSizes(true);
  for (const Entry& app : apps) {
    auto* item = new QListWidgetItem(app.icon, app.name, list_);
    item->setData(Qt::UserRole, app.id);
    item->setToolTip(app.id);
  }
  if (list_->count() > 0) list_->setCurrentRow(0);
  layout->addWidget(list_, 1);
  if (apps.empty()) {
    auto* none = new QLabel(QStringLiteral("この種類のファイルに登録されたプログラムはありません。"), this);
    none->setWordWrap(true);
    layout->addWidget(none);
  }

  auto* other = new QHBoxLayout;
  other->addWidget(new QLabel(QStringLiteral("一覧にないプログラム:"), this));
  browseButton_ = new QPushButton(QStringLiteral("参照(&B)..."), this);
  other->addWidget(browseButton_);
  other->addStretch(1);
  layout->addLayout(other);

  auto* buttons = new QDialogButtonBox(this);
  okButton_ = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
  okButton_->setEnabled(list_->count() > 0);
  okButton_->setDefault(true);
  layout->addWidget(buttons);

  connect(buttons, &QDialogButtonBox::accepted, this, &OpenWithChooser::AcceptSelected);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(list_, &QListWidget::itemActivated, this, &OpenWithChooser::AcceptSelected);
  connect(list_, &QListWidget::currentRowChanged, this, [this](int row) { okButton_->setEnabled(row >= 0); });
  connect(browseButton_, &QPushButton::clicked, this, [this] {
    const QString program = browse_ ? browse_() : QString();
    if (program.isEmpty()) return;
    accept();
    emit ProgramChosen(program);
  });
  resize(sizeHint().expandedTo(QSize(420, 360)));
}

void OpenWithChooser::AcceptSelected() {
  QListWidgetItem* item = list_->currentItem();
  if (!item) return;
  const QString id = item->data(Qt::UserRole).toString();
  accept();
  emit AppChosen(id);
}

}  // namespace yuragi
