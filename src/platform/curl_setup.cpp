#include "platform/curl_setup.h"

#include <mutex>

namespace yuragi {

CURLcode InitCurl() {
  static std::once_flag once;
  static CURLcode result = CURLE_OK;
  std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
  return result;
}

CurlList NoCacheHeaders() {
  CurlList list(curl_slist_append(nullptr, "Cache-Control: no-cache"));
  if (!list) return list;
  curl_slist* longer = curl_slist_append(list.get(), "Pragma: no-cache");
  if (!longer) return nullptr;
  list.release();
  return CurlList(longer);
}

CURLcode ApplyRequestSettings(CURL* easy, curl_slist* noCacheHeaders, const RequestSettings& settings) {
  CURLcode code = CURLE_OK;
  const auto set = [&](CURLoption option, auto value) {
    if (code == CURLE_OK) code = curl_easy_setopt(easy, option, value);
  };
  set(CURLOPT_USERAGENT, settings.userAgent.empty() ? "Quistrelle" : settings.userAgent.c_str());
  set(CURLOPT_HTTPHEADER, noCacheHeaders);
  set(CURLOPT_FOLLOWLOCATION, 1L);
  set(CURLOPT_MAXREDIRS, 10L);
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  set(CURLOPT_CONNECTTIMEOUT, settings.connectTimeoutSeconds);
  // A server that takes the connection and then says nothing is given up
  // rather than waited for forever.
  set(CURLOPT_LOW_SPEED_LIMIT, settings.stallBytesPerSecond);
  set(CURLOPT_LOW_SPEED_TIME, settings.stallSeconds);
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);  // a proxy's CONNECT answer is not the server's
  return code;
}

std::string TransferErrorText(CURLcode code, const char* errorBuffer, bool headerEnded) {
  if (code == CURLE_OUT_OF_MEMORY && !headerEnded) {
    return "the server's response header is too large (a line of it over " +
           std::to_string(CURL_MAX_HTTP_HEADER / 1024) + " KB)";
  }
  if (errorBuffer && errorBuffer[0]) return errorBuffer;
  const char* text = curl_easy_strerror(code);
  return text ? text : "transfer failed";
}

}  // namespace yuragi
