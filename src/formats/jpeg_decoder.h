#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "formats/rgb_image.h"

namespace yuragi {

// Pictures announcing more than this many pixels at the chosen scale are
// decoded smaller (DCT scaling) or refused, never allowed to eat memory.
inline constexpr int64_t kMaxDecodedPixels = 100'000'000;
// Headers announcing more pixels than this (16384 x 16384) are refused
// outright: no camera or scanner makes them, a damaged or hostile file does.
inline constexpr int64_t kMaxSourcePixels = int64_t(16384) * 16384;

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

// How a stream ends, as its decode found it.
enum class JpegEnd {
  Complete,  // the end marker is the last thing in the data
  Trailing,  // complete, and bytes follow the end marker
  Cut,       // the data ran out before the picture was complete
  Damaged,   // complete length, but the decoder warned of corrupt data
};

struct JpegCheck {
  JpegEnd end = JpegEnd::Cut;
  // Cut: share of the rows of the scan being read when the data ended that
  // came from real data (the only scan of a baseline picture).
  double present = 1.0;
  bool progressive = false;
  int completeScans = 0;       // progressive: scans read in full
  uint64_t trailingBytes = 0;  // after the end marker
  bool trailingZero = false;   // and every one of them is zero
  std::string warning;         // the decoder's first warning other than the end of data
  std::string note;            // why the end could not be told (then end is Cut)
};

// Reads the file as the decoder needs it, a block at a time: never a copy
// of the whole file.
std::optional<RgbImage> DecodeJpegFile(const std::string& path, DecodeRequest request = {},
                                       std::string* error = nullptr);

// Decodes at the smallest DCT scale that still covers width x height and
// scales each row as it comes to exactly width x height (stretched): the
// memory used depends on the thumbnail, not on the picture's size.
// keepGoing, when given, is called every few megabytes read, so a caller
// can keep its window alive; false ends the data there, as a cut would.
// check, when given, receives how the stream ends, found in the same read.
std::optional<RgbImage> MakeThumbnail(const std::string& path, int width, int height,
                                      std::string* error = nullptr,
                                      const std::function<bool()>& keepGoing = nullptr, JpegCheck* check = nullptr);
// The same for a regular file open already, read with pread; the
// descriptor stays open.
std::optional<RgbImage> MakeThumbnail(int fd, int width, int height, std::string* error = nullptr,
                                      const std::function<bool()>& keepGoing = nullptr, JpegCheck* check = nullptr);

// Decodes at 1/8 scale and keeps no picture: every byte of entropy-coded
// data is still read, so a stream that runs out or is corrupt is found as
// by a full decode. False when it does not decode at all (error says why).
bool CheckJpeg(const uint8_t* data, size_t size, JpegCheck& check, std::string* error = nullptr);
// The same for a file, read a block at a time; the descriptor form reads
// with pread and leaves the descriptor open and its offset as it was.
bool CheckJpegFile(const std::string& path, JpegCheck& check, std::string* error = nullptr);
bool CheckJpegFile(int fd, JpegCheck& check, std::string* error = nullptr);

}  // namespace yuragi
