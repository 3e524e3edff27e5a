#include "repair/httrack_short_files.h"

#include <algorithm>

#include "detect/folder_scan.h"
#include "platform/file_info.h"
#include "platform/paths.h"
#include "refetch/httrack_cache.h"

namespace yuragi {

namespace {

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void AddShortHttrackFiles(const std::string& folder, const std::vector<std::string>& mirrorsBelow,
                          HttrackCaches& caches, std::vector<RepairCandidate>& files) {
  const std::string absolute = ResolvedPath(QByteArray::fromStdString(folder), WorkingFolder()).toStdString();
  const std::string base = folder.ends_with('/') ? folder : folder + '/';
  std::vector<HttrackMirror*> mirrors;
  if (HttrackMirror* above = caches.MirrorOf(absolute)) mirrors.push_back(above);
  for (const std::string& met : mirrorsBelow) {
    // The walk names them below folder as given: the same place below absolute.
    std::string below = absolute == "/" ? std::string() : absolute;
    if (met.size() > base.size()) below += '/' + met.substr(base.size(), met.size() - base.size() - 1);
    HttrackMirror* mirror = caches.MirrorOf(below.empty() ? "/" : below);
    if (mirror && mirror->Folder() != absolute) mirrors.push_back(mirror);
  }
  std::vector<RepairCandidate> found;
  for (HttrackMirror* mirror : mirrors) {
    // The mirror's files as paths below folder: "" or "sub/" in front of each record's own.
    std::string inside;  // what a record must start with
    std::string prefix;  // what goes in front of the rest
    const std::string& mirrorFolder = mirror->Folder();
    if (mirrorFolder.size() > absolute.size()) {
      prefix = mirrorFolder.substr(absolute.size() + (absolute == "/" ? 0 : 1)) + '/';
    } else if (mirrorFolder != absolute) {
      inside = absolute.substr(mirrorFolder.size() + 1) + '/';
    }
    for (const auto& [local, record] : mirror->All()) {
      if (!record.size || record.status != 200 || !IsJpegName(BaseName(local).c_str()) || !local.starts_with(inside)) continue;
      std::string path = base + prefix + local.substr(inside.size());
      const uint64_t size = FileSizeOf(path);
      if (size == 0 || size >= *record.size || !IsRegularFile(path)) continue;
      RepairCandidate& file = found.emplace_back();
      file.path = std::move(path);
      file.root = folder;
      file.note = "shorter than the " + std::to_string(*record.size) + " bytes HTTrack recorded";
    }
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
  std::move(found.begin(), found.end(), std::back_inserter(files));
}

}  // namespace yuragi
