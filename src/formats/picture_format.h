#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace yuragi {

enum class PictureFormat { None, Jpeg, Png, Gif, Webp };

// A set of formats, one bit each.
using FormatSet = unsigned;
constexpr FormatSet FormatBit(PictureFormat format) { return 1u << unsigned(format); }
inline constexpr FormatSet kJpegOnly = FormatBit(PictureFormat::Jpeg);
inline constexpr FormatSet kAllFormats = FormatBit(PictureFormat::Jpeg) | FormatBit(PictureFormat::Png) |
                                         FormatBit(PictureFormat::Gif) | FormatBit(PictureFormat::Webp);

// How many leading bytes SniffPictureFormat needs to tell every format.
inline constexpr size_t kSignatureBytes = 12;

// The format the first bytes announce; None for anything else.
PictureFormat SniffPictureFormat(const uint8_t* head, size_t size);
// The same for a file (read from the start); None when unreadable.
PictureFormat SniffPictureFile(const std::string& path);

// The format a name's extension stands for (ASCII case folded): .jpg
// .jpeg .png .gif .webp; None for any other.
PictureFormat PictureFormatOfName(const char* name);

// "jpeg", "png", "gif", "webp"; "" for None.
const char* PictureFormatWord(PictureFormat format);

// "jpeg,png" or "all" as a set; nothing, with error set, for an unknown word.
std::optional<FormatSet> ParseFormatList(const std::string& list, std::string* error);

}  // namespace yuragi
