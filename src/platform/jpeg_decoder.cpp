#include "platform/jpeg_decoder.h"

#include "platform/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
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
  bool dataMissing = false;
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

// Feeds the decoder from an open file in blocks. A trailing hole (a file
// preallocated to its full size by a download that then stopped) ends the
// data, as the end of the file would: the rest is zeros nobody wrote.
struct FileSource {
  jpeg_source_mgr pub{};
  int fd = -1;
  off_t position = 0;
  off_t dataEnd = 0;
  const std::function<bool()>* keepGoing = nullptr;
  int blocksSinceCheck = 0;
  uint8_t buffer[64 * 1024];
};

constexpr int kBlocksPerCheck = 64;  // 4 MB

boolean FillFileBuffer(j_decompress_ptr cinfo) {
  auto* source = reinterpret_cast<FileSource*>(cinfo->src);
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
  source->pub.next_input_byte = source->buffer;
  source->pub.bytes_in_buffer = size_t(n);
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
  source->position += off_t(size_t(count) - source->pub.bytes_in_buffer);
  source->pub.bytes_in_buffer = 0;
}

void NoOp(j_decompress_ptr) {}

// Where the data ends: the file's size, or the start of a hole that runs to
// the end of the file.
off_t DataEnd(int fd, off_t size) {
  off_t hole = ::lseek(fd, 0, SEEK_HOLE);
  for (int i = 0; i < 64 && hole >= 0 && hole < size; ++i) {
    const off_t data = ::lseek(fd, hole, SEEK_DATA);
    if (data < 0) return hole;  // only a hole follows
    hole = ::lseek(fd, data, SEEK_HOLE);
  }
  return size;
}

// Where decoded rows go: a whole picture, or a scaler that keeps only the
// output. Begin is told the decoded size before the first row.
class RowSink {
 public:
  virtual ~RowSink() = default;
  virtual void Begin(int width, int height) = 0;
  virtual void Row(int y, const uint8_t* rgb) = 0;
};

class PictureSink final : public RowSink {
 public:
  void Begin(int width, int height) override {
    image.width = width;
    image.height = height;
    image.pixels.assign(size_t(width) * size_t(height) * 3, 0);  // rows that never come stay black
  }
  void Row(int y, const uint8_t* rgb) override {
    const size_t stride = size_t(image.width) * 3;
    std::copy(rgb, rgb + stride, image.pixels.begin() + ptrdiff_t(size_t(y) * stride));
  }
  RgbImage image;
};

class ScalingSink final : public RowSink {
 public:
  ScalingSink(int width, int height) : width_(width), height_(height) {}
  void Begin(int width, int height) override { scaler_ = std::make_unique<RowScaler>(width, height, width_, height_); }
  void Row(int, const uint8_t* rgb) override { scaler_->AddRow(rgb); }
  RgbImage Finish() { return scaler_ ? scaler_->Finish() : RgbImage{}; }

 private:
  int width_;
  int height_;
  std::unique_ptr<RowScaler> scaler_;
};

// A header can announce far more than the file holds; the library's work
// space is capped. Progressive pictures need all their coefficients at
// once, whatever the output's scale: 3 bytes a pixel for 4:2:0, 6 for 4:4:4.
constexpr long kDecodeWorkSpace = 768L * 1024 * 1024;
constexpr long kThumbnailWorkSpace = 96L * 1024 * 1024;

// The thumbnail's work space grows with the data really in the file, so a
// photograph cut early still gets its thumbnail while a few kilobytes
// claiming a giant picture stay within 96 MB.
long ThumbnailWorkSpace(off_t dataBytes) {
  constexpr long kPerDataByte = 1024;
  if (dataBytes >= kDecodeWorkSpace / kPerDataByte) return kDecodeWorkSpace;
  return std::max(kThumbnailWorkSpace, long(dataBytes) * kPerDataByte);
}

