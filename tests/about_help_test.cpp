#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <cstdlib>
#include <functional>

#include "app/product_info.h"
#include "desktop/about_box.h"
#include "desktop/help_file.h"
#include "desktop_env.h"
#include "platform/file_icons.h"
#include "window_fixture.h"
#include "platform/paths.h"

using namespace yuragi;
using yuragi::testing::DesktopEnvironment;
using yuragi::testing::WindowTest;

namespace {

// Made before main, before anything asks GLib for the user's folders.
DesktopEnvironment desktop;

using AboutBoxes = WindowTest;
using HelpMenu = WindowTest;

// Acts on the About box once it is up, while ShowAboutBox waits in it.
void WhenBoxIsUp(const std::function<void(AboutBox*)>& act) {
  QTimer::singleShot(0, [act] {
    auto* box = qobject_cast<AboutBox*>(QApplication::activeModalWidget());
    if (!box) {
      ADD_FAILURE() << "no About box";
      return;
    }
    QPointer<AboutBox> still(box);
    // Mnemonics answer only in the active window.
    QApplication::setActiveWindow(box);
    act(box);
    // A box the action did not end must not hang the test.
    QTimer::singleShot(10000, [still] {
      if (!still || !still->isVisible()) return;
      ADD_FAILURE() << "the About box stayed open";
      still->done(-1);
    });
  });
}

QColor PixelOf(const QImage& image, int x, int y) { return image.pixelColor(x, y); }

bool Near(const QColor& a, const QColor& b) {
  return std::abs(a.red() - b.red()) <= 2 && std::abs(a.green() - b.green()) <= 2 && std::abs(a.blue() - b.blue()) <= 2;
}

QImage GradientImage(quint32 colour, const QSize& size) {
  QImage image(size, QImage::Format_RGB32);
  QPainter painter(&image);
  painter.fillRect(QRect(QPoint(0, 0), size), AboutGradient(colour, size));
  return image;
}

// Removes a file made beside the running test program.
struct RemoveAtEnd {
  QString path;
  ~RemoveAtEnd() { QFile::remove(path); }
};

}  // namespace

TEST_F(AboutBoxes, ShowsTitleIconSixLinesAndTwoHandButtons) {
  TForm1& f = Open();
  const QString running = QFile::decodeName(ExecutablePath());
  int checked = 0;
  WhenBoxIsUp([&](AboutBox* box) {
    EXPECT_EQ(box->windowTitle(), "バージョン情報");
    const QStringList lines = box->TextLabel->text().split('\n');
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(lines[0], "画像再取得『ゆらぎ丸』 V1.7");
    EXPECT_EQ(lines[1], running);
    EXPECT_EQ(lines[2], "");
    EXPECT_EQ(lines[3], CopyrightLine);
    EXPECT_EQ(lines[4], ContactAddress);
    EXPECT_EQ(lines[5], HomePageUrl);
    EXPECT_FALSE(box->TextLabel->autoFillBackground());
    EXPECT_EQ(box->TextLabel->size(), box->TextLabel->sizeHint());
    ASSERT_FALSE(box->IconLabel->pixmap().isNull());
    EXPECT_EQ(box->IconLabel->pixmap().toImage(), ProgramIcon().pixmap(48, 48).toImage());
    EXPECT_LT(box->IconLabel->geometry().right(), box->TextLabel->geometry().left());
    EXPECT_EQ(box->OkButton->text(), "&OK");
    EXPECT_EQ(box->HomePageButton->text(), "&HomePage");
    EXPECT_TRUE(box->OkButton->isDefault());
    for (QPushButton* button : {box->OkButton, box->HomePageButton}) {
      EXPECT_EQ(button->cursor().shape(), Qt::PointingHandCursor);
      EXPECT_GT(button->geometry().top(), box->TextLabel->geometry().bottom());
    }
    // One row, centred.
    EXPECT_EQ(box->OkButton->geometry().top(), box->HomePageButton->geometry().top());
    const int left = box->OkButton->geometry().left();
    const int right = box->width() - box->HomePageButton->geometry().right() - 1;
    EXPECT_LE(std::abs(left - right), 1);
    const QRect desktopArea = f.screen()->availableGeometry();
    EXPECT_EQ(box->pos(), AboutBoxPosition(f.frameGeometry(), box->size(), desktopArea));
    EXPECT_TRUE(desktopArea.contains(box->pos()));
    ++checked;
    box->OkButton->click();
  });
  EXPECT_EQ(f.ShowAboutBox(), AboutOk);
  EXPECT_EQ(checked, 1);
}

