#include <QAction>
#include <QDir>
#include <QDropEvent>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QUrl>

#include "jpeg_writer.h"
#include "widgets/image_view.h"
#include "window_fixture.h"

using namespace yuragi;
using namespace yuragi::testing;

namespace {

class TargetSelection : public WindowTest {
 protected:
  QString Jpeg(const QString& relative, int width = 120, int height = 90) {
    const QString path = Path(relative);
    QDir().mkpath(QFileInfo(path).path());
    WriteFile(path.toStdString(), EncodeJpeg({width, height}));
    return path;
  }
  void Enter(TForm1& f, const QString& text) {
    f.Edit1->setText(text);
    int key = 13;
    f.Edit1KeyPress(f.Edit1, key);
    EXPECT_EQ(key, 0);
  }
  static bool Previewed(TForm1& f) {
    return !f.Image1->isHidden() && f.Image1->isEnabled() && !f.Image1->Picture().isNull();
  }
  static bool SaveControlsOff(TForm1& f) {
    return !f.SaveBtn->isEnabled() && !f.SaveAsBtn->isEnabled() && !f.Save1->isEnabled() && !f.SaveAs1->isEnabled();
  }
  void Drop(TForm1& f, const QStringList& paths, QWidget* on = nullptr) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
    mime.setUrls(urls);
    EXPECT_TRUE(SendDrop(on ? on : &f, mime));
  }
  // Enter, move and drop as the window system delivers them to the widget
  // under the pointer; true when the enter and the drop were accepted.
  static bool SendDrop(QWidget* on, const QMimeData& mime) {
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(on, &enter);
    QDragMoveEvent move(QPoint(6, 6), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(on, &move);
    QDropEvent drop(QPointF(6, 6), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(on, &drop);
    return enter.isAccepted() && drop.isAccepted();
  }
};

}  // namespace

TEST_F(TargetSelection, EnterInAnEmptyBoxMakesTheEmptyTextTheTarget) {
  TForm1& f = Open();
  Enter(f, QString());
  EXPECT_EQ(f.Edit2->text(), "http:/");
  EXPECT_TRUE(f.Edit2->isEnabled());
  EXPECT_TRUE(f.Image1->isHidden());
  EXPECT_EQ(f.GroupBox4->title(), "0バイト");
  EXPECT_EQ(f.windowTitle(), " - ゆらぎ丸");
  EXPECT_EQ(ApplicationTitle, " - ゆらぎ丸");
  EXPECT_TRUE(f.ReGetBtn->isEnabled());
  EXPECT_TRUE(f.BrowseBtn->isEnabled());
  EXPECT_TRUE(f.ClearBtn->isEnabled());
  EXPECT_TRUE(TargetPath.isEmpty());
}

TEST_F(TargetSelection, AJpegTargetIsPreviewedWithItsUrlAndSize) {
  const QString path = Jpeg("img.example/gallery/photo.JPG");
  TForm1& f = Open();
  f.PageControl1->setCurrentIndex(1);
  f.Edit1->setText(path);
  QTest::keyClick(f.Edit1, Qt::Key_Return);  // a real key press
  EXPECT_EQ(TargetPath, path);
  EXPECT_TRUE(Previewed(f));
  EXPECT_EQ(f.Image1->Picture().size(), QSize(120, 90));
  EXPECT_EQ(f.StatusPanel1->text(), "photo.JPG をセットしました");
  EXPECT_EQ(f.Edit2->text(), "http://img.example/gallery/photo.JPG");
  EXPECT_EQ(f.GroupBox4->title(), QLocale().toString(QFileInfo(path).size()) + "バイト");
  EXPECT_TRUE(f.GroupBox5->title().isEmpty());
  EXPECT_EQ(f.windowTitle(), "photo.JPG - ゆらぎ丸");
  EXPECT_EQ(f.PageControl1->currentIndex(), 0);
  EXPECT_TRUE(f.Image2->isHidden());
  EXPECT_TRUE(SaveControlsOff(f));
}

TEST_F(TargetSelection, FilesThatAreNoPicturesWarnAndShowNoPreview) {
  TForm1& f = Open();
  const QString jpe = Path("photo.jpe");
  WriteFile(jpe.toStdString(), EncodeJpeg({}));
  Enter(f, jpe);
  EXPECT_EQ(f.StatusPanel1->text(), "photo.jpe は画像でない可能性があります");
  EXPECT_TRUE(f.Image1->isHidden());
  EXPECT_TRUE(f.ReGetBtn->isEnabled());

  const QString text = Path("notes.jpg");
  WriteFile(text.toStdString(), std::string("not a picture at all"));
  Enter(f, text);
  EXPECT_EQ(f.StatusPanel1->text(), "notes.jpg は画像でない可能性があります");
  EXPECT_FALSE(f.Image1->isEnabled());

  const QString disguised = Path("really-a-jpeg.bmp");
  WriteFile(disguised.toStdString(), EncodeJpeg({}));
  Enter(f, disguised);
  EXPECT_EQ(f.StatusPanel1->text(), "really-a-jpeg.bmp は画像でない可能性があります");
}

TEST_F(TargetSelection, BitmapsAndIconsLoadThroughTheToolkit) {
  TForm1& f = Open();
  QImage image(30, 20, QImage::Format_RGB32);
  image.fill(Qt::red);
  ASSERT_TRUE(image.save(Path("a.BMP"), "BMP"));
  ASSERT_TRUE(image.save(Path("b.ico"), "ICO"));
  Enter(f, Path("a.BMP"));
  EXPECT_TRUE(Previewed(f));
  EXPECT_EQ(f.StatusPanel1->text(), "a.BMP をセットしました");
  Enter(f, Path("b.ico"));
  EXPECT_TRUE(Previewed(f));
}

TEST_F(TargetSelection, MissingFilesAndFoldersStillGiveAUrl) {
  TForm1& f = Open();
  f.StatusPanel1->setText("before");
  Enter(f, Path("img.example/gone.jpg"));
  EXPECT_TRUE(f.Edit2->text().endsWith("img.example/gone.jpg"));
  EXPECT_TRUE(f.ReGetBtn->isEnabled());
  EXPECT_TRUE(f.Image1->isHidden());
  EXPECT_EQ(f.GroupBox4->title(), "0バイト");
  EXPECT_EQ(f.StatusPanel1->text(), "before");
  Enter(f, dir.path());  // a folder counts as size 0
  EXPECT_TRUE(f.Image1->isHidden());
  EXPECT_EQ(f.StatusPanel1->text(), "before");
}

TEST_F(TargetSelection, ThreeCommandLineParametersShowTheBoxAndUseTheFirst) {
  const QString first = Jpeg("host.example/one.jpg");
  TForm1& f = Open({first, Path("two.jpg"), Path("three.jpg")});
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].kind, "error");
  EXPECT_EQ(prompts.shown[0].caption, ProductName);
  EXPECT_EQ(prompts.shown[0].text, "複数のファイルは受け取れません。");
  EXPECT_EQ(TargetPath, first);
  EXPECT_EQ(f.Edit1->text(), first);
  EXPECT_EQ(f.StatusPanel1->text(), "one.jpg を受取りました。");
  EXPECT_EQ(f.windowTitle(), "one.jpg - ゆらぎ丸");
  EXPECT_TRUE(Previewed(f));
}

