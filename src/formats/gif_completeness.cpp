#include "formats/gif_completeness.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace yuragi {

namespace {

constexpr uint8_t kExtension = 0x21;
constexpr uint8_t kImage = 0x2C;
constexpr uint8_t kTrailer = 0x3B;

int ColourTableBytes(uint8_t flags) { return (flags & 0x80) ? 3 << ((flags & 7) + 1) : 0; }

// Sub-blocks up to the empty one; false when the data ends first.
bool PassSubBlocks(BlockReader& reader) {
  for (;;) {
    uint8_t size;
    if (!reader.ReadByte(size)) return false;
    if (size == 0) return true;
    if (!reader.Skip(size)) return false;
  }
}

struct Walk {
  int64_t lastFrameIndex = -1;  // the frame being read when the data ended, or the last one
  int64_t frames = 0;           // read in full
};

// The hand-written part: where the block sequence ends and how.
Walk WalkBlocks(const ByteSource& source, const PictureLimits& limits, PictureCheck& check) {
  Walk walk;
  BlockReader reader(source);
  uint8_t header[13];
  const size_t got = reader.Read(header, sizeof header);
  const size_t signature = std::min<size_t>(got, 6);
  if (std::memcmp(header, "GIF87a", signature) != 0 && std::memcmp(header, "GIF89a", signature) != 0) {
    check.end = PictureEnd::Damaged;
    check.warning = "not a GIF signature";
    return walk;
  }
  if (got < sizeof header || !reader.Skip(uint64_t(ColourTableBytes(header[10])))) {
    check.end = PictureEnd::Cut;
    return walk;
  }
  int64_t& frames = walk.frames;
  for (int64_t blocks = 0;; ++blocks) {
    if (blocks >= limits.maxBlocks) {
      check.error = "more than " + std::to_string(limits.maxBlocks) + " blocks";
      return walk;
    }
    const uint64_t blockStart = reader.position();
    uint8_t introducer;
    if (!reader.ReadByte(introducer)) {
      // Everything up to here is whole; only the trailer is missing.
      check.end = PictureEnd::Cut;
      check.atBlockBoundary = frames > 0;
      walk.lastFrameIndex = frames - 1;
      return walk;
    }
    if (introducer == kTrailer) {
      check.dataEnd = reader.position();
      check.trailingBytes = source.size() - check.dataEnd;
      check.end = check.trailingBytes > 0 ? PictureEnd::Trailing : PictureEnd::Complete;
      if (check.trailingBytes > 0) check.trailingZero = AllZeroFrom(source, check.dataEnd);
      walk.lastFrameIndex = frames - 1;
      return walk;
    }
    bool whole = false;
    if (introducer == kExtension) {
      uint8_t label;
      whole = reader.ReadByte(label) && PassSubBlocks(reader);
    } else if (introducer == kImage) {
      uint8_t descriptor[9];
      uint8_t codeSize;
      whole = reader.Read(descriptor, sizeof descriptor) == sizeof descriptor &&
              reader.Skip(uint64_t(ColourTableBytes(descriptor[8]))) && reader.ReadByte(codeSize) &&
              PassSubBlocks(reader);
      if (whole) ++frames;
      if (!whole) walk.lastFrameIndex = frames;
    } else {
      check.end = PictureEnd::Damaged;
      check.dataEnd = blockStart;
      char text[64];
      std::snprintf(text, sizeof text, "unknown block %02X at byte %llu", introducer,
                    static_cast<unsigned long long>(blockStart));
      check.warning = text;
      walk.lastFrameIndex = frames - 1;
      return walk;
    }
    if (!whole) {
      check.end = PictureEnd::Cut;
      if (walk.lastFrameIndex < 0) walk.lastFrameIndex = frames - 1;
      return walk;
    }
  }
}

int ReadInput(GifFileType* gif, GifByteType* out, int n) {
  auto* reader = static_cast<BlockReader*>(gif->UserData);
  return n <= 0 ? 0 : int(reader->Read(out, size_t(n)));
}

struct GifCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};

std::string GifError(int code) {
  const char* text = GifErrorString(code);
  return text ? text : "giflib error " + std::to_string(code);
}

