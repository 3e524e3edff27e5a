#include "formats/picture_format.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/unique_fd.h"

namespace yuragi {

PictureFormat SniffPictureFormat(const uint8_t* head, size_t size) {
  static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (size >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) return PictureFormat::Jpeg;
  if (size >= 8 && std::memcmp(head, kPng, 8) == 0) return PictureFormat::Png;
  if (size >= 6 && (std::memcmp(head, "GIF87a", 6) == 0 || std::memcmp(head, "GIF89a", 6) == 0)) {
    return PictureFormat::Gif;
  }
  if (size >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WEBP", 4) == 0) {
    return PictureFormat::Webp;
  }
  return PictureFormat::None;
}

PictureFormat SniffPictureFile(const std::string& path) {
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!file) return PictureFormat::None;
  uint8_t head[kSignatureBytes];
  size_t got = 0;
  while (got < sizeof head) {
    const ssize_t n = ::pread(file.get(), head + got, sizeof head - got, off_t(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += size_t(n);
  }
  return SniffPictureFormat(head, got);
}

PictureFormat PictureFormatOfName(const char* name) {
  const char* dot = std::strrchr(name, '.');
  if (!dot) return PictureFormat::None;
  char ext[7];
  size_t n = 0;
  for (const char* p = dot; *p; ++p) {
    if (n == sizeof ext - 1) return PictureFormat::None;
    const char c = *p;
    ext[n++] = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
  }
  ext[n] = '\0';
  if (std::strcmp(ext, ".jpg") == 0 || std::strcmp(ext, ".jpeg") == 0) return PictureFormat::Jpeg;
  if (std::strcmp(ext, ".png") == 0) return PictureFormat::Png;
  if (std::strcmp(ext, ".gif") == 0) return PictureFormat::Gif;
  if (std::strcmp(ext, ".webp") == 0) return PictureFormat::Webp;
  return PictureFormat::None;
}

const char* PictureFormatWord(PictureFormat format) {
  switch (format) {
    case PictureFormat::Jpeg: return "jpeg";
    case PictureFormat::Png: return "png";
    case PictureFormat::Gif: return "gif";
    case PictureFormat::Webp: return "webp";
    case PictureFormat::None: break;
  }
  return "";
}

std::optional<FormatSet> ParseFormatList(const std::string& list, std::string* error) {
  FormatSet set = 0;
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    const std::string word = list.substr(start, comma - start);
    if (word == "all") {
      set |= kAllFormats;
    } else if (word == "jpeg" || word == "jpg") {
      set |= FormatBit(PictureFormat::Jpeg);
    } else if (word == "png") {
      set |= FormatBit(PictureFormat::Png);
    } else if (word == "gif") {
      set |= FormatBit(PictureFormat::Gif);
    } else if (word == "webp") {
      set |= FormatBit(PictureFormat::Webp);
    } else {
      if (error) *error = "unknown format '" + word + "' (jpeg, png, gif, webp or all)";
      return std::nullopt;
    }
    start = comma + 1;
  }
  return set;
}

}  // namespace yuragi
