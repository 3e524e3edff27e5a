#include "app/main_window.h"

#include <unistd.h>

#include <QAction>
#include <QDateTime>
#include <QDropEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdlib>
#include <ctime>

#include "app/globals.h"
#include "app/repair_all_run.h"
#include "detect/detection_list_view.h"
#include "widgets/face_colour.h"
#include "desktop/shell_fallbacks.h"
#include "platform/file_icons.h"
#include "widgets/folder_tree.h"
#include "widgets/image_view.h"
#include "platform/paths.h"
#include "platform/prompts.h"
#include "widgets/tab_bar.h"
#include "platform/temp_dir.h"
#include "formats/time_format.h"
#include "widgets/window_font.h"

using namespace yuragi;


TForm1::TForm1(Prompts& prompts, QList<QByteArray> arguments, QWidget* parent)
    : QMainWindow(parent),
      prompts_(prompts),
      shell_(MakeDesktopShell(prompts)),
      arguments_(std::move(arguments)) {
  setFont(WindowFont());
  setWindowIcon(ProgramIcon());
  CreateStatusBar();
  auto* pages = new TabPages(this);
  PageControl1 = pages;
  PageControl1Tabs = pages->Bar();
  CreateRefetchPage();
  CreateDetectionPage();
  PageControl1->addTab(TabSheet1, QStringLiteral("再取得"));
  PageControl1->addTab(TabSheet2, QStringLiteral("検出"));
  auto* central = new QWidget(this);
  auto* border = new QVBoxLayout(central);
  border->setContentsMargins(4, 4, 4, 3);
  border->addWidget(PageControl1);
  setCentralWidget(central);
  CreateMainMenu();
  CreatePopupMenus();
  CreateFolderMenu();
  CreateRepairAllCommands();
  CreateDialogs();
  Timer1 = new QTimer(this);
  Timer1->setInterval(100);

  // The construction order the rest of the program relies on.
  SetCaption(ApplicationTitle);
  setAcceptDrops(true);
  ReadSettings();
  SetCaption(ProductName);
  PageControl1->setCurrentIndex(0);
  std::srand(unsigned(std::time(nullptr)));
  CreateFolderTree();
  ReadTempDir();
  ShowStartState();
  ApplyTreeScrollPosition();
  LoadJpegIcon();
  ConnectHandlers();
  Timer1->start();
  Timer1Timer();
  show();
}

TForm1::~TForm1() = default;

void TForm1::CreateFolderTree() {
  FolderTree = nullptr;
  FolderTree = new yuragi::FolderTree(Panel4);
  // The pane may be as narrow as the settings say; the tree's scroll bars
  // would otherwise hold it at about 70 pixels.
  FolderTree->setMinimumWidth(16);
  Panel4->layout()->addWidget(FolderTree);
  // Made last, the tree would end the Tab order; the list comes after it.
  setTabOrder(FolderTree, ListView1->ListPart());
  setTabOrder(ListView1->ListPart(), ListView1->DetailPart());
  // Only the start folder may fail; the hint and the handlers always come.
  FolderTree->SetPath(InitialFolder);
  FolderTree->setToolTip(QStringLiteral("ダブルクリックで検出開始"));
  connect(FolderTree, &yuragi::FolderTree::FolderClicked, this, [this] { RunHandler([this] { FolderTreeClick(); }); });
  connect(FolderTree, &yuragi::FolderTree::FolderDoubleClicked, this, [this] {
    RunHandler([this] {
      if (!RefusedDuringTransfer(QStringLiteral("ダウンロード中は検出を始められません"))) StartDetection();
    });
  });
  ConnectFolderMenu();
}

void TForm1::ShowStartState() {
  StatusPanel1->setText(FolderTree ? DisplayPath(FolderTree->SelectedPath()) : QString());
  CancelBtn0->hide();
  CancelBtn1->hide();
  Image1->setEnabled(false);
  Image2->setEnabled(false);
  Edit2->setEnabled(false);
  SetFaceColour(Edit2, true);
  for (QPushButton* button : {BrowseBtn, ReGetBtn, SaveBtn, SaveAsBtn, ClearBtn}) button->setEnabled(false);
  ListView1->setEnabled(false);
  ListView1->SetFaceColour(true);
}

void TForm1::LoadJpegIcon() {
  ImageList2.clear();
  ImageList2.push_back(JpegFileIcon());
}

