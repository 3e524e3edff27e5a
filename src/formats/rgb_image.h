#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace yuragi {

// 8-bit RGB pixels, rows packed without padding.
struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;

  bool empty() const { return width <= 0 || height <= 0; }
  bool operator==(const RgbImage&) const = default;
};

// Resamples to exactly width x height (aspect ratio not kept): area
// averaging where an axis shrinks, linear interpolation where it grows.
RgbImage ResizeSmooth(const RgbImage& source, int width, int height);

// The same resampling fed one source row at a time, top first, so a
// picture never needs to be held whole: memory follows the output size
// (and a few rows of output width), not the source's pixels. Each output
// row is made as soon as its last source row is in. Rows that never
// arrive count as black. Source pixels take 3 bytes (RGB) or 4 (RGB and
// one byte that is ignored, as the decoder can give them).
class RowScaler {
 public:
  RowScaler(int sourceWidth, int sourceHeight, int width, int height, int bytesPerPixel = 3);
  ~RowScaler();
  RowScaler(const RowScaler&) = delete;
  RowScaler& operator=(const RowScaler&) = delete;

  void AddRow(const uint8_t* pixels);
  RgbImage Finish();

  struct Axis;

 private:
  void MakeRow(int target);

  int sourceWidth_;
  int sourceHeight_;
  int width_;
  int height_;
  int bytesPerPixel_;
  int nextRow_ = 0;
  int nextTarget_ = 0;
  bool padRows_ = false;  // rows are copied to 4 bytes a pixel and padded first
  std::shared_ptr<const Axis> columns_;
  std::shared_ptr<const Axis> rows_;
  size_t stride_ = 0;               // of a scaled row, in 16-bit values (3 a pixel, padded)
  std::vector<uint8_t> quad_;       // a source row at 4 bytes a pixel, when padRows_
  std::vector<int16_t> recent_;     // the last rows_->taps source rows scaled across
  std::vector<uint8_t> made_;       // one output row, padded as a scaled row
  std::vector<const int16_t*> sources_;  // the rows an output row is made from
  std::vector<uint32_t> pairs_;          // and their weights, two at a time
  RgbImage out_;
};

}  // namespace yuragi
