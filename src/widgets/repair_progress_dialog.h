#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>
#include <cstdint>

class QLabel;
class QListWidget;
class QPushButton;

namespace yuragi {

// The progress of 一覧をすべて修復: files done of all, bytes received, the
// files in transfer, the time since the start, and 中止.
class RepairProgressDialog : public QDialog {
  Q_OBJECT
 public:
  explicit RepairProgressDialog(QWidget* parent);

  void SetProgress(int64_t done, int64_t total, uint64_t received);
  void SetCurrentFiles(const QStringList& paths);
  // 1: waiting for running transfers, 2: abandoning them.
  void SetStopLevel(int level);

  QPushButton* StopButton() const { return stop_; }
  QString CountText() const;
  QString BytesText() const;
  QString ElapsedText() const;
  QString CurrentText() const;
  QString StateText() const;

 signals:
  // 中止, Esc or the close box.
  void StopPressed();

 protected:
  void reject() override;

 private:
  void Tick();

  QLabel* count_;
  QLabel* bytes_;
  QLabel* elapsed_;
  QLabel* state_;
  QListWidget* current_;
  QPushButton* stop_;
  QElapsedTimer clock_;
  QTimer ticker_;  // the elapsed time moves also while no transfer reports
};

}  // namespace yuragi
