#pragma once

// For the files that drive libcurl themselves; everything else goes
// through http_client.h.
#include <curl/curl.h>

#include <memory>
#include <string>

namespace yuragi {

struct CurlEasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct CurlListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;
using CurlList = std::unique_ptr<curl_slist, CurlListDeleter>;

// curl_global_init, once per process.
void InitCurlOnce();

// "Cache-Control: no-cache" and "Pragma: no-cache"; null when out of memory.
CurlList NoCacheHeaders();

// The settings every request of the program is sent with: the agent
// "Quistrelle", the no-cache headers, at most 10 redirects over http and
// https only, proxies from the environment (libcurl's own reading of
// http_proxy, https_proxy and no_proxy), no signals, no Accept-Encoding
// and the connect time-out; a proxy's CONNECT answer is kept from the
// header callback. The first option libcurl refused, or CURLE_OK.
CURLcode ApplyRequestSettings(CURL* easy, curl_slist* noCacheHeaders, long connectTimeoutSeconds);

// The reason a transfer ended with code: libcurl's error buffer when it has
// one, else its text for code, except that a response header line beyond
// libcurl's limit, which it reports as "Out of memory", is called what it
// is while the header block had not ended.
std::string TransferErrorText(CURLcode code, const char* errorBuffer, bool headerEnded);

}  // namespace yuragi
