#include "transport/linux/Volumes.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "transport/linux/DiskSafety.h"
#include "transport/linux/SysFiles.h"

#ifdef QDX_HAVE_SDBUS
#include <systemd/sd-bus.h>
#endif

namespace qdx {

namespace fs = std::filesystem;

namespace {

// The mount table writes space, tab, newline and backslash as \ and three octal digits.
std::string Unescape(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string digits = field.substr(i + 1, 3);
            if (digits.find_first_not_of("01234567") == std::string::npos) {
                out.push_back(static_cast<char>(std::stoi(digits, nullptr, 8)));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

class KernelService final : public VolumeService {
public:
    std::string Name() const override { return "the kernel"; }

    Result Unmount(const MountedVolume& volume, std::string* error) override {
        if (::umount2(volume.mountPoint.c_str(), UMOUNT_NOFOLLOW) == 0) {
            return Result::Done;
        }
        const int code = errno;
        *error = std::strerror(code);
        return code == EPERM ? Result::Unavailable : Result::Failed;
    }

    Result Reread(const std::string& diskName, std::string* error) override {
        const std::string node = "/dev/" + diskName;
        const int fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            *error = node + ": " + std::strerror(errno);
            return errno == EACCES || errno == EPERM ? Result::Unavailable : Result::Failed;
        }
        const int result = ::ioctl(fd, BLKRRPART);
        const int code = errno;
        ::close(fd);
        if (result == 0) {
            return Result::Done;
        }
        *error = node + ": " + std::strerror(code);
        return code == EACCES || code == EPERM ? Result::Unavailable : Result::Failed;
    }
};

#ifdef QDX_HAVE_SDBUS

// udisks2 names a block device's object after the device, other characters as _XX.
std::string ObjectPath(const std::string& device) {
    std::string path = "/org/freedesktop/UDisks2/block_devices/";
    char escaped[4];
    for (unsigned char c : device) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '_') {
            path.push_back(static_cast<char>(c));
        } else {
            std::snprintf(escaped, sizeof escaped, "_%02x", c);
            path += escaped;
        }
    }
    return path;
}

class UdisksService final : public VolumeService {
public:
    std::string Name() const override { return "udisks2"; }

    Result Unmount(const MountedVolume& volume, std::string* error) override {
        return Call(volume.device, "org.freedesktop.UDisks2.Filesystem", "Unmount", error);
    }

    Result Reread(const std::string& diskName, std::string* error) override {
        return Call(diskName, "org.freedesktop.UDisks2.Block", "Rescan", error);
    }

private:
    static Result Call(const std::string& device, const char* interface, const char* method,
                       std::string* error) {
        sd_bus* bus = nullptr;
        if (sd_bus_open_system(&bus) < 0) {
            *error = "no system bus";
            return Result::Unavailable;
        }
        // Lets a polkit agent ask the user where the policy wants it.
        sd_bus_set_allow_interactive_authorization(bus, 1);
        sd_bus_error failure = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        const std::string path = ObjectPath(device);
        const int result = sd_bus_call_method(bus, "org.freedesktop.UDisks2", path.c_str(),
                                              interface, method, &failure, &reply, "a{sv}", 0);
        Result outcome = Result::Done;
        if (result < 0) {
            const char* name = failure.name != nullptr ? failure.name : "";
            *error = failure.message != nullptr ? failure.message : std::strerror(-result);
            if (std::strcmp(name, "org.freedesktop.UDisks2.Error.NotMounted") == 0) {
                outcome = Result::Done;
            } else if (sd_bus_error_has_name(&failure, SD_BUS_ERROR_SERVICE_UNKNOWN) ||
                       sd_bus_error_has_name(&failure, SD_BUS_ERROR_NAME_HAS_NO_OWNER) ||
                       sd_bus_error_has_name(&failure, SD_BUS_ERROR_UNKNOWN_OBJECT) ||
                       sd_bus_error_has_name(&failure, SD_BUS_ERROR_UNKNOWN_METHOD)) {
                outcome = Result::Unavailable;  // no udisks2, or it does not know the device
            } else {
                outcome = Result::Failed;
            }
        }
        sd_bus_error_free(&failure);
        sd_bus_message_unref(reply);
        sd_bus_flush_close_unref(bus);
        return outcome;
    }
};

#endif

std::vector<std::unique_ptr<VolumeService>> PlatformServices() {
    std::vector<std::unique_ptr<VolumeService>> services;
    if (auto udisks = UdisksVolumeService()) {
        services.push_back(std::move(udisks));
    }
    services.push_back(KernelVolumeService());
    return services;
}

std::vector<VolumeService*> Pointers(const std::vector<std::unique_ptr<VolumeService>>& owned) {
    std::vector<VolumeService*> services;
    for (const auto& service : owned) {
        services.push_back(service.get());
    }
    return services;
}

}  // namespace

