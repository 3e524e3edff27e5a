#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Real JPEG files for tests, benchmarks and the demo, written with libjpeg.
namespace yuragi::testing {

// ManyScans: progressive, each coefficient band of each component sent in
// three steps of precision, 568 scans in all.
enum class JpegKind { Baseline, Progressive, Grayscale, Cmyk, Arithmetic, ManyScans };

struct JpegSpec {
  int width = 64;
  int height = 48;
  JpegKind kind = JpegKind::Baseline;
  int quality = 85;
  uint32_t seed = 1;  // picks the pattern
  int grain = 0;      // fine texture of up to +-grain a channel, as photographs have
};

// A smooth, varied test picture as RGB (or CMYK for that kind).
std::vector<uint8_t> EncodeJpeg(const JpegSpec& spec);

// Pixel of the pattern, so decoders can be checked against it.
void PatternPixel(const JpegSpec& spec, int x, int y, uint8_t rgb[3]);

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
void WriteFile(const std::string& path, const std::string& bytes);
std::vector<uint8_t> ReadFile(const std::string& path);

// Bytes [0, keep) of a stream: a download cut short.
std::vector<uint8_t> Truncated(const std::vector<uint8_t>& bytes, size_t keep);

// The same stream with a frame header that claims another pixel size (up
// to 65,535 each way): a hostile or damaged file with little data behind
// a huge announced picture.
std::vector<uint8_t> WithClaimedSize(std::vector<uint8_t> bytes, int width, int height);

// Grown to the wanted size with application segments after the start
// marker: still a valid, complete picture.
std::vector<uint8_t> Padded(std::vector<uint8_t> jpeg, size_t wanted);

}  // namespace yuragi::testing
