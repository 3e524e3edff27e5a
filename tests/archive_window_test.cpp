#include <QAction>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include "archive_server.h"
#include "jpeg_writer.h"
#include "widgets/image_view.h"
#include "window_fixture.h"

using namespace yuragi;
using namespace yuragi::testing;

namespace {

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The origin has nothing (404); the archive has the picture.
class ArchiveRefetch : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    whole = Text(EncodeJpeg({320, 240, JpegKind::Baseline, 90, 4}));
    cut = whole.substr(0, whole.size() / 2);
    origin->Get("/img/.*", [](const httplib::Request&, httplib::Response& response) { response.status = 404; });
    origin->Get("/page/.*", [](const httplib::Request&, httplib::Response& response) {
      response.set_content("<html><body>Parked domain</body></html>", "text/html");
    });
    origin.Start();
    url = origin.Url("/img/pic.jpg");
    target = Path(QStringLiteral("127.0.0.1:%1/img/pic.jpg").arg(origin.Port()));
    QDir().mkpath(QFileInfo(target).path());
    WriteFile(target.toStdString(), cut);
  }
  void TearDown() override { origin.release = true; }

  TForm1& OpenWith(bool useArchive) {
    QFile settings(Path("settings.ini"));
    EXPECT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write(QStringLiteral("[OPTION]\nUseArchive=%1\nArchivePrefix=%2\n")
                       .arg(useArchive ? 1 : 0)
                       .arg(QString::fromStdString(archive.Prefix()))
                       .toUtf8());
    settings.close();
    TForm1& f = Open();
    f.Edit1->setText(target);
    int key = 13;
    f.Edit1KeyPress(f.Edit1, key);
    return f;
  }

  TestServer origin;
  ArchiveServer archive;
  std::string whole, cut, url;
  QString target;
};

TEST_F(ArchiveRefetch, TheOptionFetchesTheCaptureThatContinuesTheTargetAndSavesIt) {
  archive.captures[url] = {{"20240301120000", Text(EncodeJpeg({320, 240, JpegKind::Baseline, 90, 5}))},
                           {"20210611083000", whole}};
  TForm1& f = OpenWith(true);
  EXPECT_EQ(f.UseArchive1->text(), "見つからない時はアーカイブから取得(&W)");
  EXPECT_TRUE(f.O1->actions().contains(f.UseArchive1));
  EXPECT_TRUE(f.UseArchive1->isChecked());
  f.ReGetBtn->click();
  EXPECT_EQ(f.StatusPanel1->text(), "pic.jpg をアーカイブ（2021/06/11）から取得しました");
  EXPECT_TRUE(prompts.shown.empty());
  EXPECT_FALSE(f.Image2->isHidden());
  EXPECT_EQ(f.Image2->Picture().size(), QSize(320, 240));
  EXPECT_TRUE(f.SaveBtn->isEnabled());
  EXPECT_TRUE(f.CancelBtn0->isHidden());
  EXPECT_EQ(archive.CaptureRequests(), 2);
  prompts.answers = {true};
  f.SaveBtnClick();
  EXPECT_EQ(prompts.shown.back().text, "上書き保存します。よろしいですか？");
  EXPECT_EQ(Text(ReadFile(target.toStdString())), whole);
}

TEST_F(ArchiveRefetch, NoConnectionAndAPageInsteadOfThePictureAskTheArchiveToo) {
  TForm1& f = OpenWith(true);
  for (const std::string& failing : {"http://127.0.0.1:" + std::to_string(RefusedPort()) + "/img/pic.jpg",
                                     origin.Url("/page/pic.jpg")}) {
    archive.captures[failing] = {{"20190102030405", whole}};
    f.Edit2->setText(QString::fromStdString(failing));
    f.ReGetBtnClick();
    EXPECT_EQ(f.StatusPanel1->text(), "pic.jpg をアーカイブ（2019/01/02）から取得しました") << failing;
    EXPECT_TRUE(f.SaveBtn->isEnabled());
    EXPECT_EQ(f.NewPictureBytes.toStdString(), whole);
  }
  EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(ArchiveRefetch, OffByDefaultAndAWrongCaptureIsNeverOffered) {
  archive.captures[url] = {{"20240301120000", Text(EncodeJpeg({320, 240, JpegKind::Baseline, 90, 5}))}};
  {
    TForm1& f = OpenWith(false);
    f.ReGetBtnClick();
    EXPECT_TRUE(archive.Requests().empty());
    EXPECT_EQ(f.StatusPanel1->text(), "pic.jpg が見つかりません");
  }
  prompts.shown.clear();
  TForm1& f = OpenWith(true);
  f.ReGetBtnClick();
  EXPECT_EQ(archive.CaptureRequests(), 1);
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].text, "画像が見つかりません。404");
  EXPECT_EQ(f.StatusPanel1->text(), "pic.jpg が見つかりません");
  EXPECT_FALSE(f.SaveBtn->isEnabled());
  EXPECT_TRUE(f.Image2->isHidden());
  EXPECT_EQ(Text(ReadFile(target.toStdString())), cut);
}

TEST_F(ArchiveRefetch, TheSearchCanBeCancelled) {
  archive.captures[url] = {{"20210611083000", whole, "image/jpeg", ArchiveServer::Mode::Drip}};
  TForm1& f = OpenWith(true);
  QTimer press;
  QObject::connect(&press, &QTimer::timeout, [&] {
    if (archive.CaptureRequests() > 0 && f.CancelBtn0->isVisible()) f.CancelBtn0->click();
  });
  press.start(20);
  f.ReGetBtnClick();
  press.stop();
  EXPECT_EQ(f.StatusPanel1->text(), "pic.jpg のダウンロードをキャンセルしました");
  EXPECT_TRUE(f.ReGetBtn->isEnabled());
  EXPECT_FALSE(f.SaveBtn->isEnabled());
  EXPECT_EQ(Text(ReadFile(target.toStdString())), cut);
}

}  // namespace
