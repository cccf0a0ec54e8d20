#include "transport/linux/DiskSafety.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <system_error>

#include "transport/linux/SysFiles.h"

namespace qdx {

namespace fs = std::filesystem;

namespace {

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// Paths whose disk, once written, leaves the host unable to start or its users' data gone.
bool IsSystemPath(const std::string& mountPoint) {
    static const char* const kPaths[] = {"/", "/boot", "/usr", "/home", "/var", "/etc", "/opt"};
    for (const char* path : kPaths) {
        if (mountPoint == path) {
            return true;
        }
    }
    return StartsWith(mountPoint, "/boot/");  // the EFI system partition
}

// The disks under a block device: itself or its parent for a partition, and through the slaves
// of a device-mapper or RAID device the disks below it.
void DisksUnder(const std::string& name, const SystemView& system, std::set<std::string>& disks,
                int depth = 0) {
    if (name.empty() || depth > 8) {
        return;
    }
    std::error_code error;
    const fs::path entry = fs::path(system.sysRoot) / "class" / "block" / name;
    if (!fs::exists(entry, error)) {
        return;
    }
    if (fs::exists(entry / "partition", error)) {
        const fs::path disk = fs::canonical(entry / "..", error);
        if (!error) {
            disks.insert(disk.filename().string());
        }
        return;
    }
    bool viaSlaves = false;
    for (const auto& slave : fs::directory_iterator(entry / "slaves", error)) {
        viaSlaves = true;
        DisksUnder(slave.path().filename().string(), system, disks, depth + 1);
    }
    if (!viaSlaves) {
        disks.insert(name);
    }
}

// The block device name of a "MAJOR:MINOR" number through /sys/dev/block.
std::string NameOfNumber(const std::string& number, const SystemView& system) {
    std::error_code error;
    const fs::path link = fs::canonical(fs::path(system.sysRoot) / "dev" / "block" / number, error);
    return error ? std::string() : link.filename().string();
}

// The name of a node such as /dev/sda3 or /dev/mapper/root, following links on this host.
std::string NameOfDevPath(const std::string& path) {
    std::error_code error;
    const fs::path real = fs::canonical(path, error);
    return (error ? fs::path(path) : real).filename().string();
}

// Disk name -> the system paths and swap it holds.
std::vector<std::pair<std::string, std::string>> SystemUses(const SystemView& system) {
    std::vector<std::pair<std::string, std::string>> uses;
    std::istringstream mounts(system.mountInfo);
    for (std::string line; std::getline(mounts, line);) {
        // ID PARENT MAJOR:MINOR ROOT MOUNT-POINT OPTIONS [OPTIONAL...] - TYPE SOURCE SUPER
        std::istringstream fields(line);
        std::string id, parent, number, root, mountPoint;
        if (!(fields >> id >> parent >> number >> root >> mountPoint) ||
            !IsSystemPath(mountPoint)) {
            continue;
        }
        std::string word, source;
        while (fields >> word && word != "-") {
        }
        std::string type;
        fields >> type >> source;
        std::set<std::string> disks;
        DisksUnder(NameOfNumber(number, system), system, disks);
        if (disks.empty() && StartsWith(source, "/dev/")) {
            DisksUnder(NameOfDevPath(source), system, disks);
        }
        for (const std::string& disk : disks) {
            uses.emplace_back(disk, mountPoint);
        }
    }
    std::istringstream swaps(system.swaps);
    for (std::string line; std::getline(swaps, line);) {
        std::istringstream fields(line);
        std::string file, type;
        if (!(fields >> file >> type) || type != "partition") {
            continue;  // the header, and swap files, whose file system is listed as a mount
        }
        std::set<std::string> disks;
        DisksUnder(NameOfDevPath(file), system, disks);
        for (const std::string& disk : disks) {
            uses.emplace_back(disk, "swap");
        }
    }
    return uses;
}

bool IsVirtualDisk(const std::string& name) {
    for (const char* prefix : {"loop", "ram", "zram", "dm-", "nbd", "md"}) {
        if (StartsWith(name, prefix)) {
            return true;
        }
    }
    return false;
}

std::string Refusal(const DiskInfo& disk) {
    if (!disk.systemMounts.empty()) {
        std::string held;
        for (const std::string& use : disk.systemMounts) {
            held += (held.empty() ? "" : ", ") + use;
        }
        return disk.node + " holds the running system (" + held + "); it is never a player";
    }
    if (!disk.removable) {
        return disk.node + " is a fixed disk (removable is 0); players show up as removable " +
               "USB disks";
    }
    if (!disk.usb) {
        return disk.node + " is not attached through USB; players show up as removable USB disks";
    }
    return {};
}

DiskInfo Describe(const std::string& name, const SystemView& system,
                  const std::vector<std::pair<std::string, std::string>>& uses) {
    DiskInfo disk;
    disk.name = name;
    disk.node = "/dev/" + name;
    const fs::path dir = fs::path(system.sysRoot) / "block" / name;
    disk.removable = ReadFirstLine(dir / "removable") == "1";
    // The size file counts 512-byte units whatever the disk's own sector size.
    disk.sizeBytes = std::strtoull(ReadFirstLine(dir / "size").c_str(), nullptr, 10) * 512;
    disk.hasMedia = disk.sizeBytes > 0;
    disk.vendor = ReadFirstLine(dir / "device" / "vendor");
    disk.model = ReadFirstLine(dir / "device" / "model");

    std::error_code error;
    const fs::path device = fs::canonical(dir / "device", error);
    if (!error) {
        // The USB device is the nearest ancestor that carries the USB ids.
        const fs::path top = fs::canonical(system.sysRoot, error);
        for (fs::path up = device; up.has_relative_path() && up != top; up = up.parent_path()) {
            if (fs::exists(up / "idVendor", error) && fs::exists(up / "idProduct", error)) {
                disk.usb = true;
                disk.usbId = ReadFirstLine(up / "idVendor") + ":" + ReadFirstLine(up / "idProduct");
                disk.usbSerial = ReadFirstLine(up / "serial");
                break;
            }
        }
        for (const auto& entry : fs::directory_iterator(device / "scsi_generic", error)) {
            const std::string sg = entry.path().filename().string();
            disk.sgNode = "/dev/" + sg;
            disk.accessible = ::access((fs::path(system.devRoot) / sg).c_str(), R_OK | W_OK) == 0;
            break;
        }
    }
    for (const auto& [diskName, use] : uses) {
        if (diskName == name && std::find(disk.systemMounts.begin(), disk.systemMounts.end(),
                                          use) == disk.systemMounts.end()) {
            disk.systemMounts.push_back(use);
        }
    }
    disk.refusal = Refusal(disk);
    return disk;
}

}  // namespace

SystemView CurrentSystemView() {
    SystemView system;
    system.mountInfo = ReadWholeFile("/proc/self/mountinfo");
    system.swaps = ReadWholeFile("/proc/swaps");
    return system;
}

DiskInfo DescribeDisk(const std::string& name, const SystemView& system) {
    return Describe(name, system, SystemUses(system));
}

std::vector<DiskInfo> ScanDisks(const SystemView& system) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(fs::path(system.sysRoot) / "block", error)) {
        const std::string name = entry.path().filename().string();
        if (!IsVirtualDisk(name)) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    const auto uses = SystemUses(system);
    std::vector<DiskInfo> disks;
    for (const std::string& name : names) {
        disks.push_back(Describe(name, system, uses));
    }
    return disks;
}

