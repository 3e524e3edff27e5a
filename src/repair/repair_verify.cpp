#include "repair/repair_verify.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "detect/end_marker.h"
#include "formats/picture_check.h"
#include "formats/jpeg_decoder.h"
#include "platform/unique_fd.h"

namespace yuragi {

namespace {

const uint8_t* Bytes(const std::string& text) { return reinterpret_cast<const uint8_t*>(text.data()); }

const char* FormatTitle(PictureFormat format) {
  switch (format) {
    case PictureFormat::Png: return "PNG";
    case PictureFormat::Gif: return "GIF";
    case PictureFormat::Webp: return "WebP";
    case PictureFormat::Jpeg:
    case PictureFormat::None: break;
  }
  return "JPEG";
}

bool StartsLikeJpeg(const std::string& bytes) {
  return bytes.size() >= 3 && uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xD8 && uint8_t(bytes[2]) == 0xFF;
}

bool LooksLikeHtml(const std::string& bytes, const std::string& contentType) {
  if (strncasecmp(contentType.c_str(), "text/html", 9) == 0) return true;
  for (const char c : bytes) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    return c == '<';
  }
  return false;
}

// A fetched body, in memory or in a file.
class Body {
 public:
  virtual ~Body() = default;
  virtual uint64_t Size() const = 0;
  // Exactly count bytes from offset; false when they cannot be read.
  virtual bool Read(uint64_t offset, size_t count, std::string& out) const = 0;
  virtual bool Check(JpegCheck& check, std::string* error) const = 0;
  virtual PictureCheck CheckAs(PictureFormat format) const = 0;
};

class MemoryBody final : public Body {
 public:
  explicit MemoryBody(const std::string& bytes) : bytes_(bytes) {}
  uint64_t Size() const override { return bytes_.size(); }
  bool Read(uint64_t offset, size_t count, std::string& out) const override {
    if (offset + count > bytes_.size()) return false;
    out.assign(bytes_, size_t(offset), count);
    return true;
  }
  bool Check(JpegCheck& check, std::string* error) const override {
    return CheckJpeg(Bytes(bytes_), bytes_.size(), check, error);
  }
  PictureCheck CheckAs(PictureFormat format) const override {
    return CheckPicture(format, Bytes(bytes_), bytes_.size());
  }

