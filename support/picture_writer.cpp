#include "picture_writer.h"

#include <gif_lib.h>
#include <png.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <csetjmp>
#include <stdexcept>

namespace yuragi::testing {

namespace {

std::vector<uint8_t> PatternRgb(const JpegSpec& spec, int shift = 0) {
  std::vector<uint8_t> rgb(size_t(spec.width) * size_t(spec.height) * 3);
  for (int y = 0; y < spec.height; ++y) {
    for (int x = 0; x < spec.width; ++x) PatternPixel(spec, (x + shift) % spec.width, y, &rgb[(size_t(y) * spec.width + x) * 3]);
  }
  return rgb;
}

void PngWrite(png_structp png, png_bytep data, size_t n) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}

void PngFlush(png_structp) {}

int GifWrite(GifFileType* gif, const GifByteType* data, int n) {
  auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
  out->insert(out->end(), data, data + n);
  return n;
}

}  // namespace

std::vector<uint8_t> EncodePng(const JpegSpec& spec, bool interlaced) {
  const std::vector<uint8_t> rgb = PatternRgb(spec);
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    throw std::runtime_error("libpng could not write");
  }
  png_set_write_fn(png, &out, PngWrite, PngFlush);
  png_set_IHDR(png, info, png_uint_32(spec.width), png_uint_32(spec.height), 8, PNG_COLOR_TYPE_RGB,
               interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  // Small IDAT chunks, as some encoders write them: many chunks to walk.
  png_set_compression_buffer_size(png, 1024);
  png_write_info(png, info);
  const int passes = png_set_interlace_handling(png);
  for (int pass = 0; pass < passes; ++pass) {
    for (int y = 0; y < spec.height; ++y) png_write_row(png, &rgb[size_t(y) * spec.width * 3]);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

std::vector<uint8_t> EncodeGif(const JpegSpec& spec, int frames) {
  std::vector<uint8_t> out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, GifWrite, &error);
  if (!gif) throw std::runtime_error("giflib could not write");
  GifColorType colours[256] = {};
  for (int i = 0; i < 216; ++i) colours[i] = GifColorType{GifByteType(i / 36 * 51), GifByteType(i / 6 % 6 * 51), GifByteType(i % 6 * 51)};
  ColorMapObject* map = GifMakeMapObject(256, colours);
  bool ok = map && EGifPutScreenDesc(gif, spec.width, spec.height, 8, 0, map) != GIF_ERROR;
  std::vector<GifPixelType> line(size_t(spec.width));
  for (int frame = 0; ok && frame < frames; ++frame) {
    const std::vector<uint8_t> rgb = PatternRgb(spec, frame * 3);
    ok = EGifPutImageDesc(gif, 0, 0, spec.width, spec.height, false, nullptr) != GIF_ERROR;
    for (int y = 0; ok && y < spec.height; ++y) {
      for (int x = 0; x < spec.width; ++x) {
        const uint8_t* p = &rgb[(size_t(y) * spec.width + x) * 3];
        line[size_t(x)] = GifPixelType((p[0] + 25) / 51 * 36 + (p[1] + 25) / 51 * 6 + (p[2] + 25) / 51);
      }
      ok = EGifPutLine(gif, line.data(), spec.width) != GIF_ERROR;
    }
  }
  GifFreeMapObject(map);
  if (EGifCloseFile(gif, &error) == GIF_ERROR) ok = false;
  if (!ok) throw std::runtime_error("giflib could not write");
  return out;
}

std::vector<uint8_t> EncodeWebp(const JpegSpec& spec, bool lossless) {
  const std::vector<uint8_t> rgb = PatternRgb(spec);
  uint8_t* encoded = nullptr;
  const size_t size = lossless ? WebPEncodeLosslessRGB(rgb.data(), spec.width, spec.height, spec.width * 3, &encoded)
                               : WebPEncodeRGB(rgb.data(), spec.width, spec.height, spec.width * 3,
                                               float(spec.quality), &encoded);
  if (size == 0) throw std::runtime_error("libwebp could not write");
  std::vector<uint8_t> out(encoded, encoded + size);
  WebPFree(encoded);
  return out;
}

std::vector<uint8_t> EncodeAnimatedWebp(const JpegSpec& spec, int frames) {
  WebPAnimEncoderOptions options;
  WebPConfig config;
  if (!WebPAnimEncoderOptionsInit(&options) || !WebPConfigInit(&config)) throw std::runtime_error("libwebp mismatch");
  config.quality = float(spec.quality);
  WebPAnimEncoder* encoder = WebPAnimEncoderNew(spec.width, spec.height, &options);
  if (!encoder) throw std::runtime_error("libwebpmux could not start");
  bool ok = true;
  for (int frame = 0; ok && frame <= frames; ++frame) {
    WebPPicture picture;
    ok = WebPPictureInit(&picture) != 0;
    picture.width = spec.width;
    picture.height = spec.height;
    if (ok && frame < frames) {
      const std::vector<uint8_t> rgb = PatternRgb(spec, frame * 5);
      ok = WebPPictureImportRGB(&picture, rgb.data(), spec.width * 3) != 0;
    }
    // The last call, without a picture, closes the animation.
    if (ok) ok = WebPAnimEncoderAdd(encoder, frame < frames ? &picture : nullptr, frame * 100, &config) != 0;
    WebPPictureFree(&picture);
  }
  WebPData data;
  WebPDataInit(&data);
  if (ok) ok = WebPAnimEncoderAssemble(encoder, &data) != 0;
  std::vector<uint8_t> out(data.bytes, data.bytes + (ok ? data.size : 0));
  WebPDataClear(&data);
  WebPAnimEncoderDelete(encoder);
  if (!ok) throw std::runtime_error("libwebpmux could not write");
  return out;
}

}  // namespace yuragi::testing
