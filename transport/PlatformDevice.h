// Opening a real player through the platform's pass-through backend.
#pragma once

#include <string>

#include "transport/Device.h"

namespace qdx {

// Opens the player's disk for vendor commands: on Linux a disk node (/dev/sdX) or its SCSI
// generic node (/dev/sgN); on Windows a volume path such as \\.\E:. Returns null when it cannot be
// opened, with the reason and, where there is one, the fix in *why.
DeviceHandle OpenPlatformDevice(const std::string& path, std::string* why);

}  // namespace qdx
