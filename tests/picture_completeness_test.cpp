// The PNG, GIF and WebP completeness tests against real encodes, cut at
// known points and with data after their end; and against files built to
// exhaust a limit.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "convert_pictures.h"
#include "formats/picture_check.h"
#include "formats/picture_format.h"
#include "jpeg_writer.h"

namespace {

using yuragi::PictureCheck;
using yuragi::PictureEnd;
using yuragi::PictureFormat;
using Bytes = std::vector<uint8_t>;

enum class Change { None, CutHalf, CutBeforeLast, CutTiny, Trailing, TrailingZero, FlipMiddle };

struct Case {
  const char* name;
  PictureFormat format;
  const char* file;
  std::vector<std::string> extra;
  Change change;
  PictureEnd end;
  bool decodes;
  // Expected present: <0 none, 1 exactly whole, 0.5 strictly between 0 and 1.
  double present;
};

Bytes Changed(Bytes bytes, Change change, PictureFormat format) {
  switch (change) {
    case Change::None: break;
    case Change::CutHalf: bytes.resize(bytes.size() / 2); break;
    // PNG: IEND (12 bytes) missing; GIF: the trailer byte.
    case Change::CutBeforeLast: bytes.resize(bytes.size() - (format == PictureFormat::Png ? 12 : 1)); break;
    case Change::CutTiny: bytes.resize(20); break;
    case Change::Trailing: bytes.insert(bytes.end(), {'<', 'h', 't', 'm', 'l', '>'}); break;
    case Change::TrailingZero: bytes.insert(bytes.end(), 300, 0); break;
    case Change::FlipMiddle: bytes[bytes.size() / 2] ^= 0x40; break;
  }
  return bytes;
}

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"png_whole", PictureFormat::Png, "a.png", {}, Change::None, PictureEnd::Complete, true, -1},
      {"png_half", PictureFormat::Png, "a.png", {}, Change::CutHalf, PictureEnd::Cut, true, 0.5},
      {"png_no_iend", PictureFormat::Png, "a.png", {}, Change::CutBeforeLast, PictureEnd::Cut, true, 1},
      {"png_header_only", PictureFormat::Png, "a.png", {}, Change::CutTiny, PictureEnd::Cut, false, -1},
      {"png_trailing", PictureFormat::Png, "a.png", {}, Change::Trailing, PictureEnd::Trailing, true, -1},
      {"png_bad_crc", PictureFormat::Png, "a.png", {}, Change::FlipMiddle, PictureEnd::Damaged, true, -1},
      {"png_interlaced_half", PictureFormat::Png, "a.png", {"-interlace", "PNG"}, Change::CutHalf, PictureEnd::Cut,
       true, -1},
      {"gif_whole", PictureFormat::Gif, "a.gif", {}, Change::None, PictureEnd::Complete, true, -1},
      {"gif_half", PictureFormat::Gif, "a.gif", {}, Change::CutHalf, PictureEnd::Cut, true, 0.5},
      {"gif_no_trailer", PictureFormat::Gif, "a.gif", {}, Change::CutBeforeLast, PictureEnd::Cut, true, 1},
      {"gif_trailing_zero", PictureFormat::Gif, "a.gif", {}, Change::TrailingZero, PictureEnd::Trailing, true, -1},
      {"gif_animated_half", PictureFormat::Gif, "a.gif", {"(", "+clone", "-negate", ")", "(", "+clone", "-flip", ")"},
       Change::CutHalf, PictureEnd::Cut, true, 0.5},
      {"webp_whole", PictureFormat::Webp, "a.webp", {}, Change::None, PictureEnd::Complete, true, -1},
      {"webp_half", PictureFormat::Webp, "a.webp", {}, Change::CutHalf, PictureEnd::Cut, true, 0.5},
      {"webp_trailing", PictureFormat::Webp, "a.webp", {}, Change::Trailing, PictureEnd::Trailing, true, -1},
      {"webp_lossless_half", PictureFormat::Webp, "a.webp", {"-define", "webp:lossless=true"}, Change::CutHalf,
       PictureEnd::Cut, true, 0.5},
      {"webp_animated_whole", PictureFormat::Webp, "a.webp", {"(", "+clone", "-flip", ")", "(", "+clone", "-negate", ")"},
       Change::None, PictureEnd::Complete, true, -1},
      {"webp_animated_cut", PictureFormat::Webp, "a.webp", {"(", "+clone", "-flip", ")", "(", "+clone", "-negate", ")"},
       Change::CutHalf, PictureEnd::Cut, true, -1},
      {"webp_animated_trailing", PictureFormat::Webp, "a.webp",
       {"(", "+clone", "-flip", ")", "(", "+clone", "-negate", ")"}, Change::TrailingZero, PictureEnd::Trailing, true,
       -1},
      {"webp_lossless_whole", PictureFormat::Webp, "a.webp", {"-define", "webp:lossless=true"}, Change::None,
       PictureEnd::Complete, true, -1},
  };
  return cases;
}

