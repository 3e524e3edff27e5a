#include "refetch/archive_client.h"

#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "app/product_info.h"
#include "platform/http_client.h"
#include "platform/http_header_lines.h"
#include "refetch/archive_timemap.h"

namespace yuragi {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMost429 = 3;          // answers of 429 taken per request before giving up
constexpr long kStallBytesPerSecond = 1024;
constexpr size_t kReadBlock = 64 * 1024;

// The next moment a request may go to each archive. Kept for the whole
// process: the window asks afresh on every click.
class Throttle {
 public:
  static Throttle& Instance() {
    static Throttle throttle;
    return throttle;
  }

  // Books the next free moment for the server and returns it.
  Clock::time_point Book(const std::string& server, double perSecond) {
    const std::lock_guard lock(mutex_);
    Clock::time_point& next = next_[server];
    const Clock::time_point slot = std::max(Clock::now(), next);
    const double gap = perSecond > 0 ? 1.0 / perSecond : 0;
    next = slot + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(gap));
    return slot;
  }

  void Defer(const std::string& server, Clock::time_point until) {
    const std::lock_guard lock(mutex_);
    Clock::time_point& next = next_[server];
    next = std::max(next, until);
  }

 private:
  std::mutex mutex_;
  std::map<std::string, Clock::time_point> next_;
};

// Collections of one archive share its server: they are throttled as one.
std::string ServerOf(const std::string& prefix) {
  const size_t scheme = prefix.find("://");
  if (scheme == std::string::npos) return prefix;
  return prefix.substr(0, prefix.find('/', scheme + 3));
}

bool LooksLikeHtml(const std::string& body, const std::string& contentType) {
  if (strncasecmp(contentType.c_str(), "text/html", 9) == 0) return true;
  const auto first = std::find_if(body.begin(), body.end(), [](char c) { return c != ' ' && c != '\t' && c != '\r' && c != '\n'; });
  return first != body.end() && *first == '<';
}

std::string MismatchReason(const std::string& body, const std::string& contentType, size_t at) {
  std::string what = "other data";
  if (LooksLikeHtml(body, contentType)) {
    what = "an HTML page";
  } else if (body.size() >= 2 && uint8_t(body[0]) == 0xFF && uint8_t(body[1]) == 0xD8) {
    what = "another picture";
  }
  return what + " (differs at byte " + std::to_string(at) + ")";
}

std::string ArchiveUserAgent() { return "Quistrelle (+mailto:" + ContactAddress.toStdString() + ")"; }

std::string TimeMapUrl(const std::string& prefix, const std::string& url) { return prefix + "timemap/link/" + url; }

std::string RawCaptureUrl(const std::string& prefix, const std::string& time, const std::string& url) {
  return prefix + time + "id_/" + url;
}

}  // namespace

struct ArchiveClient::Answer {
  std::unique_ptr<HttpRequest> request;
  long status = 0;
  std::string error;
};

ArchiveClient::ArchiveClient(ArchiveSettings settings, Step wait, Check cancelled)
    : settings_(std::move(settings)), wait_(std::move(wait)), cancelled_(std::move(cancelled)) {}

bool ArchiveClient::WaitUntil(double seconds) {
  const auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  while (Clock::now() < until) {
    if (Cancelled()) return false;
    if (wait_) wait_();
    const auto left = until - Clock::now();
    std::this_thread::sleep_for(std::min<Clock::duration>(left, std::chrono::milliseconds(20)));
  }
  return !Cancelled();
}

ArchiveClient::Answer ArchiveClient::Send(const std::string& url, uint64_t cap, ArchiveFind& find) {
  Answer answer;
  Throttle& throttle = Throttle::Instance();
  for (int attempt = 0;; ++attempt) {
    const Clock::time_point slot = throttle.Book(ServerOf(settings_.prefix), settings_.requestsPerSecond);
    if (!WaitUntil(std::chrono::duration<double>(slot - Clock::now()).count())) {
      find.cancelled = true;
      answer.error = "cancelled";
      return answer;
    }
    HttpOptions options;
    options.maxBodyBytes = cap;
    options.userAgent = ArchiveUserAgent();
    options.stallSeconds = settings_.stallSeconds;
    options.stallBytesPerSecond = kStallBytesPerSecond;
    HttpError error;
    std::unique_ptr<HttpRequest> request = HttpRequest::Open(url, wait_, cancelled_, &error, options);
    if (!request) {
      find.cancelled = error.cancelled;
      answer.error = error.text.empty() ? "request failed" : error.text;
      return answer;
    }
    answer.status = request->ResponseCode();
    if (answer.status != 429) {
      answer.request = std::move(request);
      return answer;
    }
    long wait = RetryAfterSeconds(request->Header("Retry-After")).value_or(-1);
    request.reset();
    if (wait > settings_.maxRetryAfter || attempt + 1 >= kMost429) {
      answer.error = "HTTP 429" + (wait >= 0 ? ", Retry-After " + std::to_string(wait) + " s" : std::string());
      return answer;
    }
    if (wait < 0) wait = 1L << attempt;
    // Every later request to this archive waits too, not only this one.
    throttle.Defer(ServerOf(settings_.prefix), Clock::now() + std::chrono::seconds(wait));
  }
}

