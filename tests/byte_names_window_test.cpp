// A mirror whose folder and file names are Shift-JIS bytes, taken through
// the whole window: tree, detection, target, download and save.
#include <sys/stat.h>

#include <QDropEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <filesystem>

#include "byte_temp_dir.h"
#include "detect/detection_list_view.h"
#include "detect/detection_model.h"
#include "jpeg_writer.h"
#include "platform/paths.h"
#include "test_server.h"
#include "widgets/folder_tree.h"
#include "widgets/image_view.h"
#include "window_fixture.h"

using namespace yuragi;
using namespace yuragi::testing;

namespace {

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string Content(const QByteArray& path) {
  const std::vector<uint8_t> bytes = ReadFile(path.toStdString());
  return Text(bytes);
}

// The entries of a folder, by their bytes.
std::vector<std::string> Entries(const QByteArray& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder.toStdString())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class ByteNames : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    ASSERT_TRUE(root.isValid());
    fresh = EncodeJpeg({320, 240, JpegKind::Baseline, 90, 7});
    old = Truncated(fresh, fresh.size() / 2);
    server->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
      requested = request.path;
      if (request.path == std::string("/") + kFolder + "/" + kFile || request.path.find(kFolder) == std::string::npos) {
        response.set_content(Text(fresh), "image/jpeg");
      } else {
        response.status = 404;
      }
    });
    server.Start();
    site = root.path() + "/127.0.0.1:" + QByteArray::number(server.Port());
    folder = site + "/" + kFolder;
    file = folder + "/" + kFile;
    ASSERT_TRUE(std::filesystem::create_directories(folder.toStdString()));
    WriteFile(file.toStdString(), old);
  }
  void TearDown() override { server.release = true; }

  static constexpr const char* kFolder = "\x83\x65\x83\x58";            // テス
  static constexpr const char* kFile = "\x83\x65\x83\x58\x83\x67.jpg";  // テスト.jpg
  ByteTempDir root;
  TestServer server;
  std::vector<uint8_t> fresh, old;
  QByteArray site, folder, file;
  std::string requested;
};

}  // namespace

TEST_F(ByteNames, AShiftJisMirrorIsListedFetchedAndRepairedInPlace) {
  TForm1& f = Open();

  // The tree shows the folder under its parent and enters it.
  ASSERT_TRUE(f.FolderTree->SetPath(site));
  const QModelIndex parent = f.FolderTree->currentIndex();
  f.FolderTree->expand(parent);
  QStringList shown;
  for (int row = 0; row < f.FolderTree->model()->rowCount(parent); ++row) {
    shown << f.FolderTree->model()->index(row, 0, parent).data().toString();
  }
  EXPECT_EQ(shown, QStringList{"\\x83e\\x83X"});
  ASSERT_TRUE(f.FolderTree->SetPath(folder));
  EXPECT_EQ(f.FolderTree->SelectedPath(), folder);

  // Walked and listed with its real size.
  f.StartDetection();
  ASSERT_EQ(f.ListModel->rowCount(), 1);
  const DetectionModel::Row& row = f.ListModel->At(0);
  EXPECT_EQ(row.path, file);
  EXPECT_EQ(row.caption, DisplayPath(file));
  EXPECT_EQ(row.sizeText.trimmed().remove(',').toULongLong(), old.size());

  // The target carries the bytes; the URL the site's escapes.
  f.ListView1->SelectRow(0);
  f.ListView1DblClick();
  EXPECT_EQ(TargetPath, file);
  EXPECT_EQ(f.Edit1->text(), DisplayPath(file));
  EXPECT_EQ(f.Edit2->text(), QStringLiteral("http://127.0.0.1:%1/%83e%83X/%83e%83X%83g.jpg").arg(server.Port()));
  EXPECT_FALSE(f.Image1->isHidden());
  EXPECT_EQ(f.GroupBox4->title(), QLocale().toString(qlonglong(old.size())) + "バイト");

  // Fetched from the server by its original bytes.
  f.ReGetBtnClick();
  EXPECT_EQ(requested, std::string("/") + kFolder + "/" + kFile);
  ASSERT_TRUE(f.SaveBtn->isEnabled()) << f.StatusPanel1->text().toStdString();
  EXPECT_TRUE(prompts.shown.empty());

  // Saved over that very file: nothing new appears beside it.
  const std::vector<std::string> before = Entries(folder);
  prompts.answers = {true};
  f.SaveBtnClick();
  EXPECT_EQ(Content(file), Text(fresh));
  EXPECT_EQ(Entries(folder), before);
  EXPECT_EQ(Entries(site), std::vector<std::string>{kFolder});
  EXPECT_EQ(f.StatusPanel1->text(), "\\x83e\\x83X\\x83g.jpg を更新しました。");
}

