// A listed file's bytes: the end-marker test and the list's thumbnail.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "detect/end_marker.h"
#include "detect/folder_scan.h"
#include "formats/jpeg_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const bool direct = yuragi::HasJpegEndMarker(data, size);
  // The scan reads files by name; a memory file keeps the disk out of it.
  const int fd = memfd_create("jpeg", MFD_CLOEXEC);
  if (fd < 0) std::abort();
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) std::abort();
    done += size_t(n);
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  if (yuragi::HasJpegEndMarker(path) != direct) std::abort();
  yuragi::JpegCheck check;
  const auto thumbnail =
      yuragi::MakeThumbnail(path, yuragi::kThumbnailSize, yuragi::kThumbnailSize, nullptr, nullptr, &check);
  // How the stream ends, told in the same read: within the file's bytes.
  if (thumbnail && (check.present < 0 || check.present > 1 || check.trailingBytes > size ||
                    (check.end == yuragi::JpegEnd::Trailing && check.trailingBytes == 0) ||
                    (check.trailingZero && check.trailingBytes == 0) || check.completeScans < 0)) {
    std::abort();
  }
  // The descriptor form reads the same bytes and comes to the same end.
  yuragi::JpegCheck again;
  if (thumbnail && yuragi::CheckJpegFile(fd, again) &&
      (again.end != check.end || again.trailingBytes != check.trailingBytes)) {
    std::abort();
  }
  if (thumbnail && (thumbnail->width != yuragi::kThumbnailSize || thumbnail->height != yuragi::kThumbnailSize ||
                    thumbnail->pixels.size() != size_t(thumbnail->width) * size_t(thumbnail->height) * 3)) {
    std::abort();
  }
  close(fd);
  return 0;
}