ArchiveFind ArchiveClient::Find(const std::string& url, const std::string& local, const CaptureCheck& check) {
  ArchiveFind find;
  if (settings_.prefix.empty()) {
    find.error = "no archive given";
    return find;
  }
  Answer map = Send(TimeMapUrl(settings_.prefix, url), kTimeMapCap, find);
  if (!map.request) {
    find.error = "TimeMap: " + map.error;
    return find;
  }
  if (map.status == 404) {
    find.error = "not in the archive";
    return find;
  }
  if (map.status < 200 || map.status >= 300) {
    find.error = "TimeMap: HTTP " + std::to_string(map.status);
    return find;
  }
  std::string text;
  std::vector<char> block(kReadBlock);
  bool cut = false;
  for (;;) {
    const long count = map.request->Read(block.data(), block.size(), wait_, cancelled_);
    if (Cancelled()) {
      find.cancelled = true;
      return find;
    }
    if (count == 0) break;
    if (count < 0) {
      if (!map.request->Error().tooLarge) {
        find.received += text.size();
        find.error = "TimeMap: " + map.request->Error().text;
        return find;
      }
      cut = true;  // what came up to the cap is used
      break;
    }
    text.append(block.data(), size_t(count));
  }
  map.request.reset();
  find.received += text.size();
  const std::vector<std::string> times = ParseTimeMap(text, cut);
  if (times.empty()) {
    find.error = "no capture in the archive";
    return find;
  }
  for (size_t i = 0; i < times.size(); ++i) {
    if (int(i) >= settings_.maxDownloads) {
      find.skipped.push_back(std::to_string(times.size() - i) + " older captures not tried");
      break;
    }
    std::string reason = TryCapture(times[i], url, local, check, find);
    if (find.cancelled) return find;
    if (reason.empty()) {
      find.found = true;
      find.capture = times[i];
      return find;
    }
    find.skipped.push_back(times[i] + " " + reason);
  }
  return find;
}

std::string ArchiveClient::TryCapture(const std::string& time, const std::string& url, const std::string& local,
                                      const CaptureCheck& check, ArchiveFind& find) {
  Answer answer = Send(RawCaptureUrl(settings_.prefix, time, url), settings_.maxBody, find);
  if (!answer.request) return answer.error;
  if (answer.status < 200 || answer.status >= 300) return "HTTP " + std::to_string(answer.status);
  const std::string contentType = answer.request->Header("Content-Type");
  std::string body;
  std::vector<char> block(kReadBlock);
  for (;;) {
    const long count = answer.request->Read(block.data(), block.size(), wait_, cancelled_);
    if (Cancelled()) {
      find.cancelled = true;
      find.received += body.size();
      return "cancelled";
    }
    if (count == 0) break;
    if (count < 0) {
      find.received += body.size();
      const HttpError& error = answer.request->Error();
      return error.tooLarge ? "larger than the size cap" : "transfer failed: " + error.text;
    }
    const size_t offset = body.size();
    body.append(block.data(), size_t(count));
    if (offset < local.size()) {
      const size_t compared = std::min(size_t(count), local.size() - offset);
      const auto [mine, theirs] = std::mismatch(local.begin() + long(offset), local.begin() + long(offset + compared),
                                                body.begin() + long(offset));
      if (mine != local.begin() + long(offset + compared)) {
        // Not the file: the rest of it is not fetched.
        find.received += body.size();
        return MismatchReason(body, contentType, size_t(mine - local.begin()));
      }
    }
  }
  find.received += body.size();
  if (body.size() <= local.size()) return "no longer than the file (" + std::to_string(body.size()) + " bytes)";
  if (check) {
    std::string why = check(body, contentType);
    if (!why.empty()) return why;
  }
  find.body = std::move(body);
  return {};
}

}  // namespace yuragi
