#pragma once

#include <memory>
#include <string>
#include <unordered_map>

#include "refetch/httrack_lines.h"

namespace yuragi {

// A folder HTTrack mirrored into (it holds hts-cache/) and what its cache
// says, keyed by the local path below the folder ("127.0.0.1_8080/img/a.jpg").
// new.zip where it exists, else new.txt. Of new.zip only the central
// directory and the local headers are read, never the stored data, and a
// local header only when it is asked for, while the entry's name says where
// HTTrack would have saved it; the whole cache is read once a name does not
// tell. Bounds of entries and memory hold; the note says what was skipped.
class HttrackMirror {
 public:
  explicit HttrackMirror(std::string folder);
  ~HttrackMirror();
  HttrackMirror(const HttrackMirror&) = delete;
  HttrackMirror& operator=(const HttrackMirror&) = delete;

  const std::string& Folder() const { return folder_; }
  // Why the cache could not be read, or read only in part; empty if it could.
  const std::string& Note() const { return note_; }

  // The record of the file at local (a path below the folder), or null.
  const HttrackRecord* Find(const std::string& local);
  // Every record.
  const std::unordered_map<std::string, HttrackRecord>& All();

 private:
  class Zip;
  void ReadAll();

  std::string folder_;
  std::string note_;
  std::unique_ptr<Zip> zip_;
  bool complete_ = false;
  std::unordered_map<std::string, HttrackRecord> records_;
};

// Finds and reads each mirror once, however many files ask.
class HttrackCaches {
 public:
  HttrackCaches();
  ~HttrackCaches();
  HttrackCaches(const HttrackCaches&) = delete;
  HttrackCaches& operator=(const HttrackCaches&) = delete;

  // The nearest folder at or above folder (an absolute path) that holds
  // hts-cache/; null when there is none.
  HttrackMirror* MirrorOf(const std::string& folder);

 private:
  std::unordered_map<std::string, std::string> mirrorOfFolder_;  // "" for none
  std::unordered_map<std::string, std::unique_ptr<HttrackMirror>> mirrors_;
};

}  // namespace yuragi
