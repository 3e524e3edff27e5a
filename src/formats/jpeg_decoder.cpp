#include "formats/jpeg_decoder.h"

#include "formats/jpeg_source.h"
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

using jpeg_source::FileSource;
using jpeg_source::MemorySource;
using jpeg_source::kAll;
using jpeg_source::kCareful;

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  bool dataMissing = false;  // the stream or a segment ended early
  bool sawEof = false;       // the stream itself ended early
  // The data ran out (its end, or an end marker amid the picture): the scan
  // then being read and how many of its rows of blocks were complete.
  bool ranOut = false;
  bool bitsMissed = false;  // after the end, the decoder needed bits it did not have
  int endScan = 0;
  unsigned endRow = 0;
  unsigned totalRows = 0;
  int otherWarnings = 0;  // before the data ran out
  char firstWarning[JMSG_LENGTH_MAX];
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  auto* manager = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, manager->message);
  std::longjmp(manager->jump, 1);
}

// Warnings are counted, never printed: a cut stream still gives a picture.
// Whatever the decoder warns of after the data ran out is the cut's doing.
void EmitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  ++cinfo->err->num_warnings;
  auto* manager = reinterpret_cast<ErrorManager*>(cinfo->err);
  const int code = cinfo->err->msg_code;
  const bool eof = code == JWRN_JPEG_EOF;
  const bool hit = code == JWRN_HIT_MARKER;
  manager->dataMissing = manager->dataMissing || eof || hit;
  manager->sawEof = manager->sawEof || eof;
  const auto* d = cinfo->is_decompressor ? reinterpret_cast<j_decompress_ptr>(cinfo) : nullptr;
  if (manager->ranOut) {
    // The end is met while bits are read ahead; the picture lacks data
    // only from where the decoder first needs what is not there.
    if (hit && d && !manager->bitsMissed) {
      manager->bitsMissed = true;
      manager->endScan = d->input_scan_number;
      manager->endRow = d->input_iMCU_row;
    }
    return;
  }
  // Any other marker amid the data is damage, not an end.
  if (d && (eof || (hit && d->unread_marker == JPEG_EOI))) {
    manager->ranOut = true;
    manager->bitsMissed = hit;
    manager->endScan = d->input_scan_number;
    manager->endRow = d->input_iMCU_row;
    manager->totalRows = d->total_iMCU_rows;
    return;
  }
  if (manager->otherWarnings++ == 0) (*cinfo->err->format_message)(cinfo, manager->firstWarning);
}

// Where decoded rows go: a whole picture, or a scaler that keeps only the
// output. Begin is told the decoded size and the bytes a pixel (3 for RGB,
// 4 with a fourth byte to ignore, when the sink asked for that) before the
// first row.
class RowSink {
 public:
  virtual ~RowSink() = default;
  virtual bool WantsFourBytes() const { return false; }
  virtual void Begin(int width, int height, int bytesPerPixel) = 0;
  virtual void Row(int y, const uint8_t* pixels) = 0;
};