TEST(PictureCompleteness, RealEncodesCutAndExtended) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    Bytes whole = yuragi::testing::ConvertPicture(c.file, c.extra);
    ASSERT_GT(whole.size(), 100u) << "convert made nothing";
    // ImageMagick 6 writes a second RIFF after an animation's own: trailing
    // data by the RIFF size (which the test reports as such), cut off here.
    if (c.format == PictureFormat::Webp) {
      const size_t riffEnd = size_t(whole[4] | whole[5] << 8 | whole[6] << 16 | uint32_t(whole[7]) << 24) + 8;
      whole.resize(std::min(whole.size(), riffEnd));
    }
    ASSERT_EQ(yuragi::SniffPictureFormat(whole.data(), whole.size()), c.format);
    const Bytes bytes = Changed(whole, c.change, c.format);
    // In memory and from a file, the same answer.
    const PictureCheck check = yuragi::CheckPicture(c.format, bytes.data(), bytes.size());
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/" + c.file;
    yuragi::testing::WriteFile(path, bytes);
    PictureCheck fromFile;
    ASSERT_TRUE(yuragi::CheckPictureFile(c.format, path, fromFile));
    EXPECT_EQ(fromFile.end, check.end);
    EXPECT_EQ(fromFile.present, check.present);

    EXPECT_EQ(yuragi::PictureEndWord(check.end), std::string(yuragi::PictureEndWord(c.end)));
    EXPECT_EQ(check.decodes, c.decodes) << check.error;
    if (c.present < 0) {
      EXPECT_FALSE(check.present.has_value());
    } else if (c.present == 1) {
      EXPECT_EQ(check.present.value_or(-1), 1.0);
    } else {
      EXPECT_GT(check.present.value_or(-1), 0.0);
      EXPECT_LT(check.present.value_or(2), 1.0);
    }
    if (c.end == PictureEnd::Trailing || c.end == PictureEnd::Complete) {
      EXPECT_EQ(check.dataEnd, whole.size());
      EXPECT_EQ(check.trailingBytes, bytes.size() - whole.size());
      EXPECT_EQ(check.trailingZero, c.change == Change::TrailingZero);
      EXPECT_TRUE(check.rowsChecked);
    }
    EXPECT_EQ(check.atBlockBoundary, c.change == Change::CutBeforeLast && c.format == PictureFormat::Gif);
    EXPECT_EQ(check.width > 0, c.decodes);
    if (std::string(c.name).find("animated") != std::string::npos) {
      EXPECT_GE(check.frames, c.change == Change::CutHalf ? 1 : 3);
      EXPECT_LT(check.frames, c.change == Change::CutHalf ? 3 : 4);
    }
  }
}

TEST(PictureCompleteness, ScanSkipsTheDecodeOfCompleteFiles) {
  const Bytes whole = yuragi::testing::ConvertPicture("a.png");
  yuragi::PictureCheckOptions options;
  options.decodeComplete = false;
  const PictureCheck check = yuragi::CheckPicture(PictureFormat::Png, whole.data(), whole.size(), options);
  EXPECT_EQ(check.end, PictureEnd::Complete);
  EXPECT_FALSE(check.rowsChecked);
}

void Append32(Bytes& out, uint32_t value, bool big) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(value >> (big ? 24 - 8 * i : 8 * i)));
}

