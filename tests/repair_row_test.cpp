#include <QAction>
#include <QDir>
#include <QLabel>
#include <QMenu>

#include "detect/detection_list_view.h"
#include "detect/detection_model.h"
#include "jpeg_writer.h"
#include "formats/jpeg_decoder.h"
#include "widgets/folder_tree.h"
#include "window_fixture.h"

using namespace yuragi;
using namespace yuragi::testing;

namespace {

class RepairRow : public WindowTest {
 protected:
  QString Cut(const QString& relative, uint32_t seed) {
    const QString path = Path(relative);
    QDir().mkpath(QFileInfo(path).path());
    const std::vector<uint8_t> bytes = EncodeJpeg({160, 120, JpegKind::Baseline, 85, seed});
    WriteFile(path.toStdString(), Truncated(bytes, bytes.size() / 2));
    return path;
  }
  void Detect(TForm1& f) {
    ASSERT_TRUE(f.FolderTree->SetPath(QFile::encodeName(dir.path())));
    f.StartDetection();
  }
};

TEST_F(RepairRow, AskedFirstThenClosesTheFileAndDropsTheRow) {
  const QString path = Cut("site.example/a.jpg", 1);
  const std::vector<uint8_t> cut = ReadFile(path.toStdString());
  const std::optional<RgbImage> before = DecodeJpegFile(path.toStdString());
  ASSERT_TRUE(before);
  TForm1& f = Open();
  Detect(f);
  ASSERT_EQ(f.ListModel->rowCount(), 1);
  EXPECT_TRUE(f.RepairP1->isVisible());
  f.PopupMenu1Popup();
  EXPECT_FALSE(f.RepairP1->isEnabled());  // nothing selected
  f.ListView1->SelectRow(0);
  f.PopupMenu1Popup();
  EXPECT_TRUE(f.RepairP1->isEnabled());

  prompts.answers = {false};
  f.RepairP1->trigger();
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].kind, "question");
  EXPECT_TRUE(prompts.shown[0].text.startsWith(path + "\n"));
  EXPECT_EQ(f.ListModel->rowCount(), 1);
  EXPECT_TRUE(ReadFile(path.toStdString()) == cut);

  prompts.answers = {true};
  f.RepairP1->trigger();
  EXPECT_EQ(f.ListModel->rowCount(), 0);
  EXPECT_EQ(f.StatusPanel1->text(), "a.jpg を補修しました。");
  const std::vector<uint8_t> closed = ReadFile(path.toStdString());
  ASSERT_EQ(closed.size(), cut.size() + 2);
  EXPECT_TRUE(std::equal(cut.begin(), cut.end(), closed.begin()));
  const std::optional<RgbImage> after = DecodeJpegFile(path.toStdString());
  ASSERT_TRUE(after);
  EXPECT_TRUE(after->pixels == before->pixels);

  // A new run no longer lists it.
  Detect(f);
  EXPECT_EQ(f.ListModel->rowCount(), 0);
}

TEST_F(RepairRow, AFileThatCannotBeClosedIsReportedAndKeepsItsRow) {
  const QString path = Cut("site.example/b.jpg", 2);
  TForm1& f = Open();
  Detect(f);
  ASSERT_EQ(f.ListModel->rowCount(), 1);
  QFile::remove(path);
  f.ListView1->SelectRow(0);
  prompts.answers = {true};
  f.RepairP1Click();
  ASSERT_EQ(prompts.shown.size(), 2u);
  EXPECT_EQ(prompts.shown[1].kind, "error");
  EXPECT_TRUE(prompts.shown[1].text.startsWith(path + "\nを補修できませんでした。"));
  EXPECT_EQ(f.ListModel->rowCount(), 1);
}

}  // namespace
