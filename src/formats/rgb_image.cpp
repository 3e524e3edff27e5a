#include "formats/rgb_image.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace yuragi {

// The source positions and fixed-point weights behind each output position
// along one axis: every position gets the same number of weights (zeros
// where fewer are needed), so the inner loop has a fixed length and no
// branch to mispredict.
struct RowScaler::Axis {
  int taps = 0;
  std::vector<int> first;         // by output position
  std::vector<uint16_t> weights;  // taps per output position, summing to 4096
  std::vector<uint32_t> pairs;    // the same two at a time, the second in the high half
  // For two output positions at once, four weights each: the first pair
  // four times for the one and four times for the other, then the second.
  std::vector<uint32_t> wide;
  std::vector<int> last;          // last source position with a weight
};

namespace {

using Axis = RowScaler::Axis;

// Weights are integers summing to exactly kOne per output position, so a
// flat colour stays exact and no pixel needs a rounding call per channel.
constexpr int kWeightBits = 12;
constexpr double kOne = 1 << kWeightBits;
// A channel scaled across keeps 7 bits of fraction (at most 255 << 7), so
// it fits a signed 16-bit lane and a weight times it a 32-bit one.
constexpr int kFractionBits = 7;
constexpr int kRowShift = kWeightBits - kFractionBits;
constexpr int kSumShift = kWeightBits + kFractionBits;

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

// Taps are rounded up to a multiple of `multiple`.
Axis AxisTaps(int from, int to, int multiple) {
  const double scale = double(from) / double(to);
  std::vector<double> shares;
  std::vector<int> starts(static_cast<size_t>(to) + 1);  // of each position's shares
  std::vector<int> firsts(static_cast<size_t>(to));
  Axis axis;
  for (int i = 0; i < to; ++i) {
    firsts[size_t(i)] = Cover(i, from, scale, shares);
    starts[size_t(i) + 1] = int(shares.size());
    axis.taps = std::max(axis.taps, starts[size_t(i) + 1] - starts[size_t(i)]);
  }
  axis.taps = (axis.taps + multiple - 1) / multiple * multiple;
  axis.first.resize(size_t(to));
  axis.last.resize(size_t(to));
  axis.weights.assign(size_t(to) * size_t(axis.taps), 0);
  for (int i = 0; i < to; ++i) {
    // Padded with zero weights before or after, staying inside the source
    // when it has as many positions as taps.
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
  if (multiple == 4) {
    for (size_t k = 0; k < axis.weights.size(); k += 2) {
      axis.pairs.push_back(uint32_t(axis.weights[k]) | uint32_t(axis.weights[k + 1]) << 16);
    }
    const size_t pairs = size_t(axis.taps) / 2;
    for (size_t i = 0; i + 1 < size_t(to); i += 2) {
      for (size_t pair = 0; pair < pairs; ++pair) {
        axis.wide.insert(axis.wide.end(), 4, axis.pairs[i * pairs + pair]);
        axis.wide.insert(axis.wide.end(), 4, axis.pairs[(i + 1) * pairs + pair]);
      }
    }
  }
  return axis;
}

// A walk meets the same sizes again and again (a site's pictures share
// them), so each thread keeps the last few tables.
std::shared_ptr<const Axis> CachedAxis(int from, int to, int multiple) {
  struct Kept {
    int from = 0, to = 0, multiple = 0;
    std::shared_ptr<const Axis> axis;
  };
  thread_local std::array<Kept, 4> kept;
  thread_local size_t next = 0;
  for (const Kept& k : kept) {
    if (k.axis && k.from == from && k.to == to && k.multiple == multiple) return k.axis;
  }
  auto axis = std::make_shared<const Axis>(AxisTaps(from, to, multiple));
  kept[next++ % kept.size()] = Kept{from, to, multiple, axis};
  return axis;
}

#if defined(__SSE2__)

__m128i Load32(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, sizeof v);
  return _mm_cvtsi32_si128(v);
}

// The horizontal pass on 4-byte pixels: two source pixels' channels side
// by side, so one multiply-add weighs both for all channels at once.
template <int kPairs>
void ScaleAcross(const int* first, const uint32_t* weights, int taps, const uint8_t* quad, int width, int16_t* out) {
  const int pairs = kPairs > 0 ? kPairs : taps / 2;
  const __m128i zero = _mm_setzero_si128();
  const __m128i half = _mm_set1_epi32(1 << (kRowShift - 1));
  for (int x = 0; x < width; ++x, weights += pairs) {
    const uint8_t* p = quad + 4 * size_t(first[x]);
    __m128i sum = half;
    for (int j = 0; j < pairs; ++j, p += 8) {
      const __m128i both = _mm_unpacklo_epi8(_mm_unpacklo_epi8(Load32(p), Load32(p + 4)), zero);
      sum = _mm_add_epi32(sum, _mm_madd_epi16(both, _mm_set1_epi32(int32_t(weights[j]))));
    }
    // Four lanes stored, three kept: the next pixel's store covers the fourth.
    sum = _mm_srai_epi32(sum, kRowShift);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 3 * size_t(x)), _mm_packs_epi32(sum, sum));
  }
}