// Each scan of a progressive file is a pass over every block, and a file
// may hold any number of them: thousands in a few kilobytes would keep the
// decoder busy for minutes. Encoders write a dozen or so.
constexpr int kMaxScans = 500;
constexpr auto kAskInterval = std::chrono::milliseconds(50);

struct Progress {
  jpeg_progress_mgr pub{};
  FileSource* file = nullptr;  // null for a picture in memory
  bool stopped = false;
  std::chrono::steady_clock::time_point lastAsked = std::chrono::steady_clock::now();
};

// Called between rows of blocks, also while scans are only taken in: the
// window is served and a stop honoured even when no new data is read.
// A stop ends the data at the next read, as the end of a cut file would;
// when all of it is in already, the decode gives up.
void MonitorProgress(j_common_ptr common) {
  auto* cinfo = reinterpret_cast<j_decompress_ptr>(common);
  auto* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
  if (cinfo->input_scan_number > kMaxScans) {
    std::snprintf(errors->message, sizeof errors->message, "too many scans (over %d)", kMaxScans);
    std::longjmp(errors->jump, 1);
  }
  auto* progress = reinterpret_cast<Progress*>(cinfo->progress);
  FileSource* file = progress->file;
  if (!file || progress->stopped || !file->keepGoing || !*file->keepGoing) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - progress->lastAsked < kAskInterval) return;
  progress->lastAsked = now;
  if ((*file->keepGoing)()) return;
  progress->stopped = true;
  if (file->position < file->dataEnd) {
    file->dataEnd = file->position;
    return;
  }
  std::snprintf(errors->message, sizeof errors->message, "stopped");
  std::longjmp(errors->jump, 1);
}

