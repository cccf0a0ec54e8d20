#include "cli/Disks.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include "transport/linux/DiskSafety.h"
#endif

namespace qdx::cli {

#ifdef _WIN32

namespace {

// "\\.\E:", "E:" or "E:\" -> 'E'; 0 when the path names no drive letter.
char DriveLetter(const std::string& path) {
    std::string rest = path.rfind("\\\\.\\", 0) == 0 ? path.substr(4) : path;
    if (rest.size() >= 2 && rest[1] == ':' && std::isalpha(static_cast<unsigned char>(rest[0]))) {
        return static_cast<char>(std::toupper(static_cast<unsigned char>(rest[0])));
    }
    return 0;
}

}  // namespace

std::vector<DiskEntry> ListCandidateDisks() {
    std::vector<DiskEntry> disks;
    DWORD drives = GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if (!(drives & (1u << i))) {
            continue;
        }
        std::string root = std::string(1, static_cast<char>('A' + i)) + ":\\";
        if (GetDriveTypeA(root.c_str()) != DRIVE_REMOVABLE) {
            continue;
        }
        DiskEntry disk;
        disk.path = root.substr(0, 2);
        disk.removable = true;
        ULARGE_INTEGER total{};
        if (GetDiskFreeSpaceExA(root.c_str(), nullptr, &total, nullptr)) {
            disk.sizeBytes = total.QuadPart;
        }
        disks.push_back(disk);
    }
    return disks;
}

bool IsRemovableDisk(const std::string& path, std::string* why) {
    char letter = DriveLetter(path);
    if (!letter) {
        *why = path + " names no drive letter (give a volume such as \\\\.\\E:)";
        return false;
    }
    std::string root = std::string(1, letter) + ":\\";
    if (GetDriveTypeA(root.c_str()) != DRIVE_REMOVABLE) {
        *why = root + " is not a removable drive; players show up as removable drives";
        return false;
    }
    return true;
}

#else

std::vector<DiskEntry> ListCandidateDisks() {
    std::vector<DiskEntry> disks;
    for (const DiskInfo& info : ScanDisks(CurrentSystemView())) {
        DiskEntry disk;
        disk.path = info.node;
        disk.sizeBytes = info.sizeBytes;
        disk.vendor = info.vendor;
        disk.model = info.model;
        disk.removable = info.removable;
        disk.usb = info.usb;
        disk.usbId = info.usbId;
        disk.sgNode = info.sgNode;
        disk.accessible = info.accessible;
        disk.refusal = info.refusal;
        disks.push_back(disk);
    }
    return disks;
}

bool IsRemovableDisk(const std::string& path, std::string* why) {
    return CheckPlayerDisk(path, CurrentSystemView(), why);
}

#endif

}  // namespace qdx::cli
