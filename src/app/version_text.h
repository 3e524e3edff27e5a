#pragma once

#include <string>

namespace yuragi {

// What a program prints for --version: its name, the version the About box
// shows and the maker's line.
std::string VersionText(const char* program);

}  // namespace yuragi
