#include "platform/rgb_image.h"

#include <algorithm>
#include <cmath>

namespace yuragi {

std::vector<RowScaler::Tap> RowScaler::AxisTaps(int from, int to) {
  std::vector<Tap> taps(static_cast<size_t>(to));
  const double scale = double(from) / double(to);
  for (int i = 0; i < to; ++i) {
    Tap& tap = taps[size_t(i)];
    if (scale >= 1.0) {
      const double begin = i * scale;
      const double end = begin + scale;
      tap.first = int(std::floor(begin));
      const int last = std::min(from - 1, int(std::ceil(end)) - 1);
      for (int s = tap.first; s <= last; ++s) {
        const double cover = std::min(end, double(s + 1)) - std::max(begin, double(s));
        tap.weights.push_back(float(cover / scale));
      }
    } else {
      const double centre = (i + 0.5) * scale - 0.5;
      int lo = int(std::floor(centre));
      double frac = centre - lo;
      if (lo < 0) {
        lo = 0;
        frac = 0;
      }
      if (lo >= from - 1) {
        lo = from - 1;
        frac = 0;
      }
      tap.first = lo;
      tap.weights.push_back(float(1.0 - frac));
      if (frac > 0) tap.weights.push_back(float(frac));
    }
  }
  return taps;
}

RowScaler::RowScaler(int sourceWidth, int sourceHeight, int width, int height)
    : sourceWidth_(sourceWidth), sourceHeight_(sourceHeight), width_(width), height_(height) {
  if (sourceWidth_ <= 0 || sourceHeight_ <= 0 || width_ <= 0 || height_ <= 0) {
    width_ = height_ = 0;
    return;
  }
  columns_ = AxisTaps(sourceWidth_, width_);
  const std::vector<Tap> rows = AxisTaps(sourceHeight_, height_);
  for (int target = 0; target < height_; ++target) {
    const Tap& tap = rows[size_t(target)];
    for (size_t k = 0; k < tap.weights.size(); ++k) {
      shares_.push_back(Share{tap.first + int(k), target, tap.weights[k]});
    }
  }
  // Stable: each output row keeps adding its sources top to bottom.
  std::stable_sort(shares_.begin(), shares_.end(),
                   [](const Share& a, const Share& b) { return a.source < b.source; });
  scaledRow_.resize(size_t(width_) * 3);
  sums_.assign(size_t(width_) * size_t(height_) * 3, 0.0f);
}

void RowScaler::AddRow(const uint8_t* rgb) {
  if (width_ == 0 || nextRow_ >= sourceHeight_) return;
  const int y = nextRow_++;
  while (nextShare_ < shares_.size() && shares_[nextShare_].source < y) ++nextShare_;
  if (nextShare_ == shares_.size() || shares_[nextShare_].source != y) return;  // no output row needs it
  for (int x = 0; x < width_; ++x) {
    const Tap& tap = columns_[size_t(x)];
    float r = 0, g = 0, b = 0;
    const uint8_t* p = rgb + size_t(tap.first) * 3;
    for (float w : tap.weights) {
      r += w * p[0];
      g += w * p[1];
      b += w * p[2];
      p += 3;
    }
    scaledRow_[size_t(x) * 3] = r;
    scaledRow_[size_t(x) * 3 + 1] = g;
    scaledRow_[size_t(x) * 3 + 2] = b;
  }
  const size_t stride = size_t(width_) * 3;
  for (; nextShare_ < shares_.size() && shares_[nextShare_].source == y; ++nextShare_) {
    const Share& share = shares_[nextShare_];
    float* sum = sums_.data() + size_t(share.target) * stride;
    for (size_t i = 0; i < stride; ++i) sum[i] += share.weight * scaledRow_[i];
  }
}

RgbImage RowScaler::Finish() {
  RgbImage out;
  if (width_ == 0) return out;
  out.width = width_;
  out.height = height_;
  out.pixels.resize(sums_.size());
  for (size_t i = 0; i < sums_.size(); ++i) {
    out.pixels[i] = uint8_t(std::clamp(int(std::lround(sums_[i])), 0, 255));
  }
  return out;
}

RgbImage ResizeSmooth(const RgbImage& source, int width, int height) {
  if (source.empty() || width <= 0 || height <= 0) return {};
  RowScaler scaler(source.width, source.height, width, height);
  const size_t stride = size_t(source.width) * 3;
  for (int y = 0; y < source.height; ++y) scaler.AddRow(source.pixels.data() + size_t(y) * stride);
  return scaler.Finish();
}

}  // namespace yuragi
