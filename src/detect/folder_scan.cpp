#include "detect/folder_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "detect/end_marker.h"
#include "platform/dir_handle.h"
#include "platform/file_info.h"
#include "formats/jpeg_decoder.h"
#include "formats/number_format.h"
#include "platform/pseudo_file_systems.h"
#include "platform/unique_fd.h"

namespace yuragi {

namespace {

// What decoding one file without the end marker (or, for another format,
// one not complete) gave. Unlisted: complete or not cut, nothing to show.
struct Decoded {
  enum Kind { Listed, Undecodable, Unlisted, Failed, Skipped } kind = Skipped;
  DetectionRow row;
};

// A file the walk hands on to be decoded, with what its first bytes said.
struct Candidate {
  std::string path;
  PictureFormat format = PictureFormat::Jpeg;
  bool extensionMismatch = false;
  // A JPEG as the walk opened it to read its tail: the decode reads the
  // same descriptor, and its size and time come from that look.
  std::shared_ptr<const UniqueFd> open;
  struct stat status {};
};

// A PNG, GIF or WebP through its own test; its end goes where a JPEG's would.
void CheckOtherFormat(const Candidate& file, const std::function<bool()>& keepGoing, Decoded& result) {
  PictureCheckOptions options;
  options.decodeComplete = false;  // only incomplete files are listed
  options.keepGoing = keepGoing;
  PictureCheck check;
  CheckPictureFile(file.format, file.path, check, options);
  if (check.end == PictureEnd::Complete) {
    result.kind = Decoded::Unlisted;
    return;
  }
  if (!check.decodes) {
    result.kind = check.end == PictureEnd::Cut ? Decoded::Undecodable : Decoded::Unlisted;
    return;
  }
  DetectionRow& row = result.row;
  row.stream.end = JpegEndOf(check.end);
  row.stream.present = check.present.value_or(1.0);
  row.stream.trailingBytes = check.trailingBytes;
  row.stream.trailingZero = check.trailingZero;
  row.stream.warning = check.warning;
  row.picture = std::move(check);
  result.kind = Decoded::Listed;
}

// The one step per listed file that needs its picture: everything its row
// holds is read here, on whichever thread decodes.
Decoded DecodeFile(const Candidate& file, const std::function<bool()>& keepGoing) {
  Decoded result;
  result.row.path = file.path;
  result.row.format = file.format;
  result.row.extensionMismatch = file.extensionMismatch;
  try {
    if (file.format == PictureFormat::Jpeg) {
      std::optional<RgbImage> thumbnail =
          file.open ? MakeThumbnail(file.open->get(), kThumbnailSize, kThumbnailSize, nullptr, keepGoing,
                                    &result.row.stream)
                    : MakeThumbnail(file.path, kThumbnailSize, kThumbnailSize, nullptr, keepGoing, &result.row.stream);
      if (!thumbnail) {
        result.kind = Decoded::Undecodable;
        return result;
      }
      result.row.thumbnail = std::move(*thumbnail);
      result.kind = Decoded::Listed;
    } else {
      CheckOtherFormat(file, keepGoing, result);
      if (result.kind != Decoded::Listed) return result;
    }
    // Size and time from one look at the file, as FileSizeOf and
    // ModificationTime would give them.
    struct stat st = file.status;
    if (file.open || ::stat(file.path.c_str(), &st) == 0) {
      result.row.size = S_ISDIR(st.st_mode) ? 0 : uint64_t(st.st_size);
      result.row.modified = st.st_mtim.tv_sec;
    }
  } catch (...) {
    // One bad file never ends the walk.
    result.kind = Decoded::Failed;
  }
  return result;
}

// A decode thread frees a picture's buffers after every file. glibc hands
// the free top of a thread's arena back to the kernel once it passes 128 KB,
// so each file faulted its memory in again (ten times the page faults of one
// thread); kept up to 16 MB, it is reused.
void KeepFreedMemory() {
#if defined(__GLIBC__)
  static std::once_flag once;
  std::call_once(once, [] { ::mallopt(M_TRIM_THRESHOLD, 16 * 1024 * 1024); });
#endif
}

// Decodes on worker threads and gives the results back in the order the
// files were handed in. Only the walk's thread calls it.
class DecodePool {
 public:
  DecodePool(int threads, const std::atomic<bool>& cancel) : cancel_(cancel) {
    KeepFreedMemory();
    try {
      for (int i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
    } catch (...) {
      Close();
      throw;
    }
  }
  DecodePool(const DecodePool&) = delete;
  DecodePool& operator=(const DecodePool&) = delete;
  ~DecodePool() { Close(); }

  void Submit(const Candidate& file) {
    auto slot = std::make_shared<Slot>();
    slot->file = file;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      todo_.push_back(slot);
    }
    workReady_.notify_one();
    // Last: a slot waited for is always one a worker will finish.
    order_.push_back(std::move(slot));
  }

