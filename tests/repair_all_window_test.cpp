// 一覧をすべて修復 in the window, against a real server on 127.0.0.1.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <atomic>
#include <map>
#include <mutex>

#include "app/repair_all_run.h"
#include "archive_server.h"
#include "detect/detection_list_view.h"
#include "detect/detection_model.h"
#include "jpeg_writer.h"
#include "formats/ini_file.h"
#include "test_server.h"
#include "widgets/folder_tree.h"
#include "widgets/repair_progress_dialog.h"
#include "widgets/repair_results_dialog.h"
#include "window_fixture.h"

using namespace yuragi;
using namespace yuragi::testing;

namespace {

using Bytes = std::vector<uint8_t>;

class RepairAll : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    ASSERT_FALSE(dir.path().contains('.')) << "the URL rule takes the first folder with a dot as the host";
    server->Get(R"(/pics/.*)", [this](const httplib::Request& request, httplib::Response& response) {
      ++requests;
      const auto found = originals.find(request.path);
      if (found == originals.end()) {
        response.status = 404;
        return;
      }
      response.set_content(std::string(found->second.begin(), found->second.end()), "image/jpeg");
    });
    // Half the picture at once, the rest when the test opens the gate.
    server->Get(R"(/held/.*)", [this](const httplib::Request& request, httplib::Response& response) {
      const Bytes body = originals.at(request.path);
      ++arrived;
      response.set_chunked_content_provider("image/jpeg", [this, body](size_t offset, httplib::DataSink& sink) {
        if (offset == 0) return sink.write(reinterpret_cast<const char*>(body.data()), body.size() / 2);
        for (int i = 0; i < 3000 && !gate && !server.release; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        sink.write(reinterpret_cast<const char*>(body.data()) + offset, body.size() - offset);
        sink.done();
        return true;
      });
    });
    // A trickle: 128 bytes every 40 ms.
    server->Get(R"(/slow/.*)", [this](const httplib::Request& request, httplib::Response& response) {
      const Bytes body = originals.at(request.path);
      ++arrived;
      response.set_chunked_content_provider("image/jpeg", [this, body](size_t offset, httplib::DataSink& sink) {
        if (offset >= body.size() || server.release) {
          sink.done();
          return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        return sink.write(reinterpret_cast<const char*>(body.data()) + offset, std::min<size_t>(128, body.size() - offset));
      });
    });
    server.Start();
    root = Path("mirror");
    host = root + "/127.0.0.1:" + QString::number(server.Port());
  }

  // A picture cut in half at its place in the mirror; the server has it whole.
  QString Place(const QString& urlPath, uint32_t seed, int width = 96) {
    const Bytes whole = EncodeJpeg({width, width * 3 / 4, JpegKind::Baseline, 85, seed});
    originals[urlPath.toStdString()] = whole;
    const QString path = host + urlPath;
    QDir().mkpath(QFileInfo(path).path());
    WriteFile(path.toStdString(), Truncated(whole, whole.size() / 2));
    return path;
  }

  std::map<QString, Bytes> Snapshot() const {
    std::map<QString, Bytes> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
      const QString path = it.next();
      files[path] = ReadFile(path.toStdString());
    }
    return files;
  }

  void Settings(int jobs, int perHost) {
    IniFile ini;
    ini.WriteInteger("REPAIR", "Jobs", jobs);
    ini.WriteInteger("REPAIR", "PerHost", perHost);
    QString error;
    ASSERT_TRUE(ini.Save(SettingsFile, &error)) << error.toStdString();
  }

  TForm1& Listed() {
    TForm1& f = Open();
    EXPECT_TRUE(f.FolderTree->SetPath(QFile::encodeName(root)));
    f.StartDetection();
    return f;
  }

  // Each file's outcome as the result list shows it.
  std::map<QString, QString> Outcomes(TForm1& f) {
    std::map<QString, QString> shown;
    RepairResultsDialog* results = f.RepairResults();
    if (!results) return shown;
    for (int row = 0; row < results->Table()->rowCount(); ++row) {
      shown[results->Table()->item(row, 0)->text()] = results->Table()->item(row, 1)->text();
    }
    return shown;
  }

  // As a user does: the menu opens, which brings its items up to date.
  static void Command(TForm1& f) {
    emit f.File1->aboutToShow();
    f.RepairAll1->trigger();
  }

