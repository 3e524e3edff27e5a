#include "formats/webp_completeness.h"

#include <webp/decode.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace yuragi {

namespace {

constexpr int64_t kScaledPixels = 1 << 20;  // output kept at most this large

uint32_t LittleEndian32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The hand-written part: the RIFF size against the file, and the chunks.
void WalkChunks(const ByteSource& source, const PictureLimits& limits, PictureCheck& check) {
  BlockReader reader(source);
  uint8_t header[12];
  const size_t got = reader.Read(header, sizeof header);
  if (std::memcmp(header, "RIFF", std::min<size_t>(got, 4)) != 0 ||
      (got > 8 && std::memcmp(header + 8, "WEBP", got - 8) != 0)) {
    check.end = PictureEnd::Damaged;
    check.warning = "not a WebP signature";
    return;
  }
  if (got < sizeof header) {
    check.end = PictureEnd::Cut;
    return;
  }
  const uint64_t riffEnd = uint64_t(LittleEndian32(header + 4)) + 8;
  const uint64_t size = source.size();
  if (riffEnd < 20) {  // room for at least one chunk header
    check.end = PictureEnd::Damaged;
    check.warning = "RIFF size too small";
    return;
  }
  const uint64_t walkEnd = std::min(riffEnd, size);
  for (int64_t chunks = 0; reader.position() < walkEnd; ++chunks) {
    if (chunks >= limits.maxBlocks) {
      check.error = "more than " + std::to_string(limits.maxBlocks) + " chunks";
      return;
    }
    uint8_t chunk[8];
    if (reader.Read(chunk, sizeof chunk) < sizeof chunk) break;
    const uint64_t length = LittleEndian32(chunk + 4);
    const uint64_t next = reader.position() + length + (length & 1);
    if (next > riffEnd) {
      check.end = PictureEnd::Damaged;
      check.warning = "chunk " + std::string(reinterpret_cast<const char*>(chunk), 4) + " reaches past the RIFF size";
      check.dataEnd = std::min(riffEnd, size);
      return;
    }
    if (!reader.Skip(next - reader.position())) break;
  }
  if (size < riffEnd) {
    check.end = PictureEnd::Cut;
    check.dataEnd = size;
    return;
  }
  check.dataEnd = riffEnd;
  check.trailingBytes = size - riffEnd;
  check.end = check.trailingBytes > 0 ? PictureEnd::Trailing : PictureEnd::Complete;
  if (check.trailingBytes > 0) check.trailingZero = AllZeroFrom(source, riffEnd);
}

struct IdecDeleter {
  void operator()(WebPIDecoder* idec) const { WebPIDelete(idec); }
};

struct ConfigOwner {
  WebPDecoderConfig config;
  ConfigOwner() : ok(WebPInitDecoderConfig(&config) != 0) {}
  ~ConfigOwner() { WebPFreeDecBuffer(&config.output); }
  bool ok;
};

std::string StatusText(VP8StatusCode status) {
  switch (status) {
    case VP8_STATUS_OK: return "ok";
    case VP8_STATUS_OUT_OF_MEMORY: return "out of memory";
    case VP8_STATUS_INVALID_PARAM: return "invalid parameter";
    case VP8_STATUS_BITSTREAM_ERROR: return "bitstream error";
    case VP8_STATUS_UNSUPPORTED_FEATURE: return "unsupported feature";
    case VP8_STATUS_SUSPENDED: return "the data ends here";
    case VP8_STATUS_USER_ABORT: return "stopped";
    case VP8_STATUS_NOT_ENOUGH_DATA: return "not enough data";
  }
  return "libwebp error " + std::to_string(int(status));
}

struct Decoded {
  bool finished = false;
  bool dataEnded = false;
  std::string message;
};

Decoded DecodeStill(const ByteSource& source, const PictureCheckOptions& options, PictureCheck& check) {
  Decoded result;
  ConfigOwner owner;
  if (!owner.ok) {
    result.message = "libwebp version mismatch";
    return result;
  }
  WebPDecoderConfig& config = owner.config;
  // The features come from the first block (VP8X, VP8 or VP8L header).
  std::vector<uint8_t> block(BlockReader::kBlock);
  std::string readError;
  const size_t head = source.ReadAt(0, block.data(), block.size(), &readError);
  const VP8StatusCode features = WebPGetFeatures(block.data(), head, &config.input);
  if (features != VP8_STATUS_OK) {
    result.message = StatusText(features);
    return result;
  }
  check.width = config.input.width;
  check.height = config.input.height;
  const int64_t pixels = int64_t(check.width) * check.height;
  if (config.input.has_animation) {
    result.message = "animated WebP pictures are not decoded";
    return result;
  }
  // A lossless picture is held whole inside libwebp, 4 bytes a pixel.
  const bool lossless = config.input.format == 2;
  if (pixels > options.limits.maxPixels || pixels > options.limits.maxDecodedPixels ||
      (lossless && uint64_t(pixels) * 4 > options.limits.maxMemory)) {
    result.message = "picture too large";
    return result;
  }
  // Data held by the incremental decoder grows with the file.
  if (source.size() > options.limits.maxMemory) {
    result.message = "file too large";
    return result;
  }
  int outHeight = check.height;
  if (pixels > kScaledPixels) {
    const double factor = std::sqrt(double(kScaledPixels) / double(pixels));
    config.options.use_scaling = 1;
    config.options.scaled_width = std::max(1, int(check.width * factor));
    config.options.scaled_height = outHeight = std::max(1, int(check.height * factor));
  }
  config.output.colorspace = MODE_RGBA;
  const std::unique_ptr<WebPIDecoder, IdecDeleter> idec(WebPIDecode(nullptr, 0, &config));
  if (!idec) {
    result.message = "libwebp could not start";
    return result;
  }
  VP8StatusCode status = VP8_STATUS_SUSPENDED;
  for (uint64_t offset = 0; offset < source.size() && status == VP8_STATUS_SUSPENDED;) {
    if (options.keepGoing && !options.keepGoing()) {
      result.message = "stopped";
      return result;
    }
    const size_t got = source.ReadAt(offset, block.data(), block.size(), &readError);
    if (got == 0) break;
    offset += got;
    status = WebPIAppend(idec.get(), block.data(), got);
    int lastY = 0;
    if (WebPIDecGetRGB(idec.get(), &lastY, nullptr, nullptr, nullptr) && lastY > 0) {
      check.decodes = true;
      check.present = double(lastY) / double(outHeight);
    }
  }
  result.finished = status == VP8_STATUS_OK;
  result.dataEnded = status == VP8_STATUS_SUSPENDED;
  if (result.finished) check.decodes = true;
  if (!result.finished) result.message = StatusText(status);
  return result;
}

}  // namespace

PictureCheck CheckWebp(const ByteSource& source, const PictureCheckOptions& options) {
  PictureCheck check;
  WalkChunks(source, options.limits, check);
  if (!check.error.empty()) return check;
  if (check.end == PictureEnd::Complete && !options.decodeComplete) return check;
  const Decoded decoded = DecodeStill(source, options, check);
  check.rowsChecked = decoded.finished;
  if (!check.decodes) {
    check.present.reset();
    check.error = decoded.message.empty() ? "no row decodes" : decoded.message;
    return check;
  }
  if (check.end == PictureEnd::Cut) {
    if (!check.present) check.present = 0.0;
  } else {
    check.present.reset();
    if (!decoded.finished && decoded.message != "stopped" && check.end != PictureEnd::Damaged) {
      // The RIFF says the data is all there, yet the picture is not.
      check.end = PictureEnd::Damaged;
      check.warning = decoded.message;
    }
  }
  return check;
}

}  // namespace yuragi
