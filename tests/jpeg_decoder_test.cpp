#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "jpeg_writer.h"
#include "platform/jpeg_decoder.h"

using namespace yuragi;
using namespace yuragi::testing;

namespace {

// Mean absolute difference of a decode against the pattern it was made from.
double ErrorAgainstPattern(const RgbImage& image, const JpegSpec& spec, bool gray = false) {
  double sum = 0;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      uint8_t want[3];
      PatternPixel(spec, x, y, want);
      if (gray) want[0] = want[1] = want[2] = uint8_t((want[0] * 299 + want[1] * 587 + want[2] * 114) / 1000);
      const uint8_t* got = &image.pixels[(size_t(y) * size_t(image.width) + size_t(x)) * 3];
      for (int c = 0; c < 3; ++c) sum += std::abs(int(got[c]) - int(want[c]));
    }
  }
  return sum / (double(image.width) * image.height * 3);
}

double MeanDifference(const RgbImage& a, const RgbImage& b) {
  double sum = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i) sum += std::abs(int(a.pixels[i]) - int(b.pixels[i]));
  return sum / double(a.pixels.size());
}

std::optional<RgbImage> Decode(const std::vector<uint8_t>& bytes, DecodeRequest request = {}) {
  return DecodeJpeg(bytes.data(), bytes.size(), request);
}

}  // namespace

TEST(JpegDecoder, EveryKindDecodesToRgb) {
  for (JpegKind kind : {JpegKind::Baseline, JpegKind::Progressive, JpegKind::Grayscale, JpegKind::Cmyk,
                        JpegKind::Arithmetic}) {
    const JpegSpec spec{80, 60, kind, 95, 3};
    const std::optional<RgbImage> image = Decode(EncodeJpeg(spec));
    ASSERT_TRUE(image) << int(kind);
    EXPECT_EQ(image->width, 80);
    EXPECT_EQ(image->height, 60);
    EXPECT_EQ(image->pixels.size(), size_t(80 * 60 * 3));
    EXPECT_LT(ErrorAgainstPattern(*image, spec, kind == JpegKind::Grayscale), 8.0) << int(kind);
  }
}

TEST(JpegDecoder, ACutStreamStillGivesAPictureButABrokenHeaderDoesNot) {
  const JpegSpec spec{200, 150, JpegKind::Baseline, 90, 5};
  const std::vector<uint8_t> whole = EncodeJpeg(spec);
  const std::optional<RgbImage> half = Decode(Truncated(whole, whole.size() / 2));
  ASSERT_TRUE(half);
  EXPECT_EQ(half->width, 200);
  EXPECT_EQ(half->height, 150);
  // The top rows arrived and look like the picture.
  RgbImage top = *half;
  top.height = 40;
  top.pixels.resize(size_t(200 * 40 * 3));
  EXPECT_LT(ErrorAgainstPattern(top, spec), 8.0);
  EXPECT_TRUE(Decode(Truncated(EncodeJpeg({64, 48, JpegKind::Progressive}), 2000)));

  EXPECT_FALSE(Decode({}));
  EXPECT_FALSE(Decode(Truncated(whole, 100)));  // the cut falls inside the header
  std::vector<uint8_t> html = {'<', 'h', 't', 'm', 'l', '>'};
  EXPECT_FALSE(Decode(html));
  std::vector<uint8_t> damaged = whole;
  for (size_t i = 2; i < 40; ++i) damaged[i] = 0x00;
  EXPECT_FALSE(Decode(damaged));
}

TEST(JpegDecoder, ScaledDecodeCoversTheTargetAndLooksLikeAFullOne) {
  const JpegSpec spec{1600, 1200, JpegKind::Baseline, 90, 7};
  const std::vector<uint8_t> bytes = EncodeJpeg(spec);
  const std::optional<RgbImage> small = Decode(bytes, {96, 96});
  ASSERT_TRUE(small);
  EXPECT_EQ(small->width, 200);  // 1/8 still covers 96 x 96
  EXPECT_EQ(small->height, 150);
  const std::optional<RgbImage> cover = Decode(bytes, {500, 100});
  ASSERT_TRUE(cover);
  EXPECT_GE(cover->width, 500);
  EXPECT_EQ(cover->width, 600);  // 3/8
  // A thin picture: one side decides.
  const std::optional<RgbImage> thin = Decode(EncodeJpeg({400, 100}), {96, 96});
  ASSERT_TRUE(thin);
  EXPECT_GE(thin->height, 96);

  const std::optional<RgbImage> full = Decode(bytes);
  ASSERT_TRUE(full);
  const RgbImage a = ResizeSmooth(*small, 96, 96);
  const RgbImage b = ResizeSmooth(*full, 96, 96);
  EXPECT_LT(MeanDifference(a, b), 4.0);
}

TEST(JpegDecoder, HeadersAnnouncingHugePicturesAreScaledOrRefused) {
  // A 20000 x 20000 header (400 megapixels) with almost no data behind it.
  std::vector<uint8_t> bytes = EncodeJpeg({16, 16});
  for (size_t i = 0; i + 8 < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
      bytes[i + 5] = 20000 >> 8;
      bytes[i + 6] = 20000 & 0xFF;
      bytes[i + 7] = 20000 >> 8;
      bytes[i + 8] = 20000 & 0xFF;
      break;
    }
  }
  std::string error;
  const std::optional<RgbImage> image = DecodeJpeg(bytes.data(), bytes.size(), {}, &error);
  if (image) {
    EXPECT_LE(int64_t(image->width) * image->height, kMaxDecodedPixels);
  } else {
    EXPECT_FALSE(error.empty());
  }
}

TEST(ResizeSmooth, StretchesToTheSquareWithoutKeepingProportions) {
  RgbImage wide;
  wide.width = 400;
  wide.height = 100;
  wide.pixels.assign(size_t(400 * 100 * 3), 0);
  for (int y = 0; y < 100; ++y) {
    for (int x = 200; x < 400; ++x) {
      for (int c = 0; c < 3; ++c) wide.pixels[(size_t(y) * 400 + size_t(x)) * 3 + size_t(c)] = 255;
    }
  }
  const RgbImage square = ResizeSmooth(wide, 96, 96);
  EXPECT_EQ(square.width, 96);
  EXPECT_EQ(square.height, 96);
  EXPECT_EQ(square.pixels[(size_t(50) * 96 + 10) * 3], 0);
  EXPECT_EQ(square.pixels[(size_t(50) * 96 + 90) * 3], 255);
  EXPECT_EQ(square.pixels[(size_t(95) * 96 + 95) * 3], 255);
  // Growing works too.
  const RgbImage grown = ResizeSmooth(square, 200, 10);
  EXPECT_EQ(grown.pixels.size(), size_t(200 * 10 * 3));
}
