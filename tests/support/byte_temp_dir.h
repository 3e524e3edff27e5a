#pragma once

#include <stdlib.h>

#include <QByteArray>
#include <QFile>
#include <QString>
#include <filesystem>
#include <string>

namespace yuragi::testing {

// A temporary folder that can hold names that are not UTF-8: Qt removes
// folders through decoded names and would leave such entries behind.
class ByteTempDir {
 public:
  ByteTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "yuragi-test-XXXXXX").string();
    if (::mkdtemp(pattern.data())) path_ = QByteArray::fromStdString(pattern);
  }
  ~ByteTempDir() {
    std::error_code ignored;
    if (!path_.isEmpty()) std::filesystem::remove_all(path_.toStdString(), ignored);
  }
  ByteTempDir(const ByteTempDir&) = delete;
  ByteTempDir& operator=(const ByteTempDir&) = delete;

  bool isValid() const { return !path_.isEmpty(); }
  const QByteArray& path() const { return path_; }

 private:
  QByteArray path_;
};

}  // namespace yuragi::testing
