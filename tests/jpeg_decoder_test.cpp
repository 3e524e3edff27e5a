#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <cmath>
#include <cstdlib>

#include "jpeg_writer.h"
#include "formats/jpeg_decoder.h"

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

TEST(JpegDecoder, HeadersAnnouncingHugePicturesAreRefusedOrDecodedSmall) {
  // 65,500 x 65,500 behind a few hundred bytes: refused before any work.
  const std::vector<uint8_t> claim = WithClaimedSize(EncodeJpeg({16, 16}), 65500, 65500);
  std::string error;
  EXPECT_FALSE(DecodeJpeg(claim.data(), claim.size(), {}, &error));
  EXPECT_EQ(error, "picture too large (65500x65500)");
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/claim.jpg";
  WriteFile(path, claim);
  error.clear();
  EXPECT_FALSE(MakeThumbnail(path, 96, 96, &error));
  EXPECT_EQ(error, "picture too large (65500x65500)");

  // Within the limit a thumbnail still comes, from the smallest scale.
  const std::vector<uint8_t> large = WithClaimedSize(EncodeJpeg({16, 16}), 16000, 12000);
  std::optional<RgbImage> scaled = DecodeJpeg(large.data(), large.size(), {96, 96});
  ASSERT_TRUE(scaled);
  EXPECT_EQ(scaled->width, 2000);
  EXPECT_EQ(scaled->height, 1500);
  WriteFile(path, large);
  const std::optional<RgbImage> thumbnail = MakeThumbnail(path, 96, 96);
  ASSERT_TRUE(thumbnail);
  EXPECT_EQ(thumbnail->width, 96);
  EXPECT_EQ(thumbnail->height, 96);
  EXPECT_EQ(*thumbnail, ResizeSmooth(*scaled, 96, 96));
}

TEST(JpegDecoder, ACutFortyMegapixelProgressivePhotographStillGetsItsThumbnail) {
  // All its coefficients must be held at once: some 120 MB for 4:2:0.
  const JpegSpec spec{8000, 5000, JpegKind::Progressive, 85, 3, 24};
  const std::vector<uint8_t> picture = EncodeJpeg(spec);
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/photo.jpg";
  WriteFile(path, Truncated(picture, picture.size() * 3 / 5));
  std::string error;
  const std::optional<RgbImage> thumbnail = MakeThumbnail(path, 96, 96, &error);
  ASSERT_TRUE(thumbnail) << error << " (" << picture.size() << " bytes)";
  uint8_t expected[3];
  PatternPixel({8000, 5000, JpegKind::Progressive, 85, 3}, 4000, 40, expected);
  const uint8_t* pixel = &thumbnail->pixels[(size_t(0) * 96 + 48) * 3];
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(pixel[c], expected[c], 24) << c;
}

TEST(JpegDecoder, EndlessScansAreCutShortAndCanBeStopped) {
  // A picture in more than 500 scans is refused, from memory or a file.
  const JpegSpec spec{2000, 2000, JpegKind::ManyScans, 90, 5};
  const std::vector<uint8_t> picture = EncodeJpeg(spec);
  std::string error;
  EXPECT_FALSE(DecodeJpeg(picture.data(), picture.size(), {}, &error));
  EXPECT_EQ(error, "too many scans (over 500)");
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/scans.jpg";
  WriteFile(path, picture);
  error.clear();
  EXPECT_FALSE(MakeThumbnail(path, 96, 96, &error));
  EXPECT_EQ(error, "too many scans (over 500)");

  // Cut below the limit, it decodes; the window is asked whether to go on
  // while the scans are taken in, though far less is read than the reader
  // asks after. Told to stop, it ends the data there or, when all of it is
  // in already, gives up.
  WriteFile(path, Truncated(picture, picture.size() * 4 / 5));
  EXPECT_TRUE(MakeThumbnail(path, 96, 96));
  int asked = 0;
  error.clear();
  const std::optional<RgbImage> stopped = MakeThumbnail(path, 96, 96, &error, [&] {
    ++asked;
    return false;
  });
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(stopped || error == "stopped") << error;
}

