#include "refetch/httrack_cache.h"

#include <unzip.h>

#include <cstdio>
#include <vector>

#include "platform/file_info.h"

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

class Collector {
 public:
  explicit Collector(HttrackMirror& mirror) : mirror_(mirror) {}

  // False once a bound is reached.
  bool Add(std::string local, HttrackRecord record) {
    if (local.empty() || record.url.empty()) return true;
    if (++entries_ > kMaxEntries || (bytes_ += Footprint(record)) > kMaxRecordBytes) {
      mirror_.note = "hts-cache: more entries than are read; the rest was skipped";
      return false;
    }
    mirror_.records.insert_or_assign(std::move(local), std::move(record));
    return true;
  }

 private:
  HttrackMirror& mirror_;
  size_t entries_ = 0;
  size_t bytes_ = 0;
};

std::string UnzipError(const char* what, int code) { return std::string(what) + " (minizip error " + std::to_string(code) + ")"; }

// The entry names are URLs; the local header's extra field holds HTTrack's
// header lines, which is not the id-and-length layout of zip's own extra
// fields, so it is taken as the bytes it is.
bool ReadZip(const std::string& path, HttrackMirror& mirror) {
  const UnzipHandle zip(unzOpen64(path.c_str()));
  if (!zip) {
    mirror.note = path + ": not a zip archive that can be read";
    return false;
  }
  Collector collector(mirror);
  std::vector<char> name(65536);
  std::vector<char> extra(65536);
  for (int step = unzGoToFirstFile(zip.get()); step == UNZ_OK; step = unzGoToNextFile(zip.get())) {
    unz_file_info64 info{};
    int code = unzGetCurrentFileInfo64(zip.get(), &info, name.data(), uLong(name.size()), nullptr, 0, nullptr, 0);
    if (code != UNZ_OK || info.size_filename >= name.size()) {
      mirror.note = path + ": " + UnzipError("broken entry", code);
      return true;
    }
    // Raw: the header is read, nothing is inflated.
    code = unzOpenCurrentFile2(zip.get(), nullptr, nullptr, 1);
    if (code != UNZ_OK) {
      mirror.note = path + ": " + UnzipError("broken local header", code);
      return true;
    }
    const int length = unzGetLocalExtrafield(zip.get(), extra.data(), unsigned(extra.size()));
    unzCloseCurrentFile(zip.get());
    if (length < 0) continue;
    HttrackRecord record = ParseHttrackHeaders(std::string_view(extra.data(), size_t(length)));
    record.url.assign(name.data(), info.size_filename);
    std::string local = std::move(record.local);
    if (!collector.Add(std::move(local), std::move(record))) return true;
  }
  return true;
}

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

void ReadLog(const std::string& path, const std::string& folder, HttrackMirror& mirror) {
  const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return;
  Collector collector(mirror);
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
  if (broken > 1 && mirror.note.empty()) mirror.note = path + ": " + std::to_string(broken - 1) + " broken lines skipped";
}

std::string ParentOf(const std::string& folder) {
  const size_t slash = folder.find_last_of('/');
  if (slash == std::string::npos || folder == "/") return {};
  return slash == 0 ? std::string("/") : folder.substr(0, slash);
}

}  // namespace

HttrackMirror ReadHttrackMirror(const std::string& folder) {
  HttrackMirror mirror;
  mirror.folder = folder;
  const std::string cache = folder + "/hts-cache/";
  if (IsRegularFile(cache + "new.zip")) {
    if (ReadZip(cache + "new.zip", mirror)) return mirror;
  }
  ReadLog(cache + "new.txt", folder, mirror);
  return mirror;
}

HttrackCaches::HttrackCaches() = default;
HttrackCaches::~HttrackCaches() = default;

const HttrackMirror* HttrackCaches::MirrorOf(const std::string& folder) {
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
  if (!mirror) mirror = std::make_unique<HttrackMirror>(ReadHttrackMirror(found));
  return mirror.get();
}

}  // namespace yuragi
