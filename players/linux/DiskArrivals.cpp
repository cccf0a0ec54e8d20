// Linux: udev says when a block device comes, goes or changes its medium; the disk check then
// says which disks are players.
#include <libudev.h>
#include <poll.h>

#include "players/PlayerArrivals.h"
#include "transport/Disks.h"

namespace qdx::players {

namespace {

class UdevDiskArrivals : public IPlayerArrivals {
public:
    UdevDiskArrivals() {
        m_udev = udev_new();
        if (m_udev != nullptr) {
            m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
        }
        if (m_monitor != nullptr) {
            udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "block", nullptr);
            if (udev_monitor_enable_receiving(m_monitor) != 0) {
                udev_monitor_unref(m_monitor);
                m_monitor = nullptr;
            }
        }
    }
    ~UdevDiskArrivals() override {
        if (m_monitor != nullptr) {
            udev_monitor_unref(m_monitor);
        }
        if (m_udev != nullptr) {
            udev_unref(m_udev);
        }
    }

    std::vector<PresentPlayer> Present(std::chrono::milliseconds wait) override {
        // Without udev (a container, a rescue system) the disks are looked at every time.
        if (m_monitor != nullptr) {
            pollfd events{udev_monitor_get_fd(m_monitor), POLLIN, 0};
            if (::poll(&events, 1, static_cast<int>(wait.count())) > 0) {
                while (udev_device* device = udev_monitor_receive_device(m_monitor)) {
                    udev_device_unref(device);
                }
            }
        } else {
            ::poll(nullptr, 0, static_cast<int>(wait.count()));
        }
        std::vector<PresentPlayer> present;
        for (const DiskInfo& disk : ListDisks()) {
            // The sg node comes a moment after the disk: a player is taken once it can be opened.
            if (!disk.refusal.empty() || !disk.hasMedia || disk.sgNode.empty()) {
                continue;
            }
            PresentPlayer player;
            player.id = disk.node + "#" + disk.usbSerial;
            player.serial = disk.usbSerial;
            player.target.kind = PlayerTarget::Kind::Device;
            player.target.path = disk.node;
            present.push_back(std::move(player));
        }
        return present;
    }

private:
    udev* m_udev = nullptr;
    udev_monitor* m_monitor = nullptr;
};

}  // namespace

std::unique_ptr<IPlayerArrivals> WatchDisks() {
    return std::make_unique<UdevDiskArrivals>();
}

}  // namespace qdx::players
