#include "desktop/about_box.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>

#include "app/globals.h"
#include "app/product_info.h"

namespace yuragi {

QString AboutText(const QString& executable) {
  return QStringList{QStringLiteral("画像再取得『ゆらぎ丸』 ") + ProductVersion, executable, QString(),
                     CopyrightLine, ContactAddress, HomePageUrl}
      .join(QLatin1Char('\n'));
}

QLinearGradient AboutGradient(quint32 endColour, const QSize& size) {
  const bool horizontal = endColour % 2 == 1;
  QLinearGradient gradient(QPointF(0, 0), horizontal ? QPointF(size.width(), 0) : QPointF(0, size.height()));
  gradient.setColorAt(0, QColor(255, 255, 255));
  gradient.setColorAt(1, QColor(int(endColour & 0xFF), int((endColour >> 8) & 0xFF), int((endColour >> 16) & 0xFF)));
  return gradient;
}

quint32 DrawAboutColour() {
  // Seeded once at start-up; RAND_MAX is far above the colour range here.
  return quint32(std::rand()) % 0xFFFFFFu;
}

QPoint AboutBoxPosition(const QRect& owner, const QSize& box, const QRect& desktop) {
  QPoint at(owner.x() + (owner.width() - box.width()) / 2, owner.y() + (owner.height() - box.height()) / 2);
  at.setX(std::min(at.x(), desktop.x() + desktop.width() - box.width()));
  at.setY(std::min(at.y(), desktop.y() + desktop.height() - box.height()));
  // The title bar stays reachable even for a box larger than the desktop.
  at.setX(std::max(at.x(), desktop.x()));
  at.setY(std::max(at.y(), desktop.y()));
  return at;
}

AboutBox::AboutBox(QWidget* owner, const QString& text, const QIcon& icon,
                   std::function<void(QWidget*, QPainter&)> paintBackground)
    : QDialog(owner), paintBackground_(std::move(paintBackground)) {
  setWindowTitle(QStringLiteral("バージョン情報"));
  IconLabel = new QLabel(this);
  IconLabel->setPixmap(icon.pixmap(48, 48));
  IconLabel->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  TextLabel = new QLabel(text, this);
  TextLabel->setTextFormat(Qt::PlainText);
  TextLabel->setAutoFillBackground(false);
  TextLabel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  OkButton = new QPushButton(QStringLiteral("&OK"), this);
  HomePageButton = new QPushButton(QStringLiteral("&HomePage"), this);
  for (QPushButton* button : {OkButton, HomePageButton}) button->setCursor(Qt::PointingHandCursor);
  OkButton->setDefault(true);
  OkButton->setFocus();
  connect(OkButton, &QPushButton::clicked, this, [this] { done(AboutOk); });
  connect(HomePageButton, &QPushButton::clicked, this, [this] { done(AboutHomePage); });

  auto* top = new QHBoxLayout;
  top->setSpacing(16);
  top->addWidget(IconLabel, 0, Qt::AlignTop);
  top->addWidget(TextLabel, 0, Qt::AlignTop);
  top->addStretch();
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OkButton);
  buttons->addWidget(HomePageButton);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(18, 18, 18, 14);
  layout->setSpacing(18);
  layout->addLayout(top);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void AboutBox::reject() { done(AboutClosed); }

void AboutBox::keyPressEvent(QKeyEvent* event) {
  // Esc answers like the default button, as in the system's own boxes.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    done(AboutOk);
    return;
  }
  QDialog::keyPressEvent(event);
}

void AboutBox::paintEvent(QPaintEvent* event) {
  const bool whole = (QRegion(rect()) - event->region()).isEmpty();
  if (paintBackground_ && (whole || background_.size() != size())) {
    background_ = QPixmap(size());
    QPainter painter(&background_);
    paintBackground_(this, painter);
  }
  QPainter painter(this);
  painter.drawPixmap(0, 0, background_);
}

}  // namespace yuragi
