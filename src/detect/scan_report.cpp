#include "detect/scan_report.h"

#include <cstdio>

#include "platform/paths.h"
#include "formats/time_format.h"
#include "refetch/download.h"
#include "refetch/recorded_url.h"

namespace yuragi {

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
      const size_t length = Utf8SequenceLength(p + i, bytes.size() - i);
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

std::string TsvField(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      out += c;
    }
  }
  return out;
}

std::string ReportLine(const DetectionRow& row, bool json, const QByteArray& workingFolder, UrlRecords& records) {
  const std::string mtime = row.modified ? FormatIsoLocal(*row.modified).toStdString() : std::string();
  const QByteArray path = QByteArray::fromStdString(row.path);
  const SourceUrl source = records.Lookup(ResolvedPath(path, workingFolder));
  const std::string url = source.url.toUtf8().toStdString();
  const std::string size = std::to_string(row.size);
  if (!json) return TsvField(row.path) + '\t' + size + '\t' + mtime + '\t' + TsvField(url) + '\n';
  std::string line = "{\"path\":" + JsonString(row.path);
  if (!IsUtf8(path)) line += ",\"path_base64\":\"" + path.toBase64().toStdString() + '"';
  return line + ",\"size\":" + size + ",\"mtime\":" + (row.modified ? JsonString(mtime) : std::string("null")) +
         ",\"url\":" + JsonString(url) + ",\"request_url\":" + JsonString(source.request) +
         ",\"url_source\":\"" + UrlSourceName(source.source) + "\",\"folder_url\":" +
         JsonString(source.folderUrl.toUtf8().toStdString()) +
         (source.note.empty() ? std::string() : ",\"url_note\":" + JsonString(source.note)) +
         ",\"format\":\"" + PictureFormatWord(row.format) + "\",\"extension_mismatch\":" +
         (row.extensionMismatch ? "true" : "false") +
         (row.format == PictureFormat::Jpeg ? StateFields(row.stream) : PictureStateFields(row.picture, row.format)) +
         "}\n";
}

std::string StateFields(const JpegCheck& stream) {
  std::string fields = ",\"state\":\"" + std::string(StateWord(stream.end)) + '"';
  if (stream.end == JpegEnd::Cut) {
    char present[32];
    std::snprintf(present, sizeof present, "%.3f", stream.present);
    fields += ",\"present\":" + std::string(present);
    if (stream.progressive) fields += ",\"scans\":" + std::to_string(stream.completeScans);
  } else {
    fields += ",\"trailing_bytes\":" + std::to_string(stream.trailingBytes) +
              ",\"trailing_zero\":" + (stream.trailingZero ? "true" : "false");
  }
  if (stream.end == JpegEnd::Damaged) fields += ",\"warning\":" + JsonString(stream.warning);
  if (!stream.note.empty()) fields += ",\"note\":" + JsonString(stream.note);
  return fields;
}

}  // namespace yuragi

namespace yuragi {

std::string PictureStateFields(const PictureCheck& check, PictureFormat format) {
  std::string fields = ",\"state\":\"" + std::string(PictureEndWord(check.end)) + '"';
  if (check.end == PictureEnd::Cut) {
    if (check.present) {
      char present[32];
      std::snprintf(present, sizeof present, "%.3f", *check.present);
      fields += ",\"present\":" + std::string(present);
    }
    if (format == PictureFormat::Gif) {
      fields += ",\"frames\":" + std::to_string(check.frames) +
                ",\"trailer_missing\":" + (check.atBlockBoundary ? "true" : "false");
    } else if (format == PictureFormat::Webp && check.frames > 0) {
      fields += ",\"frames\":" + std::to_string(check.frames);
    }
  } else {
    fields += ",\"trailing_bytes\":" + std::to_string(check.trailingBytes) +
              ",\"trailing_zero\":" + (check.trailingZero ? "true" : "false");
  }
  if (check.end == PictureEnd::Damaged) fields += ",\"warning\":" + JsonString(check.warning);
  return fields;
}

}  // namespace yuragi
