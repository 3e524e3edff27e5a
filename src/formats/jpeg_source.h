#pragma once

// The decoder's data sources: a file read a block at a time, or a stream in
// memory; either hands the library all it has, or carefully little.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

namespace yuragi::jpeg_source {

// libjpeg-turbo's fast Huffman path turns a bad code into a zero without a
// word; it is taken only while 512 bytes a block of the MCU are at hand. A
// careful source hands over one byte less at a time.
inline constexpr size_t kCareful = 0;
inline constexpr size_t kAll = SIZE_MAX;

// Feeds the decoder from an open file in blocks. A trailing hole (a file
// preallocated to its full size by a download that then stopped) ends the
// data, as the end of the file would: the rest is zeros nobody wrote.
struct FileSource {
  jpeg_source_mgr pub{};
  int fd = -1;
  off_t position = 0;  // just after the bytes in the buffer
  off_t dataEnd = 0;
  off_t size = 0;
  const std::function<bool()>* keepGoing = nullptr;  // asked every few megabytes
  int blocksSinceCheck = 0;
  size_t chunk = kAll;  // at most this many bytes handed over at a time, or kCareful
  size_t filled = 0;    // bytes in the buffer
  size_t served = 0;    // of them handed to the decoder
  uint8_t buffer[64 * 1024];
};

// Sets up the callbacks; fd, sizes and keepGoing are the caller's.
void InitFileSource(FileSource& source);

// A stream in memory, handed over as the file source does.
struct MemorySource {
  jpeg_source_mgr pub{};
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t served = 0;
  size_t chunk = kAll;
  uint8_t end[2] = {0xFF, 0xD9};
};

void InitMemorySource(MemorySource& source, const uint8_t* data, size_t size, size_t chunk);

// Bytes of the stream the decoder has taken in.
uint64_t Consumed(const FileSource& source);
uint64_t Consumed(const MemorySource& source);

// Where the data ends: the file's size, or the start of a hole that runs to
// the end of the file.
off_t DataEnd(int fd, off_t size);

}  // namespace yuragi::jpeg_source
