#include "cli/Disks.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
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

namespace fs = std::filesystem;

namespace {

std::string ReadLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\n')) {
        line.pop_back();
    }
    return line;
}

// The name of the whole disk under /sys/block that a device node belongs to, or empty.
std::string DiskName(const std::string& path) {
    std::error_code error;
    fs::path node = fs::canonical(path, error);
    if (error) {
        return {};
    }
    std::string name = node.filename().string();
    if (name.rfind("sg", 0) == 0) {
        // A SCSI generic node: its disk, if it has one, is listed under the device.
        for (const auto& entry :
             fs::directory_iterator("/sys/class/scsi_generic/" + name + "/device/block", error)) {
            return entry.path().filename().string();
        }
        return {};
    }
    fs::path classEntry = "/sys/class/block/" + name;
    if (fs::exists(classEntry / "partition", error)) {
        fs::path disk = fs::canonical(classEntry / "..", error);
        return error ? std::string() : disk.filename().string();
    }
    return fs::exists("/sys/block/" + name, error) ? name : std::string();
}

}  // namespace

std::vector<DiskEntry> ListCandidateDisks() {
    std::vector<DiskEntry> disks;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/sys/block", error)) {
        const fs::path dir = entry.path();
        DiskEntry disk;
        disk.path = "/dev/" + dir.filename().string();
        disk.removable = ReadLine(dir / "removable") == "1";
        std::error_code linkError;
        disk.usb = fs::canonical(dir, linkError).string().find("/usb") != std::string::npos;
        if (!disk.removable && !disk.usb) {
            continue;
        }
        // The size file counts 512-byte units whatever the disk's own sector size.
        disk.sizeBytes = std::strtoull(ReadLine(dir / "size").c_str(), nullptr, 10) * 512;
        disk.vendor = ReadLine(dir / "device" / "vendor");
        disk.model = ReadLine(dir / "device" / "model");
        disks.push_back(disk);
    }
    return disks;
}

bool IsRemovableDisk(const std::string& path, std::string* why) {
    std::string disk = DiskName(path);
    if (disk.empty()) {
        *why = path + " is no disk under /sys/block; only removable disks are accepted";
        return false;
    }
    std::string removable = ReadLine("/sys/block/" + disk + "/removable");
    if (removable != "1") {
        *why = "/dev/" + disk + " is not a removable disk (/sys/block/" + disk + "/removable is " +
               (removable.empty() ? "missing" : removable) +
               "); players show up as removable disks";
        return false;
    }
    return true;
}

#endif

}  // namespace qdx::cli
