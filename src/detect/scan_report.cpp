#include "detect/scan_report.h"

#include <cstdio>

#include "platform/paths.h"
#include "platform/time_format.h"
#include "refetch/source_url.h"

namespace yuragi {

size_t Utf8Length(const unsigned char* p, size_t left) {
  const unsigned char c = p[0];
  size_t length;
  unsigned min;
  unsigned code;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2, code = c & 0x1F, min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3, code = c & 0x0F, min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4, code = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (left < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    code = (code << 6) | (p[i] & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

std::string JsonString(const std::string& bytes) {
  std::string out = "\"";
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t i = 0;
  while (i < bytes.size()) {
    const unsigned char c = p[i];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
      ++i;
    } else if (c < 0x20) {
      static const char* const named[] = {"\\b", "\\t", "\\n", nullptr, "\\f", "\\r"};
      if (c >= 8 && c <= 13 && named[c - 8]) {
        out += named[c - 8];
      } else {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
        out += escaped;
      }
      ++i;
    } else {
      const size_t length = Utf8Length(p + i, bytes.size() - i);
      if (length == 0) {
        out += "\\ufffd";
        ++i;
      } else {
        out.append(bytes, i, length);
        i += length;
      }
    }
  }
  out += '"';
  return out;
}

std::string ReportLine(const DetectionRow& row, bool json) {
  const std::string mtime = row.modified ? FormatIsoLocal(*row.modified).toStdString() : std::string();
  const std::string url = BuildSourceUrl(DisplayPath(row.path)).toUtf8().toStdString();
  const std::string size = std::to_string(row.size);
  if (!json) return row.path + '\t' + size + '\t' + mtime + '\t' + url + '\n';
  return "{\"path\":" + JsonString(row.path) + ",\"size\":" + size +
         ",\"mtime\":" + (row.modified ? JsonString(mtime) : std::string("null")) + ",\"url\":" + JsonString(url) +
         "}\n";
}

}  // namespace yuragi
