#pragma once

#include <QMainWindow>
#include <QPixmap>
#include <QPointer>
#include <QDialog>
#include <QByteArray>
#include <QList>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "app/window_placement.h"
#include "platform/file_filter.h"
#include "platform/file_identity.h"
#include "platform/http_client.h"

class QAction;
class QActionGroup;
class QDropEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPainter;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QStatusBar;
class QTabWidget;
class QTimer;

namespace yuragi {
class DesktopShell;
class DetectionListView;
class DetectionModel;
class FixedWidthTabBar;
class FolderTree;
class ImageView;
class Prompts;
class RepairAllRun;
class RepairResultsDialog;
enum class LauncherPlace;
}  // namespace yuragi

// The main window. Controls keep the names of the window layout; handlers
// are named after control and event, and live in the subsystem folders.
class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  // prompts answers every message box and file dialog; arguments are the
  // command-line parameters (without the program name), as the bytes of argv.
  TForm1(yuragi::Prompts& prompts, QList<QByteArray> arguments, QWidget* parent = nullptr);
  ~TForm1() override;

  // --- controls -----------------------------------------------------------
  QStatusBar* StatusBar1 = nullptr;
  QLabel* StatusPanel0 = nullptr;  // clock
  QLabel* StatusPanel1 = nullptr;  // progress and result texts
  QTabWidget* PageControl1 = nullptr;
  yuragi::FixedWidthTabBar* PageControl1Tabs = nullptr;
  QWidget* TabSheet1 = nullptr;
  QGroupBox* GroupBox1 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QPushButton* RefferBtn = nullptr;
  QWidget* Panel3 = nullptr;
  QGroupBox* GroupBox2 = nullptr;
  QLineEdit* Edit2 = nullptr;
  QPushButton* BrowseBtn = nullptr;
  QGroupBox* GroupBox3 = nullptr;
  QWidget* GridPanel1 = nullptr;
  QGroupBox* GroupBox4 = nullptr;
  yuragi::ImageView* Image1 = nullptr;
  QGroupBox* GroupBox5 = nullptr;
  yuragi::ImageView* Image2 = nullptr;
  QPushButton* CancelBtn0 = nullptr;
  QWidget* GridPanel2 = nullptr;
  QPushButton* ReGetBtn = nullptr;
  QPushButton* SaveBtn = nullptr;
  QPushButton* SaveAsBtn = nullptr;
  QPushButton* ClearBtn = nullptr;
  QWidget* TabSheet2 = nullptr;
  QWidget* Panel4 = nullptr;
  QSplitter* Splitter1 = nullptr;
  yuragi::DetectionModel* ListModel = nullptr;
  yuragi::DetectionListView* ListView1 = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QPushButton* CancelBtn1 = nullptr;
  yuragi::FolderTree* FolderTree = nullptr;

  // --- main menu ----------------------------------------------------------
  QMenu* File1 = nullptr;
  QAction* Open1 = nullptr;
  QAction* Save1 = nullptr;
  QAction* SaveAs1 = nullptr;
  QMenu* N1 = nullptr;
  QAction* DeskTop1 = nullptr;
  QAction* StartUp1 = nullptr;
  QAction* StartMenu1 = nullptr;
  QAction* Exit1 = nullptr;
  QMenu* O1 = nullptr;
  QAction* CloseQuery1 = nullptr;
  QAction* SaveStatus1 = nullptr;
  QAction* UseArchive1 = nullptr;  // a failed re-fetch asks the web archive
  QMenu* Help1 = nullptr;
  QAction* H1 = nullptr;
  QAction* About1 = nullptr;
  QAction* Site1 = nullptr;

  // --- context menus ------------------------------------------------------
  QMenu* PopupMenu1 = nullptr;
  QActionGroup* ViewStyleGroup = nullptr;
  QAction* Popup1vsIcon = nullptr;
  QAction* Popup1vsSmallIcon = nullptr;
  QAction* Popup1vsList = nullptr;
  QAction* Popup1vsReport = nullptr;
  QAction* RegetP1 = nullptr;
  QAction* OpenP1 = nullptr;
  QAction* OpenByP1 = nullptr;
  QAction* MemoP1 = nullptr;
  QAction* DeleteP1 = nullptr;
  QAction* PropertyP1 = nullptr;
  QAction* RepairP1 = nullptr;
  QAction* FolderP1 = nullptr;
  QAction* CopyToClipP1 = nullptr;
  QAction* RepairAll1 = nullptr;   // 一覧をすべて修復, in the file menu
  QAction* RepairAllP1 = nullptr;  // the same in the list's menu
  QMenu* PopupMenu21 = nullptr;
  QAction* OpenP21 = nullptr;
  QAction* OpenByP21 = nullptr;
  QAction* PropertyP21 = nullptr;
  QMenu* PopupMenu22 = nullptr;
  QAction* OpenP22 = nullptr;
  QAction* OpenByP22 = nullptr;
  QAction* PropertyP22 = nullptr;
  QMenu* PopupMenu3 = nullptr;  // the folder tree's
  QAction* DetectP3 = nullptr;
  QAction* OpenP3 = nullptr;
  QAction* PropertyP3 = nullptr;
  QAction* CopyPathP3 = nullptr;

  // --- dialogs, image lists, timer ----------------------------------------
  yuragi::FileDialogSpec OpenPictureDialog1;
  yuragi::FileDialogSpec SaveDialog1;
  std::vector<QPixmap> ImageList1;  // 96 x 96 thumbnails, one per row
  std::vector<QPixmap> ImageList2;  // the JPEG file icon, exactly one
  std::vector<QPixmap> ImageList3;  // one copy of that icon per row
  QTimer* Timer1 = nullptr;

  // --- state of the window ------------------------------------------------
  int SortColumn = 0;       // 0 none; +-(column + 1), sign = direction
  int64_t FileCount = 0;    // files visited by the current detection run
  QString UrlFileName;      // file-name part of the URL being fetched
  QByteArray NewPictureBytes;  // the received bytes behind Image2, unchanged
  bool NewPictureEnded = false;  // those bytes end in the JPEG end marker
  yuragi::FileIdentity TargetIdentity;  // the target when the download started
  uint64_t DownloadCap = yuragi::kDefaultBodyCap;  // bytes a download may bring at most
  QString ArchivePrefix;  // "[OPTION] ArchivePrefix": the archive a failed re-fetch asks

  // --- application shell --------------------------------------------------
  void FormResize();
  void PlaceCancelButtons();
  void Timer1Timer();
  void ReadTempDir();
  void Exit1Click();
  void FormCloseQuery(bool& canClose);
  void FormClose();
  // The close path for the end of the session or a termination signal,
  // asking the exit question only when mayAsk; true when the window agreed
  // to close (now, or once the running operation has unwound).
  bool EndSession(bool mayAsk);
  void SetCaption(const QString& caption);  // window caption and application title

  // --- detection ----------------------------------------------------------
  void StartDetection();
  void FolderTreeClick();
  void CancelBtn1Click();
  void ListView1ColumnClick(int column);
  int ListView1Compare(int row1, int row2) const;
  void ListView1DblClick();
  void Popup1vsIconClick();
  void Popup1vsSmallIconClick();
  void Popup1vsListClick();
  void Popup1vsReportClick();
  void PopupMenu1Popup();
  void CopyToClipP1Click();
  void RepairP1Click();
  void PageControl1Change(int index);

  // --- repair of the whole list -------------------------------------------
  void RepairAllClick();
  void UpdateRepairAllEnabled();
  bool RepairAllRunning() const { return repairRun_ != nullptr; }
  yuragi::RepairAllRun* RepairRun() const { return repairRun_.get(); }
  yuragi::RepairResultsDialog* RepairResults() const;

  // --- re-fetch -----------------------------------------------------------
  void SetTarget();
  // Edit1 shows a path as text; the bytes behind it are kept, so a name
  // that is not UTF-8 still reaches its file. Text the user typed instead
  // is taken as UTF-8.
  void SetEdit1Path(const QByteArray& path);
  QByteArray Edit1Path() const;
  void FormShow();
  void WMDropFiles(const QList<QByteArray>& paths);
  void RefferBtnClick();
  void Edit1KeyPress(QObject* sender, int& key);
  void Edit2KeyPress(QObject* sender, int& key);
  void BrowseBtnClick();
  void ReGetBtnClick();
  void BuildTempName();
  // After the origin failed: the archive's capture of url that continues
  // the target, shown as a download is. False when none was found.
  bool ReGetFromArchive(const QString& url);
  void SaveBtnClick();
  void SaveAsBtnClick();
  bool SaveReceivedTo(const QByteArray& path, const yuragi::FileIdentity* expected, bool makeFolder);
  void ClearBtnClick();

  // --- file actions -------------------------------------------------------
  void OpenP1Click();
  void OpenByP1Click();
  void MemoP1Click();
  void DeleteP1Click();
  void PropertyP1Click();
  void FolderP1Click();
  void OpenP21Click();
  void OpenByP21Click();
  void PropertyP21Click();
  void OpenP22Click();
  void OpenByP22Click();
  void PropertyP22Click();
  void OpenP3Click();
  void PropertyP3Click();
  void CopyPathP3Click();
  bool ShowFileProperties(const QByteArray& path);
  // --- desktop integration ------------------------------------------------
  void DeskTop1Click();
  void StartUp1Click();
  void StartMenu1Click();
  void H1Click();
  void About1Click();
  void Site1Click();
  int ShowAboutBox();  // the About box's result (yuragi::AboutResult)
  void PaintAboutBackground(QWidget* dialog, QPainter& painter);

  // Runs a handler; a failure that escapes it is shown in an error box
  // with the application title, and the program goes on.
  void RunHandler(const std::function<void()>& handler);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Construction, in this order.
  void CreateStatusBar();
  void CreateRefetchPage();
  void CreateDetectionPage();
  void CreateMainMenu();
  void CreatePopupMenus();
  void CreateRepairAllCommands();
  void CreateDialogs();
  void ConnectHandlers();
  void ConnectFileActions();
  void ReadSettings();
  void CreateFolderTree();
  void CreateFolderMenu();
  void ConnectFolderMenu();
  void ShowStartState();
  void ApplyTreeScrollPosition();
  void LoadJpegIcon();

  bool FilterBoxDrop(QObject* watched, QDropEvent* event);
  void HoldControlsForTransfer(bool held);
  // True, with the reason in status panel 1, while a download runs.
  bool RefusedDuringTransfer(const QString& reason);
  void SetViewStyle(int style);
  void SetSaveControlsEnabled(bool enabled);
  void ShowPicture(yuragi::ImageView* view, bool shown);
  void FinishPendingClose();
  QByteArray SelectedRowPath() const;
  void WriteSettings();
  yuragi::WindowPlacement CurrentPlacement() const;
  QByteArray CurrentFolderSetting() const;
  void DeleteTempFiles();
  void DestroyFolderTree();
  void RegisterLauncher(yuragi::LauncherPlace place, const QString& question);
  void RepairAllEnded();
  void RepairAllCloseRequested();

  yuragi::Prompts& prompts_;
  std::unique_ptr<yuragi::DesktopShell> shell_;  // open, open with, properties, trash
  QList<QByteArray> arguments_;
  QByteArray edit1Path_;  // the path Edit1 was last set to
  // A recorded URL as Edit2 shows it and as it is sent, sent as recorded
  // while the box still shows it unchanged.
  QString edit2Recorded_;
  std::string edit2Request_;
  bool shownOnce_ = false;
  bool detectionRunning_ = false;
  bool downloadRunning_ = false;
  bool closePending_ = false;
  int TreeScrollPos = 0;      // the folder tree's horizontal scroll position, from start to exit
  bool closeAgreed_ = false;
  bool askOnClose_ = true;    // false while the session or a signal ends the window  // the close query said yes; it is not asked again
  yuragi::WindowPlacement placement_;  // as read at start-up; flags and maximised point kept
  QByteArray startFolder_;  // "InitialDir" exactly as the settings file held it
  QRect normalRect_;        // the restored window's rectangle as placed at start-up
  int paneWidth_ = 0;       // the folder pane's width until its page is first shown
  bool paneShown_ = false;
  QList<QWidget*> heldWidgets_;  // disabled for the running transfer
  QList<QAction*> heldActions_;
  std::unique_ptr<yuragi::RepairAllRun> repairRun_;  // while 一覧をすべて修復 runs
  QPointer<QDialog> repairResults_;                  // its result list, while shown
};
