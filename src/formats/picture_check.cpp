#include "formats/picture_check.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "formats/byte_source.h"
#include "formats/gif_completeness.h"
#include "formats/png_completeness.h"
#include "formats/webp_completeness.h"
#include "platform/unique_fd.h"

namespace yuragi {

namespace {

PictureCheck CheckSource(PictureFormat format, const ByteSource& source, const PictureCheckOptions& options) {
  switch (format) {
    case PictureFormat::Png: return CheckPng(source, options);
    case PictureFormat::Gif: return CheckGif(source, options);
    case PictureFormat::Webp: return CheckWebp(source, options);
    case PictureFormat::Jpeg:
    case PictureFormat::None: break;
  }
  PictureCheck check;
  check.error = "no test for this format";
  return check;
}

}  // namespace

const char* PictureEndWord(PictureEnd end) {
  switch (end) {
    case PictureEnd::Complete: return "complete";
    case PictureEnd::Trailing: return "trailing";
    case PictureEnd::Cut: return "cut";
    case PictureEnd::Damaged: return "damaged";
  }
  return "cut";
}

bool NoteRows(PictureCheck& check, bool allRows, const std::string& message) {
  check.rowsChecked = allRows;
  if (check.decodes) return true;
  check.present.reset();
  check.error = message.empty() ? "no row decodes" : message;
  return false;
}

PictureCheck CheckPicture(PictureFormat format, const uint8_t* data, size_t size, const PictureCheckOptions& options) {
  return CheckSource(format, ByteSource(data, size), options);
}

bool CheckPictureFile(PictureFormat format, int fd, PictureCheck& check, const PictureCheckOptions& options) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    check = PictureCheck{};
    check.error = std::strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    check = PictureCheck{};
    check.error = "not a regular file";
    return false;
  }
  check = CheckSource(format, ByteSource(fd, uint64_t(st.st_size)), options);
  return true;
}

bool CheckPictureFile(PictureFormat format, const std::string& path, PictureCheck& check,
                      const PictureCheckOptions& options) {
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!file) {
    check = PictureCheck{};
    check.error = std::strerror(errno);
    return false;
  }
  return CheckPictureFile(format, file.get(), check, options);
}

}  // namespace yuragi
