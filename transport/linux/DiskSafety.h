// Which disks of this host may be treated as a player. A player is a removable disk attached
// through USB; a fixed disk, or any disk that holds a mounted system path or active swap, is never
// one, whatever the operator typed. Plain code over a sysfs tree and the kernel's mount and swap
// tables, so that tests give it a fake tree.
#pragma once

#include <string>
#include <vector>

#include "transport/Disks.h"

namespace qdx {

// Where the facts come from: the real system, or a test's fake tree and texts.
struct SystemView {
    std::string sysRoot = "/sys";
    std::string devRoot = "/dev";  // where the sg nodes are, for the access check
    std::string mountInfo;         // the text of /proc/self/mountinfo
    std::string swaps;             // the text of /proc/swaps
};

// The running system: /sys, /dev, and the current mount and swap tables.
SystemView CurrentSystemView();

// Every disk under /sys/block except loop, RAM, device-mapper and network block devices, in name
// order, each with its refusal reason filled in.
std::vector<DiskInfo> ScanDisks(const SystemView& system);

// Describes one disk by its name under /sys/block.
DiskInfo DescribeDisk(const std::string& name, const SystemView& system);

// The disk under /sys/block that a node belongs to: a disk (/dev/sdb), a partition (/dev/sdb1), an
// sg node (/dev/sg2) or a symbolic link to one of them. Empty when it belongs to none.
std::string DiskNameOfNode(const std::string& path, const SystemView& system);

// True when path names a disk that may be a player; false with *why naming the disk and saying
// what it is otherwise. The desktop program and qdxflash ask this before opening a disk.
bool CheckPlayerDisk(const std::string& path, const SystemView& system, std::string* why);

}  // namespace qdx
