#pragma once

#include <cstdint>
#include <vector>

namespace yuragi {

// 8-bit RGB pixels, rows packed without padding.
struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;

  bool empty() const { return width <= 0 || height <= 0; }
};

// Resamples to exactly width x height (aspect ratio not kept): area
// averaging where an axis shrinks, linear interpolation where it grows.
RgbImage ResizeSmooth(const RgbImage& source, int width, int height);

}  // namespace yuragi
