#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace yuragi {

// One name on the way from the walked folder down to a cut file, as it was
// when the file was read.
struct PathStep {
  std::string name;
  bool isLink = false;   // the walk went through a link here
  std::string linkText;  // what it said then
  uint64_t device = 0;   // what the step led to
  uint64_t inode = 0;
};

// How a cut file was reached and what it was when it was read, so that its
// replacement goes to that very file or nowhere.
struct CutFilePlace {
  std::string path;  // as the walk named it
  std::string root;  // the walked folder
  uint64_t rootDevice = 0;
  uint64_t rootInode = 0;
  std::vector<PathStep> steps;  // the folders below root, then the file
  uint64_t size = 0;
  struct timespec modified {};
};

// The whole of a regular file (never a pipe or device); false with errno set.
bool ReadLocalFile(const std::string& path, std::string& bytes);

// Reads the cut file at path below root one name at a time from root,
// noting in place every link met and what each name led to. False with
// the reason in *error.
bool ReadCutFile(const std::string& root, const std::string& path, std::string& bytes, CutFilePlace& place,
                 std::string* error);

// Replaces the cut file read as place (whose bytes were old) through the
// atomic save, after walking down to it again from root: every name must
// lead where it led (no link where there was none, none retargeted) and
// the file must still hold old. Otherwise nothing is written and *error
// starts with "the file changed on disk meanwhile". The file then takes
// the time modified (the server's Last-Modified) when that is not in the
// future and the file system keeps it, else its old time, and a note in
// *error says which. True once the new bytes are in place.
bool ReplaceCutFile(const CutFilePlace& place, const std::string& old, std::string_view bytes,
                    std::optional<std::time_t> modified, std::string* error);

// Keeps a copy of the cut file under backupDir at its path relative to the
// folder above root, that is below the name of root (".1", ".2", ...
// appended when that name is taken), with its time. A path that would
// leave backupDir is refused.
bool BackupCutFile(const std::string& path, const std::string& root, const std::string& backupDir,
                   const std::string& bytes, const struct timespec& modified, std::string* error);

// Appends the end marker to a cut file that decodes, after checking that
// the closed picture shows the same pixels; the file keeps its time.
bool CloseCutFile(const std::string& path, std::string* error);

}  // namespace yuragi
