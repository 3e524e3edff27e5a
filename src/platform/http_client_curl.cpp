#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/http_client.h"

namespace yuragi {

namespace {

constexpr size_t kPauseAbove = 4u << 20;  // bytes held before the socket is left unread
constexpr int kPollMs = 50;

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

struct HttpRequest::State {
  std::unique_ptr<CURLM, MultiDeleter> multi;
  std::unique_ptr<CURL, EasyDeleter> easy;
  std::unique_ptr<curl_slist, ListDeleter> headers;
  // Body bytes as curl handed them over, oldest first; bodyRead counts what
  // of the first chunk has been read already.
  std::deque<std::string> body;
  size_t bodyRead = 0;
  size_t buffered = 0;
  std::vector<std::string> spare;  // read chunks kept for reuse: no fresh pages per block
  bool paused = false;
  bool headersDone = false;
  bool sawLocation = false;
  bool done = false;
  CURLcode result = CURLE_OK;
  HttpError error;

  ~State() {
    if (multi && easy) curl_multi_remove_handle(multi.get(), easy.get());
  }

  size_t Buffered() const { return buffered; }

  static size_t OnBody(char* data, size_t size, size_t count, void* self) {
    auto* state = static_cast<State*>(self);
    const size_t bytes = size * count;
    state->headersDone = true;
    if (state->Buffered() > kPauseAbove) {
      state->paused = true;
      return CURL_WRITEFUNC_PAUSE;  // curl delivers the same bytes again later
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
    }
    return bytes;
  }

  static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
    auto* state = static_cast<State*>(self);
    const size_t bytes = size * count;
    if (bytes >= 5 && std::strncmp(data, "HTTP/", 5) == 0) state->sawLocation = false;
    if (bytes >= 9 && strncasecmp(data, "location:", 9) == 0) state->sawLocation = true;
    const bool blank = (bytes == 2 && data[0] == '\r') || (bytes == 1 && data[0] == '\n');
    if (blank) {
      long code = 0;
      curl_easy_getinfo(state->easy.get(), CURLINFO_RESPONSE_CODE, &code);
      const bool interim = code >= 100 && code < 200;
      const bool redirect = code >= 300 && code < 400 && state->sawLocation;
      if (!interim && !redirect) state->headersDone = true;
    }
    return bytes;
  }

  // One round of work on the socket, waiting up to timeoutMs for it.
  void Drive(int timeoutMs) {
    int running = 0;
    curl_multi_perform(multi.get(), &running);
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
      if (message->msg == CURLMSG_DONE) {
        done = true;
        result = message->data.result;
      }
    }
    if (done) {
      if (result != CURLE_OK && error.code == 0) {
        error.code = int(result);
        const char* detail = curl_easy_strerror(result);
        error.text = detail ? detail : "transfer failed";
      }
      return;
    }
    if (!headersDone || Buffered() == 0) curl_multi_poll(multi.get(), nullptr, 0, timeoutMs, nullptr);
  }
};

HttpRequest::HttpRequest(std::unique_ptr<State> state) : state_(std::move(state)) {}
HttpRequest::~HttpRequest() = default;

std::unique_ptr<HttpRequest> HttpRequest::Open(const std::string& url, const Step& wait, HttpError* error) {
  GlobalInit();
  auto state = std::make_unique<State>();
  auto fail = [&](int code, const std::string& text) -> std::unique_ptr<HttpRequest> {
    if (error) *error = HttpError{code, text};
    return nullptr;
  };
  state->multi.reset(curl_multi_init());
  state->easy.reset(curl_easy_init());
  if (!state->multi || !state->easy) {
    if (error) *error = HttpError{CURLE_FAILED_INIT, "cannot start the HTTP library", true};
    return nullptr;
  }
  CURL* easy = state->easy.get();
  curl_slist* list = curl_slist_append(nullptr, "Cache-Control: no-cache");
  if (list) {
    if (curl_slist* longer = curl_slist_append(list, "Pragma: no-cache")) list = longer;
  }
  state->headers.reset(list);
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_USERAGENT, "Quistrelle");
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, state->headers.get());
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, 30L);
  // A server that takes the connection and then says nothing is given up
  // after a minute rather than waited for forever.
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, 60L);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 512L * 1024);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &State::OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, state.get());
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &State::OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, state.get());
  if (curl_multi_add_handle(state->multi.get(), easy) != CURLM_OK) {
    return fail(CURLE_FAILED_INIT, "cannot start the transfer");
  }
  while (!state->headersDone && !state->done) {
    state->Drive(kPollMs);
    if (wait) wait();
  }
  // A transfer that broke after its headers opened fine; reading reports it.
  if (!state->headersDone && state->result != CURLE_OK) return fail(state->error.code, state->error.text);
  return std::unique_ptr<HttpRequest>(new HttpRequest(std::move(state)));
}

long HttpRequest::Read(char* buffer, size_t max, const Step& wait, const Check& cancelled) {
  State& s = *state_;
  while (s.Buffered() == 0 && !s.done) {
    if (cancelled && cancelled()) return 0;
    if (s.paused) {
      s.paused = false;
      curl_easy_pause(s.easy.get(), CURLPAUSE_CONT);
    }
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
    if (s.paused && s.Buffered() < kPauseAbove / 2) {
      s.paused = false;
      curl_easy_pause(s.easy.get(), CURLPAUSE_CONT);
    }
    return long(count);
  }
  return s.result == CURLE_OK ? 0 : -1;
}

long HttpRequest::ResponseCode() const {
  long code = 0;
  curl_easy_getinfo(state_->easy.get(), CURLINFO_RESPONSE_CODE, &code);
  return code;
}

const HttpError& HttpRequest::Error() const { return state_->error; }

}  // namespace yuragi