#if defined(__GNUC__) && defined(__x86_64__)
#define YURAGI_AVX2 1

// The same for two output positions at once, one in each half of a 256-bit
// register: four source pixels a load, their channels paired by a shuffle.
template <int kGroups>
__attribute__((target("avx2"))) void ScaleAcrossTwo(const Axis& axis, const uint8_t* quad, int width,
                                                     int16_t* out) {
  const int groups = kGroups > 0 ? kGroups : axis.taps / 4;
  // Pixels 0 and 1, then 2 and 3, of a load as 16-bit lanes: red of both,
  // green of both, blue of both, the fourth byte of both.
  const __m256i firstTwo = _mm256_broadcastsi128_si256(
      _mm_setr_epi8(0, -1, 4, -1, 1, -1, 5, -1, 2, -1, 6, -1, 3, -1, 7, -1));
  const __m256i lastTwo = _mm256_broadcastsi128_si256(
      _mm_setr_epi8(8, -1, 12, -1, 9, -1, 13, -1, 10, -1, 14, -1, 11, -1, 15, -1));
  const __m256i half = _mm256_set1_epi32(1 << (kRowShift - 1));
  const __m256i* weights = reinterpret_cast<const __m256i*>(axis.wide.data());
  const int* first = axis.first.data();
  int x = 0;
  for (; x + 1 < width; x += 2) {
    const uint8_t* a = quad + 4 * size_t(first[x]);
    const uint8_t* b = quad + 4 * size_t(first[x + 1]);
    __m256i sum = half;
    for (int g = 0; g < groups; ++g, a += 16, b += 16, weights += 2) {
      const __m256i four = _mm256_inserti128_si256(
          _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a))),
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)), 1);
      sum = _mm256_add_epi32(sum, _mm256_madd_epi16(_mm256_shuffle_epi8(four, firstTwo), _mm256_loadu_si256(weights)));
      sum = _mm256_add_epi32(sum, _mm256_madd_epi16(_mm256_shuffle_epi8(four, lastTwo), _mm256_loadu_si256(weights + 1)));
    }
    sum = _mm256_srai_epi32(sum, kRowShift);
    const __m256i words = _mm256_packs_epi32(sum, sum);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 3 * size_t(x)), _mm256_castsi256_si128(words));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 3 * size_t(x) + 3), _mm256_extracti128_si256(words, 1));
  }
  if (x < width) {  // the last of an odd number
    ScaleAcross<0>(first + x, axis.pairs.data() + size_t(x) * size_t(axis.taps / 2), axis.taps, quad, 1,
                   out + 3 * size_t(x));
  }
}

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

#endif

void ScaleAcross(const Axis& axis, const uint8_t* quad, int width, int16_t* out) {
#ifdef YURAGI_AVX2
  if (HasAvx2()) {
    switch (axis.taps) {
      case 4: return ScaleAcrossTwo<1>(axis, quad, width, out);
      case 8: return ScaleAcrossTwo<2>(axis, quad, width, out);
      default: return ScaleAcrossTwo<0>(axis, quad, width, out);
    }
  }
#endif
  const int* first = axis.first.data();
  const uint32_t* pairs = axis.pairs.data();
  switch (axis.taps) {
    case 4: return ScaleAcross<2>(first, pairs, 4, quad, width, out);
    case 8: return ScaleAcross<4>(first, pairs, 8, quad, width, out);
    default: return ScaleAcross<0>(first, pairs, axis.taps, quad, width, out);
  }
}

#ifdef YURAGI_AVX2

// The vertical pass below, sixteen lanes at a time.
__attribute__((target("avx2"))) void ScaleDownWide(const int16_t* const* rows, const uint32_t* weights, int count,
                                                    size_t lanes, uint8_t* out) {
  const __m256i half = _mm256_set1_epi32(1 << (kSumShift - 1));
  for (size_t i = 0; i < lanes; i += 16) {
    __m256i lo = half, hi = half;
    for (int k = 0; k < count; k += 2) {
      const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[k] + i));
      const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[k + 1] + i));
      const __m256i w = _mm256_set1_epi32(int32_t(weights[k / 2]));
      lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), w));
      hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), w));
    }
    // Packing works within each half, undoing the unpacking's order.
    const __m256i words = _mm256_packs_epi32(_mm256_srai_epi32(lo, kSumShift), _mm256_srai_epi32(hi, kSumShift));
    const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(words, words), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm256_castsi256_si128(bytes));
  }
}

#endif

// The vertical pass, two source rows at a time; count is even (a row of
// zeros pads it).
void ScaleDown(const int16_t* const* rows, const uint32_t* weights, int count, size_t lanes, uint8_t* out) {
#ifdef YURAGI_AVX2
  if (HasAvx2()) return ScaleDownWide(rows, weights, count, lanes, out);
#endif
  const __m128i half = _mm_set1_epi32(1 << (kSumShift - 1));
  for (size_t i = 0; i < lanes; i += 8) {
    __m128i lo = half, hi = half;
    for (int k = 0; k < count; k += 2) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k + 1] + i));
      const __m128i w = _mm_set1_epi32(int32_t(weights[k / 2]));
      lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), w));
      hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), w));
    }
    const __m128i words = _mm_packs_epi32(_mm_srai_epi32(lo, kSumShift), _mm_srai_epi32(hi, kSumShift));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(words, words));
  }
}

