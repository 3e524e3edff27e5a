#include "formats/webp_completeness.h"

#include <webp/decode.h>
#include <webp/demux.h>

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

struct Walk {
  int frames = 0;              // ANMF chunks read in full
  uint64_t firstFrameEnd = 0;  // where the first of them ends
};

// The hand-written part: the RIFF size against the file, and the chunks.
void WalkChunks(const ByteSource& source, const PictureLimits& limits, PictureCheck& check, Walk& walk) {
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
    if (std::memcmp(chunk, "ANMF", 4) == 0 && next <= size) {
      if (walk.frames++ == 0) walk.firstFrameEnd = next;
    }
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
  bool firstFrameOnly = false;  // an animation's first frame was all that was asked for
  bool dataEnded = false;
  std::string message;
};

struct DemuxDeleter {
  void operator()(WebPDemuxer* demux) const { WebPDemuxDelete(demux); }
};

struct IteratorOwner {
  WebPIterator iter{};
  bool held = false;
  ~IteratorOwner() {
    if (held) WebPDemuxReleaseIterator(&iter);
  }
};

// An animation's frames, each decoded from its own ANMF chunk. The bytes up
// to the first frame's end are held (all of them for a full decode), under
// the memory cap.
Decoded DecodeAnimation(const ByteSource& source, const PictureCheckOptions& options, const Walk& walk,
                        PictureCheck& check) {
  Decoded result;
  const uint64_t wanted = options.decodeComplete || walk.firstFrameEnd == 0 ? source.size() : walk.firstFrameEnd;
  if (wanted > options.limits.maxMemory) {
    result.message = "file too large";
    return result;
  }
  std::vector<uint8_t> bytes(size_t(wanted), 0);
  std::string readError;
  if (source.ReadAt(0, bytes.data(), bytes.size(), &readError) != bytes.size()) {
    result.message = readError.empty() ? "the file shrank" : readError;
    return result;
  }
  const WebPData data{bytes.data(), bytes.size()};
  WebPDemuxState state = WEBP_DEMUX_PARSE_ERROR;
  const std::unique_ptr<WebPDemuxer, DemuxDeleter> demux(WebPDemuxPartial(&data, &state));
  if (!demux || state < WEBP_DEMUX_PARSED_HEADER) {
    result.message = "the animation's header does not parse";
    return result;
  }
  check.width = int(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH));
  check.height = int(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT));
  if (int64_t(check.width) * check.height > options.limits.maxPixels) {
    result.message = "picture too large";
    return result;
  }
  IteratorOwner frames;
  frames.held = WebPDemuxGetFrame(demux.get(), 1, &frames.iter) != 0;
  int64_t decodedPixels = 0;
  for (bool more = frames.held; more; more = WebPDemuxNextFrame(&frames.iter) != 0) {
    const WebPIterator& frame = frames.iter;
    if (!frame.complete) break;
    if (options.keepGoing && !options.keepGoing()) {
      result.message = "stopped";
      return result;
    }
    const int64_t pixels = int64_t(frame.width) * frame.height;
    decodedPixels += pixels;
    if (pixels > options.limits.maxPixels || decodedPixels > options.limits.maxDecodedPixels) {
      result.message = "frames too large";
      return result;
    }
    ConfigOwner owner;
    if (!owner.ok) {
      result.message = "libwebp version mismatch";
      return result;
    }
    owner.config.output.colorspace = MODE_RGBA;
    if (pixels > kScaledPixels) {
      const double factor = std::sqrt(double(kScaledPixels) / double(pixels));
      owner.config.options.use_scaling = 1;
      owner.config.options.scaled_width = std::max(1, int(frame.width * factor));
      owner.config.options.scaled_height = std::max(1, int(frame.height * factor));
    }
    const VP8StatusCode status = WebPDecode(frame.fragment.bytes, frame.fragment.size, &owner.config);
    if (status != VP8_STATUS_OK) {
      result.message = StatusText(status);
      return result;
    }
    check.decodes = true;
    if (!options.decodeComplete) {
      result.firstFrameOnly = true;
      return result;
    }
  }
  result.finished = check.decodes && state == WEBP_DEMUX_DONE && wanted == source.size();
  result.dataEnded = state != WEBP_DEMUX_DONE;
  if (!check.decodes && result.message.empty()) result.message = "no frame decodes";
  return result;
}

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
  Walk walk;
  WalkChunks(source, options.limits, check, walk);
  check.frames = walk.frames;
  if (!check.error.empty()) return check;
  if (check.end == PictureEnd::Complete && !options.decodeComplete) return check;
  const Decoded decoded =
      walk.frames > 0 ? DecodeAnimation(source, options, walk, check) : DecodeStill(source, options, check);
  if (!NoteRows(check, decoded.finished, decoded.message)) return check;
  if (check.end == PictureEnd::Cut) {
    // An animation's rows do not say how much of it is there; its frames do.
    if (!check.present && walk.frames == 0) check.present = 0.0;
  } else {
    check.present.reset();
    if (!decoded.finished && !decoded.firstFrameOnly && decoded.message != "stopped" &&
        check.end != PictureEnd::Damaged) {
      // The RIFF says the data is all there, yet the picture is not.
      check.end = PictureEnd::Damaged;
      check.warning = decoded.message;
    }
  }
  return check;
}

}  // namespace yuragi
