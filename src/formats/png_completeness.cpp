#include "formats/png_completeness.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace yuragi {

namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint32_t kMaxChunkLength = 0x7FFFFFFF;

uint32_t BigEndian32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

bool IsChunkType(const uint8_t* type) {
  for (int i = 0; i < 4; ++i) {
    const uint8_t c = type[i];
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
  }
  return true;
}

std::string TypeText(const uint8_t* type) { return std::string(reinterpret_cast<const char*>(type), 4); }

// The hand-written part: where the chunk sequence ends and how.
void WalkChunks(const ByteSource& source, const PictureLimits& limits, PictureCheck& check) {
  BlockReader reader(source);
  uint8_t signature[8];
  const size_t got = reader.Read(signature, sizeof signature);
  if (std::memcmp(signature, kSignature, got) != 0) {
    check.end = PictureEnd::Damaged;
    check.warning = "not a PNG signature";
    return;
  }
  if (got < sizeof signature) {
    check.end = PictureEnd::Cut;
    return;
  }
  for (int64_t chunks = 0;; ++chunks) {
    if (chunks >= limits.maxBlocks) {
      check.error = "more than " + std::to_string(limits.maxBlocks) + " chunks";
      return;
    }
    uint8_t header[8];
    if (reader.Read(header, sizeof header) < sizeof header) {
      check.end = PictureEnd::Cut;
      return;
    }
    const uint32_t length = BigEndian32(header);
    if (length > kMaxChunkLength || !IsChunkType(header + 4)) {
      check.end = PictureEnd::Damaged;
      check.warning = "no chunk header at byte " + std::to_string(reader.position() - 8);
      check.dataEnd = reader.position() - 8;
      return;
    }
    uLong crc = crc32(0L, header + 4, 4);
    if (!reader.Pass(length, [&crc](const uint8_t* data, size_t n) { crc = crc32(crc, data, uInt(n)); })) {
      check.end = PictureEnd::Cut;
      return;
    }
    uint8_t stored[4];
    if (reader.Read(stored, sizeof stored) < sizeof stored) {
      check.end = PictureEnd::Cut;
      return;
    }
    if (BigEndian32(stored) != uint32_t(crc) && check.warning.empty()) {
      check.warning = "CRC error in chunk " + TypeText(header + 4);
    }
    if (std::memcmp(header + 4, "IEND", 4) == 0) {
      check.dataEnd = reader.position();
      check.trailingBytes = source.size() - check.dataEnd;
      if (!check.warning.empty()) {
        check.end = PictureEnd::Damaged;
      } else if (check.trailingBytes > 0) {
        check.end = PictureEnd::Trailing;
        check.trailingZero = AllZeroFrom(source, check.dataEnd);
      } else {
        check.end = PictureEnd::Complete;
      }
      return;
    }
  }
}

// libpng's allocations, counted against the memory cap. Each block keeps
// its size in front of it.
struct Allocations {
  uint64_t used = 0;
  uint64_t cap = 0;
};

png_voidp CountedMalloc(png_structp png, png_alloc_size_t size) {
  auto* counts = static_cast<Allocations*>(png_get_mem_ptr(png));
  constexpr size_t kHeader = alignof(std::max_align_t);
  if (size > counts->cap || counts->used + size > counts->cap) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
  if (!block) return nullptr;
  std::memcpy(block, &size, sizeof size);
  counts->used += size;
  return block + kHeader;
}

void CountedFree(png_structp png, png_voidp pointer) {
  if (!pointer) return;
  constexpr size_t kHeader = alignof(std::max_align_t);
  auto* block = static_cast<unsigned char*>(pointer) - kHeader;
  png_alloc_size_t size;
  std::memcpy(&size, block, sizeof size);
  if (auto* counts = static_cast<Allocations*>(png_get_mem_ptr(png))) counts->used -= size;
  std::free(block);
}

// Lives outside the frame that calls setjmp, so nothing it holds is lost
// when libpng jumps back.
struct Decode {
  explicit Decode(const ByteSource& source) : reader(source) {}
  BlockReader reader;
  bool dataEnded = false;
  bool stopped = false;
  std::string message;
  Allocations allocations;
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::vector<uint8_t> row;
  int64_t rowsRead = 0;
  ~Decode() {
    if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  }
};

