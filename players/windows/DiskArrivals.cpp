// Windows: the removable drives, looked at again after every wait; a console program gets no
// window messages.
#include <thread>

#include "players/PlayerArrivals.h"
#include "transport/Disks.h"

namespace qdx::players {

namespace {

class DriveArrivals : public IPlayerArrivals {
public:
    std::vector<PresentPlayer> Present(std::chrono::milliseconds wait) override {
        std::this_thread::sleep_for(wait);
        std::vector<PresentPlayer> present;
        for (const DiskInfo& disk : ListDisks()) {
            if (!disk.refusal.empty() || !disk.hasMedia) {
                continue;
            }
            PresentPlayer player;
            player.id = disk.node;
            player.target.kind = PlayerTarget::Kind::Device;
            player.target.path = disk.node;
            present.push_back(std::move(player));
        }
        return present;
    }
};

}  // namespace

std::unique_ptr<IPlayerArrivals> WatchDisks() {
    return std::make_unique<DriveArrivals>();
}

}  // namespace qdx::players
