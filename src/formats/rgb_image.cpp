#include "formats/rgb_image.h"

#include <algorithm>
#include <cmath>

namespace yuragi {

namespace {

// Weights are integers summing to exactly kOne per output position, so a
// flat colour stays exact and no pixel needs a rounding call per channel.
constexpr int kWeightBits = 12;
constexpr double kOne = 1 << kWeightBits;
// A horizontally scaled channel keeps 8 bits of fraction (at most 255 << 8),
// so a row sum of weights times it stays within 32 bits.
constexpr int kRowShift = kWeightBits - 8;
constexpr int kSumShift = kWeightBits + 8;

// What output position i takes from the source: appends its shares (as
// fractions of 1) and gives the first source position.
int Cover(int i, int from, double scale, std::vector<double>& shares) {
  if (scale >= 1.0) {
    const double begin = i * scale;
    const double end = begin + scale;
    const int first = int(std::floor(begin));
    const int last = std::min(from - 1, int(std::ceil(end)) - 1);
    for (int s = first; s <= last; ++s) {
      shares.push_back((std::min(end, double(s + 1)) - std::max(begin, double(s))) / scale);
    }
    return first;
  }
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
  shares.push_back(1.0 - frac);
  if (frac > 0) shares.push_back(frac);
  return lo;
}

// A pixel's three channels in one 64-bit word, 21 bits apart: a weight
// times a channel, summed over a pixel's taps, stays below 2^21 (255 x
// 4096), so one multiply and one add serve all three channels.
constexpr int kLane = 21;
constexpr uint64_t kLaneMask = (uint64_t(1) << kLane) - 1;

void PackRow(const uint8_t* rgb, int width, uint64_t* packed) {
  for (int x = 0; x < width; ++x, rgb += 3) {
    packed[x] = uint64_t(rgb[0]) | uint64_t(rgb[1]) << kLane | uint64_t(rgb[2]) << (2 * kLane);
  }
}

// The horizontal pass for a fixed number of taps, unrolled by the compiler.
template <int kTaps>
void ScaleRow(const uint64_t* packed, const int* first, const uint16_t* weights, int width, int taps,
              uint16_t* out) {
  const int n = kTaps > 0 ? kTaps : taps;
  constexpr uint64_t kHalf = uint64_t(1) << (kRowShift - 1);
  constexpr uint64_t kHalves = kHalf | kHalf << kLane | kHalf << (2 * kLane);
  for (int x = 0; x < width; ++x, weights += n, out += 3) {
    const uint64_t* p = packed + first[x];
    uint64_t sum = kHalves;
    for (int k = 0; k < n; ++k) sum += weights[k] * p[k];
    out[0] = uint16_t((sum & kLaneMask) >> kRowShift);
    out[1] = uint16_t((sum >> kLane & kLaneMask) >> kRowShift);
    out[2] = uint16_t((sum >> (2 * kLane)) >> kRowShift);
  }
}

RowScaler::Axis AxisTaps(int from, int to) {
  const double scale = double(from) / double(to);
  std::vector<double> shares;
  std::vector<int> starts(static_cast<size_t>(to) + 1);  // of each position's shares
  std::vector<int> firsts(static_cast<size_t>(to));
  RowScaler::Axis axis;
  for (int i = 0; i < to; ++i) {
    firsts[size_t(i)] = Cover(i, from, scale, shares);
    starts[size_t(i) + 1] = int(shares.size());
    axis.taps = std::max(axis.taps, starts[size_t(i) + 1] - starts[size_t(i)]);
  }
  axis.first.resize(size_t(to));
  axis.last.resize(size_t(to));
  axis.weights.assign(size_t(to) * size_t(axis.taps), 0);
  for (int i = 0; i < to; ++i) {
    // Padded with zero weights before or after, staying inside the source.
    const int coverFirst = firsts[size_t(i)];
    const int first = std::max(0, std::min(coverFirst, from - axis.taps));
    axis.first[size_t(i)] = first;
    uint16_t* weights = axis.weights.data() + size_t(i) * size_t(axis.taps) + size_t(coverFirst - first);
    // Rounded by running total: the weights add up to exactly kOne.
    double total = 0;
    long given = 0;
    int last = coverFirst;
    const int count = starts[size_t(i) + 1] - starts[size_t(i)];
    for (int k = 0; k < count; ++k) {
      total += shares[size_t(starts[size_t(i)] + k)];
      const long upTo = k + 1 == count ? long(kOne) : std::lround(total * kOne);
      weights[k] = uint16_t(upTo - given);
      if (upTo != given) last = coverFirst + k;
      given = upTo;
    }
    axis.last[size_t(i)] = last;
  }
  return axis;
}

}  // namespace

RowScaler::RowScaler(int sourceWidth, int sourceHeight, int width, int height)
    : sourceHeight_(sourceHeight), width_(width), height_(height) {
  if (sourceWidth <= 0 || sourceHeight_ <= 0 || width_ <= 0 || height_ <= 0) {
    width_ = height_ = 0;
    return;
  }
  columns_ = AxisTaps(sourceWidth, width_);
  rows_ = AxisTaps(sourceHeight_, height_);
  const size_t stride = size_t(width_) * 3;
  packed_.resize(size_t(sourceWidth));
  recent_.resize(size_t(rows_.taps) * stride);
  sums_.resize(stride);
  out_.width = width_;
  out_.height = height_;
  out_.pixels.assign(stride * size_t(height_), 0);
}

void RowScaler::AddRow(const uint8_t* rgb) {
  if (width_ == 0 || nextRow_ >= sourceHeight_ || nextTarget_ >= height_) return;
  const int y = nextRow_++;
  const size_t stride = size_t(width_) * 3;
  uint16_t* scaled = recent_.data() + size_t(y % rows_.taps) * stride;
  PackRow(rgb, int(packed_.size()), packed_.data());
  const uint64_t* packed = packed_.data();
  const int* first = columns_.first.data();
  const uint16_t* weights = columns_.weights.data();
  switch (columns_.taps) {
    case 1:
      ScaleRow<1>(packed, first, weights, width_, 1, scaled);
      break;
    case 2:
      ScaleRow<2>(packed, first, weights, width_, 2, scaled);
      break;
    case 3:
      ScaleRow<3>(packed, first, weights, width_, 3, scaled);
      break;
    case 4:
      ScaleRow<4>(packed, first, weights, width_, 4, scaled);
      break;
    default:
      ScaleRow<0>(packed, first, weights, width_, columns_.taps, scaled);
      break;
  }
  while (nextTarget_ < height_ && rows_.last[size_t(nextTarget_)] <= y) MakeRow(nextTarget_++);
}

// From the source rows in so far; those still missing count as black.
void RowScaler::MakeRow(int target) {
  constexpr uint32_t kHalf = 1u << (kSumShift - 1);
  const size_t stride = size_t(width_) * 3;
  uint32_t* sums = sums_.data();
  bool any = false;
  for (int k = 0; k < rows_.taps; ++k) {
    const int source = rows_.first[size_t(target)] + k;
    const uint32_t weight = rows_.weights[size_t(target) * size_t(rows_.taps) + size_t(k)];
    if (weight == 0 || source >= nextRow_) continue;
    const uint16_t* scaled = recent_.data() + size_t(source % rows_.taps) * stride;
    if (any) {
      for (size_t i = 0; i < stride; ++i) sums[i] += weight * scaled[i];
    } else {
      for (size_t i = 0; i < stride; ++i) sums[i] = kHalf + weight * scaled[i];
      any = true;
    }
  }
  if (!any) return;  // stays black
  uint8_t* out = out_.pixels.data() + size_t(target) * stride;
  for (size_t i = 0; i < stride; ++i) out[i] = uint8_t(std::min<uint32_t>(255, sums[i] >> kSumShift));
}

RgbImage RowScaler::Finish() {
  if (width_ == 0) return {};
  while (nextTarget_ < height_) MakeRow(nextTarget_++);
  return std::move(out_);
}

RgbImage ResizeSmooth(const RgbImage& source, int width, int height) {
  if (source.empty() || width <= 0 || height <= 0) return {};
  RowScaler scaler(source.width, source.height, width, height);
  const size_t stride = size_t(source.width) * 3;
  for (int y = 0; y < source.height; ++y) scaler.AddRow(source.pixels.data() + size_t(y) * stride);
  return scaler.Finish();
}

}  // namespace yuragi
