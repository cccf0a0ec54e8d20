// The host's disks as far as qdxflash needs them: which may be players, and whether a path
// names a removable one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qdx::cli {

struct DiskEntry {
    std::string path;  // /dev/sdb, or a volume such as E: on Windows
    std::uint64_t sizeBytes = 0;
    std::string vendor;
    std::string model;
    bool removable = false;
    bool usb = false;
    std::string usbId;       // "vvvv:pppp"; empty when unknown
    std::string sgNode;      // Linux: the node that carries vendor commands
    bool accessible = true;  // this user may open it for vendor commands
    std::string refusal;     // why it is no player; empty for a candidate
};

// The host's disks: the candidate players, and on Linux also the disks refused as players with
// the reason (fixed, not on USB, holding the running system).
std::vector<DiskEntry> ListCandidateDisks();

// True when path names a disk that may be a player: a removable USB disk (or a partition or SCSI
// generic node of one) that holds no mounted system path or swap; false with *why naming the disk
// and saying what it is otherwise.
bool IsRemovableDisk(const std::string& path, std::string* why);

}  // namespace qdx::cli
