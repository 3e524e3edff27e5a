#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include <QFile>

#include "platform/temp_dir.h"

namespace yuragi {

bool IsAlreadyRunning(const QString& instanceName) {
  const QByteArray path = QFile::encodeName(RuntimeDir() + instanceName + QStringLiteral(".lock"));
  // Deliberately never closed: the descriptor holds the lock until exit.
  const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return false;
  return errno == EWOULDBLOCK;
}

QString InstanceSocketName(const QString& instanceName) {
  return RuntimeDir() + instanceName + QStringLiteral(".socket");
}

}  // namespace yuragi
