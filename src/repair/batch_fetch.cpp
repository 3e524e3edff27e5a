#include "repair/batch_fetch.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>

#include "platform/curl_setup.h"
#include "platform/http_header_lines.h"
#include "repair/repair_save.h"
#include "repair/repair_url.h"
#include "repair/resume_check.h"

namespace yuragi {

static_assert(kWatchIn == CURL_POLL_IN && kWatchOut == CURL_POLL_OUT && kWatchInOut == CURL_POLL_INOUT &&
              kWatchRemove == CURL_POLL_REMOVE);
static_assert(kSocketIn == CURL_CSELECT_IN && kSocketOut == CURL_CSELECT_OUT && kSocketError == CURL_CSELECT_ERR);

namespace {

using Clock = std::chrono::steady_clock;

// How often running transfers are held against the minimum speed.
constexpr auto kSpeedTick = std::chrono::seconds(1);
// What a transfer of unknown length is assumed to bring at most, for its deadline.
constexpr uint64_t kUnknownLengthGuess = uint64_t(4) << 20;

enum class Abort { None, RangeMismatch, Changed, TooLarge, ErrorPage, Spool };

struct Job {
  size_t index = 0;
  std::string host;
  const FetchSettings* settings = nullptr;
  FetchOutcome outcome;
  bool loaded = false;
  bool rangeAllowed = true;
  bool onFallback = false;  // the item's second URL is being asked
  int attempt = 0;
  Clock::time_point notBefore{};

  // State of the running attempt.
  CurlEasy easy;
  std::optional<uint64_t> rangeStart;
  Abort abort = Abort::None;
  bool mismatch = false;  // the body already differs from the local file
  long lineStatus = 0;    // from the last status line seen
  bool headerEnded = false;  // the blank line after it came
  std::unique_ptr<SpoolFile> spool;
  uint64_t bodySize = 0;  // body bytes of this attempt, the local prefix of a resume not counted
  std::string head;       // the first bytes of this attempt's body
  std::string contentRange;
  std::string retryAfter;
  char errorText[CURL_ERROR_SIZE] = {};
  Clock::time_point started{};
  Clock::time_point deadline{};
  Clock::time_point windowStart{};
  uint64_t windowBytes = 0;

  long Status() const {
    long code = 0;
    if (easy) curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &code);
    return code;
  }

  void SetDeadline(uint64_t expected) {
    const FetchSettings& s = *settings;
    if (s.minSpeed == 0) return;
    expected = std::min(expected, s.maxBody);
    deadline = started + std::chrono::seconds(s.speedWindow + long(expected / s.minSpeed));
  }

  bool OpenSpool() {
    spool = SpoolFile::Create(&outcome.error);
    if (!spool) return false;
    // A resumed file is kept whole: the local bytes before the range first.
    const std::string& local = outcome.local;
    if (lineStatus == 206 && rangeStart && !spool->Append(local.data(), size_t(*rangeStart))) {
      outcome.error = std::string("temporary file: ") + std::strerror(errno);
      return false;
    }
    return true;
  }

  static size_t OnBody(char* data, size_t size, size_t count, void* self) {
    auto& job = *static_cast<Job*>(self);
    const size_t bytes = size * count;
    job.outcome.received += bytes;
    if (job.lineStatus >= 300) {
      // An error page is not wanted: a few bytes are let through, no more.
      job.bodySize += bytes;
      if (job.bodySize <= kErrorBodyLimit) return bytes;
      job.abort = Abort::ErrorPage;
      return 0;
    }
    if (job.bodySize + bytes > job.settings->maxBody) {
      job.abort = Abort::TooLarge;
      return 0;
    }
    if (!job.spool && !job.OpenSpool()) {
      job.abort = Abort::Spool;
      return 0;
    }
    const std::string& local = job.outcome.local;
    const bool partial = job.lineStatus == 206 && job.rangeStart;
    const uint64_t offset = (partial ? *job.rangeStart : 0) + job.bodySize;
    if (!job.mismatch && offset < local.size()) {
      const size_t n = std::min<uint64_t>(bytes, local.size() - offset);
      if (std::memcmp(data, local.data() + offset, n) != 0) {
        job.mismatch = true;
        if (partial) {
          job.abort = Abort::RangeMismatch;
          return 0;
        }
        // Another picture under the same address: no need to fetch the rest.
        if (!job.settings->acceptChanged && job.LooksLikeJpeg(data, bytes)) {
          job.abort = Abort::Changed;
          return 0;
        }
      }
    }
    if (job.head.size() < kRangeOverlap) job.head.append(data, std::min<size_t>(bytes, kRangeOverlap - job.head.size()));
    if (!job.spool->Append(data, bytes)) {
      job.outcome.error = std::string("temporary file: ") + std::strerror(errno);
      job.abort = Abort::Spool;
      return 0;
    }
    job.bodySize += bytes;
    return bytes;
  }

