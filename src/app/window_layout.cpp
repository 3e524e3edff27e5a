// The controls of the main window, placed as the window layout gives them.
#include <QDateTime>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>

#include "app/main_window.h"
#include "detect/detection_list_view.h"
#include "detect/detection_model.h"
#include "formats/time_format.h"
#include "widgets/image_view.h"
#include "widgets/tab_bar.h"

using namespace yuragi;

namespace {

QPushButton* HandButton(const QString& caption, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setCursor(Qt::PointingHandCursor);
  return button;
}

QGroupBox* Group(const QString& caption, QWidget* parent) {
  auto* box = new QGroupBox(caption, parent);
  box->setFlat(false);
  return box;
}

// A path box and its button in one group: the box stretches, the button
// keeps its distance to the right edge.
void FillPathRow(QGroupBox* box, QLineEdit* edit, QPushButton* button, int top, int bottom) {
  button->setFixedSize(49, 25);
  auto* row = new QHBoxLayout(box);
  row->setContentsMargins(12, top, 10, bottom);
  row->setSpacing(6);
  row->addWidget(edit, 1);
  row->addWidget(button);
}

// The clock's panel: at least its layout width, and wide enough for the
// clock on any day of the week in the panel's font and the locale's names,
// counting every digit as the widest one.
int ClockPanelWidth(const QLabel* panel) {
  const QFontMetrics metrics(panel->font());
  QChar widest = QLatin1Char('0');
  for (char digit = '0'; digit <= '9'; ++digit) {
    if (metrics.horizontalAdvance(QLatin1Char(digit)) > metrics.horizontalAdvance(widest)) {
      widest = QLatin1Char(digit);
    }
  }
  int text = 0;
  for (int day = 0; day < 7; ++day) {
    QString sample = FormatClock(QDateTime(QDate(2026, 12, 7).addDays(day), QTime(12, 0)));
    for (QChar& c : sample) {
      if (c.isDigit()) c = widest;
    }
    text = std::max(text, metrics.horizontalAdvance(sample));
  }
  const int padding = 2 * (panel->frameWidth() + panel->margin()) + metrics.averageCharWidth();
  return std::max(160, text + padding);
}

}  // namespace

void TForm1::CreateStatusBar() {
  StatusBar1 = new QStatusBar(this);
  StatusBar1->setFixedHeight(22);
  StatusBar1->setSizeGripEnabled(true);
  StatusPanel0 = new QLabel(StatusBar1);
  StatusPanel1 = new QLabel(StatusBar1);
  for (QLabel* panel : {StatusPanel0, StatusPanel1}) {
    panel->setAlignment(Qt::AlignCenter);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    StatusBar1->addWidget(panel);
  }
  StatusPanel0->setFixedWidth(ClockPanelWidth(StatusPanel0));
  StatusPanel1->setFixedWidth(450);
  setStatusBar(StatusBar1);
}

