#pragma once

#include <cstdint>
#include <vector>

#include "jpeg_writer.h"

// Real PNG, GIF and WebP files for seeds and benchmarks, written with
// libpng, giflib and libwebp from the same pattern as the JPEGs.
namespace yuragi::testing {

std::vector<uint8_t> EncodePng(const JpegSpec& spec, bool interlaced = false);
// frames copies of the pattern, each shifted, on a 6x6x6 colour cube.
std::vector<uint8_t> EncodeGif(const JpegSpec& spec, int frames = 1);
std::vector<uint8_t> EncodeWebp(const JpegSpec& spec, bool lossless = false);
// An animation of frames shifted copies, 100 ms each (libwebpmux).
std::vector<uint8_t> EncodeAnimatedWebp(const JpegSpec& spec, int frames);

}  // namespace yuragi::testing
