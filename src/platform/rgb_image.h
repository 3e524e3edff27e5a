#pragma once

#include <cstddef>
#include <cstdint>
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
// (and a small table per source row), not the source's pixels. Rows that
// never arrive count as black.
class RowScaler {
 public:
  RowScaler(int sourceWidth, int sourceHeight, int width, int height);
  RowScaler(const RowScaler&) = delete;
  RowScaler& operator=(const RowScaler&) = delete;

  void AddRow(const uint8_t* rgb);
  RgbImage Finish();

 private:
  struct Tap {
    int first = 0;
    std::vector<float> weights;
  };
  struct Share {
    int source;
    int target;
    float weight;
  };
  static std::vector<Tap> AxisTaps(int from, int to);

  int sourceWidth_;
  int sourceHeight_;
  int width_;
  int height_;
  int nextRow_ = 0;
  std::vector<Tap> columns_;
  std::vector<Share> shares_;  // by source row
  size_t nextShare_ = 0;
  std::vector<float> scaledRow_;
  std::vector<float> sums_;  // height x width x 3
};

}  // namespace yuragi
