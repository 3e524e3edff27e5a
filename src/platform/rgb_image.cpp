#include "platform/rgb_image.h"

#include <algorithm>
#include <cmath>

namespace yuragi {

namespace {

// Weights of source samples for each destination sample along one axis.
struct Tap {
  int first = 0;
  std::vector<float> weights;
};

std::vector<Tap> AxisTaps(int from, int to) {
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

}  // namespace

RgbImage ResizeSmooth(const RgbImage& source, int width, int height) {
  RgbImage out;
  if (source.empty() || width <= 0 || height <= 0) return out;
  const std::vector<Tap> xs = AxisTaps(source.width, width);
  const std::vector<Tap> ys = AxisTaps(source.height, height);

  // Horizontal pass into floats, then vertical pass into bytes.
  std::vector<float> rows(size_t(source.height) * size_t(width) * 3);
  for (int y = 0; y < source.height; ++y) {
    const uint8_t* in = source.pixels.data() + size_t(y) * size_t(source.width) * 3;
    float* dst = rows.data() + size_t(y) * size_t(width) * 3;
    for (int x = 0; x < width; ++x) {
      const Tap& tap = xs[size_t(x)];
      float r = 0, g = 0, b = 0;
      const uint8_t* p = in + size_t(tap.first) * 3;
      for (float w : tap.weights) {
        r += w * p[0];
        g += w * p[1];
        b += w * p[2];
        p += 3;
      }
      dst[x * 3] = r;
      dst[x * 3 + 1] = g;
      dst[x * 3 + 2] = b;
    }
  }
  out.width = width;
  out.height = height;
  out.pixels.resize(size_t(width) * size_t(height) * 3);
  const size_t stride = size_t(width) * 3;
  std::vector<float> acc(stride);
  for (int y = 0; y < height; ++y) {
    const Tap& tap = ys[size_t(y)];
    std::fill(acc.begin(), acc.end(), 0.0f);
    const float* row = rows.data() + size_t(tap.first) * stride;
    for (float w : tap.weights) {
      for (size_t i = 0; i < stride; ++i) acc[i] += w * row[i];
      row += stride;
    }
    uint8_t* dst = out.pixels.data() + size_t(y) * stride;
    for (size_t i = 0; i < stride; ++i) {
      dst[i] = uint8_t(std::clamp(int(std::lround(acc[i])), 0, 255));
    }
  }
  return out;
}

}  // namespace yuragi
