#pragma once

#include <cstdint>
#include <string>

#include "formats/picture_format.h"

namespace yuragi {

class ArchiveClient;

struct ArchiveRepair {
  bool found = false;
  std::string capture;  // YYYYMMDDhhmmss
  std::string body;
  std::string detail;   // "archive TIME", or why no capture served
  uint64_t received = 0;
  bool cancelled = false;
};

// The archive's newest capture of url that passes the same checks as a
// fetch from the origin: starts with every byte of local, is longer, ends
// in the end marker and decodes without running out of data (a PNG, GIF or
// WebP: its own format's end and test).
ArchiveRepair RepairFromArchive(ArchiveClient& client, const std::string& url, const std::string& local,
                                PictureFormat format = PictureFormat::Jpeg);

}  // namespace yuragi
