#pragma once

#include <QString>
#include <cstdint>

namespace yuragi {

// The four number patterns of the window texts.
enum class NumberPattern {
  Grouped,        // "#,0"     1,234
  LeadingBlank,   // " #,0"    " 1,234"
  OfTotal,        // " / #,0"  " / 1,234"
  Bytes,          // "0,"      1,234 (followed by "バイト" where a size is shown)
};

// Digit groups use the current locale's thousands separator, always grouped.
QString FormatNumber(int64_t value, NumberPattern pattern = NumberPattern::Grouped);
QString FormatByteSize(int64_t bytes);  // "0," + "バイト"

}  // namespace yuragi