struct Decoded {
  bool finished = false;  // up to the trailer without an error
  bool dataEnded = false;
  std::string message;
};

// Reads the blocks with giflib; rows of the chosen frames are decoded, the
// others passed over as compressed data.
Decoded DecodeFrames(const ByteSource& source, const PictureCheckOptions& options, int64_t lastFrame,
                     PictureCheck& check) {
  Decoded result;
  BlockReader reader(source);
  int error = 0;
  const std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&reader, ReadInput, &error));
  const auto fail = [&](int code) {
    result.message = GifError(code);
    result.dataEnded = code == D_GIF_ERR_READ_FAILED && reader.AtEnd();
    return result;
  };
  if (!gif) return fail(error);
  check.width = gif->SWidth;
  check.height = gif->SHeight;
  if (int64_t(gif->SWidth) * gif->SHeight > options.limits.maxPixels) {
    result.message = "screen too large";
    return result;
  }
  std::vector<GifPixelType> row;
  int64_t decodedPixels = 0;
  for (int64_t frame = 0;;) {
    GifRecordType type;
    if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) return fail(gif->Error);
    if (type == TERMINATE_RECORD_TYPE) {
      result.finished = true;
      return result;
    }
    if (type == EXTENSION_RECORD_TYPE) {
      int code;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR) return fail(gif->Error);
      while (block) {
        if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) return fail(gif->Error);
      }
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) return fail(D_GIF_ERR_WRONG_RECORD);
    // giflib keeps every descriptor it meets; the walk's block limit bounds them.
    if (DGifGetImageDesc(gif.get()) == GIF_ERROR) return fail(gif->Error);
    const int width = gif->Image.Width;
    const int height = gif->Image.Height;
    const int64_t pixels = int64_t(width) * height;
    if (width <= 0 || height <= 0 || pixels > options.limits.maxPixels) {
      result.message = "frame too large or empty";
      return result;
    }
    const bool decodeRows = frame == 0 || frame == lastFrame ||
                            (options.decodeComplete && decodedPixels + pixels <= options.limits.maxDecodedPixels);
    if (decodeRows && decodedPixels + pixels <= options.limits.maxDecodedPixels) {
      decodedPixels += pixels;
      row.resize(size_t(width));
      for (int y = 0; y < height; ++y) {
        if (options.keepGoing && (y & 63) == 0 && !options.keepGoing()) {
          result.message = "stopped";
          return result;
        }
        if (DGifGetLine(gif.get(), row.data(), width) == GIF_ERROR) return fail(gif->Error);
        if (frame == 0 && y == 0) check.decodes = true;
        if (frame == lastFrame) check.present = double(y + 1) / double(height);
      }
    } else {
      int codeSize;
      GifByteType* block = nullptr;
      if (DGifGetCode(gif.get(), &codeSize, &block) == GIF_ERROR) return fail(gif->Error);
      while (block) {
        if (DGifGetCodeNext(gif.get(), &block) == GIF_ERROR) return fail(gif->Error);
      }
    }
    ++frame;
  }
}

}  // namespace

PictureCheck CheckGif(const ByteSource& source, const PictureCheckOptions& options) {
  PictureCheck check;
  const Walk walk = WalkBlocks(source, options.limits, check);
  check.frames = int(std::min<int64_t>(walk.frames, 1 << 30));
  if (!check.error.empty()) return check;
  if (check.end == PictureEnd::Cut) check.dataEnd = source.size();
  if (check.end == PictureEnd::Complete && !options.decodeComplete) return check;
  const Decoded decoded = DecodeFrames(source, options, walk.lastFrameIndex, check);
  if (!NoteRows(check, decoded.finished, decoded.message)) return check;
  if (check.end == PictureEnd::Cut) {
    if (check.atBlockBoundary) check.present = 1.0;
    if (!check.present) check.present = 0.0;
  } else {
    check.present.reset();
    if (!decoded.finished && !decoded.dataEnded && decoded.message != "stopped") {
      check.end = PictureEnd::Damaged;
      if (check.warning.empty()) check.warning = decoded.message;
    }
  }
  return check;
}

}  // namespace yuragi