#else

void ScaleAcross(const Axis& axis, const uint8_t* quad, int width, int16_t* out) {
  const int taps = axis.taps;
  const uint16_t* weights = axis.weights.data();
  for (int x = 0; x < width; ++x, weights += taps, out += 3) {
    const uint8_t* p = quad + 4 * size_t(axis.first[size_t(x)]);
    for (int c = 0; c < 3; ++c) {
      int32_t sum = 1 << (kRowShift - 1);
      for (int k = 0; k < taps; ++k) sum += int32_t(weights[k]) * p[4 * k + c];
      out[c] = int16_t(sum >> kRowShift);
    }
  }
}

void ScaleDown(const int16_t* const* rows, const uint32_t* weights, int count, size_t lanes, uint8_t* out) {
  for (size_t i = 0; i < lanes; ++i) {
    int32_t sum = 1 << (kSumShift - 1);
    for (int k = 0; k < count; k += 2) {
      sum += int32_t(weights[k / 2] & 0xFFFF) * rows[k][i] + int32_t(weights[k / 2] >> 16) * rows[k + 1][i];
    }
    out[i] = uint8_t(std::min(255, sum >> kSumShift));
  }
}

#endif

}  // namespace

RowScaler::RowScaler(int sourceWidth, int sourceHeight, int width, int height, int bytesPerPixel)
    : sourceWidth_(sourceWidth), sourceHeight_(sourceHeight), width_(width), height_(height),
      bytesPerPixel_(bytesPerPixel) {
  if (sourceWidth_ <= 0 || sourceHeight_ <= 0 || width_ <= 0 || height_ <= 0 ||
      (bytesPerPixel_ != 3 && bytesPerPixel_ != 4)) {
    width_ = height_ = 0;
    return;
  }
  columns_ = CachedAxis(sourceWidth_, width_, 4);
  rows_ = CachedAxis(sourceHeight_, height_, 1);
  // The horizontal pass reads four pixels at a time.
  padRows_ = bytesPerPixel_ != 4 || sourceWidth_ < columns_->taps;
  if (padRows_) quad_.assign(size_t(std::max(sourceWidth_, columns_->taps)) * 4, 0);
  // Whole vectors of 16 lanes, with room for the last pixel's fourth lane.
  stride_ = (size_t(width_) * 3 + 1 + 15) / 16 * 16;
  // One row more, of zeros, pads an odd number of rows.
  recent_.assign(size_t(rows_->taps + 1) * stride_, 0);
  made_.resize(stride_);
  sources_.resize(size_t(rows_->taps) + 1);
  pairs_.resize(size_t(rows_->taps) / 2 + 1);
  out_.width = width_;
  out_.height = height_;
  // Filled a row at a time, in order, rather than zeroed first.
  out_.pixels.reserve(size_t(width_) * 3 * size_t(height_));
}

RowScaler::~RowScaler() = default;

void RowScaler::AddRow(const uint8_t* pixels) {
  if (width_ == 0 || nextRow_ >= sourceHeight_ || nextTarget_ >= height_) return;
  const int y = nextRow_++;
  const uint8_t* quad = pixels;
  if (padRows_) {
    for (int x = 0; x < sourceWidth_; ++x, pixels += bytesPerPixel_) {
      std::memcpy(&quad_[4 * size_t(x)], pixels, 3);
    }
    quad = quad_.data();
  }
  ScaleAcross(*columns_, quad, width_, recent_.data() + size_t(y % rows_->taps) * stride_);
  while (nextTarget_ < height_ && rows_->last[size_t(nextTarget_)] <= y) MakeRow(nextTarget_++);
}

// From the source rows in so far; those still missing count as black.
void RowScaler::MakeRow(int target) {
  const Axis& rows = *rows_;
  int count = 0;
  for (int k = 0; k < rows.taps; ++k) {
    const int source = rows.first[size_t(target)] + k;
    const uint32_t weight = rows.weights[size_t(target) * size_t(rows.taps) + size_t(k)];
    if (weight == 0 || source >= nextRow_) continue;
    sources_[size_t(count)] = recent_.data() + size_t(source % rows.taps) * stride_;
    uint32_t& pair = pairs_[size_t(count / 2)];
    pair = count % 2 == 0 ? weight : pair | weight << 16;
    ++count;
  }
  const size_t bytes = size_t(width_) * 3;
  if (count == 0) {
    out_.pixels.insert(out_.pixels.end(), bytes, 0);  // black
    return;
  }
  if (count % 2 != 0) sources_[size_t(count++)] = recent_.data() + size_t(rows.taps) * stride_;  // zeros
  ScaleDown(sources_.data(), pairs_.data(), count, stride_, made_.data());
  out_.pixels.insert(out_.pixels.end(), made_.begin(), made_.begin() + ptrdiff_t(bytes));
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
