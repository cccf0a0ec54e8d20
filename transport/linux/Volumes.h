// The player's mounted volumes. A player is also a disk with a FAT volume, which a desktop
// mounts on arrival; a download formats the flash beneath it, after which the kernel's cached
// view of the volume no longer matches the disk. So before a job the volumes are unmounted
// (through udisks2 when it runs, so that no root is needed; else by the kernel as root), and
// after it the kernel is asked to read the disk again.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qdx {

struct MountedVolume {
    std::string device;      // the block device's name: sdb or sdb1
    std::string mountPoint;  // as the mount table shows it, escapes undone

    bool operator==(const MountedVolume&) const = default;
};

// The mounts of mountinfo text whose device number is one of devices (MAJOR:MINOR -> name),
// in table order; a volume mounted twice appears twice.
std::vector<MountedVolume> FindMounts(const std::string& mountInfo,
                                      const std::map<std::string, std::string>& devices);

// The device numbers of a disk and its partitions, read from sysRoot/class/block.
std::map<std::string, std::string> DiskDeviceNumbers(const std::string& diskName,
                                                     const std::string& sysRoot = "/sys");

// One way of unmounting and re-reading.
class VolumeService {
public:
    enum class Result { Done, Unavailable, Failed };
    virtual ~VolumeService() = default;
    virtual std::string Name() const = 0;
    // Unavailable: this way cannot be used here (no udisks2, no privilege); the next one is
    // tried. Failed: it can, and said no (busy, not authorised), with *error saying why.
    virtual Result Unmount(const MountedVolume& volume, std::string* error) = 0;
    virtual Result Reread(const std::string& diskName, std::string* error) = 0;
};

// Unmounts every volume, each through the first service available for it. False at the first
// volume that stays mounted, with *why naming its mount point and what to do; *unmounted lists
// the mount points unmounted before that.
bool UnmountVolumes(const std::vector<MountedVolume>& volumes,
                    const std::vector<VolumeService*>& services,
                    std::vector<std::string>* unmounted, std::string* why);

// udisks2 over the system bus; null when the program was built without sd-bus.
std::unique_ptr<VolumeService> UdisksVolumeService();
// umount(2) and the BLKRRPART ioctl, which need root.
std::unique_ptr<VolumeService> KernelVolumeService();

// For a job on the disk of path: unmounts its mounted volumes with the services above. False
// with *why naming the mount point that could not be unmounted. *unmounted lists what was.
bool ReleaseDiskVolumes(const std::string& path, std::vector<std::string>* unmounted,
                        std::string* why);
// After a job: asks the kernel to read the disk of path again. False with *why when no service
// could.
bool RereadDisk(const std::string& path, std::string* why);

}  // namespace qdx
