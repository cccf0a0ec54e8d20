// What one download is asked to do: the option bytes every download runs with and the three
// images it writes. File discovery fills them, the launch copies them into the engine.
#pragma once

#include <cstdint>
#include <string>

namespace qdx {

// The pseudo-path that selects the built-in IM/PM image.
inline constexpr const char* kBuiltinImagePath = "bin";

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
inline void SwitchOnJobOptions(JobOptions& options) {
    options.verify = 1;
    options.backup = 1;
    options.format = 1;
}

}  // namespace qdx