TEST_F(AboutBoxes, KeysButtonsAndTheTitleBarGiveTheirResults) {
  TForm1& f = Open();
  const std::pair<const char*, std::function<void(AboutBox*)>> cases[] = {
      {"Esc", [](AboutBox* b) { QTest::keyClick(b, Qt::Key_Escape); }},
      {"Enter", [](AboutBox* b) { QTest::keyClick(b, Qt::Key_Return); }},
      {"OK", [](AboutBox* b) { QTest::mouseClick(b->OkButton, Qt::LeftButton); }},
      {"Alt+H", [](AboutBox* b) { QTest::keyClick(b, Qt::Key_H, Qt::AltModifier); }},
      {"HomePage", [](AboutBox* b) { QTest::mouseClick(b->HomePageButton, Qt::LeftButton); }},
      {"title bar", [](AboutBox* b) { b->close(); }},
  };
  const int expected[] = {AboutOk, AboutOk, AboutOk, AboutHomePage, AboutHomePage, AboutClosed};
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].first);
    WhenBoxIsUp(cases[i].second);
    EXPECT_EQ(f.ShowAboutBox(), expected[i]);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  }
}

TEST_F(AboutBoxes, PlacementCentresOverTheOwnerAndKeepsTheBoxOnTheDesktop) {
  const QRect desktopArea(0, 0, 1280, 1024);
  EXPECT_EQ(AboutBoxPosition(QRect(100, 100, 800, 600), QSize(300, 200), desktopArea), QPoint(350, 300));
  EXPECT_EQ(AboutBoxPosition(QRect(-500, -400, 600, 400), QSize(300, 200), desktopArea), QPoint(0, 0));
  EXPECT_EQ(AboutBoxPosition(QRect(1200, 950, 400, 300), QSize(300, 200), desktopArea), QPoint(980, 824));
  // Larger than the desktop: the top left corner stays reachable.
  EXPECT_EQ(AboutBoxPosition(QRect(0, 0, 800, 600), QSize(2000, 1500), desktopArea), QPoint(0, 0));
  EXPECT_EQ(AboutBoxPosition(QRect(1300, 0, 800, 600), QSize(300, 200), QRect(1280, 0, 1920, 1080)), QPoint(1550, 200));
}

TEST_F(AboutBoxes, GradientRuleColourAndDirection) {
  const QSize size(200, 100);
  // Odd: left to right, white to the colour with red in the lowest byte.
  QLinearGradient odd = AboutGradient(0x123457, size);
  EXPECT_EQ(odd.start(), QPointF(0, 0));
  EXPECT_EQ(odd.finalStop(), QPointF(200, 0));
  ASSERT_EQ(odd.stops().size(), 2);
  EXPECT_EQ(odd.stops()[0].second, QColor(255, 255, 255));
  EXPECT_EQ(odd.stops()[1].second, QColor(0x57, 0x34, 0x12));
  // Even: top to bottom.
  QLinearGradient even = AboutGradient(0xFFFFFE, size);
  EXPECT_EQ(even.finalStop(), QPointF(0, 100));
  EXPECT_EQ(even.stops()[1].second, QColor(0xFE, 0xFF, 0xFF));
  EXPECT_EQ(AboutGradient(0, size).stops()[1].second, QColor(0, 0, 0));
  EXPECT_EQ(AboutGradient(0, size).finalStop(), QPointF(0, 100));

  const QImage horizontal = GradientImage(0x0000FF, size);
  EXPECT_TRUE(Near(PixelOf(horizontal, 0, 50), Qt::white));
  EXPECT_TRUE(Near(PixelOf(horizontal, 199, 50), QColor(255, 0, 0)));
  EXPECT_TRUE(Near(PixelOf(horizontal, 199, 0), PixelOf(horizontal, 199, 99)));
  const QImage vertical = GradientImage(0xFF0000, size);
  EXPECT_TRUE(Near(PixelOf(vertical, 100, 0), Qt::white));
  EXPECT_TRUE(Near(PixelOf(vertical, 100, 99), QColor(0, 0, 255)));
  EXPECT_TRUE(Near(PixelOf(vertical, 0, 99), PixelOf(vertical, 199, 99)));

  // Every draw stays inside 0..0xFFFFFE.
  std::srand(1);
  for (int i = 0; i < 10000; ++i) EXPECT_LE(DrawAboutColour(), 0xFFFFFEu);
}