void TForm1::ConnectHandlers() {
  auto on = [this](auto* sender, auto signal, void (TForm1::*handler)()) {
    connect(sender, signal, this, [this, handler] { RunHandler([this, handler] { (this->*handler)(); }); });
  };
  on(Timer1, &QTimer::timeout, &TForm1::Timer1Timer);
  on(Exit1, &QAction::triggered, &TForm1::Exit1Click);
  on(CancelBtn0, &QPushButton::clicked, &TForm1::CancelBtn1Click);
  on(CancelBtn1, &QPushButton::clicked, &TForm1::CancelBtn1Click);
  on(RefferBtn, &QPushButton::clicked, &TForm1::RefferBtnClick);
  on(Open1, &QAction::triggered, &TForm1::RefferBtnClick);
  on(BrowseBtn, &QPushButton::clicked, &TForm1::BrowseBtnClick);
  on(ReGetBtn, &QPushButton::clicked, &TForm1::ReGetBtnClick);
  on(SaveBtn, &QPushButton::clicked, &TForm1::SaveBtnClick);
  on(Save1, &QAction::triggered, &TForm1::SaveBtnClick);
  on(SaveAsBtn, &QPushButton::clicked, &TForm1::SaveAsBtnClick);
  on(SaveAs1, &QAction::triggered, &TForm1::SaveAsBtnClick);
  on(ClearBtn, &QPushButton::clicked, &TForm1::ClearBtnClick);
  on(DeskTop1, &QAction::triggered, &TForm1::DeskTop1Click);
  on(StartUp1, &QAction::triggered, &TForm1::StartUp1Click);
  on(StartMenu1, &QAction::triggered, &TForm1::StartMenu1Click);
  on(H1, &QAction::triggered, &TForm1::H1Click);
  on(About1, &QAction::triggered, &TForm1::About1Click);
  on(Site1, &QAction::triggered, &TForm1::Site1Click);
  on(Popup1vsIcon, &QAction::triggered, &TForm1::Popup1vsIconClick);
  on(Popup1vsSmallIcon, &QAction::triggered, &TForm1::Popup1vsSmallIconClick);
  on(Popup1vsList, &QAction::triggered, &TForm1::Popup1vsListClick);
  on(Popup1vsReport, &QAction::triggered, &TForm1::Popup1vsReportClick);
  // A row cannot become the target during a transfer; the panel says so.
  const auto rowToTarget = [this] {
    RunHandler([this] {
      if (!RefusedDuringTransfer(QStringLiteral("ダウンロード中は再取得の対象を変えられません"))) ListView1DblClick();
    });
  };
  connect(RegetP1, &QAction::triggered, this, rowToTarget);
  connect(ListView1, &DetectionListView::RowDoubleClicked, this, rowToTarget);
  on(CopyToClipP1, &QAction::triggered, &TForm1::CopyToClipP1Click);
  on(RepairP1, &QAction::triggered, &TForm1::RepairP1Click);
  on(PopupMenu1, &QMenu::aboutToShow, &TForm1::PopupMenu1Popup);
  connect(ListView1, &DetectionListView::ColumnClicked, this,
          [this](int column) { RunHandler([this, column] { ListView1ColumnClick(column); }); });
  connect(ListView1, &DetectionListView::ContextMenuWanted, this, [this](const QPoint& at) { PopupMenu1->popup(at); });
  connect(PageControl1, &QTabWidget::currentChanged, this,
          [this](int index) { RunHandler([this, index] { PageControl1Change(index); }); });
  for (auto [view, menu] : {std::pair{Image1, PopupMenu21}, std::pair{Image2, PopupMenu22}}) {
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, this, [view, menu](const QPoint& pos) {
      if (view->isEnabled()) menu->popup(view->mapToGlobal(pos));
    });
  }
  ConnectFileActions();
  Edit1->installEventFilter(this);
  Edit2->installEventFilter(this);
  for (QWidget* watched : {static_cast<QWidget*>(PageControl1), static_cast<QWidget*>(GroupBox5), TabSheet2,
                           static_cast<QWidget*>(ListView1)}) {
    watched->installEventFilter(this);
  }
}

void TForm1::RunHandler(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& failure) {
    prompts_.Error(this, ApplicationTitle, QString::fromUtf8(failure.what()));
  } catch (...) {
    prompts_.Error(this, ApplicationTitle, QStringLiteral("予期しないエラーが発生しました。"));
  }
}

void TForm1::SetCaption(const QString& caption) {
  setWindowTitle(caption);
  ApplicationTitle = caption;
}

void TForm1::FormResize() {
  PageControl1Tabs->SetTabWidth(PageControl1->width() / 3);
  PlaceCancelButtons();
}

