#pragma once

#include <string>

namespace yuragi {

// What is at a path, in words for a message: "a folder", "a regular file",
// "a named pipe (FIFO)", "a character device", "a block device", "a
// socket", "a link that leads round in a loop", "a link to nothing", "no
// such folder or file", or why it cannot be looked at.
std::string PathKindText(const std::string& path);

}  // namespace yuragi
