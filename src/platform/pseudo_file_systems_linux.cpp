#include "platform/pseudo_file_systems.h"

#include <linux/magic.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace yuragi {

namespace {

bool IsPseudoType(const std::string& type) {
  static const char* const kTypes[] = {"proc",       "sysfs",   "devtmpfs", "cgroup",  "cgroup2",
                                       "devpts",     "debugfs", "tracefs",  "securityfs", "pstore",
                                       "bpf",        "configfs", "fusectl", "mqueue",  "efivarfs",
                                       "binfmt_misc", "nsfs",   "rpc_pipefs"};
  for (const char* known : kTypes) {
    if (type == known) return true;
  }
  return false;
}

}  // namespace

std::set<dev_t> PseudoFileSystemDevices() {
  // mountinfo: id parent major:minor root mountpoint options [optional...] - type source ...
  std::set<dev_t> devices;
  std::ifstream table("/proc/self/mountinfo");
  std::string line;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string id, parent, numbers, field;
    if (!(fields >> id >> parent >> numbers)) continue;
    while (fields >> field && field != "-") {
    }
    std::string type;
    if (!(fields >> type) || !IsPseudoType(type)) continue;
    unsigned major = 0, minor = 0;
    if (std::sscanf(numbers.c_str(), "%u:%u", &major, &minor) == 2) devices.insert(makedev(major, minor));
  }
  return devices;
}

bool IsOnPseudoFileSystem(int fd) {
  struct statfs info {};
  if (::fstatfs(fd, &info) != 0) return false;
  switch (static_cast<unsigned long>(info.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case DEVPTS_SUPER_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case BPF_FS_MAGIC:
      return true;
    default:
      return false;
  }
}

}  // namespace yuragi
