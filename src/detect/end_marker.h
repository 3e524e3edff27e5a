#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <sys/types.h>

namespace yuragi {

// True when FF D9 starts at one of size-2 ... size-18: at most 16 bytes
// may follow the end-of-image marker. Every failure gives false.
bool HasJpegEndMarker(const std::string& path) noexcept;
// The same for an open regular file of the given size, read with pread.
bool HasJpegEndMarker(int fd, off_t size) noexcept;
bool HasJpegEndMarker(const uint8_t* data, size_t size) noexcept;

}  // namespace yuragi
