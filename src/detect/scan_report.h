#pragma once

#include <QByteArray>
#include <string>

#include "detect/folder_scan.h"

namespace yuragi {

// A JSON string literal of the bytes: valid UTF-8 passes, quotes, backslashes
// and control characters are escaped, bytes that are not UTF-8 become U+FFFD.
std::string JsonString(const std::string& bytes);

// A path or URL as one TSV field: its bytes as they are, with TAB, newline,
// CR and backslash written as \t, \n, \r and \\ so a line stays one record.
std::string TsvField(const std::string& bytes);

class UrlRecords;

// One line of yuragimaru-scan's output (with its "\n"), TAB-separated or
// JSON. The URL is what the file or its mirror recorded, else the folder
// rule's, for the path resolved against workingFolder.
std::string ReportLine(const DetectionRow& row, bool json, const QByteArray& workingFolder, UrlRecords& records);

// The JSON keys that say how a listed file ends, each with its leading
// comma: state, present and scans (cut), trailing_bytes and trailing_zero
// (not cut), warning (damaged), note (when the end could not be told).
std::string StateFields(const JpegCheck& stream);
// The same for a PNG, GIF or WebP: state; present where rows say it (cut),
// and for a GIF frames (read in full) and trailer_missing (every frame
// whole, only the trailer byte missing: shown whole), for an animated WebP
// frames; trailing_bytes and
// trailing_zero (not cut); warning (damaged).
std::string PictureStateFields(const PictureCheck& check, PictureFormat format);

}  // namespace yuragi
