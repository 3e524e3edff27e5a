#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/paths.h"
#include "platform/temp_dir.h"

namespace yuragi {

bool IsAlreadyRunning(const QString& instanceName) {
  const std::string path = NativePath(RuntimeDir() + instanceName + QStringLiteral(".lock"));
  // Deliberately never closed: the descriptor holds the lock until exit.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return false;
  return errno == EWOULDBLOCK;
}

QString InstanceSocketName(const QString& instanceName) {
  return RuntimeDir() + instanceName + QStringLiteral(".socket");
}

}  // namespace yuragi