TEST_F(AboutBoxes, EveryPaintDrawsTheNextColourOfTheGenerator) {
  TForm1& f = Open();
  AboutBox box(&f, AboutText("/opt/yuragimaru"), ProgramIcon(), [&f](QWidget* d, QPainter& p) { f.PaintAboutBackground(d, p); });
  box.adjustSize();
  // Find a seed whose next two colours differ in both colour and direction,
  // then paint twice: each paint must show the next colour by the rule.
  unsigned seed = 1;
  quint32 first = 0, second = 0;
  for (;; ++seed) {
    std::srand(seed);
    first = DrawAboutColour();
    second = DrawAboutColour();
    if (first % 2 != second % 2) break;
  }
  std::srand(seed);
  const QImage one = box.grab().toImage();
  const QImage two = box.grab().toImage();
  const QSize size = box.size();
  ASSERT_EQ(one.size(), size);
  for (auto [image, colour] : {std::pair{one, first}, std::pair{two, second}}) {
    const QImage expected = GradientImage(colour, size);
    for (QPoint corner : {QPoint(1, 1), QPoint(size.width() - 2, 1), QPoint(1, size.height() - 2),
                          QPoint(size.width() - 2, size.height() - 2)}) {
      EXPECT_TRUE(Near(image.pixelColor(corner), expected.pixelColor(corner)))
          << std::hex << colour << " at " << corner.x() << "," << corner.y();
    }
  }
  EXPECT_NE(one.pixelColor(size.width() - 2, size.height() - 2), two.pixelColor(size.width() - 2, size.height() - 2));

  // A paint of a part keeps the gradient that shows and draws no colour.
  QPixmap part(size);
  part.fill(Qt::black);
  const QPoint corner(size.width() - 2, size.height() - 2);
  box.render(&part, corner - QPoint(6, 6), QRegion(size.width() - 8, size.height() - 8, 8, 8));
  EXPECT_TRUE(Near(part.toImage().pixelColor(corner), GradientImage(second, size).pixelColor(corner)));
  const quint32 third = DrawAboutColour();
  std::srand(seed);
  DrawAboutColour();
  DrawAboutColour();
  EXPECT_EQ(third, DrawAboutColour());
}

TEST_F(AboutBoxes, HomePageOpensInTheBrowserAfterTheBoxIsGone) {
  TForm1& f = Open();
  const int before = desktop.Received().size();
  WhenBoxIsUp([](AboutBox* box) { QTest::keyClick(box, Qt::Key_H, Qt::AltModifier); });
  f.About1->trigger();
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  ASSERT_TRUE(WaitFor([&] { return desktop.Received().size() > before; }));
  EXPECT_EQ(desktop.Received().last(), HomePageUrl);
  EXPECT_TRUE(prompts.shown.empty());

  f.Site1->trigger();
  ASSERT_TRUE(WaitFor([&] { return desktop.Received().size() > before + 1; }));
  EXPECT_EQ(desktop.Received().last(), HomePageUrl);
  EXPECT_EQ(desktop.Received().size(), before + 2);
}

TEST_F(HelpMenu, F1OpensTheManualBesideTheProgramAndAMissingOneIsReported) {
  TForm1& f = Open();
  const QString beside = QFile::decodeName(HelpFileBeside(ExecutablePath()));
  QFile::remove(beside);
  f.H1->trigger();
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].kind, "error");
  EXPECT_TRUE(prompts.shown[0].text.contains(beside)) << prompts.shown[0].text.toStdString();

  // The built manual, placed beside this program under its name.
  const RemoveAtEnd cleanup{beside};
  ASSERT_TRUE(QFile::copy(YURAGI_BIN ".html", beside));
  const int before = desktop.Received().size();
  prompts.shown.clear();
  QTest::keyClick(&f, Qt::Key_F1);
  ASSERT_TRUE(WaitFor([&] { return desktop.Received().size() > before; }));
  // GIO hands a local file to the browser as its URI or as its path.
  const QString received = desktop.Received().last();
  EXPECT_TRUE(received == beside || QUrl(received) == QUrl::fromLocalFile(beside)) << received.toStdString();
  EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(AboutBoxes, ARenamedProgramShowsAndLooksForItsNewName) {
  if (const char* out = getenv("ABOUT_CHILD_OUT")) {
    // The renamed copy: report what the box and the help command see.
    TForm1& f = Open();
    QString line2;
    WhenBoxIsUp([&](AboutBox* box) {
      line2 = box->TextLabel->text().split('\n').value(1);
      box->OkButton->click();
    });
    f.ShowAboutBox();
    QFile file(QFile::decodeName(out));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(line2.toUtf8() + "\n" + FindHelpFile(ExecutablePath()));
    return;
  }
  const QString renamed = Path("改名した 丸");
  ASSERT_TRUE(QFile::copy(QCoreApplication::applicationFilePath(), renamed));
  QFile::setPermissions(renamed, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  ASSERT_TRUE(QFile::copy(YURAGI_BIN ".html", renamed + ".html"));
  QProcess child;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("ABOUT_CHILD_OUT", Path("child.txt"));
  environment.insert("QT_QPA_PLATFORM", "offscreen");
  child.setProcessEnvironment(environment);
  child.start(renamed, {"--gtest_filter=AboutBoxes.ARenamedProgramShowsAndLooksForItsNewName"});
  ASSERT_TRUE(child.waitForFinished(120000));
  EXPECT_EQ(child.exitCode(), 0) << child.readAll().toStdString();
  QFile report(Path("child.txt"));
  ASSERT_TRUE(report.open(QIODevice::ReadOnly));
  EXPECT_EQ(QString::fromUtf8(report.readAll()), renamed + "\n" + renamed + ".html");
}