TEST_F(ByteNames, CommandLineDropAndTypedPathsKeepTheirBytes) {
  // argv holds the bytes themselves.
  TForm1& f = Open();
  form.reset();
  form = std::make_unique<TForm1>(prompts, QList<QByteArray>{file});
  Settle();
  EXPECT_EQ(TargetPath, file);
  EXPECT_EQ(form->GroupBox4->title(), QLocale().toString(qlonglong(old.size())) + "バイト");
  EXPECT_TRUE(form->Edit2->text().endsWith("/%83e%83X/%83e%83X%83g.jpg"));
  (void)f;

  // A drop gives the first file's bytes, from the escapes of its URL.
  form->ClearBtnClick();
  TargetPath.clear();
  QMimeData mime;
  mime.setUrls({QUrl::fromEncoded("file://" + file.toPercentEncoding("/")),
                QUrl::fromEncoded("file://" + site.toPercentEncoding("/"))});
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  static_cast<QObject*>(form.get())->event(&drop);
  EXPECT_EQ(TargetPath, file);
  EXPECT_FALSE(form->Image1->isHidden());
  EXPECT_EQ(form->StatusPanel1->text(), "\\x83e\\x83X\\x83g.jpg を受取りました。");

  // The shown text, typed back, reaches the same file; plain UTF-8 too.
  form->ClearBtnClick();
  form->Edit1->setText(DisplayPath(file));
  int key = 13;
  form->Edit1KeyPress(form->Edit1, key);
  EXPECT_EQ(TargetPath, file);
  const QByteArray plain = root.path() + "/写真.jpg";
  WriteFile(plain.toStdString(), old);
  form->Edit1->setText(QString::fromUtf8(plain));
  key = 13;
  form->Edit1KeyPress(form->Edit1, key);
  EXPECT_EQ(TargetPath, plain);
  EXPECT_EQ(form->GroupBox4->title(), QLocale().toString(qlonglong(old.size())) + "バイト");
}

TEST_F(ByteNames, SavingIntoAVanishedFolderRemakesItByItsBytes) {
  TForm1& f = Open();
  f.Edit1->setText(DisplayPath(file));
  int key = 13;
  f.Edit1KeyPress(f.Edit1, key);
  f.ReGetBtnClick();
  ASSERT_TRUE(f.SaveBtn->isEnabled());
  std::filesystem::remove_all(folder.toStdString());
  prompts.answers = {true};
  f.SaveBtnClick();
  EXPECT_EQ(Content(file), Text(fresh));
  EXPECT_EQ(Entries(site), std::vector<std::string>{kFolder});
}

TEST_F(ByteNames, NamesAUrlCannotHoldAsTheyStandAreFetchedByTheWindow) {
  TForm1& f = Open();
  for (const QByteArray& name : {QByteArray("night market.jpg"), QByteArray("a#1.jpg"), QByteArray("100%.jpg"),
                                 QByteArray("写真 2.jpg"), QByteArray("p.jpg?w=1")}) {
    const QByteArray path = site + "/" + name;
    WriteFile(path.toStdString(), old);
    f.SetEdit1Path(path);
    int key = 13;
    f.Edit1KeyPress(f.Edit1, key);
    // The box keeps the readable text; the request is what goes out.
    EXPECT_EQ(f.Edit2->text(), QStringLiteral("http://127.0.0.1:%1/").arg(server.Port()) + QString::fromUtf8(name));
    f.ReGetBtnClick();
    const QByteArray expected = '/' + name.split('?').first();
    EXPECT_EQ(requested, expected.toStdString()) << name.toStdString();
    EXPECT_TRUE(prompts.shown.empty()) << name.toStdString();
    prompts.shown.clear();
  }
}
