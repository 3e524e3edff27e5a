// The re-fetch tab under conditions that used to hurt: a server that keeps
// its headers, error pages with pictures, cut data, long names, a cleaned
// temporary folder, endless bodies, files swapped before the save.
#include <sys/resource.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <functional>
#include <thread>

#include "jpeg_writer.h"
#include "platform/prompts.h"
#include "widgets/image_view.h"
#include "test_server.h"
#include "window_fixture.h"

using namespace yuragi;
using namespace yuragi::testing;

namespace {

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

class RefetchSafety : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    fresh = EncodeJpeg({320, 240, JpegKind::Baseline, 90, 4});
    big = EncodeJpeg({640, 480, JpegKind::Baseline, 95, 4});
    half = Truncated(fresh, fresh.size() / 2);
    const auto serve = [this](const std::string& path, std::string body, int status = 200) {
      server->Get(path, [body, status](const httplib::Request&, httplib::Response& response) {
        response.status = status;
        response.set_content(body, "image/jpeg");
      });
    };
    serve("/img/pic.jpg", Text(fresh));
    serve("/img/half.jpg", Text(half));
    serve("/img/gone.jpg", Text(fresh), 404);
    serve("/img/broken.jpg", Text(fresh), 500);
    serve(R"(/img/n+\.jpg)", Text(fresh));
    server->Get("/img/silent.jpg", [this](const httplib::Request&, httplib::Response& response) {
      for (int i = 0; i < 6000 && !server.release; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      answered = true;
      response.set_content(Text(fresh), "image/jpeg");
    });
    server->Get("/img/endless.jpg", [](const httplib::Request&, httplib::Response& response) {
      response.set_chunked_content_provider("image/jpeg", [](size_t, httplib::DataSink& sink) {
        const std::string block(64 * 1024, 'x');
        return sink.write(block.data(), block.size());
      });
    });
    server.Start();
  }
  void TearDown() override { server.release = true; }

  QString Target(const QString& name, const std::vector<uint8_t>& bytes) {
    const QString path = Path(QStringLiteral("127.0.0.1:%1/img/").arg(server.Port()) + name);
    QDir().mkpath(QFileInfo(path).path());
    WriteFile(path.toStdString(), bytes);
    return path;
  }
  static void SetTargetOf(TForm1& f, const QString& target) {
    f.Edit1->setText(target);
    int key = 13;
    f.Edit1KeyPress(f.Edit1, key);
  }
  TForm1& OpenOn(const QString& target) {
    TForm1& f = Open();
    SetTargetOf(f, target);
    return f;
  }
  static QStringList Leftovers() {
    return QDir(QFile::decodeName(TempDir)).entryList({"$*"}, QDir::Files).filter(QRegularExpression("^\\$\\d{8}-"));
  }
  static QString Bytes(size_t count) { return QLocale().toString(qulonglong(count)); }

  TestServer server;
  std::vector<uint8_t> fresh, big, half;
  std::atomic<bool> answered{false};
};

}  // namespace

