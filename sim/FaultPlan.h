// The faults a simulated player injects into one run of commands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qdx::sim {

// Faults injected into one run of commands, counted from 1.
struct FaultPlan {
    std::uint64_t failCommand = 0;  // that command is not delivered (0: none)
    std::uint64_t unplugAfter = 0;  // no command after that one is delivered (0: none)
    struct SubAtSector {
        std::uint8_t sub;
        std::uint32_t sector;
    };
    std::vector<SubAtSector> failAt;         // that sub-command for that sector is never delivered
    std::vector<std::uint32_t> corruptRead;  // reads of that sector return one bit flipped
    std::vector<std::uint32_t> weakSector;   // programming that sector does not take
    bool formatFails = false;                // the format command is not delivered

    // True when no fault is planned.
    bool Empty() const;
};

// Adds one fault given as text: fail-command=N, unplug-after=N, fail=SUB@SECTOR,
// corrupt-read=SECTOR, weak-sector=SECTOR or format-fails. False with *error set when the text
// is not one of these.
bool ParseFaultSpec(const std::string& text, FaultPlan& plan, std::string* error);

}  // namespace qdx::sim
