// Linux: disks from sysfs and the kernel's mount and swap tables.
#include "transport/Disks.h"

#include "transport/linux/DiskSafety.h"

namespace qdx {

std::vector<DiskInfo> ListDisks() {
    return ScanDisks(CurrentSystemView());
}

bool CheckPlayerDisk(const std::string& path, std::string* why) {
    return CheckPlayerDisk(path, CurrentSystemView(), why);
}

bool VolumeHasMedia(const std::string& volume) {
    const SystemView system = CurrentSystemView();
    const std::string name = DiskNameOfNode(volume, system);
    return !name.empty() && DescribeDisk(name, system).hasMedia;
}

}  // namespace qdx