 private:
  const std::string& bytes_;
};

class FileBody final : public Body {
 public:
  FileBody(int fd, uint64_t size) : fd_(fd), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool Read(uint64_t offset, size_t count, std::string& out) const override {
    out.resize(count);
    for (size_t got = 0; got < count;) {
      const ssize_t n = ::pread(fd_, out.data() + got, count - got, off_t(offset + got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      got += size_t(n);
    }
    return true;
  }
  bool Check(JpegCheck& check, std::string* error) const override { return CheckJpegFile(fd_, check, error); }
  PictureCheck CheckAs(PictureFormat format) const override {
    PictureCheck check;
    CheckPictureFile(format, fd_, check);
    return check;
  }

 private:
  int fd_;
  uint64_t size_;
};

// Whether the body's first local.size() bytes are local's.
bool StartsWith(const Body& body, const std::string& local) {
  if (body.Size() < local.size()) return false;
  constexpr size_t kBlock = 64 * 1024;
  std::string block;
  for (size_t at = 0; at < local.size(); at += kBlock) {
    const size_t count = std::min(kBlock, local.size() - at);
    if (!body.Read(at, count, block) || local.compare(at, count, block) != 0) return false;
  }
  return true;
}

// A PNG, GIF or WebP through its own test, answered as a JPEG's would be.
bool CheckOtherFormat(const Body& fresh, PictureFormat format, JpegCheck& check, std::string* error) {
  const PictureCheck picture = fresh.CheckAs(format);
  if (!picture.decodes) {
    *error = picture.error;
    return false;
  }
  check.end = picture.end == PictureEnd::Complete   ? JpegEnd::Complete
              : picture.end == PictureEnd::Trailing ? JpegEnd::Trailing
              : picture.end == PictureEnd::Damaged  ? JpegEnd::Damaged
                                                    : JpegEnd::Cut;
  // Every row must have decoded: a complete length is not enough.
  if (check.end != JpegEnd::Cut && !picture.rowsChecked && check.end != JpegEnd::Damaged) {
    check.end = JpegEnd::Damaged;
    check.warning = picture.error.empty() ? "not every row decodes" : picture.error;
  }
  if (check.end == JpegEnd::Damaged && check.warning.empty()) check.warning = picture.warning;
  check.trailingBytes = picture.trailingBytes;
  check.trailingZero = picture.trailingZero;
  return true;
}

Verification Verify(const std::string& local, const Body& fresh, const std::string& contentType, bool acceptChanged,
                    PictureFormat format) {
  const uint64_t size = fresh.Size();
  if (size == 0) return {Verdict::Empty, "empty body"};
  std::string head;
  if (!fresh.Read(0, size_t(std::min<uint64_t>(size, 4096)), head)) return {Verdict::NotJpeg, "cannot read the body"};
  const bool wanted = format == PictureFormat::Jpeg
                          ? StartsLikeJpeg(head)
                          : SniffPictureFormat(Bytes(head), head.size()) == format;
  if (!wanted) {
    if (LooksLikeHtml(head, contentType)) return {Verdict::Html, contentType.empty() ? "HTML" : contentType};
    return {Verdict::NotJpeg, contentType.empty() ? std::string("not a ") + FormatTitle(format) : contentType};
  }
  bool changed = false;
  if (size == local.size() && StartsWith(fresh, local)) return {Verdict::Same, "the server has these very bytes"};
  if (size < local.size()) {
    std::string start;
    if (fresh.Read(0, size_t(size), start) && local.compare(0, start.size(), start) == 0) {
      return {Verdict::Smaller, std::to_string(size) + " bytes, the file has " + std::to_string(local.size())};
    }
  }
  if (size <= local.size() || !StartsWith(fresh, local)) {
    if (!acceptChanged) return {Verdict::Changed, "changed on the server"};
    changed = true;
  }
  JpegCheck check;
  std::string error;
  const bool decodes =
      format == PictureFormat::Jpeg ? fresh.Check(check, &error) : CheckOtherFormat(fresh, format, check, &error);
  if (!decodes) return {Verdict::NotJpeg, error.empty() ? "does not decode" : error};
  switch (check.end) {
    case JpegEnd::Cut:
      if (!check.note.empty()) return {Verdict::Corrupt, check.note};
      return {Verdict::Incomplete, "picture data ends early"};
    case JpegEnd::Damaged:
      return {Verdict::Corrupt, check.warning};
    case JpegEnd::Trailing:
      // Bytes after the end marker are the file's own only when the cut
      // file already reached past that marker.
      if (changed || size - check.trailingBytes > local.size()) {
        return {Verdict::Corrupt, std::to_string(check.trailingBytes) + " bytes after the end marker"};
      }
      break;
    case JpegEnd::Complete:
      break;
  }
  return {changed ? Verdict::GoodChanged : Verdict::Good, {}};
}

}  // namespace

Verification VerifyFetched(const std::string& local, const std::string& fresh, const std::string& contentType,
                           bool acceptChanged, PictureFormat format) {
  return Verify(local, MemoryBody(fresh), contentType, acceptChanged, format);
}

Verification VerifyFetchedFile(const std::string& local, int freshFd, const std::string& contentType,
                               bool acceptChanged, PictureFormat format) {
  struct stat st {};
  if (freshFd < 0 || ::fstat(freshFd, &st) != 0 || !S_ISREG(st.st_mode)) {
    return {Verdict::NotJpeg, std::string("cannot read the body: ") + std::strerror(freshFd < 0 ? EBADF : errno)};
  }
  return Verify(local, FileBody(freshFd, uint64_t(st.st_size)), contentType, acceptChanged, format);
}

Verification VerifyFetchedFile(const std::string& local, const std::string& freshPath, const std::string& contentType,
                               bool acceptChanged, PictureFormat format) {
  const UniqueFd fd(::open(freshPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd) return {Verdict::NotJpeg, "cannot read the body: " + std::string(std::strerror(errno))};
  return VerifyFetchedFile(local, fd.get(), contentType, acceptChanged, format);
}

std::optional<std::string> CloseWithEndMarker(const std::string& local, std::string* detail) {
  const auto fail = [detail](const char* why) -> std::optional<std::string> {
    if (detail) *detail = why;
    return std::nullopt;
  };
  if (HasJpegEndMarker(Bytes(local), local.size())) return fail("already ends in the end marker");
  std::string closed = local;
  closed += "\xFF\xD9";
  const std::optional<RgbImage> before = DecodeJpeg(Bytes(local), local.size());
  if (!before) return fail("does not decode");
  const std::optional<RgbImage> after = DecodeJpeg(Bytes(closed), closed.size());
  if (!after || after->width != before->width || after->height != before->height || after->pixels != before->pixels) {
    return fail("the closed picture would differ");
  }
  return closed;
}

}  // namespace yuragi
