// Shared by the PNG, GIF and WebP harnesses: a file's bytes through the
// completeness test, from memory and from a file, which must agree and
// keep their own promises.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "formats/picture_check.h"
#include "platform/unique_fd.h"

namespace yuragi::fuzzing {

inline void CheckBothWays(PictureFormat format, const uint8_t* data, size_t size) {
  const PictureCheck direct = CheckPicture(format, data, size);
  if (direct.dataEnd > size || direct.trailingBytes > size) std::abort();
  if (direct.present && (*direct.present < 0.0 || *direct.present > 1.0)) std::abort();
  if (direct.present && direct.end != PictureEnd::Cut) std::abort();
  if (direct.end == PictureEnd::Trailing && direct.dataEnd + direct.trailingBytes != size) std::abort();
  if (direct.decodes && !direct.error.empty()) std::abort();

  const UniqueFd fd(memfd_create("picture", MFD_CLOEXEC));
  if (!fd) std::abort();
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd.get(), data + done, size - done);
    if (n <= 0) std::abort();
    done += size_t(n);
  }
  PictureCheck fromFile;
  if (!CheckPictureFile(format, fd.get(), fromFile)) std::abort();
  if (fromFile.end != direct.end || fromFile.decodes != direct.decodes || fromFile.present != direct.present ||
      fromFile.dataEnd != direct.dataEnd) {
    std::abort();
  }
  // The scan's quick form decodes less (a complete file not at all, a GIF's
  // first and last frames only): it may miss damage a full decode finds,
  // never anything else.
  PictureCheckOptions quick;
  quick.decodeComplete = false;
  const PictureCheck scan = CheckPicture(format, data, size, quick);
  if (scan.end != direct.end && !(direct.end == PictureEnd::Damaged && (scan.end == PictureEnd::Complete ||
                                                                         scan.end == PictureEnd::Trailing))) {
    std::abort();
  }
}

}  // namespace yuragi::fuzzing
