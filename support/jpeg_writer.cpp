#include "jpeg_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <jpeglib.h>

namespace yuragi::testing {

void PatternPixel(const JpegSpec& spec, int x, int y, uint8_t rgb[3]) {
  const double fx = double(x) / std::max(1, spec.width - 1);
  const double fy = double(y) / std::max(1, spec.height - 1);
  const double phase = spec.seed * 0.7;
  rgb[0] = uint8_t(127.5 + 127.5 * std::sin(6.0 * fx + phase));
  rgb[1] = uint8_t(127.5 + 127.5 * std::cos(5.0 * fy + phase * 0.5));
  rgb[2] = uint8_t(255.0 * (0.5 * fx + 0.5 * fy));
  if (spec.grain <= 0) return;
  uint32_t h = uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u ^ spec.seed * 83492791u;
  for (int c = 0; c < 3; ++c) {
    h *= 2654435761u;
    const int offset = int((h >> 16) % uint32_t(2 * spec.grain + 1)) - spec.grain;
    rgb[c] = uint8_t(std::clamp(rgb[c] + offset, 0, 255));
  }
}

std::vector<uint8_t> EncodeJpeg(const JpegSpec& spec) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr errors{};
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = JDIMENSION(spec.width);
  cinfo.image_height = JDIMENSION(spec.height);
  switch (spec.kind) {
    case JpegKind::Grayscale:
      cinfo.input_components = 1;
      cinfo.in_color_space = JCS_GRAYSCALE;
      break;
    case JpegKind::Cmyk:
      cinfo.input_components = 4;
      cinfo.in_color_space = JCS_CMYK;
      break;
    default:
      cinfo.input_components = 3;
      cinfo.in_color_space = JCS_RGB;
      break;
  }
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, spec.quality, TRUE);
  if (spec.kind == JpegKind::Progressive) jpeg_simple_progression(&cinfo);
  std::vector<jpeg_scan_info> scans;
  if (spec.kind == JpegKind::ManyScans) {
    scans.push_back({3, {0, 1, 2, 0}, 0, 0, 0, 0});
    for (int component = 0; component < 3; ++component) {
      for (int band = 1; band < 64; ++band) {
        scans.push_back({1, {component}, band, band, 0, 2});
        scans.push_back({1, {component}, band, band, 2, 1});
        scans.push_back({1, {component}, band, band, 1, 0});
      }
    }
    cinfo.scan_info = scans.data();
    cinfo.num_scans = int(scans.size());
  }
  if (spec.kind == JpegKind::Arithmetic) cinfo.arith_code = TRUE;
  if (spec.kind == JpegKind::Cmyk) jpeg_set_colorspace(&cinfo, JCS_CMYK);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<uint8_t> row(size_t(spec.width) * size_t(cinfo.input_components));
  while (cinfo.next_scanline < cinfo.image_height) {
    const int y = int(cinfo.next_scanline);
    for (int x = 0; x < spec.width; ++x) {
      uint8_t rgb[3];
      PatternPixel(spec, x, y, rgb);
      if (spec.kind == JpegKind::Grayscale) {
        row[size_t(x)] = uint8_t((rgb[0] * 299 + rgb[1] * 587 + rgb[2] * 114) / 1000);
      } else if (spec.kind == JpegKind::Cmyk) {
        // libjpeg writes an Adobe marker, so inks are stored inverted.
        row[size_t(x) * 4] = rgb[0];
        row[size_t(x) * 4 + 1] = rgb[1];
        row[size_t(x) * 4 + 2] = rgb[2];
        row[size_t(x) * 4 + 3] = 255;
      } else {
        row[size_t(x) * 3] = rgb[0];
        row[size_t(x) * 3 + 1] = rgb[1];
        row[size_t(x) * 3 + 2] = rgb[2];
      }
    }
    JSAMPROW pointer = row.data();
    jpeg_write_scanlines(&cinfo, &pointer, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::vector<uint8_t> out(buffer, buffer + size);
  jpeg_destroy_compress(&cinfo);
  std::free(buffer);
  return out;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  WriteFile(path, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> Truncated(const std::vector<uint8_t>& bytes, size_t keep) {
  return std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(std::min(keep, bytes.size())));
}

std::vector<uint8_t> WithClaimedSize(std::vector<uint8_t> bytes, int width, int height) {
  for (size_t i = 0; i + 8 < bytes.size(); ++i) {
    // SOF0 to SOF2: baseline, extended, progressive.
    if (bytes[i] == 0xFF && bytes[i + 1] >= 0xC0 && bytes[i + 1] <= 0xC2) {
      bytes[i + 5] = uint8_t(height >> 8);
      bytes[i + 6] = uint8_t(height & 0xFF);
      bytes[i + 7] = uint8_t(width >> 8);
      bytes[i + 8] = uint8_t(width & 0xFF);
      break;
    }
  }
  return bytes;
}

std::vector<uint8_t> Padded(std::vector<uint8_t> jpeg, size_t wanted) {
  std::vector<uint8_t> padding;
  while (jpeg.size() + padding.size() + 4 < wanted) {
    const size_t chunk = std::min<size_t>(65533, wanted - jpeg.size() - padding.size() - 4);
    padding.insert(padding.end(), {0xFF, 0xE9, uint8_t((chunk + 2) >> 8), uint8_t((chunk + 2) & 0xFF)});
    padding.insert(padding.end(), chunk, 0x5A);
  }
  jpeg.insert(jpeg.begin() + 2, padding.begin(), padding.end());
  return jpeg;
}

}  // namespace yuragi::testing
