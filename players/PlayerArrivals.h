// Players coming and going, for a station that downloads each one as it is plugged in: real
// players (udev on Linux, the removable drives on Windows) or simulated player files that appear
// in a folder and vanish from it.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "players/PlayerSource.h"

namespace qdx::players {

// A player present now.
struct PresentPlayer {
    std::string id;      // what tells one plug-in from the next: the disk node or the file
    std::string serial;  // the USB serial number, where there is one
    PlayerTarget target;
};

class IPlayerArrivals {
public:
    virtual ~IPlayerArrivals() = default;
    // Waits up to wait for a change (or less), then tells which players are present. A player
    // that left and came back is present again; telling plug-ins apart is the caller's part.
    virtual std::vector<PresentPlayer> Present(std::chrono::milliseconds wait) = 0;
};

// Removable USB disks that may be players, as the disk check sees them.
std::unique_ptr<IPlayerArrivals> WatchDisks();

// Simulated player files: every regular file named *.sim in folder, once its size and time of
// change have held still for one look (a file still being copied is not taken). Each takes the
// faults and latency of templateTarget.
std::unique_ptr<IPlayerArrivals> WatchSimFolder(const std::string& folder,
                                                const PlayerTarget& templateTarget);

}  // namespace qdx::players