  bool Ended(TForm1& f) { return WaitFor([&] { return !f.RepairAllRunning(); }); }

  TestServer server;
  QString root;
  QString host;
  std::map<std::string, Bytes> originals;
  std::atomic<int> requests{0};
  std::atomic<int> arrived{0};
  std::atomic<bool> gate{false};
};

TEST_F(RepairAll, RepairsTheListedTreeAndLeavesTheRestAlone) {
  const QString a = Place("/pics/a.jpg", 1);
  const QString b = Place("/pics/sub/b.jpg", 2, 400);  // over 4 KB: its tail comes by Range
  const QString missing = Place("/pics/gone.jpg", 3);
  originals.erase("/pics/gone.jpg");
  const QString changed = Place("/pics/changed.jpg", 4);
  originals["/pics/changed.jpg"] = EncodeJpeg({96, 72, JpegKind::Baseline, 85, 99});
  const QString later = Place("/pics/later.jpg", 5);
  const QString refused = root + "/127.0.0.1:" + QString::number(RefusedPort()) + "/pics/r.jpg";
  QDir().mkpath(QFileInfo(refused).path());
  WriteFile(refused.toStdString(), Truncated(EncodeJpeg({96, 72}), 1000));
  WriteFile((host + "/pics/whole.jpg").toStdString(), EncodeJpeg({64, 48}));
  WriteFile((host + "/pics/notes.txt").toStdString(), std::string("not a picture"));
  // Complete, zero bytes after its end marker: listed, never fetched.
  const QString padded = host + "/pics/padded.jpg";
  Bytes zeros = EncodeJpeg({96, 72, JpegKind::Baseline, 85, 6});
  zeros.resize(zeros.size() + 64, 0);
  originals["/pics/padded.jpg"] = zeros;
  WriteFile(padded.toStdString(), zeros);
  TForm1& f = Listed();
  ASSERT_EQ(f.ListModel->rowCount(), 7);
  // Saved whole by other means after the list was made: not fetched.
  WriteFile(later.toStdString(), originals["/pics/later.jpg"]);
  const std::map<QString, Bytes> before = Snapshot();

  emit f.File1->aboutToShow();
  EXPECT_TRUE(f.RepairAll1->isEnabled());
  EXPECT_TRUE(f.File1->actions().contains(f.RepairAll1));
  EXPECT_TRUE(f.PopupMenu1->actions().contains(f.RepairAllP1));
  f.ListView1->SelectRow(0);
  prompts.choices = {1};  // the whole list
  emit f.PopupMenu1->aboutToShow();
  f.RepairAllP1->trigger();
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].kind, "choice");
  ASSERT_TRUE(f.RepairAllRunning());
  emit f.PopupMenu1->aboutToShow();
  EXPECT_FALSE(f.RepairAllP1->isEnabled());
  // No detection run during a repair.
  f.StartDetection();
  EXPECT_EQ(f.ListModel->rowCount(), 7);
  ASSERT_TRUE(Ended(f));

  const std::map<QString, QString> outcomes = Outcomes(f);
  EXPECT_EQ(outcomes, (std::map<QString, QString>{{a, "修復しました"},
                                                  {b, "修復しました"},
                                                  {missing, "見つかりません (404)"},
                                                  {changed, "変更されています"},
                                                  {later, "完全な画像です"},
                                                  {padded, "完全な画像です"},
                                                  {refused, "接続できません"}}));
  EXPECT_EQ(requests.load(), 4);
  EXPECT_EQ(f.StatusPanel1->text(), "7 件中 2 件を修復しました");
  QStringList left;
  for (int row = 0; row < f.ListModel->rowCount(); ++row) left << QString::fromUtf8(f.ListModel->At(row).path);
  left.sort();
  QStringList kept{changed, missing, later, refused, padded};
  kept.sort();
  EXPECT_EQ(left, kept);
  emit f.File1->aboutToShow();
  EXPECT_TRUE(f.RepairAll1->isEnabled());

  // The two repaired files are whole; nothing else in the tree changed, and
  // no file came or went.
  std::map<QString, Bytes> expected = before;
  expected[a] = originals["/pics/a.jpg"];
  expected[b] = originals["/pics/sub/b.jpg"];
  EXPECT_TRUE(Snapshot() == expected);

  RepairResultsDialog* results = f.RepairResults();
  ASSERT_TRUE(results);
  results->CopyButton()->click();
  const QString copied = QApplication::clipboard()->text();
  EXPECT_TRUE(copied.startsWith("ファイル\t結果\tURL\t詳細\n"));
  EXPECT_TRUE(copied.contains(missing + "\t見つかりません (404)\t" + QString::fromStdString(server.Url("/pics/gone.jpg"))));
  const QString report = Path("report.tsv");
  prompts.files = {report};
  results->SaveButton()->click();
  QFile saved(report);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  QStringList words;
  for (const QString& line : QString::fromUtf8(saved.readAll()).split('\n', Qt::SkipEmptyParts)) {
    const QStringList fields = line.split('\t');
    ASSERT_EQ(fields.size(), 5) << line.toStdString();
    words << QFileInfo(fields[0]).fileName() + ":" + fields[2];
  }
  words.sort();
  EXPECT_EQ(words, (QStringList{"a.jpg:repaired", "b.jpg:repaired", "changed.jpg:changed", "gone.jpg:http-error",
                                "later.jpg:complete", "padded.jpg:complete", "r.jpg:transfer-failed"}));
}

