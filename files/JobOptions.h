// The option bytes every download runs with, and the three image paths it writes.
#pragma once

#include <cstdint>
#include <string>

#include "engine/DownloadLaunch.h"

namespace qdx {

// Field order as the launch copies them.
struct JobOptions {
    std::int8_t uitOffset = 0;  // in units of 128 sectors; nothing sets it
    std::uint8_t verify = 0;
    std::uint8_t backup = 0;
    std::uint8_t format = 0;
};

// The images of one download. imPmPath "bin" selects the built-in image.
struct FirmwarePaths {
    std::string imPmPath = kBuiltinImagePath;
    std::string uitPath;
    std::string fontPath;
};

// Every download verifies, writes backup copies and formats first.
void SwitchOnJobOptions(JobOptions& options);

// What the launch copies into the engine; flags are normalised to 0/1.
LaunchSettings ToLaunchSettings(const JobOptions& options, const FirmwarePaths& paths);

}  // namespace qdx
