#include "refetch/recorded_url.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/extended_attributes.h"
#include "platform/paths.h"
#include "refetch/download.h"
#include "refetch/httrack_cache.h"
#include "refetch/source_url.h"

namespace yuragi {

namespace {

constexpr size_t kMaxRecord = 8192;

constexpr char kHex[] = "0123456789ABCDEF";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The escape "%HH" at i, or -1.
int EscapeAt(std::string_view text, size_t i) {
  if (i + 2 >= text.size() || text[i] != '%') return -1;
  const int high = HexValue(text[i + 1]);
  const int low = HexValue(text[i + 2]);
  return high < 0 || low < 0 ? -1 : high * 16 + low;
}

// What a request escapes whatever the URL says, apart from "%".
bool AlwaysEscaped(unsigned char c) {
  return c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}#", c) != nullptr;
}

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || std::strchr("-._~", c);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// The part of the URL behind the host starts here.
size_t PathStart(std::string_view url) {
  const size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return 0;
  const size_t slash = url.find_first_of("/?", scheme + 3);
  return slash == std::string_view::npos ? url.size() : slash;
}

std::string_view WithoutFragment(std::string_view url) { return url.substr(0, url.find('#')); }

// A Zone.Identifier written as UTF-16 (with its byte-order mark) as ASCII.
std::string ZoneText(std::string bytes) {
  if (bytes.size() < 2 || uchar(bytes[0]) != 0xFF || uchar(bytes[1]) != 0xFE) return bytes;
  std::string text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) text += bytes[i + 1] == 0 ? bytes[i] : '?';
  return text;
}

std::optional<std::string> ReadSmallFile(const std::string& path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) return std::nullopt;
  std::string bytes(kMaxRecord + 1, '\0');
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file.get()));
  if (bytes.size() > kMaxRecord) return std::nullopt;
  return bytes;
}

class NoteList {
 public:
  void Add(const std::string& note) {
    if (!note.empty()) text_ += (text_.empty() ? "" : "; ") + note;
  }
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

}  // namespace

const char* UrlSourceName(UrlSource source) {
  switch (source) {
    case UrlSource::Xattr: return "xattr";
    case UrlSource::Httrack: return "httrack";
    case UrlSource::Zone: return "zone";
    case UrlSource::Folder: return "folder";
  }
  return "folder";
}

bool IsUsableRecordedUrl(std::string_view url) {
  if (url.size() > kMaxRecord) return false;
  size_t scheme = 0;
  if (url.size() > 7 && EqualsNoCase(url.substr(0, 7), "http://")) scheme = 7;
  if (url.size() > 8 && EqualsNoCase(url.substr(0, 8), "https://")) scheme = 8;
  if (scheme == 0 || url[scheme] == '/' || url[scheme] == '?' || url[scheme] == '#') return false;
  for (const char c : url) {
    if (uchar(c) < 0x20 || uchar(c) == 0x7F) return false;
  }
  return true;
}

std::optional<std::string> ZoneHostUrl(std::string_view text) {
  bool inZone = false;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = Trimmed(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.front() == '[') {
      inZone = EqualsNoCase(line, "[ZoneTransfer]");
      continue;
    }
    const size_t equals = line.find('=');
    if (inZone && equals != std::string_view::npos && EqualsNoCase(Trimmed(line.substr(0, equals)), "HostUrl")) {
      return std::string(Trimmed(line.substr(equals + 1)));
    }
  }
  return std::nullopt;
}

QString ReadableUrl(std::string_view recorded) {
  recorded = WithoutFragment(recorded);
  const size_t start = PathStart(recorded);
  QByteArray bytes(recorded.data(), qsizetype(start));
  for (size_t i = start; i < recorded.size();) {
    const int value = EscapeAt(recorded, i);
    if (value < 0) {
      bytes += recorded[i++];
      continue;
    }
    const auto c = static_cast<unsigned char>(value);
    if (c >= 0x80) {
      // A run of escaped bytes is undone only where it spells UTF-8.
      QByteArray run;
      size_t end = i;
      for (int next = value; next >= 0x80; next = EscapeAt(recorded, end)) {
        run += char(next);
        end += 3;
      }
      if (IsUtf8(run)) {
        bytes += run;
      } else {
        bytes.append(recorded.data() + i, qsizetype(end - i));
      }
      i = end;
      continue;
    }
    // "%" itself only where the request cannot take it for the start of an escape.
    const bool percentAlone =
        c == '%' && !(i + 4 < recorded.size() && HexValue(recorded[i + 3]) >= 8 && HexValue(recorded[i + 4]) >= 0);
    if ((AlwaysEscaped(c) && c != '#') || IsUnreserved(c) || percentAlone) {
      bytes += char(c);
    } else {
      bytes.append(recorded.data() + i, 3);
    }
    i += 3;
  }
  return UrlTextOfPath(bytes);
}

