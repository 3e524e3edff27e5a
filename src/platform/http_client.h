#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace yuragi {

// Far above any real picture; a body that grows past it is no picture.
inline constexpr uint64_t kDefaultBodyCap = uint64_t(1) << 30;

struct HttpError {
  int code = 0;       // the library's error code, 0 for none
  std::string text;   // its message
  bool noSession = false;  // the HTTP library itself could not be started
  bool cancelled = false;  // the caller's cancel check turned true
  bool tooLarge = false;   // the body outgrew HttpOptions::maxBodyBytes
};

struct HttpOptions {
  uint64_t maxBodyBytes = kDefaultBodyCap;
  std::string userAgent;  // empty: "Quistrelle"
  // A transfer slower than stallBytesPerSecond for stallSeconds is given up.
  long stallSeconds = 60;
  long stallBytesPerSecond = 1;
};

// One GET, shaped like the calls the download relies on: open and wait for
// the headers, read the body a block at a time, close (the destructor).
// Sends "Quistrelle" as the agent and no-cache headers, follows up to 10
// redirects over http and https only, takes proxies from the environment
// and gives up connecting after 30 s.
class HttpRequest {
 public:
  using Step = std::function<void()>;
  using Check = std::function<bool()>;

  ~HttpRequest();
  HttpRequest(const HttpRequest&) = delete;
  HttpRequest& operator=(const HttpRequest&) = delete;

  // Drives the request until the final response's headers have arrived;
  // calls wait() while it waits and gives up as soon as cancelled() turns
  // true (error->cancelled). Null on failure (bad URL, host not found,
  // refused, time-out, a redirect to another scheme), with the reason.
  static std::unique_ptr<HttpRequest> Open(const std::string& url, const Step& wait, const Check& cancelled,
                                           HttpError* error, const HttpOptions& options = {});
  static std::unique_ptr<HttpRequest> Open(const std::string& url, const Step& wait, HttpError* error) {
    return Open(url, wait, {}, error);
  }

  // Copies up to max body bytes. 0 at the end of the body, and when
  // cancelled() turns true while waiting; -1 when the transfer broke or
  // the body outgrew the cap (Error() says which).
  long Read(char* buffer, size_t max, const Step& wait, const Check& cancelled);

  long ResponseCode() const;
  // A header of the final response ("Retry-After"), empty when it has none.
  std::string Header(std::string_view name) const;
  const HttpError& Error() const;

  struct State;

 private:
  explicit HttpRequest(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace yuragi