void TForm1::PlaceCancelButtons() {
  // Plain int division rounds toward zero, also for negative differences.
  CancelBtn0->move((GroupBox5->width() - CancelBtn0->width()) / 2,
                   (GroupBox5->height() - CancelBtn0->height()) / 2);
  const int listLeft = ListView1->mapTo(TabSheet2, QPoint(0, 0)).x();
  CancelBtn1->move(listLeft + (ListView1->width() - CancelBtn1->width()) / 2,
                   (TabSheet2->height() - CancelBtn1->height()) / 2);
  CancelBtn0->raise();
  CancelBtn1->raise();
}

void TForm1::Timer1Timer() {
  const QString now = FormatClock(QDateTime::currentDateTime());
  if (StatusPanel0->text() != now) StatusPanel0->setText(now);
}

void TForm1::ReadTempDir() { TempDir = PrivateTempDir(); }

void TForm1::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  FormResize();
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  FormResize();
  if (std::exchange(shownOnce_, true)) return;
  RunHandler([this] { FormShow(); });
}

namespace {

QList<QByteArray> DroppedFiles(const QMimeData* mime) {
  QList<QByteArray> paths;
  if (!mime || !mime->hasUrls()) return paths;
  for (const QUrl& url : mime->urls()) {
    if (url.isLocalFile()) paths << PathFromFileUrl(url);
  }
  return paths;
}

bool IsDragEvent(QEvent::Type type) {
  return type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop;
}

}  // namespace

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  // Refused during a transfer: the pointer shows that nothing would happen.
  if (!downloadRunning_ && !DroppedFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
  const QList<QByteArray> paths = DroppedFiles(event->mimeData());
  if (paths.isEmpty() || downloadRunning_) return;
  event->acceptProposedAction();
  RunHandler([this, &paths] { WMDropFiles(paths); });
}

bool TForm1::FilterBoxDrop(QObject* watched, QDropEvent* event) {
  // A file dropped on either box becomes the target, as anywhere on the
  // window; the URL box takes nothing else, the path box takes text.
  const QList<QByteArray> paths = DroppedFiles(event->mimeData());
  if (paths.isEmpty() && watched == Edit1) return false;
  if (paths.isEmpty() || downloadRunning_) {
    event->ignore();
    return true;
  }
  event->acceptProposedAction();
  if (event->type() == QEvent::Drop) RunHandler([this, &paths] { WMDropFiles(paths); });
  return true;
}

void TForm1::HoldControlsForTransfer(bool held) {
  // What a transfer cannot let happen looks disabled while it runs; only
  // what was enabled before is enabled again after.
  if (held) {
    heldWidgets_.clear();
    heldActions_.clear();
    for (QWidget* control : {static_cast<QWidget*>(RefferBtn), static_cast<QWidget*>(ClearBtn),
                             static_cast<QWidget*>(Edit1)}) {
      if (!control->isEnabled()) continue;
      control->setEnabled(false);
      heldWidgets_ << control;
    }
    for (QAction* action : {Open1, DeskTop1, StartUp1, StartMenu1}) {
      if (!action->isEnabled()) continue;
      action->setEnabled(false);
      heldActions_ << action;
    }
    return;
  }
  for (QWidget* control : std::exchange(heldWidgets_, {})) control->setEnabled(true);
  for (QAction* action : std::exchange(heldActions_, {})) action->setEnabled(true);
}

bool TForm1::RefusedDuringTransfer(const QString& reason) {
  if (!downloadRunning_) return false;
  StatusPanel1->setText(reason);
  return true;
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize) {
    FormResize();
  } else if ((watched == Edit1 || watched == Edit2) && IsDragEvent(event->type())) {
    if (FilterBoxDrop(watched, static_cast<QDropEvent*>(event))) return true;
  } else if (event->type() == QEvent::KeyPress && (watched == Edit1 || watched == Edit2)) {
    const auto* press = static_cast<QKeyEvent*>(event);
    if (press->key() == Qt::Key_Return || press->key() == Qt::Key_Enter) {
      int key = 13;
      RunHandler([&] {
        if (watched == Edit1) Edit1KeyPress(Edit1, key);
        else Edit2KeyPress(Edit2, key);
      });
      if (key == 0) return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::SetSaveControlsEnabled(bool enabled) {
  SaveBtn->setEnabled(enabled);
  SaveAsBtn->setEnabled(enabled);
  Save1->setEnabled(enabled);
  SaveAs1->setEnabled(enabled);
}

void TForm1::ShowPicture(ImageView* view, bool shown) {
  view->setVisible(shown);
  view->setEnabled(shown);
}
