// Windows: removable drives by their letters. A and B are never considered.
#include "transport/Disks.h"

#include <windows.h>

#include "transport/windows/PassThroughRecord.h"

namespace qdx {

namespace {

std::string Root(char letter) {
    return std::string(1, letter) + ":\\";
}

}  // namespace

// Windows takes the volume off line itself when a program writes the disk beneath it.
bool ReleasePlayerVolumes(const std::string&, std::vector<std::string>* unmounted, std::string*) {
    unmounted->clear();
    return true;
}

bool RereadPlayerDisk(const std::string&, std::string*) {
    return true;
}

bool VolumeHasMedia(const std::string& volume) {
    const std::string path = VolumePathFor(volume);
    if (path.empty()) {
        return false;
    }
    const std::string root = std::string(1, path[4]) + ":";
    ULARGE_INTEGER available, total, free;
    return GetDiskFreeSpaceExA(root.c_str(), &available, &total, &free) != 0;
}

std::vector<DiskInfo> ListDisks() {
    std::vector<DiskInfo> disks;
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        const std::string root = Root(letter);
        if (GetDriveTypeA(root.c_str()) != DRIVE_REMOVABLE) {
            continue;
        }
        DiskInfo disk;
        disk.name = std::string(1, letter);
        disk.node = disk.name + ":";
        disk.removable = true;
        disk.accessible = true;  // the open tells
        ULARGE_INTEGER available, total, free;
        if (GetDiskFreeSpaceExA(disk.node.c_str(), &available, &total, &free)) {
            disk.hasMedia = true;
            disk.sizeBytes = total.QuadPart;
        }
        disks.push_back(disk);
    }
    return disks;
}

bool CheckPlayerDisk(const std::string& path, std::string* why) {
    // The same forms the pass-through backend opens: "E", "E:" or "\\.\E:".
    const std::string volume = VolumePathFor(path);
    if (volume.empty()) {
        *why = path + " names no drive letter (give a volume such as E: or \\\\.\\E:)";
        return false;
    }
    const std::string root = volume.substr(4) + "\\";
    if (GetDriveTypeA(root.c_str()) != DRIVE_REMOVABLE) {
        *why = root + " is not a removable drive; players show up as removable drives";
        return false;
    }
    return true;
}

}  // namespace qdx