TEST_F(RefetchSafety, ClosingWhileTheHeadersAreAwaitedEndsTheWindowAtOnce) {
  TForm1& f = OpenOn(Target("silent.jpg", half));
  bool closedWhileWaiting = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &f, [&] {
    if (f.StatusPanel1->text() != "silent.jpg を探しています") return;
    closedWhileWaiting = !f.CancelBtn0->isHidden();
    poll.stop();
    f.close();
  });
  poll.start(5);
  f.ReGetBtnClick();
  EXPECT_TRUE(closedWhileWaiting);
  EXPECT_FALSE(answered);  // the handler ended while the server still kept its headers
  EXPECT_TRUE(WaitFor([&] { return !f.isVisible(); }));
  EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(RefetchSafety, TheCancelButtonWorksWhileTheHeadersAreAwaited) {
  TForm1& f = OpenOn(Target("silent.jpg", half));
  bool browseIgnored = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &f, [&] {
    if (f.CancelBtn0->isHidden()) return;
    poll.stop();
    // Other input waits; the cancel button is taken.
    QTest::mouseClick(f.BrowseBtn, Qt::LeftButton);
    browseIgnored = prompts.shown.empty();
    QTest::mouseClick(f.CancelBtn0, Qt::LeftButton);
  });
  poll.start(5);
  f.ReGetBtnClick();
  EXPECT_TRUE(browseIgnored);
  EXPECT_FALSE(answered);
  EXPECT_EQ(f.StatusPanel1->text(), "silent.jpg のダウンロードをキャンセルしました");
  EXPECT_TRUE(f.CancelBtn0->isHidden());
  EXPECT_TRUE(f.ReGetBtn->isEnabled());
  EXPECT_EQ(f.focusWidget(), f.ReGetBtn);
  EXPECT_FALSE(f.SaveBtn->isEnabled());
  EXPECT_TRUE(Leftovers().isEmpty());
  // The next download runs as usual.
  server.release = true;
  f.ReGetBtnClick();
  EXPECT_EQ(f.StatusPanel1->text(), "silent.jpg をダウンロードしました");
}

TEST_F(RefetchSafety, ABoxOpenedWhileTheHeadersAreAwaitedCanBeAnswered) {
  // As the close's question is, when the user asked to confirm closing.
  TForm1& f = OpenOn(Target("silent.jpg", half));
  int answer = -1;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &f, [&] {
    if (f.CancelBtn0->isHidden()) return;
    poll.stop();
    QMessageBox box(QMessageBox::Question, "ゆらぎ丸", "終了してもよいですか？", QMessageBox::Yes | QMessageBox::No, &f);
    QTimer::singleShot(0, &box, [&box] {
      QTest::mouseClick(box.button(QMessageBox::Yes), Qt::LeftButton);
      if (box.isVisible()) box.done(-2);  // the click never arrived
    });
    answer = box.exec();
    QTest::mouseClick(f.CancelBtn0, Qt::LeftButton);
  });
  poll.start(5);
  f.ReGetBtnClick();
  EXPECT_EQ(answer, QMessageBox::Yes);
  EXPECT_FALSE(answered);
  EXPECT_EQ(f.StatusPanel1->text(), "silent.jpg のダウンロードをキャンセルしました");
}

TEST_F(RefetchSafety, AnErrorStatusIsAMissingImageWhateverPictureItCarries) {
  for (const auto& [name, status] : {std::pair{QString("gone.jpg"), 404}, std::pair{QString("broken.jpg"), 500}}) {
    prompts.shown.clear();
    TForm1& f = OpenOn(Target(name, half));
    f.ReGetBtnClick();
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, QStringLiteral("画像が見つかりません。%1").arg(status));
    EXPECT_EQ(f.StatusPanel1->text(), name + " が見つかりません");
    EXPECT_FALSE(f.SaveBtn->isEnabled());
    EXPECT_TRUE(f.Image2->isHidden());
    EXPECT_TRUE(f.CancelBtn0->isHidden());
    EXPECT_EQ(f.focusWidget(), f.BrowseBtn);
    EXPECT_TRUE(Leftovers().isEmpty());
  }
}