class PictureSink final : public RowSink {
 public:
  void Begin(int width, int height, int) override {
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

class NoSink final : public RowSink {
 public:
  void Begin(int, int, int) override {}
  void Row(int, const uint8_t*) override {}
};

class ScalingSink final : public RowSink {
 public:
  ScalingSink(int width, int height) : width_(width), height_(height) {}
  // Pixels of 4 bytes let the scaler weigh two at once without unpacking them.
  bool WantsFourBytes() const override { return true; }
  void Begin(int width, int height, int bytesPerPixel) override {
    scaler_ = std::make_unique<RowScaler>(width, height, width_, height_, bytesPerPixel);
  }
  void Row(int, const uint8_t* pixels) override { scaler_->AddRow(pixels); }
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
  unsigned calls = 0;
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
  // It is called for every row read out; the clock is not free either.
  if (++progress->calls % 16 != 0) return;
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
  std::unique_ptr<MemorySource> memory;  // or a stream in memory
  std::vector<uint8_t> row;
  std::vector<uint8_t> rgb;
  bool findEnd = false;   // read on to the end marker once the rows are out
  bool greyTail = false;  // rows past the end of a cut picture may be made without the library
  bool rowsDone = false;  // every row is out; what fails now is only the end
  bool endFailed = false;

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
  if (setjmp(s.errors.jump)) {
    s.endFailed = s.rowsDone;
    return s.rowsDone;
  }
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
#ifdef JCS_EXTENSIONS
      if (sink.WantsFourBytes()) cinfo.out_color_space = JCS_EXT_RGBX;
#endif
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

  const bool direct = cinfo.out_color_space != JCS_GRAYSCALE && cinfo.out_color_space != JCS_CMYK;
  sink.Begin(int(cinfo.output_width), int(cinfo.output_height), direct ? cinfo.output_components : 3);
  // Rows start one byte past an aligned address: libjpeg-turbo writes aligned
  // rows with non-temporal stores, which push them out of the cache just
  // before the sink reads them.
  s.row.resize(size_t(cinfo.output_width) * size_t(cinfo.output_components) + 1);
  uint8_t* const row = s.row.data() + 1;
  if (!direct) s.rgb.resize(size_t(cinfo.output_width) * 3);
  // Past the end of the data of a cut picture in one scan the library
  // decodes blocks of nothing: all their coefficients zero, mid-grey in
  // every channel. Two rows of blocks after the end (one for the blocks
  // the end fell in, one for the chroma upsampling's reach), every row is
  // exactly grey, and the rows are made here without decoding them.
#if JPEG_LIB_VERSION >= 70
  const int blockRowHeight = cinfo.max_v_samp_factor * cinfo.min_DCT_v_scaled_size;
#else
  const int blockRowHeight = cinfo.max_v_samp_factor * cinfo.min_DCT_scaled_size;
#endif
  const bool greyTail = s.greyTail && !cinfo.progressive_mode && !cinfo.arith_code &&
                        !jpeg_has_multiple_scans(&cinfo) && cinfo.jpeg_color_space == JCS_YCbCr && direct;
  while (cinfo.output_scanline < cinfo.output_height) {
    const int y = int(cinfo.output_scanline);
    if (greyTail && s.errors.sawEof && int64_t(y) >= (int64_t(s.errors.endRow) + 2) * blockRowHeight) {
      std::fill(s.row.begin(), s.row.end(), uint8_t(CENTERJSAMPLE));
      for (int rest = y; rest < int(cinfo.output_height); ++rest) sink.Row(rest, row);
      break;
    }
    JSAMPROW rowPointer = row;
    if (jpeg_read_scanlines(&cinfo, &rowPointer, 1) != 1) break;
    if (!direct) ConvertRow(cinfo, row, s.rgb.data());
    sink.Row(y, direct ? row : s.rgb.data());
  }
  // No jpeg_finish_decompress. When asked, the markers after the picture
  // are read up to its end-of-image marker and never past it, so whatever
  // follows (a video, padding) is not parsed; an error there costs no row.
  s.rowsDone = true;
  if (s.findEnd && !s.errors.sawEof && cinfo.output_scanline >= cinfo.output_height) {
    for (int markers = 0; markers < 1000; ++markers) {
      const int status = jpeg_consume_input(&cinfo);
      if (status == JPEG_REACHED_EOI || status == JPEG_SUSPENDED) break;
    }
  }
  return true;
}

// Bytes of the stream the decoder has taken in.
uint64_t Consumed(const Session& s) {
  return s.source ? jpeg_source::Consumed(*s.source) : jpeg_source::Consumed(*s.memory);
}

bool AllZero(const uint8_t* bytes, size_t count) {
  return std::all_of(bytes, bytes + count, [](uint8_t b) { return b == 0; });
}

// Whether the file's bytes from start on are all zero; a hole past the
// data is zero by definition, and the first other byte ends the read.
bool FileZeroFrom(FileSource& source, off_t start) {
  for (off_t at = start; at < source.dataEnd;) {
    const size_t want = size_t(std::min<off_t>(source.dataEnd - at, off_t(sizeof source.buffer)));
    ssize_t n = 0;
    do {
      n = ::pread(source.fd, source.buffer, want, at);
    } while (n < 0 && errno == EINTR);
    if (n <= 0 || !AllZero(source.buffer, size_t(n))) return false;
    at += n;
  }
  return true;
}

void Classify(Session& s, uint64_t streamSize, JpegCheck& check) {
  const ErrorManager& errors = s.errors;
  check = JpegCheck{};
  check.progressive = s.cinfo.progressive_mode != 0;
  if (errors.otherWarnings > 0) check.warning = errors.firstWarning;
  const bool scanDone = errors.totalRows == 0 || errors.endRow >= errors.totalRows || !errors.bitsMissed;
  check.completeScans = errors.ranOut ? std::max(0, scanDone ? errors.endScan : errors.endScan - 1)
                                      : s.cinfo.input_scan_number;
  if (errors.ranOut) check.present = scanDone ? 1.0 : double(errors.endRow) / double(errors.totalRows);
  if (!errors.sawEof && !s.endFailed) {
    const uint64_t end = std::min(Consumed(s), streamSize);
    check.trailingBytes = streamSize - end;
    if (check.trailingBytes > 0) {
      check.trailingZero =
          s.source ? FileZeroFrom(*s.source, off_t(end)) : AllZero(s.memory->data + end, size_t(check.trailingBytes));
    }
  }
  if (errors.sawEof) {
    check.end = JpegEnd::Cut;
  } else if (errors.otherWarnings > 0) {
    check.end = JpegEnd::Damaged;
  } else if (errors.ranOut) {
    check.end = JpegEnd::Cut;  // closed by an end marker amid the picture
  } else if (s.endFailed || s.cinfo.output_scanline < s.cinfo.output_height) {
    check.end = JpegEnd::Cut;
    check.note = s.endFailed ? std::string("after the picture: ") + errors.message : "stopped before the end";
  } else {
    check.end = check.trailingBytes > 0 ? JpegEnd::Trailing : JpegEnd::Complete;
  }
}

// The session's memory source, set up for the decoder.
void UseMemory(Session& s, const uint8_t* data, size_t size, size_t chunk) {
  s.memory = std::make_unique<MemorySource>();
  jpeg_source::InitMemorySource(*s.memory, data, size, chunk);
}

// Opens a regular file for the decoder; non-blocking, so a FIFO named like
// a picture cannot stall the walk.
bool UseFile(Session& s, int fd, const std::function<bool()>& keepGoing, std::string* error) {
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (error) *error = "cannot read file";
    return false;
  }
  if (st.st_size == 0) {
    if (error) *error = "empty file";
    return false;
  }
  // Its 64 KB buffer is filled before it is read; zeroing it per file costs.
  s.source = std::make_unique_for_overwrite<FileSource>();
  FileSource& source = *s.source;
  source.fd = fd;
  source.size = st.st_size;
  source.dataEnd = jpeg_source::DataEnd(source.fd, st.st_size);
  source.keepGoing = &keepGoing;
  jpeg_source::InitFileSource(source);
  return true;
}

bool OpenFile(Session& s, const std::string& path, const std::function<bool()>& keepGoing, std::string* error) {
  s.file = std::make_unique<UniqueFd>(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  return UseFile(s, s.file->get(), keepGoing, error);
}

// Decodes an opened file (the session holds its source); check, when
// given, receives how the stream ends.
bool DecodeOpenFile(Session& session, const DecodeRequest& request, RowSink& sink, std::string* error, bool thumbnail,
                    JpegCheck* check) {
  const long workSpace = thumbnail ? ThumbnailWorkSpace(session.source->dataEnd) : kDecodeWorkSpace;
  jpeg_source_mgr* source = &session.source->pub;
  session.findEnd = check != nullptr;
  session.greyTail = thumbnail || check;
  if (check) session.source->chunk = kCareful;
  if (!Run(session, [source](jpeg_decompress_struct& cinfo) { cinfo.src = source; }, request, sink, workSpace)) {
    if (error) *error = session.errors.message;
    return false;
  }
  if (check) Classify(session, uint64_t(session.source->size), *check);
  return true;
}

// Every scale covers 1 x 1: the smallest, 1/8, is chosen.
constexpr DecodeRequest kSmallest{1, 1};

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
  UseMemory(*session, data, size, kAll);
  PictureSink sink;
  const bool decoded =
      Run(*session, [&](jpeg_decompress_struct& cinfo) { cinfo.src = &session->memory->pub; }, request, sink,
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
  auto session = std::make_unique<Session>();
  if (!OpenFile(*session, path, nullptr, error) || !DecodeOpenFile(*session, request, sink, error, false, nullptr)) {
    return std::nullopt;
  }
  return std::move(sink.image);
}

namespace {

// The thumbnail of the file the session has open.
std::optional<RgbImage> ThumbnailOf(Session& session, int width, int height, std::string* error, JpegCheck* check) {
  ScalingSink sink(width, height);
  if (!DecodeOpenFile(session, DecodeRequest{width, height}, sink, error, true, check)) return std::nullopt;
  RgbImage thumbnail = sink.Finish();
  if (thumbnail.empty()) return std::nullopt;
  return thumbnail;
}

}  // namespace

std::optional<RgbImage> MakeThumbnail(const std::string& path, int width, int height, std::string* error,
                                      const std::function<bool()>& keepGoing, JpegCheck* check) {
  auto session = std::make_unique<Session>();
  if (!OpenFile(*session, path, keepGoing, error)) return std::nullopt;
  return ThumbnailOf(*session, width, height, error, check);
}

std::optional<RgbImage> MakeThumbnail(int fd, int width, int height, std::string* error,
                                      const std::function<bool()>& keepGoing, JpegCheck* check) {
  auto session = std::make_unique<Session>();
  if (!UseFile(*session, fd, keepGoing, error)) return std::nullopt;
  return ThumbnailOf(*session, width, height, error, check);
}

bool CheckJpeg(const uint8_t* data, size_t size, JpegCheck& check, std::string* error) {
  if (size == 0) {
    if (error) *error = "empty file";
    return false;
  }
  auto session = std::make_unique<Session>();
  UseMemory(*session, data, size, kCareful);
  session->findEnd = true;
  session->greyTail = true;
  NoSink sink;
  if (!Run(*session, [&](jpeg_decompress_struct& cinfo) { cinfo.src = &session->memory->pub; }, kSmallest, sink,
           kDecodeWorkSpace)) {
    if (error) *error = session->errors.message;
    return false;
  }
  Classify(*session, size, check);
  return true;
}

bool CheckJpegFile(const std::string& path, JpegCheck& check, std::string* error) {
  auto session = std::make_unique<Session>();
  NoSink sink;
  const std::function<bool()> always;
  return OpenFile(*session, path, always, error) && DecodeOpenFile(*session, kSmallest, sink, error, false, &check);
}

bool CheckJpegFile(int fd, JpegCheck& check, std::string* error) {
  auto session = std::make_unique<Session>();
  NoSink sink;
  const std::function<bool()> always;
  // Looking for holes moves the offset; the caller's is put back.
  const off_t offset = ::lseek(fd, 0, SEEK_CUR);
  const bool decoded = UseFile(*session, fd, always, error) && DecodeOpenFile(*session, kSmallest, sink, error, false, &check);
  if (offset >= 0) ::lseek(fd, offset, SEEK_SET);
  return decoded;
}

}  // namespace yuragi
