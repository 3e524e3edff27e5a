#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/http_client.h"
#include "platform/curl_setup.h"
#include "platform/http_header_lines.h"

namespace yuragi {

namespace {

constexpr size_t kPauseAbove = 4u << 20;  // bytes held before the socket is left unread
constexpr int kPollMs = 50;

HttpError ErrorOf(CURLcode code) {
  const char* text = curl_easy_strerror(code);
  return HttpError{int(code), text ? text : "transfer failed"};
}

HttpError ErrorOf(CURLMcode code) {
  const char* text = curl_multi_strerror(code);
  return HttpError{CURLE_FAILED_INIT, text ? text : "transfer failed"};
}

}  // namespace

struct HttpRequest::State {
  CurlMulti multi;
  CurlEasy easy;
  CurlList headers;
  bool added = false;
  // Body bytes as curl handed them over, oldest first; bodyRead counts what
  // of the first chunk has been read already.
  std::deque<std::string> body;
  size_t bodyRead = 0;
  size_t buffered = 0;
  std::vector<std::string> spare;  // read chunks kept for reuse: no fresh pages per block
  uint64_t received = 0;
  uint64_t cap = kDefaultBodyCap;
  HeaderBlocks headerBlocks;
  std::vector<std::pair<std::string, std::string>> fields;  // of the response block now arriving
  bool paused = false;
  bool headersDone = false;
  bool done = false;
  CURLcode result = CURLE_OK;
  HttpError error;

  ~State() {
    if (added) curl_multi_remove_handle(multi.get(), easy.get());
  }

  size_t Buffered() const { return buffered; }

  // A failure of our own ends the transfer; the first reason is kept.
  void Fail(const HttpError& reason) {
    if (error.code == 0) error = reason;
    done = true;
    if (result == CURLE_OK) result = CURLE_FAILED_INIT;
  }

  static size_t OnBody(char* data, size_t size, size_t count, void* self) {
    auto* state = static_cast<State*>(self);
    const size_t bytes = size * count;
    state->headersDone = true;
    if (state->Buffered() > kPauseAbove) {
      state->paused = true;
      return CURL_WRITEFUNC_PAUSE;  // curl delivers the same bytes again later
    }
    if (state->received + bytes > state->cap) {
      state->error = HttpError{CURLE_FILESIZE_EXCEEDED, "the body is larger than the size cap"};
      state->error.tooLarge = true;
      return 0;  // curl ends the transfer with a write error
    }
    if (bytes > 0) {
      if (state->spare.empty()) {
        state->body.emplace_back(data, bytes);
      } else {
        state->body.push_back(std::move(state->spare.back()));
        state->spare.pop_back();
        state->body.back().assign(data, bytes);
      }
      state->buffered += bytes;
      state->received += bytes;
    }
    return bytes;
  }

  // Headers of every response arrive here, interim answers and redirects
  // included (a proxy's CONNECT answer is suppressed); the final block's
  // blank line ends the wait for headers.
  static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
    auto* state = static_cast<State*>(self);
    const size_t bytes = size * count;
    const std::string_view line(data, bytes);
    if (StatusLineCode(line) > 0) {
      state->fields.clear();
    } else if (const auto field = SplitHeaderLine(line)) {
      state->fields.emplace_back(field->name, field->value);
    }
    if (state->headerBlocks.Take(line)) state->headersDone = true;
    return bytes;
  }

  // One round of work on the socket, waiting up to timeoutMs for it.
  void Drive(int timeoutMs) {
    int running = 0;
    const CURLMcode performed = curl_multi_perform(multi.get(), &running);
    if (performed != CURLM_OK) return Fail(ErrorOf(performed));
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
      if (message->msg == CURLMSG_DONE) {
        done = true;
        result = message->data.result;
      }
    }
    if (done) {
      if (result != CURLE_OK && error.code == 0) error = HttpError{int(result), TransferErrorText(result, nullptr, headersDone)};
      return;
    }
    if (!headersDone || Buffered() == 0) {
      // A poll that fails would return at once every round: end instead.
      const CURLMcode polled = curl_multi_poll(multi.get(), nullptr, 0, timeoutMs, nullptr);
      if (polled != CURLM_OK) Fail(ErrorOf(polled));
    }
  }

  void Resume() {
    paused = false;
    const CURLcode resumed = curl_easy_pause(easy.get(), CURLPAUSE_CONT);
    if (resumed != CURLE_OK) Fail(ErrorOf(resumed));
  }
};

