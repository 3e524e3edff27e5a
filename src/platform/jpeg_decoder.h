#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/rgb_image.h"

namespace yuragi {

// Pictures announcing more than this many pixels at the chosen scale are
// decoded smaller (DCT scaling) or refused, never allowed to eat memory.
inline constexpr int64_t kMaxDecodedPixels = 100'000'000;

struct DecodeRequest {
  // Smallest size the decoded picture must still cover; 0 x 0 = full size.
  int coverWidth = 0;
  int coverHeight = 0;
};

// Decodes a JPEG stream to RGB. Warnings (a premature end among them) are
// ignored; errors (empty, damaged header, not JPEG) give nothing and,
// when asked, the library's message.
std::optional<RgbImage> DecodeJpeg(const uint8_t* data, size_t size, DecodeRequest request = {},
                                   std::string* error = nullptr);

// What a decode had to make up: warnings in all, and whether the picture's
// data ran out (the stream or a segment ended early).
struct DecodeWarnings {
  int count = 0;
  bool dataMissing = false;
};
std::optional<RgbImage> DecodeJpeg(const uint8_t* data, size_t size, DecodeRequest request, std::string* error,
                                   DecodeWarnings* warnings);

std::optional<RgbImage> DecodeJpegFile(const std::string& path, DecodeRequest request = {},
                                       std::string* error = nullptr);

// Decodes small and scales smoothly to exactly width x height (stretched).
std::optional<RgbImage> MakeThumbnail(const std::string& path, int width, int height);

}  // namespace yuragi
