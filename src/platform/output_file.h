#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <string>

namespace yuragi {

// A new file written in blocks. It is created without following links: a
// file or link already at that name is removed first, never written through.
class OutputFile {
 public:
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  static std::unique_ptr<OutputFile> Create(const std::string& path, std::string* error);
  bool Write(const char* data, size_t size);
  bool Close();  // flushes; false when the data did not all reach the file
  const std::string& LastError() const { return error_; }

 private:
  explicit OutputFile(int fd) : fd_(fd) {}
  bool Flush();
  int fd_;
  std::string buffer_;
  std::string error_;
};

// Writes bytes to a fresh file at path as Create does.
bool WriteNewFile(const QString& path, const QByteArray& bytes, QString* error);

// Replaces the file at path with bytes in one rename: the bytes go to a new
// file in the same folder first, which takes the old file's permissions.
// On any failure the old file is left as it was.
bool ReplaceFileAtomically(const QString& path, const QByteArray& bytes, QString* error);
bool ReplaceFileAtomically(const std::string& nativePath, const char* data, size_t size, std::string* error);

}  // namespace yuragi
