#pragma once

#include <QPixmap>
#include <QWidget>

namespace yuragi {

// Shows a picture centred, scaled down to fit with its proportions kept.
class ImageView : public QWidget {
  Q_OBJECT
 public:
  explicit ImageView(QWidget* parent = nullptr);
  void SetPicture(const QPixmap& picture);
  const QPixmap& Picture() const { return picture_; }

 signals:
  void DoubleClicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  QPixmap picture_;
};

}  // namespace yuragi
