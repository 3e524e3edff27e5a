#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace yuragi {

// The value of a file's extended attribute (links followed). Nothing, with
// error left empty, when the file has no such attribute or its file system
// keeps none; nothing with the reason in error when it cannot be read or is
// longer than maxSize.
std::optional<std::string> ReadExtendedAttribute(const std::string& path, const char* name, size_t maxSize,
                                                 std::string* error);

// False only when the file surely has no extended attribute at all (links
// followed): its list of names is empty. Asking costs one call where reading
// each name costs one per name.
bool MayHaveExtendedAttributes(const std::string& path);

}  // namespace yuragi
