#include <sys/resource.h>
#include <sys/xattr.h>
#include <signal.h>

#include <QAction>
#include <QBuffer>
#include <QRegularExpression>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QDropEvent>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <chrono>
#include <thread>

#include "detect/detection_list_view.h"
#include "detect/detection_model.h"
#include "jpeg_writer.h"
#include "widgets/folder_tree.h"
#include "widgets/image_view.h"
#include "test_server.h"
#include "window_fixture.h"

using namespace yuragi;
using namespace yuragi::testing;

namespace {

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

class Refetch : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    fresh = EncodeJpeg({320, 240, JpegKind::Baseline, 90, 4});
    old = Truncated(fresh, fresh.size() * 2 / 3);
    const auto serve = [this](const std::string& path, std::string body, const char* type, int status = 200) {
      server->Get(path, [body, type, status](const httplib::Request&, httplib::Response& response) {
        response.status = status;
        response.set_content(body, type);
      });
    };
    serve("/img/pic.jpg", Text(fresh), "image/jpeg");
    // The server takes "%3D" for "=": a recorded escape must reach it as it is.
    serve("/img/pic=1.jpg", Text(fresh), "image/jpeg");
    serve("/img/same.jpg", Text(old), "image/jpeg");
    serve("/img/missing.jpg", "<html><body>404 Not Found</body></html>", "text/html", 404);
    serve("/img/empty.jpg", "", "image/jpeg");
    QImage png(10, 10, QImage::Format_RGB32);
    png.fill(Qt::blue);
    QByteArray pngBytes;
    QBuffer buffer(&pngBytes);
    png.save(&buffer, "PNG");
    serve("/img/png.jpg", pngBytes.toStdString(), "image/png");
    server.ServeCut("/img/cut.jpg", fresh);
    server.ServeStalling("/img/slow.jpg", fresh);
    server.ServeStalling("/img/slow-start.jpg", std::vector<uint8_t>(fresh.begin(), fresh.begin() + 64));
    server.ServeRedirect("/img/moved.jpg", "/img/pic.jpg");
    server.ServeRedirect("/img/to-file.jpg", "file:///etc/passwd");
    server.Start();
  }
  void TearDown() override { server.release = true; }

  // A saved site: DIR/127.0.0.1:PORT/img/NAME holding the cut-off old bytes.
  QString Target(const QString& name) {
    const QString path = Path(QStringLiteral("127.0.0.1:%1/img/").arg(server.Port()) + name);
    QDir().mkpath(QFileInfo(path).path());
    WriteFile(path.toStdString(), old);
    return path;
  }
  TForm1& OpenOn(const QString& target) {
    TForm1& f = Open();
    f.Edit1->setText(target);
    int key = 13;
    f.Edit1KeyPress(f.Edit1, key);
    return f;
  }
  // Download files of this program left in the temporary folder.
  static QStringList Leftovers() {
    return QDir(TempDir).entryList({"$*"}, QDir::Files).filter(QRegularExpression("^\\$\\d{8}-"));
  }
  bool SaveControls(TForm1& f) {
    const bool on = f.SaveBtn->isEnabled();
    EXPECT_EQ(f.SaveAsBtn->isEnabled(), on);
    EXPECT_EQ(f.Save1->isEnabled(), on);
    EXPECT_EQ(f.SaveAs1->isEnabled(), on);
    return on;
  }

  TestServer server;
  std::vector<uint8_t> fresh, old;
};

}  // namespace

