#include "widgets/properties_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "desktop/file_properties.h"

namespace yuragi {
namespace {

void AddRow(QFormLayout* form, const QString& label, const QString& value, const QString& name) {
  auto* text = new QLabel(value);
  text->setObjectName(name);
  text->setTextInteractionFlags(Qt::TextSelectableByMouse);
  text->setWordWrap(true);
  form->addRow(label, text);
}

QFrame* Rule(QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  return line;
}

}  // namespace

QDialog* ShowPropertiesDialog(QWidget* parent, const FileProperties& properties) {
  auto* dialog = new QDialog(parent);
  dialog->setObjectName(QStringLiteral("PropertiesDialog"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowTitle(QStringLiteral("%1のプロパティ").arg(properties.name));
  auto* layout = new QVBoxLayout(dialog);
  auto* form = new QFormLayout;
  form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  AddRow(form, QStringLiteral("名前:"), properties.name, QStringLiteral("name"));
  AddRow(form, QStringLiteral("場所:"), properties.folder, QStringLiteral("folder"));
  AddRow(form, QStringLiteral("種類:"), properties.type, QStringLiteral("type"));
  AddRow(form, QStringLiteral("サイズ:"), properties.size, QStringLiteral("size"));
  if (properties.pixelSize) AddRow(form, QStringLiteral("画像の大きさ:"), *properties.pixelSize, QStringLiteral("pixels"));
  if (properties.endMarker) AddRow(form, QStringLiteral("終端マーカー:"), *properties.endMarker, QStringLiteral("endMarker"));
  layout->addLayout(form);
  layout->addWidget(Rule(dialog));
  auto* times = new QFormLayout;
  times->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  AddRow(times, QStringLiteral("更新日時:"), properties.modified, QStringLiteral("modified"));
  AddRow(times, QStringLiteral("アクセス日時:"), properties.accessed, QStringLiteral("accessed"));
  AddRow(times, QStringLiteral("所有者:"), properties.owner, QStringLiteral("owner"));
  AddRow(times, QStringLiteral("アクセス権:"), properties.permissions, QStringLiteral("permissions"));
  layout->addLayout(times);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
  buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("閉じる"));
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
  layout->addWidget(buttons);
  dialog->setMinimumWidth(380);
  dialog->setModal(false);
  dialog->show();
  return dialog;
}

}  // namespace yuragi