  size_t Pending() const { return order_.size(); }

  // Blocks until the result at this place from the oldest is in, or for
  // at most the given time.
  void WaitFor(size_t index, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    Await(*order_[index], lock, limit);
  }

  // The oldest result, once it is in; nothing when none is waiting or,
  // unless wait is set, the oldest is not done yet.
  std::optional<Decoded> TakeOldest(bool wait) {
    if (order_.empty()) return std::nullopt;
    std::unique_lock<std::mutex> lock(mutex_);
    Slot& oldest = *order_.front();
    if (!oldest.done) {
      if (!wait) return std::nullopt;
      Await(oldest, lock, std::nullopt);
    }
    Decoded result = std::move(oldest.result);
    lock.unlock();
    order_.pop_front();
    return result;
  }

 private:
  void Close() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closing_ = true;
    }
    workReady_.notify_all();
    for (std::thread& worker : workers_) worker.join();
    workers_.clear();
  }

  struct Slot {
    Candidate file;
    Decoded result;
    bool done = false;
  };

  // Workers wake the walk only for the result it waits for, so it sleeps
  // and wakes once for it rather than once for every file done.
  void Await(Slot& slot, std::unique_lock<std::mutex>& lock, std::optional<std::chrono::milliseconds> limit) {
    awaited_ = &slot;
    const auto done = [&] { return slot.done; };
    if (limit) {
      done_.wait_for(lock, *limit, done);
    } else {
      done_.wait(lock, done);
    }
    awaited_ = nullptr;
  }

  void Work() {
    const std::function<bool()> keepGoing = [this] { return !cancel_.load(std::memory_order_relaxed); };
    for (;;) {
      std::shared_ptr<Slot> slot;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        workReady_.wait(lock, [this] { return closing_ || !todo_.empty(); });
        if (closing_) return;
        slot = std::move(todo_.front());
        todo_.pop_front();
      }
      // Once stopped, files not started yet are not read at all.
      Decoded result = keepGoing() ? DecodeFile(slot->file, keepGoing) : Decoded{};
      slot->file.open.reset();  // closed as soon as it is read
      bool awaited = false;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        slot->result = std::move(result);
        slot->done = true;
        awaited = slot.get() == awaited_;
      }
      if (awaited) done_.notify_all();
    }
  }

  const std::atomic<bool>& cancel_;
  std::deque<std::shared_ptr<Slot>> order_;  // the walk's side only
  std::mutex mutex_;
  std::condition_variable workReady_;
  std::condition_variable done_;
  std::deque<std::shared_ptr<Slot>> todo_;
  const Slot* awaited_ = nullptr;  // by the walk
  bool closing_ = false;
  std::vector<std::thread> workers_;
};

// Files handed to the decode threads with their descriptor still open.
constexpr size_t kMaxHeldOpen = 64;

struct Entry {
  std::string name;
  unsigned char type;
};

class Walker {
 public:
  // Threads are started for a folder only: a single file gains nothing
  // from them, and many files named one by one would start them each time.
  Walker(ScanRun& run, ScanWindow& window, bool threads) : run_(run), window_(window) {
    if (!run_.pseudoDevices) run_.pseudoDevices = PseudoFileSystemDevices();
    try {
      if (threads && run_.jobs > 1) pool_ = std::make_unique<DecodePool>(run_.jobs, run_.cancelRequested);
    } catch (const std::system_error&) {
      // No threads to be had: the walk decodes on its own.
    }
  }

