#pragma once

#include <string>

namespace yuragi {

// The assumed source URL of a saved file, from the path's own bytes:
// readable where the name is UTF-8, other bytes percent-encoded ("%89%E6").
std::string SourceUrlOfPath(const std::string& nativePath);

// The URL as it is sent.
std::string RequestUrlOf(const std::string& sourceUrl);

// "host:port" of a URL, lower case: transfers are counted per host by it.
std::string HostKeyOf(const std::string& url);

}  // namespace yuragi
