// The fixed-point scaler against the same resampling done in doubles.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "formats/rgb_image.h"

using namespace yuragi;

namespace {

// Per output position: (source position, weight) in exact arithmetic.
std::vector<std::vector<std::pair<int, double>>> Weights(int from, int to) {
  std::vector<std::vector<std::pair<int, double>>> result(static_cast<size_t>(to));
  const double scale = double(from) / to;
  for (int i = 0; i < to; ++i) {
    if (scale >= 1) {
      const double begin = i * scale, end = begin + scale;
      for (int s = int(begin); s < from && s < end; ++s) {
        result[size_t(i)].push_back({s, (std::min(end, s + 1.0) - std::max(begin, double(s))) / scale});
      }
    } else {
      const double centre = std::clamp((i + 0.5) * scale - 0.5, 0.0, double(from - 1));
      const int lo = int(centre);
      result[size_t(i)].push_back({lo, 1 - (centre - lo)});
      if (lo + 1 < from) result[size_t(i)].push_back({lo + 1, centre - lo});
    }
  }
  return result;
}

// Rows from rowsGiven on count as black.
RgbImage Reference(const RgbImage& source, int width, int height, int rowsGiven) {
  const auto columns = Weights(source.width, width);
  const auto rows = Weights(source.height, height);
  RgbImage out{width, height, std::vector<uint8_t>(size_t(width) * size_t(height) * 3)};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c) {
        double sum = 0;
        for (const auto& [sy, wy] : rows[size_t(y)]) {
          if (sy >= rowsGiven) continue;
          for (const auto& [sx, wx] : columns[size_t(x)]) {
            sum += wy * wx * source.pixels[(size_t(sy) * size_t(source.width) + size_t(sx)) * 3 + size_t(c)];
          }
        }
        out.pixels[(size_t(y) * size_t(width) + size_t(x)) * 3 + size_t(c)] = uint8_t(std::lround(sum));
      }
    }
  }
  return out;
}

}  // namespace

TEST(RowScaler, MatchesExactResamplingWithinOneLevel) {
  struct Case {
    int sourceWidth, sourceHeight, width, height, rowsGiven;
  };
  const Case cases[] = {
      {160, 120, 96, 96, 120},   // a 320 x 240 picture at 1/2
      {500, 375, 96, 96, 375},   // 4000 x 3000 at 1/8
      {2048, 30, 96, 96, 30},    // shrinks across, grows down
      {40, 30, 96, 96, 30},      // grows both ways
      {1, 1, 96, 96, 1},         // one pixel
      {96, 96, 96, 96, 96},      // same size
      {333, 217, 33, 17, 217},   // odd ratios
      {160, 120, 96, 96, 50},    // cut: the rest count as black
  };
  std::mt19937 random(7);
  for (const Case& c : cases) {
    RgbImage source{c.sourceWidth, c.sourceHeight, {}};
    source.pixels.resize(size_t(c.sourceWidth) * size_t(c.sourceHeight) * 3);
    for (uint8_t& v : source.pixels) v = uint8_t(random());
    RowScaler scaler(c.sourceWidth, c.sourceHeight, c.width, c.height);
    for (int y = 0; y < c.rowsGiven; ++y) scaler.AddRow(source.pixels.data() + size_t(y) * size_t(c.sourceWidth) * 3);
    const RgbImage scaled = scaler.Finish();
    const RgbImage expected = Reference(source, c.width, c.height, c.rowsGiven);
    ASSERT_EQ(scaled.width, c.width);
    ASSERT_EQ(scaled.height, c.height);
    int worst = 0;
    for (size_t i = 0; i < scaled.pixels.size(); ++i) {
      worst = std::max(worst, std::abs(int(scaled.pixels[i]) - int(expected.pixels[i])));
    }
    EXPECT_LE(worst, 1) << c.sourceWidth << "x" << c.sourceHeight << " rows " << c.rowsGiven;
    // A flat colour stays exactly that colour.
    if (c.rowsGiven == c.sourceHeight) {
      std::fill(source.pixels.begin(), source.pixels.end(), uint8_t(201));
      const RgbImage flat = ResizeSmooth(source, c.width, c.height);
      EXPECT_TRUE(std::all_of(flat.pixels.begin(), flat.pixels.end(), [](uint8_t v) { return v == 201; }));
    }
  }
}