  // Hands the window what the decode threads still hold, in order; after a
  // stop, up to the first file they did not start.
  void Finish() {
    if (!pool_) return;
    while (pool_->Pending() > 0) {
      std::optional<Decoded> decoded = pool_->TakeOldest(true);
      if (decoded->kind == Decoded::Skipped) break;
      Take(std::move(*decoded));
    }
  }

  void Walk(std::string folder, bool root) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    std::vector<Entry> entries;
    if (!ReadFolder(folder, root, entries)) return;
    WalkEntries(entries, folder);
  }

  // A file named by the caller counts and is tested as one met in a folder.
  void TestFile(const std::string& path) {
    ++run_.fileCount;
    const size_t slash = path.rfind('/');
    const char* name = path.c_str() + (slash == std::string::npos ? 0 : slash + 1);
    Test(path, name);
    window_.SetStatusText(ProgressText(window_.RowCount(), run_.fileCount));
  }

 private:
  // The whole listing is read and the folder closed before anything below
  // it is entered, so open descriptors do not grow with the depth.
  bool ReadFolder(const std::string& folder, bool root, std::vector<Entry>& entries) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
      // A chosen folder that does not exist is the caller's business.
      if (!(root && (errno == ENOENT || errno == ENOTDIR))) Unreadable(folder, errno);
      return false;
    }
    DirHandle dir(::fdopendir(fd));
    if (!dir) {
      const int error = errno;
      ::close(fd);
      Unreadable(folder, error);
      return false;
    }
    struct stat self {};
    if (::fstat(fd, &self) != 0) {
      Unreadable(folder, errno);
      return false;
    }
    if (run_.pseudoDevices->count(self.st_dev) != 0 || IsOnPseudoFileSystem(fd)) return false;
    // Links may lead here again (a cycle, a ladder of links): once is enough.
    if (!run_.entered.emplace(self.st_dev, self.st_ino).second) return false;
    errno = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
      const char* name = entry->d_name;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
      entries.push_back(Entry{name, entry->d_type});
    }
    if (errno != 0) Unreadable(folder, errno);  // what was listed is still walked
    return true;
  }

  void WalkEntries(const std::vector<Entry>& entries, const std::string& folder) {
    std::string full;
    for (const Entry& entry : entries) {
      if (run_.cancelRequested.load(std::memory_order_relaxed)) break;
      full.assign(folder).append(entry.name);
      if (IsFolderEntry(entry, full)) {
        if (run_.mirrorFolders && entry.name == "hts-cache") run_.mirrorFolders->push_back(folder);
        Walk(full, false);
        window_.ProcessMessages();
        continue;
      }
      ++run_.fileCount;
      Test(full, entry.name.c_str());
      window_.SetStatusText(ProgressText(window_.RowCount(), run_.fileCount));
      window_.ProcessMessages();
    }
  }

  static bool IsFolderEntry(const Entry& entry, const std::string& full) {
    if (entry.type == DT_DIR) return true;
    if (entry.type != DT_LNK && entry.type != DT_UNKNOWN) return false;
    return IsFolder(full);  // follows links: a link to a folder is a folder
  }

  void Unreadable(const std::string& folder, int error) {
    ++run_.unreadableFolders;
    window_.ReportUnreadableFolder(folder, error);
  }

  void Test(const std::string& path, const char* name) {
    if (run_.formats == kJpegOnly) {
      if (IsJpegName(name)) TestJpeg(path, false);
      return;
    }
    const PictureFormat named = PictureFormatOfName(name);
    if (named == PictureFormat::None) return;
    PictureFormat format = SniffPictureFile(path);
    // Too short or garbled to carry a signature: its name is all there is.
    if (format == PictureFormat::None) format = named;
    if ((run_.formats & FormatBit(format)) == 0) return;
    if (format == PictureFormat::Jpeg) {
      TestJpeg(path, named != format);
      return;
    }
    AddRow({path, format, named != format, nullptr, {}});
  }

  // One open serves the tail and, when the end marker is missing, the
  // decode. A file that cannot be opened or is not a regular one is still
  // handed on by name, for its decode to fail.
  void TestJpeg(const std::string& path, bool extensionMismatch) {
    Candidate file{path, PictureFormat::Jpeg, extensionMismatch, nullptr, {}};
    auto open = std::make_shared<const UniqueFd>(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (*open && ::fstat(open->get(), &file.status) == 0 && S_ISREG(file.status.st_mode)) {
      if (HasJpegEndMarker(open->get(), file.status.st_size)) return;
      // Many threads far ahead would hold many descriptors: past a bound,
      // the decode opens the file again.
      if (!pool_ || pool_->Pending() < kMaxHeldOpen) file.open = std::move(open);
    }
    AddRow(file);
  }

  void AddRow(const Candidate& file) {
    if (pool_) {
      try {
        pool_->Submit(file);
      } catch (...) {
        // One file that cannot be queued never ends the walk.
      }
      // A few files ahead per thread keep them busy; more would only hold
      // thumbnails the window cannot show yet. Once that far ahead, the
      // walk sleeps until half of them are done, not once a file, but not
      // so long that the window would seem to hang.
      const size_t ahead = size_t(run_.jobs) * 8;
      if (pool_->Pending() > ahead) pool_->WaitFor(pool_->Pending() - ahead / 2 - 1, std::chrono::milliseconds(20));
      while (std::optional<Decoded> decoded = pool_->TakeOldest(pool_->Pending() > ahead)) {
        Take(std::move(*decoded));
      }
      return;
    }
    // A big file keeps the window alive and the cancel button working.
    const auto keepGoing = [this] {
      window_.ProcessMessages();
      return !run_.cancelRequested.load(std::memory_order_relaxed);
    };
    Take(DecodeFile(file, keepGoing));
  }

  void Take(Decoded decoded) {
    if (decoded.kind == Decoded::Listed) {
      window_.AppendRow(std::move(decoded.row));
      return;
    }
    if (decoded.kind == Decoded::Undecodable && run_.undecodable) run_.undecodable->push_back(decoded.row.path);
    window_.ProcessMessages();
  }

  ScanRun& run_;
  ScanWindow& window_;
  std::unique_ptr<DecodePool> pool_;
};

}  // namespace

