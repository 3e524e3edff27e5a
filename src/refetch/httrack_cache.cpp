#include "refetch/httrack_cache.h"

#include <unzip.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/file_info.h"
#include "refetch/zip_block_reader.h"

namespace yuragi {

namespace {

// Far above any real mirror; what a forged cache can make us hold.
constexpr size_t kMaxEntries = 2'000'000;
constexpr size_t kMaxRecordBytes = size_t(64) << 20;
constexpr size_t kMaxLine = 64 * 1024;

struct UnzipCloser {
  void operator()(void* handle) const { unzClose(handle); }
};
using UnzipHandle = std::unique_ptr<void, UnzipCloser>;

size_t Footprint(const HttrackRecord& record) { return record.url.size() + record.local.size() * 2 + 96; }

using Records = std::unordered_map<std::string, HttrackRecord>;

class Collector {
 public:
  Collector(Records& records, std::string& note) : records_(records), note_(note) {}

  // False once a bound is reached.
  bool Add(std::string local, HttrackRecord record) {
    if (local.empty() || record.url.empty()) return true;
    if (++entries_ > kMaxEntries || (bytes_ += Footprint(record)) > kMaxRecordBytes) {
      note_ = "hts-cache: more entries than are read; the rest was skipped";
      return false;
    }
    records_.insert_or_assign(std::move(local), std::move(record));
    return true;
  }

 private:
  Records& records_;
  std::string& note_;
  size_t entries_ = 0;
  size_t bytes_ = 0;
};

// Where HTTrack saves a URL by default: "http://host:port/p" as "host_port/p".
std::string DefaultLocalPath(std::string_view url) {
  const size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return {};
  std::string local(url.substr(scheme + 3));
  const size_t colon = local.find(':');
  if (colon != std::string::npos && colon < local.find('/')) local[colon] = '_';
  return local;
}

std::string UnzipError(const char* what, int code) { return std::string(what) + " (minizip error " + std::to_string(code) + ")"; }

}  // namespace

// The entry names are URLs; the local header's extra field holds HTTrack's
// header lines, which is not the id-and-length layout of zip's own extra
// fields, so it is taken as the bytes it is.
class HttrackMirror::Zip {
 public:
  explicit Zip(const std::string& path) : path_(path), reader_(path) {}

  // Reads the central directory; false when this is no zip.
  bool Open(std::string& note) {
    if (!reader_.IsOpen()) {
      note = path_ + ": " + std::strerror(reader_.OpenError());
      return false;
    }
    zlib_filefunc64_def functions = reader_.Functions();
    zip_.reset(unzOpen2_64(path_.c_str(), &functions));
    if (!zip_) {
      note = path_ + ": not a zip archive that can be read" + (reader_.Error().empty() ? "" : ": " + reader_.Error());
      return false;
    }
    size_t bytes = 0;
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(zip_.get(), &global) == UNZ_OK) byName_.reserve(size_t(std::min<ZPOS64_T>(global.number_entry, kMaxEntries)));
    int step = unzGoToFirstFile(zip_.get());
    for (; step == UNZ_OK; step = unzGoToNextFile(zip_.get())) {
      const std::optional<std::string_view> url = Name(note);
      if (!url) return true;
      unz64_file_pos position{};
      if (unzGetFilePos64(zip_.get(), &position) != UNZ_OK) continue;
      if (byName_.size() >= kMaxEntries || (bytes += url->size() * 2 + 64) > kMaxRecordBytes) {
        note = "hts-cache: more entries than are read; the rest was skipped";
        return true;
      }
      byName_.insert_or_assign(DefaultLocalPath(*url), position);
    }
    if (step != UNZ_END_OF_LIST_OF_FILE) note = path_ + ": " + UnzipError("broken central directory", step);
    return true;
  }

  // The entry whose name says it was saved at local, if its header agrees.
  std::optional<HttrackRecord> Guess(const std::string& local) {
    const auto found = byName_.find(local);
    if (found == byName_.end()) return std::nullopt;
    unz64_file_pos position = found->second;
    std::string ignored;
    if (unzGoToFilePos64(zip_.get(), &position) != UNZ_OK) return std::nullopt;
    std::optional<HttrackRecord> record = Current(ignored);
    if (!record || record->local != local) return std::nullopt;
    return record;
  }

  void ReadAll(Collector& collector, std::string& note) {
    int step = unzGoToFirstFile(zip_.get());
    for (; step == UNZ_OK; step = unzGoToNextFile(zip_.get())) {
      std::optional<HttrackRecord> record = Current(note);
      if (!record) return;
      std::string local = std::move(record->local);
      if (!collector.Add(std::move(local), std::move(*record))) return;
    }
    if (step != UNZ_END_OF_LIST_OF_FILE) note = path_ + ": " + UnzipError("broken central directory", step);
  }

 private:
  // The current entry's name, valid until the next call.
  std::optional<std::string_view> Name(std::string& note) {
    unz_file_info64 info{};
    const int code = unzGetCurrentFileInfo64(zip_.get(), &info, name_.data(), uLong(name_.size()), nullptr, 0, nullptr, 0);
    if (code != UNZ_OK || info.size_filename >= name_.size()) {
      note = path_ + ": " + UnzipError("broken entry", code);
      return std::nullopt;
    }
    return std::string_view(name_.data(), info.size_filename);
  }

