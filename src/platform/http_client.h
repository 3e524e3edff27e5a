#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace yuragi {

struct HttpError {
  int code = 0;       // the library's error code, 0 for none
  std::string text;   // its message
  bool noSession = false;  // the HTTP library itself could not be started
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
  // calls wait() while it waits. Null on failure (bad URL, host not found,
  // refused, time-out, a redirect to another scheme), with the reason.
  static std::unique_ptr<HttpRequest> Open(const std::string& url, const Step& wait, HttpError* error);

  // Copies up to max body bytes. 0 at the end of the body, and when
  // cancelled() turns true while waiting; -1 when the transfer broke.
  long Read(char* buffer, size_t max, const Step& wait, const Check& cancelled);

  long ResponseCode() const;
  const HttpError& Error() const;

  struct State;

 private:
  explicit HttpRequest(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace yuragi