TEST_F(RepairAll, WithARowSelectedAsksWhetherTheSelectionOrTheWholeList) {
  Place("/pics/a.jpg", 1);
  Place("/pics/b.jpg", 2);
  TForm1& f = Listed();
  ASSERT_EQ(f.ListModel->rowCount(), 2);
  f.ListView1->SelectRow(1);
  const QByteArray chosen = f.ListModel->At(1).path;
  prompts.choices = {-1};
  Command(f);
  EXPECT_FALSE(f.RepairAllRunning());
  EXPECT_EQ(requests.load(), 0);
  prompts.choices = {0};
  Command(f);
  ASSERT_TRUE(Ended(f));
  EXPECT_EQ(requests.load(), 1);
  EXPECT_EQ(Outcomes(f), (std::map<QString, QString>{{QString::fromUtf8(chosen), "修復しました"}}));
  EXPECT_EQ(f.StatusPanel1->text(), "1 件中 1 件を修復しました");
  ASSERT_EQ(f.ListModel->rowCount(), 1);
  EXPECT_NE(f.ListModel->At(0).path, chosen);
}

// With the archive option on, files the origin lost are looked for in the
// archive after the transfers, beside the window: only a capture that
// continues the cut file replaces it.
TEST_F(RepairAll, WithTheArchiveOptionTheFilesTheOriginLostComeFromTheArchive) {
  const QString kept = Place("/pics/kept.jpg", 7);
  const QString lost = Place("/pics/lost.jpg", 8);
  const auto text = [](const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); };
  ArchiveServer archive;
  archive.captures[server.Url("/pics/kept.jpg")] = {{"20190101000000", text(originals["/pics/kept.jpg"])}};
  archive.captures[server.Url("/pics/lost.jpg")] = {
      {"20200101000000", text(EncodeJpeg({96, 72, JpegKind::Baseline, 85, 42}))}};
  const Bytes keptWhole = originals["/pics/kept.jpg"];
  const Bytes lostCut = ReadFile(lost.toStdString());
  originals.clear();  // the origin answers 404 to everything
  TForm1& f = Listed();
  ASSERT_EQ(f.ListModel->rowCount(), 2);
  f.UseArchive1->setChecked(true);
  f.ArchivePrefix = QString::fromStdString(archive.Prefix());
  Command(f);
  ASSERT_TRUE(Ended(f));
  EXPECT_EQ(Outcomes(f), (std::map<QString, QString>{{kept, "修復しました"}, {lost, "見つかりません (404)"}}));
  EXPECT_EQ(ReadFile(kept.toStdString()), keptWhole);
  EXPECT_EQ(ReadFile(lost.toStdString()), lostCut);
  EXPECT_EQ(f.StatusPanel1->text(), "2 件中 1 件を修復しました");
}