  static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
    auto& job = *static_cast<Job*>(self);
    const size_t bytes = size * count;
    const std::string_view line(data, bytes);
    if (line.starts_with("HTTP/")) {
      job.contentRange.clear();
      job.retryAfter.clear();
      job.outcome.contentType.clear();
      job.headerEnded = false;
      const size_t space = line.find(' ');
      job.lineStatus = space == std::string_view::npos ? 0 : std::atol(std::string(line.substr(space + 1, 3)).c_str());
    }
    if (const std::optional<HeaderField> field = SplitHeaderLine(line)) {
      if (HeaderNameIs(field->name, "Content-Range")) job.contentRange.assign(field->value);
      if (HeaderNameIs(field->name, "Retry-After")) job.retryAfter.assign(field->value);
      if (HeaderNameIs(field->name, "Content-Type")) job.outcome.contentType.assign(field->value);
      if (HeaderNameIs(field->name, "Content-Length") && job.lineStatus < 300) {
        job.SetDeadline(std::strtoull(std::string(field->value).c_str(), nullptr, 10));
      }
    }
    if (line == "\r\n" || line == "\n") job.headerEnded = true;
    // The end of an error answer's header: its body is never read.
    if (job.headerEnded && job.lineStatus >= 400) {
      job.abort = Abort::ErrorPage;
      return 0;
    }
    return bytes;
  }

  bool LooksLikeJpeg(const char* data, size_t bytes) const {
    std::string start = head.substr(0, 2);
    start.append(data, std::min<size_t>(bytes, 2 - start.size()));
    return start.size() == 2 && uint8_t(start[0]) == 0xFF && uint8_t(start[1]) == 0xD8;
  }
};

bool IsTransient(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
      return true;
    default:
      return false;
  }
}

}  // namespace

class FetchEngine::Impl {
 public:
  Impl(std::vector<FetchItem> items, const FetchSettings& settings, FetchHooks hooks)
      : items_(std::move(items)), settings_(settings), hooks_(std::move(hooks)), jobs_(items_.size()) {
    settings_.jobs = std::clamp(settings_.jobs, 1, kMaxJobs);
    settings_.perHost = std::clamp(settings_.perHost, 1, settings_.jobs);
    for (size_t i = 0; i < items_.size(); ++i) {
      jobs_[i].index = i;
      jobs_[i].host = HostKeyOf(items_[i].url);
      jobs_[i].settings = &settings_;
      jobs_[i].rangeAllowed = settings_.resume;
      queue_.push_back(i);
    }
    progress_.total = items_.size();
  }

  ~Impl() {
    for (Job* job : running_) curl_multi_remove_handle(multi_.get(), job->easy.get());
  }

  void SetWatcher(FetchWatcher watcher) { watcher_ = std::move(watcher); }

