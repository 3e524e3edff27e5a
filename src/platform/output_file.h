#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QString>
#include <memory>
#include <string>

#include "platform/file_identity.h"

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

// Writes all of data to fd, through short writes and signals; false with
// errno set.
bool WriteAll(int fd, const char* data, size_t size);

// Makes the folder and every missing folder above it, by their bytes;
// false with errno set when it is not a folder afterwards.
bool MakeFolders(const std::string& folder, mode_t mode = 0777);

// Writes bytes to a fresh file at path as Create does.
bool WriteNewFile(const QByteArray& path, const QByteArray& bytes, QString* error);

struct SaveOptions {
  // When set, the path must still hold what it held then (see FileIdentity).
  const FileIdentity* expected = nullptr;
  // When set, the old file must still hold exactly these bytes, looked at
  // just before it is replaced (a difference is FileChange::Modified).
  const std::string* expectedBytes = nullptr;
  // Where the complete new bytes wait when the file's own folder takes no
  // new file (a read-only folder holding a writable file).
  std::string spareFolder;
};

enum class SaveEnd {
  Replaced,        // a full copy renamed over the old file
  WrittenInPlace,  // a full copy kept on disk first, then the old file rewritten
  Changed,         // the path no longer holds what was read: nothing written
  Failed,          // nothing written; error holds the system's reason
};

struct SaveResult {
  SaveEnd end = SaveEnd::Failed;
  FileChange change = FileChange::None;
  int errorCode = 0;
  std::string error;
  bool ok() const { return end == SaveEnd::Replaced || end == SaveEnd::WrittenInPlace; }
};

// Saves bytes over the file at path (a new file when there is none), so
// that the file keeps what it had: mode, owner and group, extended
// attributes, its hard links. A link is kept and the file it points to is
// saved over; a link to nothing is refused. The new bytes are complete on
// disk before the old ones are touched; on failure the old file stays.
SaveResult SaveOverFile(const std::string& path, const char* data, size_t size, const SaveOptions& options = {});

// The same for the entry name in the open folder folderFd, which is never
// left: a link at name is refused (FileChange::BecameLink) rather than
// followed. options.expected, when set, is compared with what name holds.
SaveResult SaveOverFileAt(int folderFd, const std::string& name, const char* data, size_t size,
                          const SaveOptions& options = {});

// The name a save's temporary file gets next to the file name: the name
// itself with a marker and six random characters (a long name is cut and
// a hash of it added, to stay within NAME_MAX).
std::string SaveTempStem(const std::string& name);

// SaveOverFile without an identity check, for callers with a text path.
bool ReplaceFileAtomically(const QByteArray& path, const QByteArray& bytes, QString* error);
// The same for a native path and raw bytes.
bool ReplaceFileAtomically(const std::string& nativePath, const char* data, size_t size, std::string* error);

}  // namespace yuragi
