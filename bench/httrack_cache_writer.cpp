#include "httrack_cache_writer.h"

#include <sys/stat.h>
#include <zip.h>

bool WriteHttrackCache(const std::string& mirrorFolder, const std::vector<std::string>& localPaths,
                       const std::string& urlPrefix) {
  const std::string cache = mirrorFolder + "/hts-cache";
  ::mkdir(cache.c_str(), 0755);
  zipFile zip = zipOpen64((cache + "/new.zip").c_str(), APPEND_STATUS_CREATE);
  if (!zip) return false;
  bool ok = true;
  for (const std::string& local : localPaths) {
    const std::string lines = "HTTP/1.1 200 OK\r\nX-In-Cache: 0\r\nX-StatusCode: 200\r\nX-StatusMessage: OK\r\n"
                              "X-Size: 300000\r\nContent-Type: image/jpeg\r\nX-Save: " + local + "\r\n";
    const std::string url = urlPrefix + local;
    zip_fileinfo info{};
    ok = ok && zipOpenNewFileInZip(zip, url.c_str(), &info, lines.data(), unsigned(lines.size()), nullptr, 0, nullptr,
                                   Z_DEFLATED, Z_DEFAULT_COMPRESSION) == ZIP_OK;
    ok = ok && zipCloseFileInZip(zip) == ZIP_OK;
  }
  return zipClose(zip, nullptr) == ZIP_OK && ok;
}
