// The freedesktop trash through GIO.
#include "platform/glib_owners.h"

#include <sys/stat.h>

#include "platform/trash.h"

namespace yuragi {

TrashResult MoveFileToTrash(const std::string& path) {
  TrashResult result;
  GObjectPtr<GFile> file(g_file_new_for_path(path.c_str()));
  GErrorOwner failure;
  result.trashed = g_file_trash(file.get(), nullptr, &failure.error);
  if (!result.trashed) result.error = failure.Text();
  struct stat status {};
  result.stillThere = ::lstat(path.c_str(), &status) == 0;
  return result;
}

}  // namespace yuragi