TEST(JpegDecoder, FilesDecodeAsTheirBytesDoWithoutBeingReadWhole) {
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/p.jpg";
  for (JpegKind kind : {JpegKind::Baseline, JpegKind::Progressive, JpegKind::Grayscale, JpegKind::Cmyk}) {
    const std::vector<uint8_t> bytes = Truncated(EncodeJpeg({300, 200, kind, 90, 11}), 9000);
    WriteFile(path, bytes);
    const std::optional<RgbImage> memory = Decode(bytes, {120, 80});
    const std::optional<RgbImage> file = DecodeJpegFile(path, {120, 80});
    ASSERT_TRUE(memory) << int(kind);
    ASSERT_TRUE(file) << int(kind);
    EXPECT_EQ(*file, *memory) << int(kind);
    // Rows scaled as they come give exactly the scaled whole picture.
    const std::optional<RgbImage> thumbnail = MakeThumbnail(path, 96, 96);
    ASSERT_TRUE(thumbnail) << int(kind);
    const std::optional<RgbImage> small = Decode(bytes, {96, 96});
    ASSERT_TRUE(small);
    EXPECT_EQ(*thumbnail, ResizeSmooth(*small, 96, 96)) << int(kind);
  }
  // A picture smaller than the thumbnail is stretched up.
  WriteFile(path, EncodeJpeg({40, 30, JpegKind::Baseline, 90, 12}));
  const std::optional<RgbImage> grown = MakeThumbnail(path, 96, 96);
  ASSERT_TRUE(grown);
  EXPECT_EQ(*grown, ResizeSmooth(*DecodeJpegFile(path), 96, 96));

  // 3 GB, almost all of it a hole after a cut picture (a download that
  // preallocated its file): the picture still comes from its first bytes.
  const std::vector<uint8_t> whole = EncodeJpeg({200, 150, JpegKind::Baseline, 90, 13});
  WriteFile(path, Truncated(whole, whole.size() / 2));
  const std::optional<RgbImage> before = MakeThumbnail(path, 96, 96);
  ASSERT_EQ(::truncate(path.c_str(), 3LL << 30), 0);
  const std::optional<RgbImage> after = MakeThumbnail(path, 96, 96);
  ASSERT_TRUE(before);
  ASSERT_TRUE(after);
  // The rows that arrived before the cut look the same either way.
  RgbImage top = *after, reference = *before;
  top.height = reference.height = 20;
  top.pixels.resize(size_t(96 * 20 * 3));
  reference.pixels.resize(top.pixels.size());
  EXPECT_LT(MeanDifference(top, reference), 1.0);

  std::string error;
  EXPECT_FALSE(DecodeJpegFile(dir.path().toStdString() + "/missing.jpg", {}, &error));
  EXPECT_EQ(error, "cannot read file");
  EXPECT_FALSE(DecodeJpegFile(dir.path().toStdString(), {}, &error));
  EXPECT_EQ(error, "cannot read file");
  WriteFile(path, std::string());
  EXPECT_FALSE(MakeThumbnail(path, 96, 96, &error));
  EXPECT_EQ(error, "empty file");
  ASSERT_EQ(::mkfifo((dir.path().toStdString() + "/fifo.jpg").c_str(), 0600), 0);
  EXPECT_FALSE(MakeThumbnail(dir.path().toStdString() + "/fifo.jpg", 96, 96, &error));  // does not block
}

TEST(JpegDecoder, ACutPicturesThumbnailIsItsDecodeScaledWhereverTheDataEnds) {
  // Rows past the end are made grey without the library; they must be the
  // rows it would have given, at any cut and any height of a row of blocks.
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/cut.jpg";
  for (const JpegSpec& spec : {JpegSpec{320, 240, JpegKind::Baseline, 85, 5}, JpegSpec{96, 500, JpegKind::Baseline, 70, 3},
                               JpegSpec{200, 150, JpegKind::Progressive, 85, 4}}) {
    const std::vector<uint8_t> bytes = EncodeJpeg(spec);
    for (int twentieths = 2; twentieths < 20; ++twentieths) {
      WriteFile(path, Truncated(bytes, bytes.size() * size_t(twentieths) / 20));
      JpegCheck check;
      const std::optional<RgbImage> thumbnail = MakeThumbnail(path, 96, 96, nullptr, nullptr, &check);
      const std::optional<RgbImage> whole = DecodeJpegFile(path, {96, 96});
      ASSERT_EQ(bool(thumbnail), bool(whole)) << spec.width << " " << twentieths;
      if (!whole) continue;  // cut inside the header
      EXPECT_EQ(*thumbnail, ResizeSmooth(*whole, 96, 96)) << spec.width << "x" << spec.height << " " << twentieths;
      EXPECT_EQ(check.end, JpegEnd::Cut);
    }
  }
}

TEST(JpegDecoder, ALongReadAsksWhetherToGoOnAndStopsWhenTold) {
  // A cut progressive picture followed by 12 MB of written zeros: the
  // decoder reads them all looking for the next marker.
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/padded.jpg";
  const std::vector<uint8_t> picture = EncodeJpeg({200, 150, JpegKind::Progressive, 90, 14});
  std::vector<uint8_t> bytes = Truncated(picture, picture.size() / 2);
  bytes.resize(bytes.size() + (12 << 20), 0);
  WriteFile(path, bytes);
  int asked = 0;
  const std::optional<RgbImage> whole = MakeThumbnail(path, 96, 96, nullptr, [&] { return ++asked > 0; });
  ASSERT_TRUE(whole);
  EXPECT_GE(asked, 2);
  asked = 0;
  const std::optional<RgbImage> stopped = MakeThumbnail(path, 96, 96, nullptr, [&] {
    ++asked;
    return false;
  });
  ASSERT_TRUE(stopped);  // what arrived before the stop still makes a picture
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(stopped->width, 96);
}

TEST(RowScaler, RowsThatNeverArriveAreBlack) {
  RowScaler scaler(10, 10, 5, 5);
  const std::vector<uint8_t> white(30, 255);
  for (int y = 0; y < 4; ++y) scaler.AddRow(white.data());
  const RgbImage out = scaler.Finish();
  ASSERT_EQ(out.width, 5);
  ASSERT_EQ(out.height, 5);
  EXPECT_EQ(out.pixels[0], 255);               // rows 0-1
  EXPECT_EQ(out.pixels[size_t(1) * 15], 255);  // rows 2-3
  EXPECT_EQ(out.pixels[size_t(2) * 15], 0);    // rows 4-5 never came
  EXPECT_EQ(out.pixels[size_t(4) * 15 + 14], 0);
  EXPECT_TRUE(RowScaler(0, 10, 5, 5).Finish().empty());
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