  bool Start(std::string* error) {
    if (const CURLcode init = InitCurl(); init != CURLE_OK) {
      return Fail(error, std::string("cannot start the HTTP library: ") + curl_easy_strerror(init));
    }
    multi_.reset(curl_multi_init());
    headers_ = NoCacheHeaders();
    if (!multi_ || !headers_) return Fail(error, "cannot start the HTTP library");
    CURLM* multi = multi_.get();
    if (curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, long(settings_.perHost)) != CURLM_OK ||
        curl_multi_setopt(multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, long(settings_.jobs)) != CURLM_OK ||
        curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, long(settings_.jobs) * 2) != CURLM_OK ||
        curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &Impl::OnCurlSocket) != CURLM_OK ||
        curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this) != CURLM_OK ||
        curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &Impl::OnCurlTimer) != CURLM_OK ||
        curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this) != CURLM_OK) {
      return Fail(error, "cannot set up the HTTP library");
    }
    started_ = true;
    if (hooks_.wakeFd >= 0 && watcher_.socket) watcher_.socket(hooks_.wakeFd, kWatchIn);
    Pump();
    return true;
  }

  void OnSocket(int fd, int events) {
    if (!started_ || finished_) return;
    if (fd != hooks_.wakeFd) {
      if (events & kSocketIn) AckAtOnce(fd);
      int running = 0;
      curl_multi_socket_action(multi_.get(), fd, events, &running);
    }
    Pump();
  }

  void OnTimer() {
    if (!started_ || finished_) return;
    if (curlDue_ && *curlDue_ <= Clock::now() + std::chrono::milliseconds(1)) {
      curlDue_.reset();
      int running = 0;
      curl_multi_socket_action(multi_.get(), CURL_SOCKET_TIMEOUT, 0, &running);
    }
    Pump();
  }

  void Interrupt(int level) {
    if (level <= level_) return;
    level_ = level;
    if (started_ && !finished_) Pump();
  }

  bool Finished() const { return failed_ || finished_; }
  const FetchProgress& Progress() const { return progress_; }

 private:
  // A server that writes an answer's header and body apart and holds back
  // small segments (Nagle) sends the body only once the header is
  // acknowledged, which on a reused connection the system delays by up to
  // 40 ms. Acknowledging what has come before it is read spares that wait;
  // where the option does not apply (not TCP), nothing changes.
  static void AckAtOnce(int fd) {
#ifdef TCP_QUICKACK
    const int on = 1;
    // Best effort: where it fails, only the wait stays.
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
#endif
  }

  static int OnCurlSocket(CURL*, curl_socket_t fd, int what, void* self, void*) {
    auto& impl = *static_cast<Impl*>(self);
    if (impl.watcher_.socket) impl.watcher_.socket(int(fd), what);
    return 0;
  }

  static int OnCurlTimer(CURLM*, long ms, void* self) {
    auto& impl = *static_cast<Impl*>(self);
    if (ms < 0) {
      impl.curlDue_.reset();
    } else {
      impl.curlDue_ = Clock::now() + std::chrono::milliseconds(ms);
    }
    return 0;
  }

  bool Fail(std::string* error, const std::string& text) {
    failed_ = true;
    if (error) *error = text;
    return false;
  }

  // Everything that follows an event: ended transfers, new ones, the
  // speed checks, the report and the next timer.
  void Pump() {
    if (pumping_) {
      again_ = true;
      return;
    }
    pumping_ = true;
    do {
      again_ = false;
      int left = 0;
      while (CURLMsg* message = curl_multi_info_read(multi_.get(), &left)) {
        if (message->msg != CURLMSG_DONE) continue;
        Job* job = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &job);
        const CURLcode result = message->data.result;
        if (job) Ended(*job, result);
      }
      if (level_ >= 2) AbandonRunning(FetchEnd::Interrupted);
      if (level_ == 0) StartReady();
      CheckSpeeds();
      if (level_ > 0 && running_.empty()) {
        // What an interrupt kept from starting is still reported.
        while (!queue_.empty()) {
          Job& job = jobs_[queue_.front()];
          queue_.pop_front();
          Finish(job, job.loaded ? FetchEnd::Interrupted : FetchEnd::NotStarted);
        }
      }
    } while (again_);
    pumping_ = false;
    const bool outstanding = hooks_.collect && hooks_.collect();
    if (running_.empty() && queue_.empty() && !outstanding) {
      finished_ = true;
      if (hooks_.wakeFd >= 0 && watcher_.socket) watcher_.socket(hooks_.wakeFd, kWatchRemove);
    }
    Report();
    ArmTimer();
  }

  void ArmTimer() {
    if (!watcher_.timer) return;
    std::optional<Clock::time_point> next = finished_ ? std::nullopt : curlDue_;
    const auto sooner = [&next](Clock::time_point when) { next = next ? std::min(*next, when) : when; };
    if (!finished_ && !running_.empty() && settings_.minSpeed > 0) sooner(nextCheck_);
    if (!finished_ && level_ == 0) {
      // Only a wait that ends wants the timer: a file held back by the limits
      // starts when a transfer ends, and asking for it now would spin.
      const auto now = Clock::now();
      for (size_t index : queue_) {
        if (jobs_[index].notBefore > now) sooner(jobs_[index].notBefore);
      }
    }
    if (!next) return watcher_.timer(-1);
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now());
    watcher_.timer(std::max<long>(0, long(wait.count())));
  }

  void StartReady() {
    const auto now = Clock::now();
    for (auto it = queue_.begin(); it != queue_.end() && int(running_.size()) < settings_.jobs;) {
      Job& job = jobs_[*it];
      if (job.notBefore > now || perHost_[job.host] >= settings_.perHost) {
        ++it;
        continue;
      }
      it = queue_.erase(it);
      StartJob(job);
    }
  }

  void StartJob(Job& job) {
    if (!job.loaded) {
      job.loaded = true;
      const bool own = bool(hooks_.readLocal);
      const bool read = own ? hooks_.readLocal(job.index, job.outcome.local, &job.outcome.error)
                            : ReadLocalFile(items_[job.index].path, job.outcome.local);
      if (!read) {
        if (!own) job.outcome.error = std::string("cannot read the file: ") + std::strerror(errno);
        Finish(job, FetchEnd::Unreadable);
        return;
      }
    }
    job.spool.reset();
    job.bodySize = 0;
    job.head.clear();
    job.lineStatus = 0;
    job.headerEnded = false;
    job.abort = Abort::None;
    job.mismatch = false;
    job.contentRange.clear();
    job.retryAfter.clear();
    job.errorText[0] = '\0';
    job.started = job.windowStart = Clock::now();
    job.windowBytes = job.outcome.received;
    job.SetDeadline(std::max<uint64_t>(2 * job.outcome.local.size(), kUnknownLengthGuess));
    if (running_.empty()) nextCheck_ = job.started + kSpeedTick;
    job.rangeStart = job.rangeAllowed ? RangeStartFor(job.outcome.local.size()) : std::nullopt;
    job.easy.reset(curl_easy_init());
    CURL* easy = job.easy.get();
    RequestSettings request;
    request.connectTimeoutSeconds = settings_.connectTimeout;
    request.stallSeconds = settings_.stallTimeout;
    CURLcode code = easy ? ApplyRequestSettings(easy, headers_.get(), request) : CURLE_FAILED_INIT;
    const auto set = [&](CURLoption option, auto value) {
      if (code == CURLE_OK) code = curl_easy_setopt(easy, option, value);
    };
    const std::string range = job.rangeStart ? std::to_string(*job.rangeStart) + "-" : std::string();
    const FetchItem& item = items_[job.index];
    set(CURLOPT_URL, (job.onFallback ? item.fallbackUrl : item.url).c_str());
    if (job.rangeStart) set(CURLOPT_RANGE, range.c_str());
    set(CURLOPT_FILETIME, 1L);
    set(CURLOPT_ERRORBUFFER, job.errorText);
    set(CURLOPT_WRITEFUNCTION, &Job::OnBody);
    set(CURLOPT_WRITEDATA, &job);
    set(CURLOPT_HEADERFUNCTION, &Job::OnHeader);
    set(CURLOPT_HEADERDATA, &job);
    set(CURLOPT_PRIVATE, &job);
    if (code != CURLE_OK) {
      job.outcome.error = curl_easy_strerror(code);
      job.easy.reset();
      Finish(job, FetchEnd::Failed);
      return;
    }
    if (curl_multi_add_handle(multi_.get(), easy) != CURLM_OK) {
      job.outcome.error = "cannot start the transfer";
      job.easy.reset();
      Finish(job, FetchEnd::Failed);
      return;
    }
    running_.push_back(&job);
    ++perHost_[job.host];
  }

  // A drip is given up: below the minimum average speed over a whole
  // window, or still running past what its size allows at that speed.
  void CheckSpeeds() {
    if (settings_.minSpeed == 0 || running_.empty()) return;
    const auto now = Clock::now();
    if (now < nextCheck_) return;
    nextCheck_ = now + kSpeedTick;
    const auto window = std::chrono::seconds(settings_.speedWindow);
    for (size_t i = running_.size(); i-- > 0;) {
      Job& job = *running_[i];
      std::string why;
      if (now >= job.deadline) {
        why = "not done within " +
              std::to_string(std::chrono::duration_cast<std::chrono::seconds>(job.deadline - job.started).count()) + " s";
      } else if (now - job.windowStart >= window) {
        if (job.outcome.received - job.windowBytes < settings_.minSpeed * uint64_t(settings_.speedWindow)) {
          why = "below " + std::to_string(settings_.minSpeed) + " bytes a second over " +
                std::to_string(settings_.speedWindow) + " s";
        }
        job.windowStart = now;
        job.windowBytes = job.outcome.received;
      }
      if (why.empty()) continue;
      Detach(job);
      job.outcome.status = job.Status();
      job.outcome.error = why;
      Finish(job, FetchEnd::TooSlow);
    }
  }

  void Detach(Job& job) {
    curl_multi_remove_handle(multi_.get(), job.easy.get());
    running_.erase(std::find(running_.begin(), running_.end(), &job));
    --perHost_[job.host];
  }

  void Requeue(Job& job, std::chrono::milliseconds delay) {
    job.notBefore = Clock::now() + delay;
    job.easy.reset();
    job.spool.reset();
    queue_.push_front(job.index);
  }

  void Retry(Job& job, std::chrono::milliseconds delay) {
    ++job.attempt;
    Requeue(job, delay);
  }

  std::chrono::milliseconds Backoff(const Job& job) const {
    return std::chrono::milliseconds(1000L << std::min(job.attempt, 6));
  }

  void WholeFileNext(Job& job) {
    job.rangeAllowed = false;
    Requeue(job, std::chrono::milliseconds(0));
  }

  // The first URL answered with an error: the item's other URL gets its own
  // tries, counted against its own host.
  void FallbackNext(Job& job, long status) {
    job.onFallback = true;
    job.outcome.firstStatus = status;
    job.attempt = 0;
    job.rangeAllowed = settings_.resume;
    job.host = HostKeyOf(items_[job.index].fallbackUrl);
    Requeue(job, std::chrono::milliseconds(0));
  }

  void Ended(Job& job, CURLcode result) {
    Detach(job);
    const long status = job.Status();
    job.outcome.status = status;
    curl_off_t filetime = -1;
    if (curl_easy_getinfo(job.easy.get(), CURLINFO_FILETIME_T, &filetime) == CURLE_OK && filetime >= 0) {
      job.outcome.lastModified = std::time_t(filetime);
    }
    switch (job.abort) {
      case Abort::RangeMismatch:
        return WholeFileNext(job);
      case Abort::Changed:
        return Finish(job, FetchEnd::Changed);
      case Abort::TooLarge:
        job.outcome.error = "larger than " + std::to_string(settings_.maxBody >> 20) + " MB";
        return Finish(job, FetchEnd::TooLarge);
      case Abort::Spool:
        return Finish(job, FetchEnd::Failed);
      case Abort::ErrorPage:
      case Abort::None:
        break;
    }
    if (result != CURLE_OK && job.abort != Abort::ErrorPage) {
      job.outcome.error = TransferErrorText(result, job.errorText, job.headerEnded);
      if (IsTransient(result) && job.attempt < settings_.retries) return Retry(job, Backoff(job));
      return Finish(job, FetchEnd::Failed);
    }
    job.outcome.error.clear();
    if ((status == 429 || status == 503) && job.attempt < settings_.retries) {
      const std::optional<long> asked = RetryAfterSeconds(job.retryAfter);
      if (!asked) return Retry(job, Backoff(job));
      if (*asked <= settings_.maxRetryAfter) return Retry(job, std::chrono::seconds(*asked));
    }
    if (status == 416 && job.rangeStart) return WholeFileNext(job);
    if (status >= 400 && !job.onFallback && !items_[job.index].fallbackUrl.empty()) return FallbackNext(job, status);
    if (status >= 300 || status < 200) return Finish(job, FetchEnd::HttpStatus);
    if (!job.spool && !job.OpenSpool()) return Finish(job, FetchEnd::Failed);  // an empty body
    if (status == 206) {
      const std::optional<ContentRange> range = ParseContentRange(job.contentRange);
      if (!job.rangeStart) {
        job.outcome.error = "a part of the file came without being asked for";
        return Finish(job, FetchEnd::Failed);
      }
      if (!range || !PartialFits(job.outcome.local, *job.rangeStart, *range, job.head, job.bodySize)) {
        return WholeFileNext(job);
      }
      job.outcome.saved = *job.rangeStart;
      job.outcome.resumed = true;
    }
    job.outcome.body = std::move(job.spool);
    Finish(job, FetchEnd::Received);
  }

  void Report() {
    progress_.received = finishedBytes_;
    for (const Job* job : running_) progress_.received += job->outcome.received;
    if (hooks_.progress) hooks_.progress(progress_);
  }

  void AbandonRunning(FetchEnd end) {
    while (!running_.empty()) {
      Job& job = *running_.back();
      Detach(job);
      Finish(job, end);
    }
  }

  void Finish(Job& job, FetchEnd end) {
    job.easy.reset();
    job.spool.reset();
    job.outcome.end = end;
    if (end != FetchEnd::Received) job.outcome.body.reset();
    ++progress_.finished;
    finishedBytes_ += job.outcome.received;
    FetchOutcome outcome = std::move(job.outcome);
    job.outcome = FetchOutcome();
    if (hooks_.finished) hooks_.finished(job.index, std::move(outcome));
  }

  std::vector<FetchItem> items_;
  FetchSettings settings_;
  FetchHooks hooks_;
  FetchWatcher watcher_;
  std::vector<Job> jobs_;
  std::deque<size_t> queue_;
  std::vector<Job*> running_;
  std::map<std::string, int> perHost_;
  CurlMulti multi_;
  CurlList headers_;
  FetchProgress progress_;
  uint64_t finishedBytes_ = 0;
  std::optional<Clock::time_point> curlDue_;
  Clock::time_point nextCheck_{};
  int level_ = 0;
  bool started_ = false;
  bool failed_ = false;
  bool finished_ = false;
  bool pumping_ = false;
  bool again_ = false;
};

FetchEngine::FetchEngine(std::vector<FetchItem> items, const FetchSettings& settings, FetchHooks hooks)
    : impl_(std::make_unique<Impl>(std::move(items), settings, std::move(hooks))) {}
FetchEngine::~FetchEngine() = default;
void FetchEngine::SetWatcher(FetchWatcher watcher) { impl_->SetWatcher(std::move(watcher)); }
bool FetchEngine::Start(std::string* error) { return impl_->Start(error); }
void FetchEngine::OnSocket(int fd, int events) { impl_->OnSocket(fd, events); }
void FetchEngine::OnTimer() { impl_->OnTimer(); }
void FetchEngine::Interrupt(int level) { impl_->Interrupt(level); }
bool FetchEngine::Finished() const { return impl_->Finished(); }
const FetchProgress& FetchEngine::Progress() const { return impl_->Progress(); }

}  // namespace yuragi