void ReadData(png_structp png, png_bytep out, size_t n) {
  auto* decode = static_cast<Decode*>(png_get_io_ptr(png));
  if (decode->reader.Read(out, n) < n) {
    decode->dataEnded = true;
    png_error(png, "the data ends here");
  }
}

void OnError(png_structp png, png_const_charp message) {
  auto* decode = static_cast<Decode*>(png_get_error_ptr(png));
  if (decode->message.empty()) decode->message = message;
  png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}  // ancillary trouble does not make a picture unusable

// Returns false when libpng stopped with an error (decode.message says why).
// Out of DecodeRows: no C++ object may live in the frame libpng longjmps out of.
[[gnu::noinline]] void RefuseSize(Decode& decode, png_uint_32 width, png_uint_32 height) {
  decode.message = "picture too large (" + std::to_string(width) + " x " + std::to_string(height) + ")";
  decode.stopped = true;
}

bool DecodeRows(Decode& decode, const PictureCheckOptions& options, PictureCheck& check) {
  if (setjmp(png_jmpbuf(decode.png))) return false;
  png_set_read_fn(decode.png, &decode, ReadData);
  png_set_user_limits(decode.png, 1'000'000, 1'000'000);
  png_set_chunk_malloc_max(decode.png, png_alloc_size_t(std::min<uint64_t>(options.limits.maxMemory, 8u << 20)));
  png_read_info(decode.png, decode.info);
  const png_uint_32 width = png_get_image_width(decode.png, decode.info);
  const png_uint_32 height = png_get_image_height(decode.png, decode.info);
  check.width = int(width);
  check.height = int(height);
  const int64_t pixels = int64_t(width) * int64_t(height);
  if (pixels > options.limits.maxPixels || pixels > options.limits.maxDecodedPixels) {
    RefuseSize(decode, width, height);
    return false;
  }
  const bool interlaced = png_get_interlace_type(decode.png, decode.info) != PNG_INTERLACE_NONE;
  const int passes = png_set_interlace_handling(decode.png);
  png_read_update_info(decode.png, decode.info);
  decode.row.resize(png_get_rowbytes(decode.png, decode.info));
  for (int pass = 0; pass < passes; ++pass) {
    for (png_uint_32 y = 0; y < height; ++y) {
      if (options.keepGoing && (y & 63) == 0 && !options.keepGoing()) {
        decode.stopped = true;
        return false;
      }
      png_read_row(decode.png, decode.row.data(), nullptr);
      ++decode.rowsRead;
      check.decodes = true;
      if (!interlaced) check.present = double(decode.rowsRead) / double(height);
    }
  }
  png_read_end(decode.png, nullptr);
  return true;
}

}  // namespace

PictureCheck CheckPng(const ByteSource& source, const PictureCheckOptions& options) {
  PictureCheck check;
  WalkChunks(source, options.limits, check);
  if (!check.error.empty()) return check;
  if (check.end == PictureEnd::Cut) check.dataEnd = source.size();
  if (check.end == PictureEnd::Complete && !options.decodeComplete) return check;

  Decode decode(source);
  decode.allocations.cap = options.limits.maxMemory;
  decode.png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &decode, OnError, OnWarning, &decode.allocations,
                                        CountedMalloc, CountedFree);
  if (!decode.png) {
    check.error = "libpng could not start";
    return check;
  }
  decode.info = png_create_info_struct(decode.png);
  if (!decode.info) {
    check.error = "libpng could not start";
    return check;
  }
  const bool whole = DecodeRows(decode, options, check);
  if (!NoteRows(check, whole, decode.message)) return check;
  if (!whole && !decode.dataEnded && !decode.stopped && check.end != PictureEnd::Cut) {
    // The chunks are all there, yet the picture inside them is not.
    check.end = PictureEnd::Damaged;
    if (check.warning.empty()) check.warning = decode.message;
  }
  if (check.end != PictureEnd::Cut) check.present.reset();
  return check;
}

}  // namespace yuragi
