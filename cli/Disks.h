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
};

// Disks that are removable or attached through USB.
std::vector<DiskEntry> ListCandidateDisks();

// True when path names a removable disk (or a partition or SCSI generic node of one); false with
// *why saying what was found otherwise.
bool IsRemovableDisk(const std::string& path, std::string* why);

}  // namespace qdx::cli
