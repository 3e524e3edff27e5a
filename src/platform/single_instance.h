#pragma once

#include <QString>

namespace yuragi {

// Takes the per-user lock named after the instance; true when another
// process holds it. The lock is kept for the life of the process (the
// kernel drops it at exit, also after a crash). A lock that cannot be
// made counts as no running instance.
bool IsAlreadyRunning(const QString& instanceName);

// Where the first instance listens for activation requests.
QString InstanceSocketName(const QString& instanceName);

}  // namespace yuragi