TEST_F(Refetch, AWholePictureIsFetchedShownAndSavedByteForByte) {
  const QString target = Target("pic.jpg");
  TForm1& f = OpenOn(target);
  EXPECT_EQ(f.Edit2->text(), QString::fromStdString(server.Url("/img/pic.jpg")));
  const QPixmap before = f.Image1->Picture();
  f.ReGetBtn->click();
  EXPECT_EQ(f.StatusPanel1->text(), "pic.jpg をダウンロードしました");
  EXPECT_EQ(f.GroupBox5->title(), QLocale().toString(qlonglong(fresh.size())) + "バイト");
  EXPECT_FALSE(f.Image2->isHidden());
  EXPECT_EQ(f.Image2->Picture().size(), QSize(320, 240));
  EXPECT_TRUE(SaveControls(f));
  EXPECT_TRUE(f.ReGetBtn->isEnabled());
  EXPECT_TRUE(f.CancelBtn0->isHidden());
  EXPECT_EQ(f.windowTitle(), "pic.jpg - ゆらぎ丸");
  EXPECT_EQ(Text(ReadFile(TempImagePath.toStdString())), Text(fresh));
  EXPECT_TRUE(Leftovers().isEmpty());
  EXPECT_TRUE(prompts.shown.empty());

  prompts.answers = {false, true};
  f.SaveBtnClick();  // No: nothing written
  EXPECT_EQ(Text(ReadFile(target.toStdString())), Text(old));
  EXPECT_EQ(f.StatusPanel1->text(), "pic.jpg をダウンロードしました");
  QFile(target).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
  f.Save1->trigger();
  EXPECT_EQ(prompts.shown.back().text, "上書き保存します。よろしいですか？");
  EXPECT_EQ(prompts.shown.back().caption, "確認");
  EXPECT_EQ(Text(ReadFile(target.toStdString())), Text(fresh));
  EXPECT_EQ(QFile(target).permissions(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                        QFileDevice::ReadUser | QFileDevice::WriteUser |
                                                        QFileDevice::ReadGroup);
  EXPECT_EQ(f.StatusPanel1->text(), "pic.jpg を更新しました。");
  // The old preview and its size stay until the target is chosen again.
  EXPECT_EQ(f.Image1->Picture().cacheKey(), before.cacheKey());
  EXPECT_EQ(f.GroupBox4->title(), QLocale().toString(qlonglong(old.size())) + "バイト");
  EXPECT_TRUE(SaveControls(f));
  EXPECT_EQ(QDir(QFileInfo(target).path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST_F(Refetch, WhatIsNoJpegIsReportedAsMissing) {
  for (const QString name : {"missing.jpg", "png.jpg", "empty.jpg"}) {
    prompts.shown.clear();
    TForm1& f = OpenOn(Target(name));
    f.ReGetBtnClick();
    ASSERT_EQ(prompts.shown.size(), 1u) << name.toStdString();
    EXPECT_EQ(prompts.shown[0].kind, "message");
    EXPECT_EQ(prompts.shown[0].caption, name + " - ゆらぎ丸");
    EXPECT_EQ(prompts.shown[0].text, "画像が見つかりません。404");
    EXPECT_EQ(f.StatusPanel1->text(), name + " が見つかりません");
    EXPECT_FALSE(SaveControls(f));
    EXPECT_TRUE(f.Image2->isHidden());
    EXPECT_TRUE(f.ReGetBtn->isEnabled());
    EXPECT_TRUE(Leftovers().isEmpty());
    f.Save1->trigger();  // disabled: nothing is asked or written
    EXPECT_EQ(prompts.shown.size(), 1u);
  }
}

TEST_F(Refetch, ACutConnectionIsAReadFailure) {
  TForm1& f = OpenOn(Target("cut.jpg"));
  f.activateWindow();
  f.ReGetBtnClick();
  ASSERT_EQ(prompts.shown.size(), 1u);
  const QString url = QString::fromStdString(server.Url("/img/cut.jpg"));
  // The URL whole: a port does not cut it.
  EXPECT_EQ(prompts.shown[0].text, url + " を取得できませんでした。0");
  EXPECT_EQ(f.StatusPanel1->text(), "cut.jpg を取得できませんでした");
  EXPECT_FALSE(SaveControls(f));
  EXPECT_TRUE(f.CancelBtn0->isHidden());
  EXPECT_TRUE(f.ReGetBtn->isEnabled());
  EXPECT_TRUE(Leftovers().isEmpty());
}

TEST_F(Refetch, UnreachableServersAndRefusedRedirectsAreNotFound) {
  TForm1& f = OpenOn(Target("pic.jpg"));
  for (const QString& url : {QStringLiteral("http://127.0.0.1:%1/pic.jpg").arg(RefusedPort()),
                             QString::fromStdString(server.Url("/img/to-file.jpg"))}) {
    f.StatusPanel1->clear();
    f.Edit2->setText(url);
    f.ReGetBtnClick();
    EXPECT_EQ(f.StatusPanel1->text(), "pic.jpg が見つかりません") << url.toStdString();
    EXPECT_TRUE(f.ReGetBtn->isEnabled());
    EXPECT_EQ(f.focusWidget(), f.BrowseBtn);
  }
  EXPECT_TRUE(prompts.shown.empty());
  f.Edit2->setText(QString::fromStdString(server.Url("/img/moved.jpg")));
  f.ReGetBtnClick();
  EXPECT_EQ(f.Image2->Picture().size(), QSize(320, 240));
}

TEST_F(Refetch, ATrailingSlashIsDroppedAndEqualSizesAreNoted) {
  TForm1& f = OpenOn(Target("same.jpg"));
  f.Edit2->setText(f.Edit2->text() + "/");
  f.ReGetBtnClick();
  EXPECT_EQ(f.UrlFileName, "same.jpg");
  EXPECT_EQ(f.StatusPanel1->text(), "same.jpg をダウンロードしました（同サイズ）");
  // The cut-off data still loads and can be saved.
  EXPECT_TRUE(SaveControls(f));
}

TEST_F(Refetch, CancelKeepsWhatArrivedWhenItLoads) {
  TForm1& f = OpenOn(Target("slow.jpg"));
  QTimer poll;
  bool sawCancelButton = false, enterRefused = false, dropRefused = false;
  int heldDuring = 0;
  QString rowRefusal, runRefusal;
  QObject::connect(&poll, &QTimer::timeout, &f, [&] {
    if (f.GroupBox5->title().isEmpty()) return;
    sawCancelButton = !f.CancelBtn0->isHidden() && !f.ReGetBtn->isEnabled();
    // Choosing a target or clearing is refused while the transfer runs.
    f.Edit1->setText(Path("other.jpg"));
    int key = 13;
    f.Edit1KeyPress(f.Edit1, key);
    f.ClearBtnClick();
    // So is a detection run, which would leave the transfer unread meanwhile.
    f.FolderTree->SetPath(QFile::encodeName(QFileInfo(TargetPath).path()));
    f.StartDetection();
    enterRefused = f.StatusPanel1->text() == "slow.jpg をダウンロードしています" && !f.Edit2->text().isEmpty() &&
                   f.ListModel->rowCount() == 0;
    // What would change the target looks disabled, or says why it does nothing.
    for (const QWidget* control : {static_cast<QWidget*>(f.RefferBtn), static_cast<QWidget*>(f.ClearBtn),
                                   static_cast<QWidget*>(f.Edit1)}) {
      heldDuring += control->isEnabled() ? 0 : 1;
    }
    for (const QAction* action : {f.Open1, f.DeskTop1, f.StartUp1, f.StartMenu1}) heldDuring += action->isEnabled() ? 0 : 1;
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(Path("other.jpg"))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&f, &enter);
    dropRefused = !enter.isAccepted();
    emit f.ListView1->RowDoubleClicked();
    rowRefusal = f.StatusPanel1->text();
    emit f.FolderTree->FolderDoubleClicked();
    runRefusal = f.StatusPanel1->text();
    f.CancelBtn0->click();
    poll.stop();
  });
  poll.start(5);
  f.ReGetBtnClick();
  EXPECT_TRUE(sawCancelButton);
  EXPECT_TRUE(enterRefused);
  EXPECT_EQ(heldDuring, 7);
  EXPECT_TRUE(dropRefused);
  EXPECT_EQ(rowRefusal, "ダウンロード中は再取得の対象を変えられません");
  EXPECT_EQ(runRefusal, "ダウンロード中は検出を始められません");
  for (const QWidget* control : {static_cast<QWidget*>(f.RefferBtn), static_cast<QWidget*>(f.ClearBtn),
                                 static_cast<QWidget*>(f.Edit1)}) {
    EXPECT_TRUE(control->isEnabled());
  }
  for (const QAction* action : {f.Open1, f.DeskTop1, f.StartUp1, f.StartMenu1}) EXPECT_TRUE(action->isEnabled());
  EXPECT_EQ(f.StatusPanel1->text(), "slow.jpg のダウンロードをキャンセルしました");
  EXPECT_EQ(f.GroupBox5->title(), QLocale().toString(qlonglong(fresh.size() / 2)) + "バイト");
  EXPECT_FALSE(f.Image2->isHidden());
  EXPECT_TRUE(SaveControls(f));
  EXPECT_EQ(f.focusWidget(), f.ReGetBtn);
  EXPECT_TRUE(Leftovers().isEmpty());
  EXPECT_TRUE(CancelRequested);
}

TEST_F(Refetch, ACancelBeforeAnyPictureArrivedIsNoMissingImage) {
  TForm1& f = OpenOn(Target("slow-start.jpg"));
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &f, [&] {
    if (f.GroupBox5->title().isEmpty()) return;
    f.CancelBtn0->click();
    poll.stop();
  });
  poll.start(5);
  f.ReGetBtnClick();
  EXPECT_TRUE(prompts.shown.empty());
  EXPECT_EQ(f.StatusPanel1->text(), "slow-start.jpg のダウンロードをキャンセルしました");
  EXPECT_TRUE(f.Image2->isHidden());
  EXPECT_FALSE(SaveControls(f));
  EXPECT_TRUE(f.ReGetBtn->isEnabled());
  EXPECT_TRUE(Leftovers().isEmpty());
}

TEST_F(Refetch, ACancelledOpenDialogTakesTheNewPreviewWithItsSizeAndSaving) {
  const QString target = Target("pic.jpg");
  TForm1& f = OpenOn(target);
  f.ReGetBtn->click();
  ASSERT_FALSE(f.Image2->isHidden());
  ASSERT_TRUE(SaveControls(f));
  prompts.files = {QString()};
  f.Open1->trigger();  // Ctrl+O, then Esc
  ASSERT_EQ(prompts.shown.back().kind, "open");
  EXPECT_TRUE(f.Image2->isHidden());
  EXPECT_FALSE(f.Image2->isEnabled());
  EXPECT_TRUE(f.GroupBox5->title().isEmpty());
  EXPECT_FALSE(SaveControls(f));
  // The target and its old picture stay, and can be fetched again.
  EXPECT_EQ(TargetPath, target);
  EXPECT_FALSE(f.Image1->isHidden());
  EXPECT_FALSE(f.GroupBox4->title().isEmpty());
  EXPECT_TRUE(f.ReGetBtn->isEnabled());
  f.ReGetBtn->click();
  EXPECT_FALSE(f.Image2->isHidden());
  EXPECT_TRUE(SaveControls(f));
}

TEST_F(Refetch, ClosingDuringATransferEndsItFirst) {
  TForm1& f = OpenOn(Target("slow.jpg"));
  bool openInside = false;
  QTimer::singleShot(50, &f, [&] {
    f.close();
    openInside = f.isVisible();
  });
  f.ReGetBtnClick();
  EXPECT_TRUE(openInside);
  EXPECT_TRUE(WaitFor([&] { return !f.isVisible(); }));
  EXPECT_TRUE(Leftovers().isEmpty());
}

TEST_F(Refetch, SaveAsWritesTheReceivedBytesUnderAnyName) {
  const QString target = Target("pic.jpg");
  TForm1& f = OpenOn(target);
  f.ReGetBtnClick();
  prompts.files = {QString(), Path("copy.bmp")};
  f.SaveAsBtnClick();  // cancelled
  EXPECT_FALSE(QFile::exists(Path("copy.bmp")));
  f.SaveAs1->trigger();
  EXPECT_EQ(prompts.lastDialog.initialFolder, QFileInfo(target).path() + "/");
  EXPECT_EQ(Text(ReadFile(Path("copy.bmp").toStdString())), Text(fresh));
  EXPECT_EQ(f.StatusPanel1->text(), "copy.bmp に保存しました。");
  EXPECT_EQ(Text(ReadFile(target.toStdString())), Text(old));
}

TEST_F(Refetch, SavingIntoADeletedFolderMakesItAgain) {
  const QString target = Target("pic.jpg");
  TForm1& f = OpenOn(target);
  f.ReGetBtnClick();
  QDir(QFileInfo(target).path()).removeRecursively();
  prompts.answers = {true};
  f.SaveBtnClick();
  EXPECT_EQ(Text(ReadFile(target.toStdString())), Text(fresh));
  EXPECT_EQ(f.StatusPanel1->text(), "pic.jpg を更新しました。");
}

TEST_F(Refetch, AFailingSaveLeavesTheOldFileAsItWas) {
  const QString target = Target("pic.jpg");
  TForm1& f = OpenOn(target);
  f.ReGetBtnClick();
  // Writes past 100 bytes fail, as on a full disk.
  signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 100;
  setrlimit(RLIMIT_FSIZE, &small);
  prompts.answers = {true};
  f.RunHandler([&] { f.SaveBtnClick(); });
  setrlimit(RLIMIT_FSIZE, &saved);
  ASSERT_EQ(prompts.shown.back().kind, "error");
  EXPECT_TRUE(prompts.shown.back().text.startsWith("ファイル \"" + target + "\" を作成できません。"));
  EXPECT_EQ(prompts.shown.back().caption, "pic.jpg - ゆらぎ丸");
  EXPECT_EQ(Text(ReadFile(target.toStdString())), Text(old));
  EXPECT_EQ(QDir(QFileInfo(target).path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
  EXPECT_NE(f.StatusPanel1->text(), "pic.jpg を更新しました。");
}

TEST_F(Refetch, ClearEmptiesTheTabButKeepsTheTarget) {
  const QString target = Target("pic.jpg");
  TForm1& f = OpenOn(target);
  f.ReGetBtnClick();
  f.ClearBtn->click();
  EXPECT_TRUE(f.Image1->isHidden());
  EXPECT_TRUE(f.Image2->isHidden());
  for (QPushButton* off : {f.ReGetBtn, f.BrowseBtn, f.SaveBtn, f.SaveAsBtn, f.ClearBtn}) {
    EXPECT_FALSE(off->isEnabled()) << off->text().toStdString();
  }
  EXPECT_FALSE(f.Save1->isEnabled());
  EXPECT_FALSE(f.SaveAs1->isEnabled());
  EXPECT_TRUE(f.Edit1->text().isEmpty());
  EXPECT_TRUE(f.Edit2->text().isEmpty());
  EXPECT_FALSE(f.Edit2->isEnabled());
  EXPECT_TRUE(f.StatusPanel1->text().isEmpty());
  EXPECT_TRUE(f.GroupBox4->title().isEmpty());
  EXPECT_TRUE(f.GroupBox5->title().isEmpty());
  EXPECT_EQ(f.windowTitle(), ProductName);
  EXPECT_EQ(ApplicationTitle, ProductName);
  EXPECT_EQ(TargetPath, target);
  EXPECT_TRUE(QFile::exists(TempImagePath));
}

TEST_F(Refetch, AUrlTheFileRecordedIsShownAndFetched) {
  const struct {
    const char* attribute;
    std::string value;
    std::string url;
  } records[] = {
      {"user.xdg.origin.url", server.Url("/img/pic.jpg"), server.Url("/img/pic.jpg")},
      {"user.xdg.origin.url", server.Url("/img/pic%3D1.jpg"), server.Url("/img/pic%3D1.jpg")},
      {"user.Zone.Identifier", "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=" + server.Url("/img/pic.jpg") + "\r\n",
       server.Url("/img/pic.jpg")},
  };
  int n = 0;
  for (const auto& record : records) {
    SCOPED_TRACE(record.value);
    // No folder names a host: only the record knows where the file came from.
    const QString target = Path(QStringLiteral("downloads/%1/%2/pic.jpg").arg(record.attribute).arg(++n));
    QDir().mkpath(QFileInfo(target).path());
    WriteFile(target.toStdString(), old);
    ASSERT_EQ(::setxattr(target.toUtf8().constData(), record.attribute, record.value.data(), record.value.size(), 0),
              0);
    TForm1& f = OpenOn(target);
    EXPECT_EQ(f.Edit2->text(), QString::fromStdString(record.url));
    EXPECT_EQ(f.StatusPanel1->text(), "pic.jpg をセットしました（記録された URL）");
    EXPECT_TRUE(f.Edit2->isEnabled());
    f.ReGetBtn->click();
    EXPECT_EQ(f.StatusPanel1->text(), QString::fromStdString(record.url).section('/', -1) + " をダウンロードしました");
    EXPECT_EQ(Text(ReadFile(TempImagePath.toStdString())), Text(fresh));
    f.close();
  }
  // Without a record the folder rule's URL and the plain words stay.
  TForm1& f = OpenOn(Target("pic.jpg"));
  EXPECT_EQ(f.StatusPanel1->text(), "pic.jpg をセットしました");
}