TEST_F(RefetchSafety, SmallerOrCutDataIsOfferedWithAWarning) {
  // Smaller and cut.
  const QString target = Target("half.jpg", big);
  TForm1& f = OpenOn(target);
  f.ReGetBtnClick();
  ASSERT_TRUE(f.SaveBtn->isEnabled());
  prompts.answers = {false};
  f.SaveBtnClick();
  ASSERT_EQ(prompts.shown.back().kind, "cautious question");
  EXPECT_EQ(prompts.shown.back().text, "上書き保存します。よろしいですか？\n受信したデータは元のファイルより小さく（" +
                                           Bytes(half.size()) + " / " + Bytes(big.size()) + " バイト）、途中で切れています。");
  EXPECT_EQ(Text(ReadFile(target.toStdString())), Text(big));

  // Whole but smaller.
  const QString whole = Target("pic.jpg", big);
  SetTargetOf(f, whole);
  f.ReGetBtnClick();
  prompts.answers = {false};
  f.SaveBtnClick();
  EXPECT_EQ(prompts.shown.back().text, "上書き保存します。よろしいですか？\n受信したデータは元のファイルより小さくなっています（" +
                                           Bytes(fresh.size()) + " / " + Bytes(big.size()) + " バイト）。");
  EXPECT_EQ(Text(ReadFile(whole.toStdString())), Text(big));

  // Cut, though larger than what is there: said, and saved on Yes.
  const QString small = Target("half.jpg", Truncated(fresh, fresh.size() / 4));
  SetTargetOf(f, small);
  f.ReGetBtnClick();
  prompts.answers = {true};
  f.SaveBtnClick();
  EXPECT_EQ(prompts.shown.back().text, "上書き保存します。よろしいですか？\n受信したデータは途中で切れています。");
  EXPECT_EQ(Text(ReadFile(small.toStdString())), Text(half));
  EXPECT_EQ(f.StatusPanel1->text(), "half.jpg を更新しました。");

  // Whole and not smaller: the plain question.
  const QString older = Target("pic.jpg", half);
  SetTargetOf(f, older);
  f.ReGetBtnClick();
  prompts.answers = {true};
  f.SaveBtnClick();
  EXPECT_EQ(prompts.shown.back().kind, "question");
  EXPECT_EQ(prompts.shown.back().text, "上書き保存します。よろしいですか？");
  EXPECT_EQ(Text(ReadFile(older.toStdString())), Text(fresh));
}

TEST_F(RefetchSafety, EnterOnTheWarningKeepsTheOldFile) {
  const QString target = Target("half.jpg", big);
  const std::unique_ptr<Prompts> desktop = MakeDesktopPrompts();
  TForm1 f(*desktop, {});
  SetTargetOf(f, target);
  f.ReGetBtnClick();
  ASSERT_TRUE(f.SaveBtn->isEnabled());
  QString boxText;
  bool noIsDefault = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &f, [&] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(top);
      if (!box || !box->isVisible()) continue;
      poll.stop();
      boxText = box->text();
      noIsDefault = box->defaultButton() == box->button(QMessageBox::No);
      QTest::keyClick(box, Qt::Key_Return);
      return;
    }
  });
  poll.start(10);
  f.SaveBtnClick();
  EXPECT_TRUE(boxText.contains("途中で切れています"));
  EXPECT_TRUE(noIsDefault);
  EXPECT_EQ(Text(ReadFile(target.toStdString())), Text(big));
  EXPECT_NE(f.StatusPanel1->text(), "half.jpg を更新しました。");
}

TEST_F(RefetchSafety, ALongNameIsDownloadedAndSaved) {
  const QString name = QString(246, 'n') + ".jpg";  // 250 bytes
  const QString target = Target(name, half);
  TForm1& f = OpenOn(target);
  f.ReGetBtnClick();
  EXPECT_TRUE(prompts.shown.empty());
  EXPECT_EQ(f.StatusPanel1->text(), name + " をダウンロードしました");
  ASSERT_TRUE(f.SaveBtn->isEnabled());
  prompts.answers = {true};
  f.SaveBtnClick();
  EXPECT_EQ(Text(ReadFile(target.toStdString())), Text(fresh));
  EXPECT_EQ(f.StatusPanel1->text(), name + " を更新しました。");
  EXPECT_EQ(QDir(QFileInfo(target).path()).entryList(QDir::Files | QDir::Hidden), QStringList{name});
  EXPECT_TRUE(Leftovers().isEmpty());
}

