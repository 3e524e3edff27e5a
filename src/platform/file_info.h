#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace yuragi {

// Size in bytes, full 64 bits; 0 for a missing path and for a folder.
uint64_t FileSizeOf(const std::string& path);

// Last modification time, to the second; empty when it cannot be read.
std::optional<std::time_t> ModificationTime(const std::string& path);

bool IsFolder(const std::string& path);
bool IsRegularFile(const std::string& path);

}  // namespace yuragi
