#include "cli/Disks.h"

#ifdef _WIN32
#include <windows.h>

#include "transport/windows/PassThroughRecord.h"
#else
#include "transport/linux/DiskSafety.h"
#endif

namespace qdx::cli {

#ifdef _WIN32

std::vector<DiskInfo> ListCandidateDisks() {
    std::vector<DiskInfo> disks;
    DWORD drives = GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if (!(drives & (1u << i))) {
            continue;
        }
        std::string root = std::string(1, static_cast<char>('A' + i)) + ":\\";
        if (GetDriveTypeA(root.c_str()) != DRIVE_REMOVABLE) {
            continue;
        }
        DiskInfo disk;
        disk.name = root.substr(0, 1);
        disk.node = root.substr(0, 2);
        disk.removable = true;
        disk.accessible = true;  // the open tells
        ULARGE_INTEGER total{};
        if (GetDiskFreeSpaceExA(root.c_str(), nullptr, &total, nullptr)) {
            disk.sizeBytes = total.QuadPart;
        }
        disks.push_back(disk);
    }
    return disks;
}

bool IsPlayerDisk(const std::string& path, std::string* why) {
    // The same forms the pass-through backend opens: "E", "E:" or "\\.\E:".
    const std::string volume = VolumePathFor(path);
    if (volume.empty()) {
        *why = path + " names no drive letter (give a volume such as \\\\.\\E:)";
        return false;
    }
    std::string root = volume.substr(4) + "\\";
    if (GetDriveTypeA(root.c_str()) != DRIVE_REMOVABLE) {
        *why = root + " is not a removable drive; players show up as removable drives";
        return false;
    }
    return true;
}

#else

std::vector<DiskInfo> ListCandidateDisks() {
    return ScanDisks(CurrentSystemView());
}

bool IsPlayerDisk(const std::string& path, std::string* why) {
    return CheckPlayerDisk(path, CurrentSystemView(), why);
}

#endif

}  // namespace qdx::cli