TEST_F(RefetchSafety, TheTemporaryFolderIsMadeAgainWhenItWasCleaned) {
  QTemporaryDir tmp;
  const QByteArray saved = qgetenv("TMPDIR");
  qputenv("TMPDIR", tmp.path().toLocal8Bit());
  TForm1& f = OpenOn(Target("pic.jpg", half));
  f.ReGetBtnClick();
  ASSERT_TRUE(f.SaveBtn->isEnabled());
  EXPECT_TRUE(TempDir.startsWith(QFile::encodeName(tmp.path())));
  ASSERT_TRUE(QDir(QFile::decodeName(TempDir)).removeRecursively());
  f.ReGetBtnClick();
  EXPECT_TRUE(prompts.shown.empty()) << prompts.Texts().join('|').toStdString();
  EXPECT_EQ(f.StatusPanel1->text(), "pic.jpg をダウンロードしました");
  EXPECT_TRUE(f.SaveBtn->isEnabled());
  EXPECT_EQ(Text(ReadFile(TempImagePath.toStdString())), Text(fresh));
  qputenv("TMPDIR", saved);
  if (saved.isNull()) qunsetenv("TMPDIR");
}

TEST_F(RefetchSafety, AnEndlessBodyStopsAtTheCap) {
  TForm1& f = OpenOn(Target("endless.jpg", half));
  f.DownloadCap = 256 * 1024;
  f.ReGetBtnClick();
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].text,
            "画像を取得できませんでした。1\n受信したデータが上限の " + Bytes(256 * 1024) + "バイト を超えたため中止しました。");
  EXPECT_EQ(f.StatusPanel1->text(), "endless.jpg を取得できませんでした");
  EXPECT_FALSE(f.SaveBtn->isEnabled());
  EXPECT_TRUE(Leftovers().isEmpty());
}

TEST_F(RefetchSafety, AFailedWriteSaysWhy) {
  TForm1& f = OpenOn(Target("pic.jpg", half));
  // Writes past 100 bytes fail, as on a full disk.
  signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 100;
  setrlimit(RLIMIT_FSIZE, &small);
  f.ReGetBtnClick();
  setrlimit(RLIMIT_FSIZE, &saved);
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].text, "画像を取得できませんでした。1\n" + QString::fromLocal8Bit(strerror(EFBIG)));
  EXPECT_EQ(f.StatusPanel1->text(), "pic.jpg を取得できませんでした");
  EXPECT_TRUE(Leftovers().isEmpty());
}

TEST_F(RefetchSafety, ALinkSwappedInBeforeTheSaveIsNotWrittenThrough) {
  const QString target = Target("pic.jpg", half);
  const QString victim = Path("victim.jpg");
  WriteFile(victim.toStdString(), std::string("precious"));
  TForm1& f = OpenOn(target);
  f.ReGetBtnClick();
  // Saving twice is fine: the second save goes over the first one's file.
  prompts.answers = {true, true};
  f.SaveBtnClick();
  f.SaveBtnClick();
  EXPECT_EQ(prompts.shown.back().kind, "question");
  EXPECT_EQ(Text(ReadFile(target.toStdString())), Text(fresh));

  ASSERT_TRUE(QFile::remove(target));
  ASSERT_TRUE(QFile::link(victim, target));
  f.StatusPanel1->clear();
  prompts.answers = {true};
  f.SaveBtnClick();
  ASSERT_EQ(prompts.shown.back().kind, "error");
  EXPECT_EQ(prompts.shown.back().text,
            "ファイル \"" + target + "\" は再取得を始めた後にリンクに置き換えられています。上書き保存を中止しました。");
  EXPECT_EQ(Text(ReadFile(victim.toStdString())), "precious");
  EXPECT_TRUE(QFileInfo(target).isSymLink());
  EXPECT_TRUE(f.StatusPanel1->text().isEmpty());

  // Save As onto a link to nothing makes no file at its far end.
  const QString dangling = Path("dangling.jpg");
  ASSERT_TRUE(QFile::link(Path("nowhere.jpg"), dangling));
  prompts.files = {dangling};
  f.SaveAsBtnClick();
  EXPECT_EQ(prompts.shown.back().text, "ファイル \"" + dangling + "\" は存在しないファイルを指すリンクです。保存を中止しました。");
  EXPECT_FALSE(QFileInfo::exists(Path("nowhere.jpg")));
  EXPECT_TRUE(f.StatusPanel1->text().isEmpty());
}
