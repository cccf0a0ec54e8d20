#include "app/DeviceOpener.h"

#include <QtGlobal>

#include "transport/PlatformDevice.h"
#ifndef _WIN32
#include "transport/linux/DiskSafety.h"
#endif

namespace qdx::app {

std::string PlatformVolumePath(const std::string& volume) {
    if (volume.size() == 1) {
        return std::string("\\\\.\\") + volume + ":";
    }
    return volume;
}

DeviceHandle PlatformDeviceOpener::Open(const std::string& volume) {
    std::string why;
#ifndef _WIN32
    // Vendor commands go only to a removable USB disk that holds nothing of the running system,
    // whatever the tracking reported.
    if (!CheckPlayerDisk(volume, CurrentSystemView(), &why)) {
        qWarning("qdxclient: %s is not used: %s", volume.c_str(), why.c_str());
        return nullptr;
    }
#endif
    DeviceHandle device = OpenPlatformDevice(PlatformVolumePath(volume), &why);
    if (!device) {
        // The operator sees the open-failure message; the reason and the fix go to the log.
        qWarning("qdxclient: cannot open %s: %s", volume.c_str(), why.c_str());
    }
    return device;
}

DeviceHandle SimDeviceOpener::Open(const std::string& /*volume*/) {
    std::string error;
    std::unique_ptr<sim::SimPlayer> player = sim::SimPlayer::Load(m_file, &error);
    if (!player) {
        qWarning("qdxclient: cannot load the simulated player %s: %s", m_file.c_str(),
                 error.c_str());
        m_player.reset();
        return nullptr;
    }
    m_player = std::move(player);
    return std::make_shared<sim::SimDevice>(m_player, m_faults, m_latency);
}

void SimDeviceOpener::JobEnded() {
    if (!m_player) {
        return;
    }
    std::string error;
    if (!m_player->Save(m_file, &error)) {
        qWarning("qdxclient: cannot save the simulated player %s: %s", m_file.c_str(),
                 error.c_str());
    }
}

}  // namespace qdx::app
