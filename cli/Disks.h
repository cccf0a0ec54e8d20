// The host's disks as far as qdxflash needs them: which may be players, and whether a path
// names a removable one.
#pragma once

#include <string>
#include <vector>

#include "transport/DiskInfo.h"

namespace qdx::cli {

// The host's disks: the candidate players, and on Linux also the disks refused as players with
// the reason (fixed, not on USB, holding the running system).
std::vector<DiskInfo> ListCandidateDisks();

// True when path names a disk that may be a player: a removable USB disk (or a partition or SCSI
// generic node of one) that holds no mounted system path or swap; false with *why naming the disk
// and saying what it is otherwise.
bool IsPlayerDisk(const std::string& path, std::string* why);

}  // namespace qdx::cli
