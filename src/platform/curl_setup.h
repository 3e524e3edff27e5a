#pragma once

// The program's one set-up of libcurl, for the files that drive it
// themselves; everything else goes through http_client.h.
#include <curl/curl.h>

#include <memory>
#include <string>

namespace yuragi {

struct CurlEasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct CurlMultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct CurlListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;
using CurlMulti = std::unique_ptr<CURLM, CurlMultiDeleter>;
using CurlList = std::unique_ptr<curl_slist, CurlListDeleter>;

// curl_global_init, once per process; every later call returns the first
// call's result.
CURLcode InitCurl();

// "Cache-Control: no-cache" and "Pragma: no-cache"; null when out of memory.
CurlList NoCacheHeaders();

struct RequestSettings {
  std::string userAgent;
  long connectTimeoutSeconds = 30;
  long stallSeconds = 60;
  long stallBytesPerSecond = 1;
};

// The settings every request of the program is sent with: the agent
// ("Quistrelle" when userAgent is empty), the no-cache headers, at most 10
// redirects over http and https only, proxies from the environment
// (libcurl's own reading of http_proxy, https_proxy and no_proxy), no
// signals, no Accept-Encoding, the connect time-out, and a transfer slower
// than stallBytesPerSecond for stallSeconds given up; a proxy's CONNECT
// answer is kept from the header callback. The first option libcurl
// refused, or CURLE_OK.
CURLcode ApplyRequestSettings(CURL* easy, curl_slist* noCacheHeaders, const RequestSettings& settings);

// The reason a transfer ended with code: libcurl's error buffer when it has
// one, else its text for code, except that a response header line beyond
// libcurl's limit, which it reports as "Out of memory", is called what it
// is while the header block had not ended.
std::string TransferErrorText(CURLcode code, const char* errorBuffer, bool headerEnded);

}  // namespace yuragi