// 中止 once lets the running transfers end and starts nothing new; twice
// abandons them. Closing the window asks, then does the same; a window
// destroyed mid-run abandons them too. Every file is then old or whole.
TEST_F(RepairAll, StoppingLeavesEveryFileOldOrWhole) {
  enum class How { Stop, Close, Destroy };
  struct Case {
    const char* name;
    How how;
    int presses;
    int repaired;
  };
  for (const Case& c : {Case{"stop once", How::Stop, 1, 2}, Case{"stop twice", How::Stop, 2, 0},
                        Case{"close once", How::Close, 1, 2}, Case{"close twice", How::Close, 2, 0},
                        Case{"window destroyed", How::Destroy, 0, 0}}) {
    SCOPED_TRACE(c.name);
    QDir(root).removeRecursively();
    originals.clear();
    arrived = 0;
    gate = false;
    prompts.shown.clear();
    for (uint32_t i = 0; i < 6; ++i) Place(QStringLiteral("/held/%1.jpg").arg(i), 10 + i);
    Settings(8, 2);
    TForm1& f = Listed();
    ASSERT_EQ(f.ListModel->rowCount(), 6);
    const std::map<QString, Bytes> before = Snapshot();
    Command(f);
    ASSERT_TRUE(f.RepairAllRunning());
    ASSERT_TRUE(WaitFor([&] { return arrived.load() == 2; }));
    RepairProgressDialog* progress = f.RepairRun()->Dialog();
    ASSERT_TRUE(progress && progress->isVisible());
    EXPECT_EQ(progress->CountText(), "0 / 6 件");
    const QString inTransfer = progress->CurrentText();
    EXPECT_EQ(inTransfer.count('\n'), 1);  // two files
    for (int press = 0; press < c.presses; ++press) {
      if (c.how == How::Close) {
        prompts.answers = {true};
        f.close();
      } else {
        progress->StopButton()->click();
      }
    }
    if (c.how == How::Destroy) {
      form.reset();
    } else {
      EXPECT_EQ(f.RepairRun()->StopLevel(), c.presses);
      // After one 中止 the files not started have ended; the two in transfer remain.
      if (c.presses == 1) {
        EXPECT_EQ(progress->CurrentText(), inTransfer);
      }
    }
    if (c.how == How::Close) {
      EXPECT_EQ(prompts.shown.front().kind, "question");
      EXPECT_TRUE(f.isVisible());
    }
    gate = true;
    if (form) {
      ASSERT_TRUE(Ended(f));
    }
    EXPECT_EQ(arrived.load(), 2);  // nothing new started
    int repaired = 0;
    for (const auto& [path, bytes] : Snapshot()) {
      const bool old = bytes == before.at(path);
      const bool whole = bytes == originals.at(("/held/" + QFileInfo(path).fileName()).toStdString());
      EXPECT_TRUE(old || whole) << path.toStdString();
      repaired += whole;
    }
    EXPECT_EQ(repaired, c.repaired);
    EXPECT_EQ(Snapshot().size(), before.size());
    if (c.how == How::Close) {
      EXPECT_TRUE(WaitFor([&] { return !f.isVisible(); }));
    } else if (c.how == How::Stop) {
      EXPECT_EQ(f.StatusPanel1->text(), QStringLiteral("6 件中 %1 件を修復しました").arg(c.repaired));
      EXPECT_EQ(f.ListModel->rowCount(), 6 - c.repaired);
    }
    form.reset();
  }
}

// The window's loop keeps turning while eight transfers run: a timer that
// measures how late it fires.
TEST_F(RepairAll, TheWindowStaysResponsiveWhileEightTransfersRun) {
  for (uint32_t i = 0; i < 8; ++i) Place(QStringLiteral("/slow/%1.jpg").arg(i), 30 + i);
  Settings(8, 8);
  TForm1& f = Listed();
  ASSERT_EQ(f.ListModel->rowCount(), 8);
  QElapsedTimer clock;
  qint64 last = 0;
  qint64 worst = 0;
  int ticks = 0;
  QTimer probe;
  probe.setInterval(10);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    if (arrived.load() == 8) {
      worst = std::max(worst, now - last - 10);
      ++ticks;
    }
    last = now;
  });
  Command(f);
  clock.start();
  probe.start();
  ASSERT_TRUE(Ended(f));
  probe.stop();
  EXPECT_EQ(f.StatusPanel1->text(), "8 件中 8 件を修復しました");
  EXPECT_GT(ticks, 20);
  EXPECT_LT(worst, 100);
}

}  // namespace
