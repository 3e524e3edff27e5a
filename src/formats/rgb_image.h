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
// (and a few rows of output width), not the source's pixels. Each output
// row is made as soon as its last source row is in. Rows that never
// arrive count as black.
class RowScaler {
 public:
  RowScaler(int sourceWidth, int sourceHeight, int width, int height);
  RowScaler(const RowScaler&) = delete;
  RowScaler& operator=(const RowScaler&) = delete;

  void AddRow(const uint8_t* rgb);
  RgbImage Finish();

  // The source positions and fixed-point weights behind each output
  // position along one axis: every position gets the same number of
  // weights (zeros where fewer are needed), so the inner loop has a fixed
  // length and no branch to mispredict.
  struct Axis {
    int taps = 0;
    std::vector<int> first;         // by output position
    std::vector<uint16_t> weights;  // taps per output position, summing to 4096
    std::vector<int> last;          // last source position with a weight
  };

 private:
  void MakeRow(int target);

  int sourceHeight_;
  int width_;
  int height_;
  int nextRow_ = 0;
  int nextTarget_ = 0;
  Axis columns_;
  Axis rows_;
  std::vector<uint64_t> packed_;  // the source row, channels spread apart
  std::vector<uint16_t> recent_;  // the last rows_.taps source rows scaled across, 8 fraction bits
  std::vector<uint32_t> sums_;    // one output row
  RgbImage out_;
};

}  // namespace yuragi