TEST_F(TargetSelection, ADropOfThreeFilesTakesTheFirstWhole) {
  TForm1& f = Open();
  // Longer than the old 256-character buffer.
  const QString deep = Jpeg(QString("img.example/") + QString(120, 'd') + "/" + QString(120, 'e') + "/first.jpg");
  ASSERT_GT(deep.size(), 256);
  Drop(f, {deep, Path("b.jpg"), Path("c.jpg")});
  EXPECT_TRUE(prompts.shown.empty());
  EXPECT_EQ(TargetPath, deep);
  EXPECT_EQ(f.Edit1->text(), deep);
  EXPECT_EQ(f.StatusPanel1->text(), "first.jpg を受取りました。");
  EXPECT_EQ(f.windowTitle(), "first.jpg - ゆらぎ丸");
  EXPECT_TRUE(Previewed(f));
  EXPECT_TRUE(SaveControlsOff(f));
}

TEST_F(TargetSelection, AFileDroppedOnEitherBoxBecomesTheTargetAndTextSpoilsNoUrl) {
  TForm1& f = Open();
  const QString first = Jpeg("img.example/a/first.jpg");
  Enter(f, first);
  const struct {
    const char* on;
    QWidget* widget;
  } targets[] = {{"window", &f}, {"path box", f.Edit1}, {"URL box", f.Edit2}};
  int n = 0;
  for (const auto& target : targets) {
    SCOPED_TRACE(target.on);
    const QString path = Jpeg(QStringLiteral("img.example/b/drop%1.jpg").arg(++n));
    Drop(f, {path}, target.widget);
    EXPECT_EQ(TargetPath, QFile::encodeName(path));
    EXPECT_EQ(f.Edit1->text(), path);
    EXPECT_EQ(f.Edit2->text(), QStringLiteral("http://img.example/b/drop%1.jpg").arg(n));
    EXPECT_EQ(f.StatusPanel1->text(), QStringLiteral("drop%1.jpg を受取りました。").arg(n));
  }
  // Text that is no file changes neither the URL nor the target.
  const QString url = f.Edit2->text();
  QMimeData text;
  text.setText(QStringLiteral("http://elsewhere.example/x.jpg"));
  EXPECT_FALSE(SendDrop(f.Edit2, text));
  QMimeData remote;
  remote.setUrls({QUrl(QStringLiteral("http://elsewhere.example/y.jpg"))});
  EXPECT_FALSE(SendDrop(f.Edit2, remote));
  EXPECT_FALSE(SendDrop(&f, remote));
  EXPECT_EQ(f.Edit2->text(), url);
  EXPECT_EQ(TargetPath, QFile::encodeName(Path("img.example/b/drop3.jpg")));
}

