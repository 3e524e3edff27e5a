#pragma once

#include <string>

namespace yuragi {

struct TrashResult {
  bool trashed = false;
  bool stillThere = false;  // the name still exists after the attempt
  std::string error;        // the reason when not trashed
};

// Moves the file to the freedesktop trash (with its .trashinfo).
TrashResult MoveFileToTrash(const std::string& path);

}  // namespace yuragi