std::string DiskNameOfNode(const std::string& path, const SystemView& system) {
    const std::string name = NameOfDevPath(path);
    std::error_code error;
    if (StartsWith(name, "sg")) {
        const fs::path block =
            fs::path(system.sysRoot) / "class" / "scsi_generic" / name / "device" / "block";
        for (const auto& entry : fs::directory_iterator(block, error)) {
            return entry.path().filename().string();
        }
        return {};
    }
    const fs::path entry = fs::path(system.sysRoot) / "class" / "block" / name;
    if (fs::exists(entry / "partition", error)) {
        const fs::path disk = fs::canonical(entry / "..", error);
        return error ? std::string() : disk.filename().string();
    }
    return fs::exists(fs::path(system.sysRoot) / "block" / name, error) ? name : std::string();
}

bool CheckPlayerDisk(const std::string& path, const SystemView& system, std::string* why) {
    const std::string name = DiskNameOfNode(path, system);
    if (name.empty()) {
        *why = path + " is no disk of this host; players show up as removable USB disks " +
               "such as /dev/sdb (qdxflash list shows the candidates)";
        return false;
    }
    const DiskInfo disk = DescribeDisk(name, system);
    if (!disk.refusal.empty()) {
        *why = (path == disk.node ? "" : path + ": ") + disk.refusal;
        return false;
    }
    return true;
}

}  // namespace qdx