TEST_F(TargetSelection, TheOpenDialogStartsAtTheInitialFolder) {
  const QString chosen = Jpeg("img.example/chosen.jpg");
  TForm1& f = Open();
  prompts.files = {QString(), chosen};
  f.RefferBtnClick();  // cancelled
  EXPECT_EQ(prompts.lastDialog.initialFolder, InitialFolder);
  EXPECT_TRUE(TargetPath.isEmpty());
  EXPECT_TRUE(f.Image2->isHidden());
  f.Open1->trigger();
  EXPECT_EQ(TargetPath, chosen);
  EXPECT_EQ(f.Edit1->text(), chosen);
  EXPECT_EQ(f.StatusPanel1->text(), "chosen.jpg をセットしました");
  EXPECT_EQ(f.windowTitle(), "chosen.jpg - ゆらぎ丸");
}

TEST_F(TargetSelection, OtherKeysChangeOnlyTheText) {
  const QString path = Jpeg("img.example/kept.jpg");
  TForm1& f = Open();
  Enter(f, path);
  const QString url = f.Edit2->text();
  QTest::keyClicks(f.Edit1, "xyz");
  EXPECT_EQ(f.Edit1->text(), path + "xyz");
  EXPECT_EQ(TargetPath, path);
  EXPECT_EQ(f.Edit2->text(), url);
  EXPECT_TRUE(Previewed(f));
  // Enter in the URL box is swallowed and starts nothing.
  int key = 13;
  f.Edit2KeyPress(f.Edit2, key);
  EXPECT_EQ(key, 0);
  QTest::keyClick(f.Edit2, Qt::Key_Return);
  EXPECT_EQ(f.StatusPanel1->text(), "kept.jpg をセットしました");
  // Declining the browser question does nothing.
  f.BrowseBtnClick();
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].caption, "確認");
  EXPECT_EQ(prompts.shown[0].text, "ブラウザを起動します。よろしいですか？");
}
