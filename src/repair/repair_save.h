#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace yuragi {

// Size and modification time of a file as it was read, so a file changed
// on disk in the meantime is never overwritten.
struct FileStamp {
  uint64_t size = 0;
  struct timespec modified {};
};
std::optional<FileStamp> StampOf(const std::string& path);

// The whole of a regular file (never a pipe or device); false with errno set.
bool ReadLocalFile(const std::string& path, std::string& bytes);

// Replaces the cut file through the atomic save, then gives it the time
// modified (the server's Last-Modified) or else the old file's time. True
// once the new bytes are in place; a time that could not be set is then
// noted in *error.
bool ReplaceCutFile(const std::string& path, const FileStamp& expected, const std::string& bytes,
                    std::optional<std::time_t> modified, std::string* error);

// Keeps a copy of the cut file under backupDir, at its place below root
// (".1", ".2", ... appended when that name is taken), with its time.
bool BackupCutFile(const std::string& path, const std::string& root, const std::string& backupDir,
                   const std::string& bytes, const FileStamp& stamp, std::string* error);

// Appends the end marker to a cut file that decodes, after checking that
// the closed picture shows the same pixels; the file keeps its time.
bool CloseCutFile(const std::string& path, std::string* error);

}  // namespace yuragi
