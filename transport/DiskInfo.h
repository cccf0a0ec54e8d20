// What the host knows of one disk that might be a player.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qdx {

struct DiskInfo {
    std::string name;  // sdb; E on Windows
    std::string node;  // /dev/sdb; E: on Windows
    std::uint64_t sizeBytes = 0;
    bool removable = false;
    bool usb = false;
    std::string usbId;  // "vvvv:pppp" from the USB device above the disk; empty when not on USB
    std::string vendor;
    std::string model;
    std::string sgNode;       // /dev/sgN carrying its vendor commands; empty when there is none
    bool accessible = false;  // this user may open the sg node read-write
    std::vector<std::string> systemMounts;  // mounted system paths and swap on this disk
    std::string refusal;                    // why it is no player; empty for a candidate
};

}  // namespace qdx
