#include "platform/picture_preview.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "platform/paths.h"

namespace yuragi {

namespace {

constexpr int kPreviewSide = 200;

}  // namespace

void AddPicturePreview(QFileDialog& dialog, QPixmap (*load)(const QByteArray& path)) {
  // The desktop's own dialog takes no widgets of ours.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
  if (!grid) return;
  auto* panel = new QWidget(&dialog);
  auto* column = new QVBoxLayout(panel);
  column->setContentsMargins(6, 0, 0, 0);
  auto* picture = new QLabel(panel);
  picture->setObjectName(QStringLiteral("preview"));
  picture->setFixedSize(kPreviewSide, kPreviewSide);
  picture->setAlignment(Qt::AlignCenter);
  picture->setFrameShape(QFrame::StyledPanel);
  auto* size = new QLabel(panel);
  size->setObjectName(QStringLiteral("previewSize"));
  size->setAlignment(Qt::AlignCenter);
  column->addWidget(size);
  column->addWidget(picture);
  column->addStretch(1);
  grid->addWidget(panel, 0, grid->columnCount(), grid->rowCount(), 1);
  // The list keeps the room it had before the preview came beside it.
  dialog.resize(dialog.width() + panel->sizeHint().width(), dialog.height());

  QObject::connect(&dialog, &QFileDialog::currentChanged, picture, [picture, size, load](const QString& path) {
    picture->clear();
    size->clear();
    if (path.isEmpty() || !QFileInfo(path).isFile()) return;
    const QPixmap loaded = load(PathFromText(path));
    if (loaded.isNull()) return;
    size->setText(QStringLiteral("(%1 × %2)").arg(loaded.width()).arg(loaded.height()));
    // Never enlarged: a small picture is seen as it is.
    const QSize room = picture->contentsRect().size();
    picture->setPixmap(loaded.width() > room.width() || loaded.height() > room.height()
                           ? loaded.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                           : loaded);
  });
}

}  // namespace yuragi
