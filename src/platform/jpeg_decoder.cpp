#include "platform/jpeg_decoder.h"

#include "platform/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <memory>
#include <vector>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>
#include <jerror.h>

namespace yuragi {

namespace {

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  bool dataMissing;
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  auto* manager = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, manager->message);
  std::longjmp(manager->jump, 1);
}

// Warnings are counted, never printed: a cut stream still gives a picture.
void EmitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  ++cinfo->err->num_warnings;
  const int code = cinfo->err->msg_code;
  if (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER) reinterpret_cast<ErrorManager*>(cinfo->err)->dataMissing = true;
}

// Everything the decode touches after setjmp lives here, outside the
// frame that calls setjmp, and is freed by the destructor on every path.
struct Session {
  jpeg_decompress_struct cinfo{};
  ErrorManager errors{};
  bool created = false;
  RgbImage image;
  std::vector<uint8_t> row;

  ~Session() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }
};

int ChooseScale(const jpeg_decompress_struct& cinfo, const DecodeRequest& request) {
  const int64_t w = cinfo.image_width;
  const int64_t h = cinfo.image_height;
  auto covers = [&](int m) {
    return (w * m + 7) / 8 >= request.coverWidth && (h * m + 7) / 8 >= request.coverHeight;
  };
  int m = 8;
  if (request.coverWidth > 0 || request.coverHeight > 0) {
    for (int candidate = 1; candidate <= 8; ++candidate) {
      if (covers(candidate)) {
        m = candidate;
        break;
      }
    }
  }
  while (m > 1 && ((w * m + 7) / 8) * ((h * m + 7) / 8) > kMaxDecodedPixels) --m;
  return m;
}

void ConvertRow(const Session& s, const uint8_t* in, uint8_t* out) {
  const int width = int(s.cinfo.output_width);
  if (s.cinfo.out_color_space == JCS_GRAYSCALE) {
    for (int x = 0; x < width; ++x) out[x * 3] = out[x * 3 + 1] = out[x * 3 + 2] = in[x];
    return;
  }
  // Adobe writes CMYK inverted; others store plain ink values.
  const bool inverted = s.cinfo.saw_Adobe_marker;
  for (int x = 0; x < width; ++x) {
    int c = in[x * 4], m = in[x * 4 + 1], y = in[x * 4 + 2], k = in[x * 4 + 3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    out[x * 3] = uint8_t(c * k / 255);
    out[x * 3 + 1] = uint8_t(m * k / 255);
    out[x * 3 + 2] = uint8_t(y * k / 255);
  }
}

bool Run(Session& s, const uint8_t* data, size_t size, const DecodeRequest& request) {
  jpeg_decompress_struct& cinfo = s.cinfo;
  cinfo.err = jpeg_std_error(&s.errors.pub);
  s.errors.pub.error_exit = ErrorExit;
  s.errors.pub.emit_message = EmitMessage;
  s.errors.message[0] = '\0';
  if (setjmp(s.errors.jump)) return false;
  jpeg_create_decompress(&cinfo);
  s.created = true;
  // A header can announce far more than the file holds; cap the work space.
  cinfo.mem->max_memory_to_use = 768L * 1024 * 1024;
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  jpeg_read_header(&cinfo, TRUE);

  switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
      cinfo.out_color_space = JCS_GRAYSCALE;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      cinfo.out_color_space = JCS_CMYK;
      break;
    default:
      cinfo.out_color_space = JCS_RGB;
      break;
  }
  cinfo.scale_num = unsigned(ChooseScale(cinfo, request));
  cinfo.scale_denom = 8;
  jpeg_calc_output_dimensions(&cinfo);
  if (int64_t(cinfo.output_width) * int64_t(cinfo.output_height) > kMaxDecodedPixels) {
    std::snprintf(s.errors.message, sizeof s.errors.message, "picture too large (%ux%u)",
                  cinfo.image_width, cinfo.image_height);
    return false;
  }
  jpeg_start_decompress(&cinfo);

  s.image.width = int(cinfo.output_width);
  s.image.height = int(cinfo.output_height);
  s.image.pixels.resize(size_t(s.image.width) * size_t(s.image.height) * 3);
  const bool direct = cinfo.out_color_space == JCS_RGB;
  if (!direct) s.row.resize(size_t(cinfo.output_width) * size_t(cinfo.output_components));
  const size_t stride = size_t(s.image.width) * 3;
  while (cinfo.output_scanline < cinfo.output_height) {
    uint8_t* target = s.image.pixels.data() + size_t(cinfo.output_scanline) * stride;
    JSAMPROW rowPointer = direct ? target : s.row.data();
    if (jpeg_read_scanlines(&cinfo, &rowPointer, 1) != 1) break;
    if (!direct) ConvertRow(s, s.row.data(), target);
  }
  jpeg_finish_decompress(&cinfo);
  return true;
}

}  // namespace

std::optional<RgbImage> DecodeJpeg(const uint8_t* data, size_t size, DecodeRequest request,
                                   std::string* error) {
  return DecodeJpeg(data, size, request, error, nullptr);
}

std::optional<RgbImage> DecodeJpeg(const uint8_t* data, size_t size, DecodeRequest request, std::string* error,
                                   DecodeWarnings* warnings) {
  if (size == 0) {
    if (error) *error = "empty file";
    return std::nullopt;
  }
  auto session = std::make_unique<Session>();
  const bool decoded = Run(*session, data, size, request);
  if (warnings) *warnings = {int(session->errors.pub.num_warnings), session->errors.dataMissing};
  if (!decoded) {
    if (error) *error = session->errors.message;
    return std::nullopt;
  }
  return std::move(session->image);
}

namespace {

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes) {
  // Non-blocking, so a FIFO named like a picture cannot stall the walk.
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!file) return false;
  const int fd = file.get();
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  bytes.resize(size_t(st.st_size));
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0) return false;
    if (n == 0) break;
    got += size_t(n);
  }
  bytes.resize(got);
  return true;
}

}  // namespace

std::optional<RgbImage> DecodeJpegFile(const std::string& path, DecodeRequest request,
                                       std::string* error) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, bytes)) {
    if (error) *error = "cannot read file";
    return std::nullopt;
  }
  return DecodeJpeg(bytes.data(), bytes.size(), request, error);
}

std::optional<RgbImage> MakeThumbnail(const std::string& path, int width, int height) {
  std::optional<RgbImage> decoded = DecodeJpegFile(path, DecodeRequest{width, height});
  if (!decoded) return std::nullopt;
  return ResizeSmooth(*decoded, width, height);
}

}  // namespace yuragi
