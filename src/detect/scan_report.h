#pragma once

#include <string>

#include "detect/folder_scan.h"

namespace yuragi {

// Length of the valid UTF-8 sequence at p (left bytes there), 0 when invalid.
size_t Utf8Length(const unsigned char* p, size_t left);

// A JSON string literal of the bytes: valid UTF-8 passes, quotes, backslashes
// and control characters are escaped, bytes that are not UTF-8 become U+FFFD.
std::string JsonString(const std::string& bytes);

// One line of yuragimaru-scan's output (with its "\n"), TAB-separated or JSON.
std::string ReportLine(const DetectionRow& row, bool json);

}  // namespace yuragi