std::string RecordedRequestUrl(std::string_view recorded) {
  recorded = WithoutFragment(recorded);
  std::string wire;
  for (size_t i = 0; i < recorded.size(); ++i) {
    const auto c = static_cast<unsigned char>(recorded[i]);
    if ((c == '%' && EscapeAt(recorded, i) < 0) || (c != '%' && AlwaysEscaped(c))) {
      wire += '%';
      wire += kHex[c >> 4];
      wire += kHex[c & 15];
    } else {
      wire += char(c);
    }
  }
  return wire;
}

UrlRecords::UrlRecords() : httrack_(std::make_unique<HttrackCaches>()) {}
UrlRecords::~UrlRecords() = default;

SourceUrl UrlRecords::Lookup(const QByteArray& path) {
  SourceUrl result;
  result.folderUrl = SourceUrlOfPath(path);
  NoteList notes;
  const std::string file = path.toStdString();
  const auto take = [&](UrlSource source, const std::string& url, const char* what) {
    if (!IsUsableRecordedUrl(url)) {
      notes.Add(std::string(what) + ": not an http(s) URL");
      return false;
    }
    result.source = source;
    result.url = ReadableUrl(url);
    result.request = RecordedRequestUrl(url);
    return true;
  };
  // Most files carry no attribute at all: one look at the list of names
  // spares reading each name.
  const bool anyAttribute = MayHaveExtendedAttributes(file);
  const auto attribute = [&](const char* name) -> std::optional<std::string> {
    if (!anyAttribute) return std::nullopt;
    std::string error;
    std::optional<std::string> value = ReadExtendedAttribute(file, name, kMaxRecord, &error);
    notes.Add(error);
    return value;
  };

  bool found = false;
  if (const std::optional<std::string> origin = attribute("user.xdg.origin.url")) {
    found = take(UrlSource::Xattr, *origin, "user.xdg.origin.url");
  }
  if (!found) {
    const size_t slash = file.find_last_of('/');
    HttrackMirror* mirror =
        slash == std::string::npos ? nullptr : httrack_->MirrorOf(slash == 0 ? std::string("/") : file.substr(0, slash));
    if (mirror) {
      const std::string below = file.substr(std::min(file.size(), mirror->Folder().size() + 1));
      const HttrackRecord* record = mirror->Find(below);
      notes.Add(mirror->Note());
      if (!record) {
        notes.Add(mirror->Folder() + "/hts-cache: no entry for this file");
      } else if (take(UrlSource::Httrack, record->url, "hts-cache")) {
        found = true;
        result.expectedSize = record->size;
      }
    }
  }
  if (!found) {
    for (const char* name : {"user.Zone.Identifier", "user.DosStream.Zone.Identifier:$DATA"}) {
      const std::optional<std::string> mark = attribute(name);
      if (!mark) continue;
      const std::optional<std::string> host = ZoneHostUrl(ZoneText(*mark));
      if (host && (found = take(UrlSource::Zone, *host, name))) break;
    }
  }
  if (!found) {
    if (const std::optional<std::string> mark = ReadSmallFile(file + ":Zone.Identifier")) {
      const std::optional<std::string> host = ZoneHostUrl(ZoneText(*mark));
      if (host) found = take(UrlSource::Zone, *host, "Zone.Identifier file");
    }
  }
  if (!found) {
    result.url = result.folderUrl;
    result.request = WireUrl(result.folderUrl);
  }
  result.note = notes.Take();
  return result;
}

}  // namespace yuragi