std::vector<MountedVolume> FindMounts(const std::string& mountInfo,
                                      const std::map<std::string, std::string>& devices) {
    std::vector<MountedVolume> volumes;
    std::istringstream lines(mountInfo);
    for (std::string line; std::getline(lines, line);) {
        // ID PARENT MAJOR:MINOR ROOT MOUNT-POINT OPTIONS ...
        std::istringstream fields(line);
        std::string id, parent, number, root, mountPoint;
        if (!(fields >> id >> parent >> number >> root >> mountPoint)) {
            continue;
        }
        const auto device = devices.find(number);
        if (device != devices.end()) {
            volumes.push_back({device->second, Unescape(mountPoint)});
        }
    }
    return volumes;
}

std::map<std::string, std::string> DiskDeviceNumbers(const std::string& diskName,
                                                     const std::string& sysRoot) {
    std::map<std::string, std::string> numbers;
    const fs::path disk = fs::path(sysRoot) / "class" / "block" / diskName;
    std::error_code error;
    if (!fs::exists(disk / "dev", error)) {
        return numbers;
    }
    numbers[ReadFirstLine(disk / "dev")] = diskName;
    for (const auto& entry : fs::directory_iterator(disk, error)) {
        if (fs::exists(entry.path() / "partition", error) &&
            fs::exists(entry.path() / "dev", error)) {
            numbers[ReadFirstLine(entry.path() / "dev")] = entry.path().filename().string();
        }
    }
    return numbers;
}

bool UnmountVolumes(const std::vector<MountedVolume>& volumes,
                    const std::vector<VolumeService*>& services,
                    std::vector<std::string>* unmounted, std::string* why) {
    for (const MountedVolume& volume : volumes) {
        std::string reasons;
        bool done = false;
        for (VolumeService* service : services) {
            std::string error;
            const VolumeService::Result result = service->Unmount(volume, &error);
            if (result == VolumeService::Result::Done) {
                done = true;
                break;
            }
            reasons += (reasons.empty() ? "" : "; ") + service->Name() + ": " + error;
            if (result == VolumeService::Result::Failed) {
                break;
            }
        }
        if (!done) {
            *why = "/dev/" + volume.device + " is mounted on " + volume.mountPoint +
                   " and could not be unmounted (" + reasons +
                   "); close what uses it and unmount it first (udisksctl unmount -b /dev/" +
                   volume.device + ", or umount " + volume.mountPoint + " as root)";
            return false;
        }
        if (unmounted != nullptr) {
            unmounted->push_back(volume.mountPoint);
        }
    }
    return true;
}

std::unique_ptr<VolumeService> UdisksVolumeService() {
#ifdef QDX_HAVE_SDBUS
    return std::make_unique<UdisksService>();
#else
    return nullptr;
#endif
}

std::unique_ptr<VolumeService> KernelVolumeService() {
    return std::make_unique<KernelService>();
}

bool ReleaseDiskVolumes(const std::string& path, std::vector<std::string>* unmounted,
                        std::string* why) {
    const SystemView view = CurrentSystemView();
    const std::string disk = DiskNameOfNode(path, view);
    if (disk.empty()) {
        return true;  // not a disk of this host: nothing of it is mounted
    }
    const std::vector<MountedVolume> volumes =
        FindMounts(ReadWholeFile("/proc/self/mountinfo"), DiskDeviceNumbers(disk, view.sysRoot));
    if (volumes.empty()) {
        return true;
    }
    const auto services = PlatformServices();
    return UnmountVolumes(volumes, Pointers(services), unmounted, why);
}

bool RereadDisk(const std::string& path, std::string* why) {
    const std::string disk = DiskNameOfNode(path, CurrentSystemView());
    if (disk.empty()) {
        *why = path + " is no disk of this host";
        return false;
    }
    std::string reasons;
    const auto services = PlatformServices();
    for (VolumeService* service : Pointers(services)) {
        std::string error;
        const VolumeService::Result result = service->Reread(disk, &error);
        if (result == VolumeService::Result::Done) {
            return true;
        }
        reasons += (reasons.empty() ? "" : "; ") + service->Name() + ": " + error;
        if (result == VolumeService::Result::Failed) {
            break;
        }
    }
    *why = "the kernel could not be asked to read /dev/" + disk + " again (" + reasons + ")";
    return false;
}

}  // namespace qdx
