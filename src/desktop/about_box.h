#pragma once

#include <QDialog>
#include <QLinearGradient>
#include <QPixmap>
#include <QString>
#include <functional>

class QIcon;
class QLabel;
class QPainter;
class QPushButton;

namespace yuragi {

// How the About box ended: "&OK" (also Enter and Esc), the title bar's
// close, or "&HomePage".
enum AboutResult { AboutOk = 1, AboutClosed = 2, AboutHomePage = 3 };

// The six lines of the box; executable is the running program's path.
QString AboutText(const QString& executable);

// The background for an end colour 0..0xFFFFFE (red in the lowest byte):
// white to that colour, left to right for odd values, top to bottom for
// even ones, over a box of the given size.
QLinearGradient AboutGradient(quint32 endColour, const QSize& size);

// A new end colour from the program's generator.
quint32 DrawAboutColour();

// Centred over the owner, moved back onto the desktop where it would leave it.
QPoint AboutBoxPosition(const QRect& owner, const QSize& box, const QRect& desktop);

// The box itself: the program's icon at the top left, the text beside it on
// a transparent label, the two buttons in one centred row below. A paint of
// the whole box asks paintBackground for a new background; a paint of a
// part (a button's focus frame) keeps the one that shows, so the box never
// turns into a patchwork of gradients.
class AboutBox : public QDialog {
  Q_OBJECT

 public:
  AboutBox(QWidget* owner, const QString& text, const QIcon& icon,
           std::function<void(QWidget*, QPainter&)> paintBackground);

  QLabel* IconLabel = nullptr;
  QLabel* TextLabel = nullptr;
  QPushButton* OkButton = nullptr;
  QPushButton* HomePageButton = nullptr;

  void reject() override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  std::function<void(QWidget*, QPainter&)> paintBackground_;
  QPixmap background_;
};

}  // namespace yuragi