HttpRequest::HttpRequest(std::unique_ptr<State> state) : state_(std::move(state)) {}
HttpRequest::~HttpRequest() = default;

std::unique_ptr<HttpRequest> HttpRequest::Open(const std::string& url, const Step& wait, const Check& cancelled,
                                               HttpError* error, const HttpOptions& options) {
  auto fail = [&](HttpError reason) -> std::unique_ptr<HttpRequest> {
    if (error) *error = std::move(reason);
    return nullptr;
  };
  if (const CURLcode init = InitCurl(); init != CURLE_OK) {
    HttpError reason = ErrorOf(init);
    reason.noSession = true;
    return fail(reason);
  }
  auto state = std::make_unique<State>();
  state->cap = options.maxBodyBytes;
  state->multi.reset(curl_multi_init());
  state->easy.reset(curl_easy_init());
  if (!state->multi || !state->easy) {
    return fail(HttpError{CURLE_FAILED_INIT, "cannot start the HTTP library", true});
  }
  CURL* easy = state->easy.get();
  state->headers = NoCacheHeaders();
  if (!state->headers) return fail(ErrorOf(CURLE_OUT_OF_MEMORY));
  RequestSettings settings;
  settings.userAgent = options.userAgent;
  settings.stallSeconds = options.stallSeconds;
  settings.stallBytesPerSecond = options.stallBytesPerSecond;
  CURLcode code = ApplyRequestSettings(easy, state->headers.get(), settings);
  const auto set = [&](CURLoption option, auto value) {
    if (code == CURLE_OK) code = curl_easy_setopt(easy, option, value);
  };
  set(CURLOPT_URL, url.c_str());
  set(CURLOPT_BUFFERSIZE, 512L * 1024);
  set(CURLOPT_WRITEFUNCTION, &State::OnBody);
  set(CURLOPT_WRITEDATA, state.get());
  set(CURLOPT_HEADERFUNCTION, &State::OnHeader);
  set(CURLOPT_HEADERDATA, state.get());
  if (code != CURLE_OK) return fail(ErrorOf(code));
  const CURLMcode added = curl_multi_add_handle(state->multi.get(), easy);
  if (added != CURLM_OK) return fail(ErrorOf(added));
  state->added = true;
  while (!state->headersDone && !state->done) {
    if (cancelled && cancelled()) {
      HttpError reason{CURLE_ABORTED_BY_CALLBACK, "cancelled"};
      reason.cancelled = true;
      return fail(reason);
    }
    state->Drive(kPollMs);
    if (wait) wait();
  }
  // A transfer that broke after its headers opened fine; reading reports it.
  if (!state->headersDone && state->result != CURLE_OK) return fail(state->error);
  return std::unique_ptr<HttpRequest>(new HttpRequest(std::move(state)));
}

long HttpRequest::Read(char* buffer, size_t max, const Step& wait, const Check& cancelled) {
  State& s = *state_;
  while (s.Buffered() == 0 && !s.done) {
    if (cancelled && cancelled()) return 0;
    if (s.paused) s.Resume();
    if (s.done) break;
    s.Drive(kPollMs);
    if (s.Buffered() == 0 && !s.done && wait) wait();
  }
  if (s.Buffered() > 0) {
    size_t count = 0;
    while (count < max && !s.body.empty()) {
      const std::string& chunk = s.body.front();
      const size_t take = std::min(max - count, chunk.size() - s.bodyRead);
      std::memcpy(buffer + count, chunk.data() + s.bodyRead, take);
      count += take;
      s.bodyRead += take;
      if (s.bodyRead == chunk.size()) {
        if (s.spare.size() < 16) s.spare.push_back(std::move(s.body.front()));
        s.body.pop_front();
        s.bodyRead = 0;
      }
    }
    s.buffered -= count;
    if (s.paused && s.Buffered() < kPauseAbove / 2) s.Resume();
    return long(count);
  }
  return s.result == CURLE_OK ? 0 : -1;
}

long HttpRequest::ResponseCode() const {
  long code = 0;
  if (curl_easy_getinfo(state_->easy.get(), CURLINFO_RESPONSE_CODE, &code) != CURLE_OK) return 0;
  return code;
}

std::string HttpRequest::Header(std::string_view name) const {
  for (const auto& [field, value] : state_->fields) {
    if (HeaderNameIs(field, name)) return value;
  }
  return {};
}

const HttpError& HttpRequest::Error() const { return state_->error; }

}  // namespace yuragi
