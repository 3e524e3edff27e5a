#pragma once

#include <sys/types.h>

#include <set>

namespace yuragi {

// Devices of the mounted kernel file systems (proc, sysfs, devtmpfs,
// cgroup and their kin) whose entries are not files anyone saved.
std::set<dev_t> PseudoFileSystemDevices();

// Whether the folder open on fd lies on such a file system, by its magic
// number; a fallback for when the mount table cannot be read.
bool IsOnPseudoFileSystem(int fd);

}  // namespace yuragi
