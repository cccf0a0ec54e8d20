// The host's disks and which of them may be players. One header; one implementation per
// platform (linux/Disks.cpp, windows/Disks.cpp), chosen by the build. Callers never include a
// platform file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qdx {

// What the host knows of one disk that might be a player.
struct DiskInfo {
    std::string name;  // sdb; E on Windows
    std::string node;  // /dev/sdb; E: on Windows
    std::uint64_t sizeBytes = 0;
    bool removable = false;
    bool hasMedia = false;  // a medium is in: the disk has a size / the free-space query succeeds
    bool usb = false;
    std::string usbId;      // "vvvv:pppp" from the USB device above the disk; empty when unknown
    std::string usbSerial;  // the USB device's serial number; empty when it has none
    std::string vendor;
    std::string model;
    std::string sgNode;       // /dev/sgN carrying its vendor commands; empty when there is none
    bool accessible = false;  // this user may open it for vendor commands
    std::vector<std::string> systemMounts;  // mounted system paths and swap on this disk
    std::string refusal;                    // why it is no player; empty for a candidate
};

// The host's disks in the order a scan considers them: the candidate players, and on Linux also
// the disks refused as players, each with the reason (fixed, not on USB, holding the system).
std::vector<DiskInfo> ListDisks();

// True when path names a disk that may be a player: on Linux a removable USB disk (or a partition
// or SCSI generic node of one) that holds no mounted system path or swap; on Windows a removable
// drive. False with *why naming the disk and saying what it is otherwise.
bool CheckPlayerDisk(const std::string& path, std::string* why);

// Before a job on the player path names: unmounts its mounted volumes, since the job formats
// the flash beneath them (Linux: through udisks2 where it runs, else as root; nothing to do on
// Windows). False with *why naming the mount point that stays mounted; *unmounted lists the mount
// points unmounted.
bool ReleasePlayerVolumes(const std::string& path, std::vector<std::string>* unmounted,
                          std::string* why);

// After a job: asks the system to read the player's disk again. False with *why when it could
// not (without root or udisks2); it matters only where a volume had been mounted.
bool RereadPlayerDisk(const std::string& path, std::string* why);

// True when the volume a device slot names holds a medium (the free-space query of a drive
// letter; a disk node with a size).
bool VolumeHasMedia(const std::string& volume);

}  // namespace qdx
