// Downloaded bytes: the preview's full decode and the repair's checks.
#include <cstdint>
#include <cstdlib>

#include "formats/jpeg_decoder.h"

namespace {

void CheckShape(const std::optional<yuragi::RgbImage>& image) {
  if (!image) return;
  if (image->width <= 0 || image->height <= 0 ||
      image->pixels.size() != size_t(image->width) * size_t(image->height) * 3 ||
      int64_t(image->width) * image->height > yuragi::kMaxDecodedPixels) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The preview asks for a screen's size at most.
  CheckShape(yuragi::DecodeJpeg(data, size, yuragi::DecodeRequest{1920, 1080}));
  std::string error;
  yuragi::DecodeWarnings warnings;
  CheckShape(yuragi::DecodeJpeg(data, size, yuragi::DecodeRequest{1, 1}, &error, &warnings));
  // The repair's check of a fetched body.
  yuragi::JpegCheck check;
  if (yuragi::CheckJpeg(data, size, check) &&
      (check.present < 0 || check.present > 1 || check.trailingBytes > size ||
       (check.end == yuragi::JpegEnd::Damaged && check.warning.empty()))) {
    std::abort();
  }
  return 0;
}