// Files made to exhaust a limit: each is refused or answered quickly,
// never read whole into a decoder's memory.
TEST(PictureCompleteness, LimitsHoldAgainstHostileFiles) {
  {
    // A PNG of a million tiny chunks after its header.
    Bytes png = yuragi::testing::ConvertPicture("a.png");
    png.resize(33);  // signature and IHDR
    for (int i = 0; i < 1'000'000; ++i) {
      Append32(png, 0, true);
      png.insert(png.end(), {'t', 'i', 'N', 'y', 0xC5, 0x3C, 0xB3, 0x6B});  // CRC of "tiNy"
    }
    const PictureCheck check = yuragi::CheckPicture(PictureFormat::Png, png.data(), png.size());
    EXPECT_FALSE(check.decodes);
    EXPECT_NE(check.error.find("chunks"), std::string::npos) << check.error;
  }
  {
    // A GIF of 100,000 one-pixel frames.
    Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255};
    for (int i = 0; i < 100'000; ++i) gif.insert(gif.end(), {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x4C, 0x01, 0});
    gif.push_back(0x3B);
    const PictureCheck check = yuragi::CheckPicture(PictureFormat::Gif, gif.data(), gif.size());
    EXPECT_FALSE(check.decodes);
    EXPECT_NE(check.error.find("blocks"), std::string::npos) << check.error;
    // The same frame a few times is a picture.
    gif.resize(19 + 15 * 3);
    gif.push_back(0x3B);
    const PictureCheck few = yuragi::CheckPicture(PictureFormat::Gif, gif.data(), gif.size());
    EXPECT_TRUE(few.decodes) << few.error;
    EXPECT_EQ(few.end, PictureEnd::Complete);
    EXPECT_EQ(few.frames, 3);
  }
  {
    // WebPs whose RIFF size says 4 GB: the largest libwebp accepts, and
    // one past it.
    Bytes webp = yuragi::testing::ConvertPicture("a.webp");
    webp[4] = 0xF0;
    webp[5] = webp[6] = webp[7] = 0xFF;
    const PictureCheck check = yuragi::CheckPicture(PictureFormat::Webp, webp.data(), webp.size());
    EXPECT_EQ(check.end, PictureEnd::Cut);
    EXPECT_TRUE(check.decodes) << check.error;
    EXPECT_EQ(check.present.value_or(0), 1.0);
    webp[4] = 0xFF;
    const PictureCheck beyond = yuragi::CheckPicture(PictureFormat::Webp, webp.data(), webp.size());
    EXPECT_EQ(beyond.end, PictureEnd::Cut);
    EXPECT_FALSE(beyond.decodes);
  }
  {
    // A PNG header announcing 100,000 x 100,000 pixels.
    Bytes png = yuragi::testing::ConvertPicture("a.png");
    const PictureCheck small = yuragi::CheckPicture(PictureFormat::Png, png.data(), png.size());
    ASSERT_TRUE(small.decodes);
    yuragi::PictureCheckOptions options;
    options.limits.maxDecodedPixels = 100;
    const PictureCheck capped = yuragi::CheckPicture(PictureFormat::Png, png.data(), png.size(), options);
    EXPECT_FALSE(capped.decodes);
    EXPECT_NE(capped.error.find("too large"), std::string::npos) << capped.error;
  }
}

TEST(PictureFormat, SignatureNamesAndLists) {
  const Bytes jpeg = yuragi::testing::EncodeJpeg(yuragi::testing::JpegSpec{16, 16});
  EXPECT_EQ(yuragi::SniffPictureFormat(jpeg.data(), jpeg.size()), PictureFormat::Jpeg);
  const uint8_t html[] = "<html><body>";
  EXPECT_EQ(yuragi::SniffPictureFormat(html, sizeof html), PictureFormat::None);
  EXPECT_EQ(yuragi::PictureFormatOfName("x.WebP"), PictureFormat::Webp);
  EXPECT_EQ(yuragi::PictureFormatOfName("x.jpeg"), PictureFormat::Jpeg);
  EXPECT_EQ(yuragi::PictureFormatOfName("x.png.html"), PictureFormat::None);
  std::string error;
  EXPECT_EQ(yuragi::ParseFormatList("all", &error), yuragi::kAllFormats);
  EXPECT_EQ(yuragi::ParseFormatList("jpeg,png", &error),
            yuragi::FormatBit(PictureFormat::Jpeg) | yuragi::FormatBit(PictureFormat::Png));
  EXPECT_FALSE(yuragi::ParseFormatList("jpeg,tiff", &error));
  EXPECT_NE(error.find("tiff"), std::string::npos);
}

}  // namespace