void TForm1::CreateRefetchPage() {
  TabSheet1 = new QWidget;
  auto* page = new QVBoxLayout(TabSheet1);
  page->setContentsMargins(2, 2, 2, 2);
  page->setSpacing(2);

  GroupBox1 = Group(QStringLiteral("PC内のファイル(&F)"), TabSheet1);
  GroupBox1->setFixedHeight(53);
  Edit1 = new QLineEdit(GroupBox1);
  RefferBtn = HandButton(QStringLiteral("参照(&R)"), GroupBox1);
  FillPathRow(GroupBox1, Edit1, RefferBtn, 4, 6);
  page->addWidget(GroupBox1);

  Panel3 = new QWidget(TabSheet1);
  auto* panel3 = new QVBoxLayout(Panel3);
  panel3->setContentsMargins(0, 0, 0, 0);
  panel3->setSpacing(2);
  GroupBox2 = Group(QStringLiteral("元の想定URL(&U)"), Panel3);
  GroupBox2->setFixedHeight(60);
  Edit2 = new QLineEdit(GroupBox2);
  BrowseBtn = HandButton(QStringLiteral("確認(&F)"), GroupBox2);
  FillPathRow(GroupBox2, Edit2, BrowseBtn, 8, 8);
  panel3->addWidget(GroupBox2);

  GroupBox3 = Group(QStringLiteral("プレビュー(&P)"), Panel3);
  auto* previews = new QHBoxLayout(GroupBox3);
  previews->setContentsMargins(3, 3, 3, 3);
  previews->setSpacing(3);
  GridPanel1 = new QWidget(GroupBox3);
  auto* grid = new QGridLayout(GridPanel1);
  grid->setContentsMargins(2, 2, 2, 2);
  grid->setHorizontalSpacing(3);
  grid->setColumnStretch(0, 1);
  grid->setColumnStretch(1, 1);
  GroupBox4 = Group(QString(), GridPanel1);
  GroupBox5 = Group(QString(), GridPanel1);
  Image1 = new ImageView(GroupBox4);
  Image2 = new ImageView(GroupBox5);
  for (auto [box, image] : {std::pair{GroupBox4, Image1}, std::pair{GroupBox5, Image2}}) {
    auto* fill = new QVBoxLayout(box);
    fill->setContentsMargins(4, 4, 4, 4);
    fill->addWidget(image);
  }
  grid->addWidget(GroupBox4, 0, 0);
  grid->addWidget(GroupBox5, 0, 1);
  CancelBtn0 = HandButton(QStringLiteral("キャンセル(&C)"), GroupBox5);
  CancelBtn0->setFixedSize(121, 49);
  previews->addWidget(GridPanel1, 1);

  GridPanel2 = new QWidget(GroupBox3);
  GridPanel2->setFixedWidth(125);
  auto* buttons = new QVBoxLayout(GridPanel2);
  buttons->setContentsMargins(0, 2, 2, 2);
  buttons->setSpacing(2);
  ReGetBtn = HandButton(QStringLiteral("再取得(&G)"), GridPanel2);
  SaveBtn = HandButton(QStringLiteral("上書き保存(&S)"), GridPanel2);
  SaveAsBtn = HandButton(QStringLiteral("名前を付けて保存(&A)"), GridPanel2);
  ClearBtn = HandButton(QStringLiteral("クリア(&C)"), GridPanel2);
  // Rows of about 25.33 %, 25.33 %, 25.33 % and 24 %.
  const int shares[] = {76, 76, 76, 72};
  int i = 0;
  for (QPushButton* button : {ReGetBtn, SaveBtn, SaveAsBtn, ClearBtn}) {
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    buttons->addWidget(button, shares[i++]);
  }
  previews->addWidget(GridPanel2);
  panel3->addWidget(GroupBox3, 1);
  page->addWidget(Panel3, 1);
}

void TForm1::CreateDetectionPage() {
  TabSheet2 = new QWidget;
  auto* page = new QHBoxLayout(TabSheet2);
  page->setContentsMargins(0, 0, 0, 0);
  Splitter1 = new QSplitter(Qt::Horizontal, TabSheet2);
  Splitter1->setHandleWidth(4);
  Splitter1->setOpaqueResize(true);
  Splitter1->setChildrenCollapsible(false);
  Panel4 = new QWidget(Splitter1);
  auto* fill = new QVBoxLayout(Panel4);
  fill->setContentsMargins(0, 0, 0, 0);
  ListModel = new DetectionModel(this);
  ListView1 = new DetectionListView(ListModel, Splitter1);
  Splitter1->addWidget(Panel4);
  Splitter1->addWidget(ListView1);
  Splitter1->setStretchFactor(1, 1);
  page->addWidget(Splitter1);

  Memo1 = new QPlainTextEdit(TabSheet2);
  Memo1->setFixedSize(90, 41);
  Memo1->setFocusPolicy(Qt::NoFocus);
  Memo1->hide();
  CancelBtn1 = HandButton(QStringLiteral("キャンセル(&C)"), TabSheet2);
  CancelBtn1->setFixedSize(161, 44);
}