bool IsJpegName(const char* name) {
  const char* dot = std::strrchr(name, '.');
  if (!dot) return false;
  char ext[6];
  size_t n = 0;
  for (const char* p = dot; *p; ++p) {
    if (n == sizeof ext - 1) return false;
    const char c = *p;
    ext[n++] = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
  }
  ext[n] = '\0';
  return std::strcmp(ext, ".jpg") == 0 || std::strcmp(ext, ".jpeg") == 0;
}

JpegEnd JpegEndOf(PictureEnd end) {
  switch (end) {
    case PictureEnd::Complete: return JpegEnd::Complete;
    case PictureEnd::Trailing: return JpegEnd::Trailing;
    case PictureEnd::Cut: return JpegEnd::Cut;
    case PictureEnd::Damaged: return JpegEnd::Damaged;
  }
  return JpegEnd::Cut;
}

const char* StateWord(JpegEnd end) {
  switch (end) {
    case JpegEnd::Cut: return "cut";
    case JpegEnd::Trailing: return "trailing";
    case JpegEnd::Damaged: return "damaged";
    case JpegEnd::Complete: return "complete";
  }
  return "cut";
}

void ScanFolder(const std::string& folder, ScanRun& run, ScanWindow& window) {
  Walker walker(run, window, true);
  walker.Walk(folder, true);
  walker.Finish();
}

void ScanFile(const std::string& path, ScanRun& run, ScanWindow& window) {
  Walker(run, window, false).TestFile(path);
}

int DefaultScanJobs() { return std::max(1, int(std::thread::hardware_concurrency())); }

QString ProgressText(int64_t rows, int64_t files) {
  return FormatNumber(rows) + FormatNumber(files, NumberPattern::OfTotal);
}

QString FinalText(int64_t rows, int64_t files) {
  return ProgressText(rows, files) +
         (rows > 0 ? QStringLiteral(" 検出しました") : QStringLiteral(" 該当ありません"));
}

QString UnreadableFoldersText(int64_t folders) {
  if (folders <= 0) return {};
  return QStringLiteral("（開けないフォルダ ") + FormatNumber(folders) + QStringLiteral("）");
}

}  // namespace yuragi