// Everything the decode touches after setjmp lives here, outside the
// frame that calls setjmp, and is freed by the destructor on every path.
struct Session {
  jpeg_decompress_struct cinfo{};
  ErrorManager errors{};
  Progress progress{};
  bool created = false;
  std::unique_ptr<UniqueFd> file;
  std::unique_ptr<FileSource> source;
  std::vector<uint8_t> row;
  std::vector<uint8_t> rgb;

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

void ConvertRow(const jpeg_decompress_struct& cinfo, const uint8_t* in, uint8_t* out) {
  const int width = int(cinfo.output_width);
  if (cinfo.out_color_space == JCS_GRAYSCALE) {
    for (int x = 0; x < width; ++x) out[x * 3] = out[x * 3 + 1] = out[x * 3 + 2] = in[x];
    return;
  }
  // Adobe writes CMYK inverted; others store plain ink values.
  const bool inverted = cinfo.saw_Adobe_marker;
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

// The source is set up by the caller (memory or file) once the session
// exists; everything else is shared.
template <typename SetSource>
bool Run(Session& s, SetSource setSource, const DecodeRequest& request, RowSink& sink, long workSpace) {
  jpeg_decompress_struct& cinfo = s.cinfo;
  cinfo.err = jpeg_std_error(&s.errors.pub);
  s.errors.pub.error_exit = ErrorExit;
  s.errors.pub.emit_message = EmitMessage;
  s.errors.message[0] = '\0';
  if (setjmp(s.errors.jump)) return false;
  jpeg_create_decompress(&cinfo);
  s.created = true;
  cinfo.mem->max_memory_to_use = workSpace;
  setSource(cinfo);
  s.progress.file = s.source.get();
  s.progress.pub.progress_monitor = MonitorProgress;
  cinfo.progress = &s.progress.pub;
  jpeg_read_header(&cinfo, TRUE);
  if (int64_t(cinfo.image_width) * int64_t(cinfo.image_height) > kMaxSourcePixels) {
    std::snprintf(s.errors.message, sizeof s.errors.message, "picture too large (%ux%u)", cinfo.image_width,
                  cinfo.image_height);
    return false;
  }

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
    std::snprintf(s.errors.message, sizeof s.errors.message, "picture too large (%ux%u)", cinfo.image_width,
                  cinfo.image_height);
    return false;
  }
  jpeg_start_decompress(&cinfo);

  sink.Begin(int(cinfo.output_width), int(cinfo.output_height));
  const bool direct = cinfo.out_color_space == JCS_RGB;
  // Rows start one byte past an aligned address: libjpeg-turbo writes aligned
  // rows with non-temporal stores, which push them out of the cache just
  // before the sink reads them.
  s.row.resize(size_t(cinfo.output_width) * size_t(cinfo.output_components) + 1);
  uint8_t* const row = s.row.data() + 1;
  if (!direct) s.rgb.resize(size_t(cinfo.output_width) * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    const int y = int(cinfo.output_scanline);
    JSAMPROW rowPointer = row;
    if (jpeg_read_scanlines(&cinfo, &rowPointer, 1) != 1) break;
    if (!direct) ConvertRow(cinfo, row, s.rgb.data());
    sink.Row(y, direct ? row : s.rgb.data());
  }
  // No jpeg_finish_decompress: it would read on to the end-of-image marker,
  // through whatever a damaged or padded file holds after the picture.
  return true;
}

void MemorySource(jpeg_decompress_struct& cinfo, const uint8_t* data, size_t size) {
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
}

// Opens a regular file for the decoder; non-blocking, so a FIFO named like
// a picture cannot stall the walk.
bool OpenFile(Session& s, const std::string& path, const std::function<bool()>& keepGoing, std::string* error) {
  s.file = std::make_unique<UniqueFd>(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat st {};
  if (!*s.file || ::fstat(s.file->get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    if (error) *error = "cannot read file";
    return false;
  }
  if (st.st_size == 0) {
    if (error) *error = "empty file";
    return false;
  }
  s.source = std::make_unique<FileSource>();
  FileSource& source = *s.source;
  source.fd = s.file->get();
  source.dataEnd = DataEnd(source.fd, st.st_size);
  source.keepGoing = &keepGoing;
  source.pub.init_source = NoOp;
  source.pub.fill_input_buffer = FillFileBuffer;
  source.pub.skip_input_data = SkipFileData;
  source.pub.resync_to_restart = jpeg_resync_to_restart;
  source.pub.term_source = NoOp;
  return true;
}

bool DecodeFileInto(const std::string& path, const DecodeRequest& request, const std::function<bool()>& keepGoing,
                    RowSink& sink, std::string* error, bool thumbnail = false) {
  auto session = std::make_unique<Session>();
  if (!OpenFile(*session, path, keepGoing, error)) return false;
  const long workSpace = thumbnail ? ThumbnailWorkSpace(session->source->dataEnd) : kDecodeWorkSpace;
  jpeg_source_mgr* source = &session->source->pub;
  if (!Run(*session, [source](jpeg_decompress_struct& cinfo) { cinfo.src = source; }, request, sink, workSpace)) {
    if (error) *error = session->errors.message;
    return false;
  }
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
  PictureSink sink;
  const bool decoded =
      Run(*session, [&](jpeg_decompress_struct& cinfo) { MemorySource(cinfo, data, size); }, request, sink,
          kDecodeWorkSpace);
  if (warnings) *warnings = {int(session->errors.pub.num_warnings), session->errors.dataMissing};
  if (!decoded) {
    if (error) *error = session->errors.message;
    return std::nullopt;
  }
  return std::move(sink.image);
}

std::optional<RgbImage> DecodeJpegFile(const std::string& path, DecodeRequest request,
                                       std::string* error) {
  PictureSink sink;
  if (!DecodeFileInto(path, request, nullptr, sink, error)) return std::nullopt;
  return std::move(sink.image);
}

std::optional<RgbImage> MakeThumbnail(const std::string& path, int width, int height, std::string* error,
                                      const std::function<bool()>& keepGoing) {
  ScalingSink sink(width, height);
  if (!DecodeFileInto(path, DecodeRequest{width, height}, keepGoing, sink, error, true)) {
    return std::nullopt;
  }
  RgbImage thumbnail = sink.Finish();
  if (thumbnail.empty()) return std::nullopt;
  return thumbnail;
}

}  // namespace yuragi
