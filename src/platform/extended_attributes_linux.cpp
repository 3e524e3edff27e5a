#include "platform/extended_attributes.h"

#include <sys/xattr.h>

#include <cerrno>
#include <cstring>

namespace yuragi {

std::optional<std::string> ReadExtendedAttribute(const std::string& path, const char* name, size_t maxSize,
                                                 std::string* error) {
  // One call with a buffer one byte larger than allowed tells "too long"
  // from "fits" without asking for the size first.
  std::string value(maxSize + 1, '\0');
  const ssize_t length = ::getxattr(path.c_str(), name, value.data(), value.size());
  if (length >= 0 && size_t(length) <= maxSize) {
    value.resize(size_t(length));
    return value;
  }
  const int code = length >= 0 ? ERANGE : errno;
  if (code == ENODATA || code == ENOTSUP || code == ENOENT) return std::nullopt;
  if (error) {
    *error = std::string(name) + ": " +
             (code == ERANGE ? "longer than " + std::to_string(maxSize) + " bytes" : std::string(std::strerror(code)));
  }
  return std::nullopt;
}

bool MayHaveExtendedAttributes(const std::string& path) { return ::listxattr(path.c_str(), nullptr, 0) != 0; }

}  // namespace yuragi
