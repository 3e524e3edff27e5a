#include "repair/batch_fetch.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <memory>

#include "platform/curl_settings.h"
#include "platform/http_header_lines.h"
#include "repair/repair_save.h"
#include "repair/repair_url.h"
#include "repair/resume_check.h"

namespace yuragi {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPollMs = 100;

struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

enum class Abort { None, RangeMismatch, Changed, TooLarge };

struct Job {
  size_t index = 0;
  std::string host;
  const FetchSettings* settings = nullptr;
  FetchOutcome outcome;
  bool loaded = false;
  bool rangeAllowed = true;
  int attempt = 0;
  Clock::time_point notBefore{};

  // State of the running attempt.
  CurlEasy easy;
  std::optional<uint64_t> rangeStart;
  Abort abort = Abort::None;
  bool mismatch = false;  // the body already differs from the local file
  std::string contentRange;
  std::string retryAfter;
  char errorText[CURL_ERROR_SIZE] = {};

  long Status() const {
    long code = 0;
    if (easy) curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &code);
    return code;
  }

  static size_t OnBody(char* data, size_t size, size_t count, void* self) {
    auto& job = *static_cast<Job*>(self);
    const size_t bytes = size * count;
    job.outcome.received += bytes;
    const long status = job.Status();
    if (status >= 300) return bytes;  // an error page is counted, not kept
    std::string& body = job.outcome.body;
    if (body.size() + bytes > job.settings->maxBody) {
      job.abort = Abort::TooLarge;
      return 0;
    }
    const std::string& local = job.outcome.local;
    const bool partial = status == 206 && job.rangeStart;
    const uint64_t offset = (partial ? *job.rangeStart : 0) + body.size();
    if (!job.mismatch && offset < local.size()) {
      const size_t n = std::min<uint64_t>(bytes, local.size() - offset);
      if (std::memcmp(data, local.data() + offset, n) != 0) {
        job.mismatch = true;
        if (partial) {
          job.abort = Abort::RangeMismatch;
          return 0;
        }
        // Another picture under the same address: no need to fetch the rest.
        if (!job.settings->acceptChanged && LooksLikeJpeg(body, data, bytes)) {
          job.abort = Abort::Changed;
          return 0;
        }
      }
    }
    body.append(data, bytes);
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
    }
    if (const std::optional<HeaderField> field = SplitHeaderLine(line)) {
      if (HeaderNameIs(field->name, "Content-Range")) job.contentRange.assign(field->value);
      if (HeaderNameIs(field->name, "Retry-After")) job.retryAfter.assign(field->value);
      if (HeaderNameIs(field->name, "Content-Type")) job.outcome.contentType.assign(field->value);
    }
    return bytes;
  }

  static bool LooksLikeJpeg(const std::string& body, const char* data, size_t bytes) {
    unsigned char head[2];
    size_t have = 0;
    for (size_t i = 0; i < body.size() && have < 2; ++i) head[have++] = static_cast<unsigned char>(body[i]);
    for (size_t i = 0; i < bytes && have < 2; ++i) head[have++] = static_cast<unsigned char>(data[i]);
    return have == 2 && head[0] == 0xFF && head[1] == 0xD8;
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

// Seconds a Retry-After value asks for: a number or an HTTP date.
std::optional<long> RetryAfterSeconds(const std::string& value) {
  if (value.empty()) return std::nullopt;
  if (value.find_first_not_of("0123456789") == std::string::npos) {
    return value.size() > 9 ? std::optional<long>(1'000'000'000L) : std::optional<long>(std::stol(value));
  }
  const time_t when = curl_getdate(value.c_str(), nullptr);
  if (when < 0) return std::nullopt;
  return std::max<long>(0, long(when - std::time(nullptr)));
}

class Batch {
 public:
  Batch(const std::vector<FetchItem>& items, const FetchSettings& settings, const FetchHooks& hooks)
      : items_(items), settings_(settings), hooks_(hooks), jobs_(items.size()) {
    for (size_t i = 0; i < items.size(); ++i) {
      jobs_[i].index = i;
      jobs_[i].host = HostKeyOf(items[i].url);
      jobs_[i].settings = &settings_;
      jobs_[i].rangeAllowed = settings.resume;
      queue_.push_back(i);
    }
    progress_.total = items.size();
  }

  ~Batch() {
    for (Job* job : running_) curl_multi_remove_handle(multi_.get(), job->easy.get());
  }

  bool Run(std::string* error) {
    InitCurlOnce();
    multi_.reset(curl_multi_init());
    headers_ = NoCacheHeaders();
    if (!multi_ || !headers_) return Fail(error, "cannot start the HTTP library");
    if (curl_multi_setopt(multi_.get(), CURLMOPT_MAX_HOST_CONNECTIONS, long(settings_.perHost)) != CURLM_OK ||
        curl_multi_setopt(multi_.get(), CURLMOPT_MAX_TOTAL_CONNECTIONS, long(settings_.jobs)) != CURLM_OK ||
        curl_multi_setopt(multi_.get(), CURLMOPT_MAXCONNECTS, long(settings_.jobs) * 2) != CURLM_OK) {
      return Fail(error, "cannot set up the HTTP library");
    }
    for (;;) {
      const int level = hooks_.interrupts ? hooks_.interrupts->load() : 0;
      if (level >= 2) AbandonRunning();
      if (level == 0) StartReady();
      if (running_.empty() && (queue_.empty() || level > 0)) break;
      int active = 0;
      const CURLMcode performed = curl_multi_perform(multi_.get(), &active);
      if (performed != CURLM_OK) return Fail(error, curl_multi_strerror(performed));
      int left = 0;
      while (CURLMsg* message = curl_multi_info_read(multi_.get(), &left)) {
        if (message->msg != CURLMSG_DONE) continue;
        Job* job = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &job);
        const CURLcode result = message->data.result;
        if (job) Ended(*job, result);
      }
      Report();
      const CURLMcode waited = curl_multi_poll(multi_.get(), nullptr, 0, PollTimeout(), nullptr);
      if (waited != CURLM_OK) return Fail(error, curl_multi_strerror(waited));
    }
    // What an interrupt kept from starting is still reported.
    while (!queue_.empty()) {
      const size_t index = queue_.front();
      queue_.pop_front();
      Job& job = jobs_[index];
      Finish(job, job.loaded ? FetchEnd::Interrupted : FetchEnd::NotStarted);
    }
    Report();
    return true;
  }

 private:
  static bool Fail(std::string* error, const char* text) {
    if (error) *error = text;
    return false;
  }

  int PollTimeout() const {
    auto timeout = std::chrono::milliseconds(kPollMs);
    const auto now = Clock::now();
    for (size_t index : queue_) {
      const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(jobs_[index].notBefore - now);
      timeout = std::min(timeout, std::max(wait, std::chrono::milliseconds(0)));
    }
    return int(timeout.count());
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
      Start(job);
    }
  }

  void Start(Job& job) {
    if (!job.loaded) {
      job.loaded = true;
      if (!ReadLocalFile(items_[job.index].path, job.outcome.local)) {
        job.outcome.error = "cannot read the file";
        Finish(job, FetchEnd::Unreadable);
        return;
      }
    }
    job.outcome.body.clear();
    job.abort = Abort::None;
    job.mismatch = false;
    job.contentRange.clear();
    job.retryAfter.clear();
    job.errorText[0] = '\0';
    job.rangeStart = job.rangeAllowed ? RangeStartFor(job.outcome.local.size()) : std::nullopt;
    job.easy.reset(curl_easy_init());
    CURL* easy = job.easy.get();
    CURLcode code = easy ? ApplyRequestSettings(easy, headers_.get(), settings_.connectTimeout) : CURLE_FAILED_INIT;
    const auto set = [&](CURLoption option, auto value) {
      if (code == CURLE_OK) code = curl_easy_setopt(easy, option, value);
    };
    const std::string range = job.rangeStart ? std::to_string(*job.rangeStart) + "-" : std::string();
    set(CURLOPT_URL, items_[job.index].url.c_str());
    if (job.rangeStart) set(CURLOPT_RANGE, range.c_str());
    set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(CURLOPT_LOW_SPEED_TIME, settings_.stallTimeout);
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

  void Detach(Job& job) {
    curl_multi_remove_handle(multi_.get(), job.easy.get());
    running_.erase(std::find(running_.begin(), running_.end(), &job));
    --perHost_[job.host];
  }

  void Retry(Job& job, std::chrono::milliseconds delay) {
    ++job.attempt;
    job.notBefore = Clock::now() + delay;
    job.easy.reset();
    queue_.push_front(job.index);
  }

  std::chrono::milliseconds Backoff(const Job& job) const { return std::chrono::milliseconds(1000L << std::min(job.attempt, 6)); }

  void WholeFileNext(Job& job) {
    job.rangeAllowed = false;
    job.easy.reset();
    job.notBefore = Clock::now();
    queue_.push_front(job.index);
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
      case Abort::None:
        break;
    }
    if (result != CURLE_OK) {
      job.outcome.error = job.errorText[0] ? job.errorText : curl_easy_strerror(result);
      if (IsTransient(result) && job.attempt < settings_.retries) return Retry(job, Backoff(job));
      return Finish(job, FetchEnd::Failed);
    }
    if ((status == 429 || status == 503) && job.attempt < settings_.retries) {
      const std::optional<long> asked = RetryAfterSeconds(job.retryAfter);
      if (!asked) return Retry(job, Backoff(job));
      if (*asked <= settings_.maxRetryAfter) return Retry(job, std::chrono::seconds(*asked));
    }
    if (status == 416 && job.rangeStart) return WholeFileNext(job);
    if (status >= 300 || status < 200) return Finish(job, FetchEnd::HttpStatus);
    if (status == 206) {
      const std::optional<ContentRange> range = ParseContentRange(job.contentRange);
      if (!job.rangeStart) {
        job.outcome.error = "a part of the file came without being asked for";
        return Finish(job, FetchEnd::Failed);
      }
      if (!range || !PartialFits(job.outcome.local, *job.rangeStart, *range, job.outcome.body)) return WholeFileNext(job);
      FetchOutcome& out = job.outcome;
      out.body.insert(0, out.local, 0, size_t(*job.rangeStart));
      out.saved = *job.rangeStart;
      out.resumed = true;
    }
    Finish(job, FetchEnd::Received);
  }

  void Report() {
    if (!hooks_.progress) return;
    progress_.received = finishedBytes_;
    for (const Job* job : running_) progress_.received += job->outcome.received;
    hooks_.progress(progress_);
  }

  void AbandonRunning() {
    while (!running_.empty()) {
      Job& job = *running_.back();
      Detach(job);
      Finish(job, FetchEnd::Interrupted);
    }
  }

  void Finish(Job& job, FetchEnd end) {
    job.easy.reset();
    job.outcome.end = end;
    if (end != FetchEnd::Received) job.outcome.body.clear();
    ++progress_.finished;
    finishedBytes_ += job.outcome.received;
    FetchOutcome outcome = std::move(job.outcome);
    job.outcome = FetchOutcome();
    if (hooks_.finished) hooks_.finished(job.index, std::move(outcome));
  }

  const std::vector<FetchItem>& items_;
  FetchSettings settings_;
  const FetchHooks& hooks_;
  std::vector<Job> jobs_;
  std::deque<size_t> queue_;
  std::vector<Job*> running_;
  std::map<std::string, int> perHost_;
  std::unique_ptr<CURLM, MultiDeleter> multi_;
  CurlList headers_;
  FetchProgress progress_;
  uint64_t finishedBytes_ = 0;
};

}  // namespace

bool FetchAll(const std::vector<FetchItem>& items, const FetchSettings& settings, const FetchHooks& hooks,
              std::string* error) {
  Batch batch(items, settings, hooks);
  return batch.Run(error);
}

}  // namespace yuragi
