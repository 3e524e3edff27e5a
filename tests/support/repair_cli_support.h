#pragma once

// Running yuragimaru-repair (REPAIR_BIN) from a test and reading its report.
#include <dirent.h>
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace yuragi::testing {

using Bytes = std::vector<uint8_t>;

struct Result {
  int code = -1;
  QString out;
  QString err;
  std::map<std::string, QJsonObject> byUrl;  // --json lines, keyed by URL
};

inline QJsonObject ParseLine(const QString& line) {
  QJsonParseError error;
  const QJsonObject object = QJsonDocument::fromJson(line.toUtf8(), &error).object();
  EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
  return object;
}

inline Result Collect(QProcess& process) {
  Result r;
  r.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  r.out = QString::fromUtf8(process.readAllStandardOutput());
  r.err = QString::fromUtf8(process.readAllStandardError());
  for (const QString& line : r.out.split('\n', Qt::SkipEmptyParts)) {
    if (!line.startsWith('{')) continue;
    const QJsonObject object = ParseLine(line);
    r.byUrl[object["url"].toString().toStdString()] = object;
  }
  return r;
}

inline Result RunRepair(const QStringList& arguments, const QString& workingFolder = QString()) {
  QProcess process;
  if (!workingFolder.isEmpty()) process.setWorkingDirectory(workingFolder);
  process.start(QStringLiteral(REPAIR_BIN), arguments);
  EXPECT_TRUE(process.waitForFinished(120000));
  return Collect(process);
}

inline int EntriesIn(const std::string& folder) {
  int count = 0;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) count += entry->d_name[0] != '.' || entry->d_name[1] > '.';
    ::closedir(dir);
  }
  return count;
}

// Waits until the process has written text to standard error.
inline bool WaitForError(QProcess& process, const QString& text, QString& seen) {
  process.setReadChannel(QProcess::StandardError);
  while (!seen.contains(text)) {
    if (!process.waitForReadyRead(60000)) return false;
    seen += QString::fromUtf8(process.readAllStandardError());
  }
  return true;
}

inline std::string Str(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Handlers that hold every request until the test lets them go, counting
// how many run at once.
class Gate {
 public:
  void Enter() {
    std::unique_lock lock(mutex_);
    ++arrived_;
    ++inside_;
    most_ = std::max(most_, inside_);
    changed_.notify_all();
    changed_.wait_for(lock, std::chrono::seconds(60), [this] { return open_; });
  }
  void Leave() {
    std::lock_guard lock(mutex_);
    --inside_;
  }
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  bool WaitFor(int inside) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(60), [&] { return inside_ >= inside; });
  }
  int Most() {
    std::lock_guard lock(mutex_);
    return most_;
  }
  int Arrived() {
    std::lock_guard lock(mutex_);
    return arrived_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int arrived_ = 0;
  int inside_ = 0;
  int most_ = 0;
  bool open_ = false;
};

}  // namespace yuragi::testing