  // The current entry with its header lines; nothing when it is broken.
  std::optional<HttrackRecord> Current(std::string& note) {
    const std::optional<std::string_view> name = Name(note);
    if (!name) return std::nullopt;
    std::string url(*name);
    // Raw: the header is read, nothing is inflated.
    const int code = unzOpenCurrentFile2(zip_.get(), nullptr, nullptr, 1);
    if (code != UNZ_OK) {
      note = path_ + ": " + UnzipError("broken local header", code);
      return std::nullopt;
    }
    const int length = unzGetLocalExtrafield(zip_.get(), extra_.data(), unsigned(extra_.size()));
    unzCloseCurrentFile(zip_.get());
    HttrackRecord record = ParseHttrackHeaders(std::string_view(extra_.data(), size_t(std::max(length, 0))));
    record.url = std::move(url);
    return record;
  }

  std::string path_;
  ZipBlockReader reader_;
  UnzipHandle zip_;
  std::unordered_map<std::string, unz64_file_pos> byName_;
  std::vector<char> name_ = std::vector<char>(65536);
  std::vector<char> extra_ = std::vector<char>(65536);
};

namespace {

bool StartsWith(const std::string& text, const std::string& start) { return text.compare(0, start.size(), start) == 0; }

// new.txt names each file as HTTrack wrote it: below the output folder it
// was given, which may be relative or absolute and need not be where the
// mirror lies now. The part to cut is found once from a file that exists.
class LocalPathCutter {
 public:
  explicit LocalPathCutter(const std::string& folder) : folder_(folder + '/') {}

  std::string Below(const std::string& written) {
    if (StartsWith(written, folder_)) return written.substr(folder_.size());
    if (prefix_) return StartsWith(written, *prefix_) ? written.substr(prefix_->size()) : std::string();
    if (tries_ >= 64) return {};
    ++tries_;
    for (size_t slash = written.find('/'); slash != std::string::npos; slash = written.find('/', slash + 1)) {
      const std::string rest = written.substr(slash + 1);
      if (!rest.empty() && IsRegularFile(folder_ + rest)) {
        prefix_ = written.substr(0, slash + 1);
        return rest;
      }
    }
    return {};
  }

 private:
  std::string folder_;
  std::optional<std::string> prefix_;
  int tries_ = 0;
};

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

void ReadLog(const std::string& path, const std::string& folder, Collector& collector, std::string& note) {
  const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return;
  LocalPathCutter cutter(folder);
  std::string line;
  int broken = 0;
  for (int c = 0; c != EOF;) {
    c = std::getc(file.get());
    if (c != '\n' && c != EOF) {
      if (line.size() <= kMaxLine) line += char(c);
      continue;
    }
    std::optional<HttrackRecord> record;
    if (line.size() <= kMaxLine) record = ParseHttrackLogLine(line);
    if (!line.empty() && !record) ++broken;
    line.clear();
    if (!record || record->local.empty()) continue;
    std::string local = cutter.Below(record->local);
    if (!collector.Add(std::move(local), std::move(*record))) return;
  }
  // The heading line is one that does not parse.
  if (broken > 1 && note.empty()) note = path + ": " + std::to_string(broken - 1) + " broken lines skipped";
}

std::string ParentOf(const std::string& folder) {
  const size_t slash = folder.find_last_of('/');
  if (slash == std::string::npos || folder == "/") return {};
  return slash == 0 ? std::string("/") : folder.substr(0, slash);
}

}  // namespace

HttrackMirror::HttrackMirror(std::string folder) : folder_(std::move(folder)) {
  const std::string zip = folder_ + "/hts-cache/new.zip";
  if (IsRegularFile(zip)) {
    zip_ = std::make_unique<Zip>(zip);
    if (zip_->Open(note_)) return;
    zip_.reset();
  }
  ReadAll();
}

HttrackMirror::~HttrackMirror() = default;

void HttrackMirror::ReadAll() {
  if (complete_) return;
  complete_ = true;
  Collector collector(records_, note_);
  if (zip_) {
    zip_->ReadAll(collector, note_);
  } else {
    ReadLog(folder_ + "/hts-cache/new.txt", folder_, collector, note_);
  }
}

const HttrackRecord* HttrackMirror::Find(const std::string& local) {
  if (!complete_) {
    if (const auto found = records_.find(local); found != records_.end()) return &found->second;
    if (std::optional<HttrackRecord> guessed = zip_->Guess(local)) {
      return &records_.insert_or_assign(local, std::move(*guessed)).first->second;
    }
    ReadAll();
  }
  const auto found = records_.find(local);
  return found == records_.end() ? nullptr : &found->second;
}

const std::unordered_map<std::string, HttrackRecord>& HttrackMirror::All() {
  ReadAll();
  return records_;
}

HttrackCaches::HttrackCaches() = default;
HttrackCaches::~HttrackCaches() = default;

HttrackMirror* HttrackCaches::MirrorOf(const std::string& folder) {
  std::vector<std::string> walked;
  std::string at = folder;
  std::string found;
  while (!at.empty()) {
    const auto known = mirrorOfFolder_.find(at);
    if (known != mirrorOfFolder_.end()) {
      found = known->second;
      break;
    }
    walked.push_back(at);
    if (IsFolder(at + (at == "/" ? "" : "/") + "hts-cache")) {
      found = at;
      break;
    }
    at = ParentOf(at);
  }
  for (const std::string& each : walked) mirrorOfFolder_.emplace(each, found);
  if (found.empty()) return nullptr;
  auto& mirror = mirrors_[found];
  if (!mirror) mirror = std::make_unique<HttrackMirror>(found);
  return mirror.get();
}

}  // namespace yuragi
