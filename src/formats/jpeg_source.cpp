#include "formats/jpeg_source.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include <jerror.h>

namespace yuragi::jpeg_source {

namespace {

size_t HandOver(j_decompress_ptr cinfo, size_t chunk, size_t available) {
  if (chunk == kCareful) chunk = 512 * size_t(std::max(1, cinfo->blocks_in_MCU)) - 1;
  return std::min(chunk, available);
}

constexpr int kBlocksPerCheck = 64;  // 4 MB

void Serve(j_decompress_ptr cinfo, FileSource& source) {
  const size_t count = HandOver(cinfo, source.chunk, source.filled - source.served);
  source.pub.next_input_byte = source.buffer + source.served;
  source.pub.bytes_in_buffer = count;
  source.served += count;
}

boolean FillFileBuffer(j_decompress_ptr cinfo) {
  auto* source = reinterpret_cast<FileSource*>(cinfo->src);
  if (source->served < source->filled) {
    Serve(cinfo, *source);
    return TRUE;
  }
  ssize_t n = 0;
  if (source->position < source->dataEnd && source->keepGoing && *source->keepGoing &&
      ++source->blocksSinceCheck >= kBlocksPerCheck) {
    source->blocksSinceCheck = 0;
    if (!(*source->keepGoing)()) source->dataEnd = source->position;
  }
  if (source->position < source->dataEnd) {
    const off_t left = source->dataEnd - source->position;
    const size_t want = left < off_t(sizeof source->buffer) ? size_t(left) : sizeof source->buffer;
    do {
      n = ::pread(source->fd, source->buffer, want, source->position);
    } while (n < 0 && errno == EINTR);
  }
  if (n <= 0) {
    // As the library's own sources do: warn and supply an end-of-image marker.
    WARNMS(cinfo, JWRN_JPEG_EOF);
    source->buffer[0] = 0xFF;
    source->buffer[1] = JPEG_EOI;
    n = 2;
    source->dataEnd = source->position;  // nothing more will be read
  } else {
    source->position += n;
  }
  source->filled = size_t(n);
  source->served = 0;
  Serve(cinfo, *source);
  return TRUE;
}

void SkipFileData(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  auto* source = reinterpret_cast<FileSource*>(cinfo->src);
  if (size_t(count) <= source->pub.bytes_in_buffer) {
    source->pub.next_input_byte += count;
    source->pub.bytes_in_buffer -= size_t(count);
    return;
  }
  size_t rest = size_t(count) - source->pub.bytes_in_buffer;
  source->pub.bytes_in_buffer = 0;
  const size_t unserved = source->filled - source->served;
  if (rest <= unserved) {
    source->served += rest;
    return;
  }
  rest -= unserved;
  source->served = source->filled;
  source->position += off_t(rest);
}


boolean FillMemoryBuffer(j_decompress_ptr cinfo) {
  auto* source = reinterpret_cast<MemorySource*>(cinfo->src);
  if (source->served < source->size) {
    const size_t count = HandOver(cinfo, source->chunk, source->size - source->served);
    source->pub.next_input_byte = source->data + source->served;
    source->pub.bytes_in_buffer = count;
    source->served += count;
    return TRUE;
  }
  WARNMS(cinfo, JWRN_JPEG_EOF);
  source->pub.next_input_byte = source->end;
  source->pub.bytes_in_buffer = 2;
  return TRUE;
}

void SkipMemoryData(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  auto* source = reinterpret_cast<MemorySource*>(cinfo->src);
  if (size_t(count) <= source->pub.bytes_in_buffer) {
    source->pub.next_input_byte += count;
    source->pub.bytes_in_buffer -= size_t(count);
    return;
  }
  const size_t rest = size_t(count) - source->pub.bytes_in_buffer;
  source->pub.bytes_in_buffer = 0;
  source->served = rest < source->size - source->served ? source->served + rest : source->size;
}

void NoOp(j_decompress_ptr) {}

}  // namespace

off_t DataEnd(int fd, off_t size) {
  off_t hole = ::lseek(fd, 0, SEEK_HOLE);
  for (int i = 0; i < 64 && hole >= 0 && hole < size; ++i) {
    const off_t data = ::lseek(fd, hole, SEEK_DATA);
    if (data < 0) return hole;  // only a hole follows
    hole = ::lseek(fd, data, SEEK_HOLE);
  }
  return size;
}

void InitFileSource(FileSource& source) {
  source.pub.init_source = NoOp;
  source.pub.fill_input_buffer = FillFileBuffer;
  source.pub.skip_input_data = SkipFileData;
  source.pub.resync_to_restart = jpeg_resync_to_restart;
  source.pub.term_source = NoOp;
}

void InitMemorySource(MemorySource& source, const uint8_t* data, size_t size, size_t chunk) {
  source.data = data;
  source.size = size;
  source.chunk = chunk;
  source.pub.init_source = NoOp;
  source.pub.fill_input_buffer = FillMemoryBuffer;
  source.pub.skip_input_data = SkipMemoryData;
  source.pub.resync_to_restart = jpeg_resync_to_restart;
  source.pub.term_source = NoOp;
}

uint64_t Consumed(const FileSource& f) {
  return uint64_t(f.position) - (f.filled - f.served) - f.pub.bytes_in_buffer;
}

uint64_t Consumed(const MemorySource& m) { return m.served - m.pub.bytes_in_buffer; }

}  // namespace yuragi::jpeg_source
