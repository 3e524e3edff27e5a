#pragma once

#include <memory>
#include <string>
#include <unordered_map>

#include "refetch/httrack_lines.h"

namespace yuragi {

// A folder HTTrack mirrored into (it holds hts-cache/) and what its cache
// says, keyed by the local path below the folder ("127.0.0.1_8080/img/a.jpg").
struct HttrackMirror {
  std::string folder;
  std::unordered_map<std::string, HttrackRecord> records;
  std::string note;  // why the cache could not be read, or read only in part
};

// new.zip where it exists, else new.txt. Reads only the central directory
// and each entry's local header, never the stored data; stops at a bound of
// entries and of memory and says so in the note.
HttrackMirror ReadHttrackMirror(const std::string& folder);

// Finds and reads each mirror once, however many files ask.
class HttrackCaches {
 public:
  HttrackCaches();
  ~HttrackCaches();
  HttrackCaches(const HttrackCaches&) = delete;
  HttrackCaches& operator=(const HttrackCaches&) = delete;

  // The nearest folder at or above folder (an absolute path) that holds
  // hts-cache/, read; null when there is none.
  const HttrackMirror* MirrorOf(const std::string& folder);

 private:
  std::unordered_map<std::string, std::string> mirrorOfFolder_;  // "" for none
  std::unordered_map<std::string, std::unique_ptr<HttrackMirror>> mirrors_;
};

}  // namespace yuragi
