// Linux: disks from sysfs and the kernel's mount and swap tables.
#include "transport/Disks.h"

#include <filesystem>
#include <system_error>

#include "transport/linux/DiskSafety.h"
#include "transport/linux/Volumes.h"

namespace qdx {

std::vector<DiskInfo> ListDisks() {
    return ScanDisks(CurrentSystemView());
}

bool CheckPlayerDisk(const std::string& path, std::string* why) {
    // A path that names nothing must not be judged by the name of its last part.
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(path, error))) {
        *why = path + ": no such device (qdxflash list shows the candidates)";
        return false;
    }
    return CheckPlayerDisk(path, CurrentSystemView(), why);
}

bool ReleasePlayerVolumes(const std::string& path, std::vector<std::string>* unmounted,
                          std::string* why) {
    return ReleaseDiskVolumes(path, unmounted, why);
}

bool RereadPlayerDisk(const std::string& path, std::string* why) {
    return RereadDisk(path, why);
}

bool VolumeHasMedia(const std::string& volume) {
    const SystemView system = CurrentSystemView();
    const std::string name = DiskNameOfNode(volume, system);
    return !name.empty() && DescribeDisk(name, system).hasMedia;
}

}  // namespace qdx
